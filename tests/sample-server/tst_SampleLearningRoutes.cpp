#include "learning/CourseController.h"
#include "learning/LearningProgressController.h"
#include "learning/NotificationsController.h"
#include "net/NetworkManager.h"
#include "tests/sample-server/SamplePlatformSession.h"
#include "testsupport/InMemoryKeychain.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace {

struct Answer
{
    int status = -1;
    QByteArray contentType;
    QByteArray body;
};

// Every content item of a section tree, depth first, with the depth of its section.
void collectItems(const QVariantList &sections, int depth, QList<QPair<int, QVariantMap>> &items)
{
    for (const QVariant &entry : sections) {
        const QVariantMap section = entry.toMap();
        for (const QVariant &item : section.value(QStringLiteral("content")).toList())
            items.append({depth, item.toMap()});
        collectItems(section.value(QStringLiteral("children")).toList(), depth + 1, items);
    }
}

} // namespace

// The sample platform's course and notification routes, as the demo client meets them: through
// the real controllers, signed in with the sample account.
class tst_SampleLearningRoutes : public QObject
{
    Q_OBJECT

private:
    quorin::test::InMemoryKeychain m_keychain;
    std::unique_ptr<quorin::test::SamplePlatformSession> m_platform;
    std::unique_ptr<NetworkManager> m_manager;
    QNetworkAccessManager m_network;

    [[nodiscard]] QUrl apiUrl(const QString &path) const
    {
        return m_platform->apiBase().resolved(QUrl(path));
    }

    [[nodiscard]] QByteArray accessToken() const
    {
        return m_manager->mediaAuthenticationSnapshot().authorization;
    }

    Answer fetch(const QByteArray &method, const QUrl &url, const QByteArray &authorization,
                 const QByteArray &body = {})
    {
        QNetworkRequest request(url);
        if (!authorization.isEmpty())
            request.setRawHeader("Authorization", authorization);
        if (!body.isEmpty())
            request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, method, body));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!finished.wait(10000))
            return {};
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(), reply->readAll()};
    }

    void startSignedIn(bool progressUnavailable)
    {
        m_manager.reset();
        SampleServer::Options options = quorin::test::SamplePlatformSession::defaultOptions();
        options.progressUnavailable = progressUnavailable;
        m_platform = std::make_unique<quorin::test::SamplePlatformSession>();
        QVERIFY2(m_platform->start(options), qPrintable(m_platform->errorString()));

        m_keychain.clear();
        NetworkManager::Configuration client;
        client.baseUrl = apiUrl(QString()).toString();
        client.credentialStore = m_keychain.createStore();
        m_manager = std::make_unique<NetworkManager>(std::move(client));
        QSignalSpy signedIn(m_manager.get(), &NetworkManager::loginSuccess);
        m_manager->login(QStringLiteral("+201012345678"), QStringLiteral("quorin-demo"), QString());
        QVERIFY(signedIn.wait(10000));
    }

    // The completion of each content item of the course, by id, as the course page reads it.
    QHash<QString, QVariant> completionInCourse()
    {
        CourseController course(m_manager.get());
        course.setCourseId(QStringLiteral("c-101"));
        QSignalSpy loaded(&course, &CourseController::courseLoaded);
        course.fetchCourse();
        if (!loaded.wait(10000))
            return {};
        QList<QPair<int, QVariantMap>> items;
        collectItems(course.sections(), 0, items);
        QHash<QString, QVariant> completion;
        for (const auto &[depth, item] : items)
            completion.insert(item.value(QStringLiteral("id")).toString(),
                              item.value(QStringLiteral("isCompleted")));
        return completion;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        m_keychain.installAsNative();
    }

    // A fresh platform for every test: the read state of its notifications and the completion
    // marks live in memory.
    void init() { startSignedIn(false); }

    void cleanup()
    {
        m_manager.reset();
        m_platform.reset();
    }

    void routesNeedASignedInUser_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::newRow("course") << QByteArray("GET") << QStringLiteral("courses/c-101");
        QTest::newRow("unknown course") << QByteArray("GET") << QStringLiteral("courses/c-999");
        QTest::newRow("list") << QByteArray("GET")
                              << QStringLiteral("notifications?filter=all&page=1&limit=50");
        QTest::newRow("count") << QByteArray("GET") << QStringLiteral("notifications/unread-count");
        QTest::newRow("mark one") << QByteArray("PATCH") << QStringLiteral("notifications/nt-4004/read");
        QTest::newRow("mark all") << QByteArray("POST") << QStringLiteral("notifications/read-all");
        QTest::newRow("progress") << QByteArray("POST") << QStringLiteral("contents/r-1001/progress");
    }

    void routesNeedASignedInUser()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        const QByteArray body = R"({"isCompleted":true})";
        QCOMPARE(fetch(method, apiUrl(path), QByteArray(), body).status, 401);
        QCOMPARE(fetch(method, apiUrl(path), QByteArrayLiteral("Bearer not-a-token"), body).status, 401);

        // Nothing was marked by the refused calls.
        QCOMPARE(fetch("GET", apiUrl(QStringLiteral("notifications/unread-count")), accessToken()).body,
                 QByteArray(R"({"count":2})"));
        QCOMPARE(completionInCourse().value(QStringLiteral("r-1001")), QVariant());
    }

    void enrolledCourse()
    {
        CourseController course(m_manager.get());
        course.setCourseId(QStringLiteral("c-101"));
        QSignalSpy loaded(&course, &CourseController::courseLoaded);
        course.fetchCourse();
        QVERIFY(loaded.wait(10000));

        QCOMPARE(course.title(), QStringLiteral("Foundations of Physics"));
        QVERIFY(!course.description().isEmpty());
        QCOMPARE(course.author(), QStringLiteral("Dr. Karim Nabil"));
        QCOMPARE(course.educationLevel(), QStringLiteral("Quorin Academy"));
        QVERIFY(course.watermarkEnabled());
        QVERIFY(!course.requireHeadphones());
        QCOMPARE(course.sections().size(), 2);

        const Answer cover = fetch("GET", QUrl(course.imageUrl()), QByteArray());
        QCOMPARE(cover.status, 200);
        QVERIFY(cover.body.startsWith("\x89PNG"));

        QList<QPair<int, QVariantMap>> items;
        collectItems(course.sections(), 0, items);
        QStringList types;
        int deepest = 0;
        int completed = 0;
        for (const auto &[depth, item] : items) {
            deepest = qMax(deepest, depth);
            types.append(item.value(QStringLiteral("type")).toString());
            completed += item.value(QStringLiteral("isCompleted")).toBool() ? 1 : 0;
            for (const char *key : {"id", "title", "type", "url", "order"})
                QVERIFY2(item.contains(QLatin1String(key)), key);
            // Every item's media is there, on this server, for a signed-in user.
            const QUrl url(item.value(QStringLiteral("url")).toString());
            QCOMPARE(url.port(), m_platform->apiBase().port());
            const Answer media = fetch("GET", url, accessToken());
            QCOMPARE(media.status, 200);
            if (item.contains(QStringLiteral("fileSizeBytes")))
                QCOMPARE(item.value(QStringLiteral("fileSizeBytes")).toLongLong(), qint64(media.body.size()));
            if (types.last() == QLatin1String("PDF")) {
                QVERIFY(media.body.startsWith("%PDF"));
                QVERIFY(item.value(QStringLiteral("pageCount")).toInt() > 0);
                QVERIFY(item.contains(QStringLiteral("fileSizeBytes")));
            } else {
                QVERIFY(item.value(QStringLiteral("durationSeconds")).toInt() > 0);
            }
        }
        QCOMPARE(deepest, 2);
        QCOMPARE(completed, 1);
        QVERIFY(types.contains(QStringLiteral("VIDEO")));
        QVERIFY(types.contains(QStringLiteral("PDF")));
        const QVariantList quizzes =
            course.sections().first().toMap().value(QStringLiteral("quizzes")).toList();
        QVERIFY(!quizzes.isEmpty());
    }

    void otherCourseIsNotFound()
    {
        CourseController course(m_manager.get());
        course.setCourseId(QStringLiteral("c-999"));
        QSignalSpy failed(&course, &CourseController::courseError);
        course.fetchCourse();
        QVERIFY(failed.wait(10000));
        QCOMPARE(course.failure().httpStatus, 404);
    }

    void completionMarksShowInTheCourse()
    {
        LearningProgressController::Configuration configuration;
        configuration.networkManager = m_manager.get();
        LearningProgressController progress(std::move(configuration));
        progress.setUserId(m_manager->authenticatedUserId());
        QSignalSpy changed(&progress, &LearningProgressController::completionChanged);
        QSignalSpy refused(&progress, &LearningProgressController::progressError);
        const QString lecture = QStringLiteral("r-1001");
        const QString notes = QStringLiteral("r-1002");
        progress.recordOpened(notes, QStringLiteral("c-101"), QStringLiteral("s-101"),
                              QStringLiteral("Lecture notes: motion"),
                              QStringLiteral("Foundations of Physics"), QStringLiteral("PDF"), QString(),
                              QStringLiteral("https://localhost/notes.pdf"), true);
        QCOMPARE(completionInCourse().value(lecture), QVariant());
        QCOMPARE(completionInCourse().value(notes), QVariant(true));

        progress.setCompleted(lecture, QStringLiteral("c-101"), true);
        progress.setCompleted(notes, QStringLiteral("c-101"), false);

        QTRY_VERIFY(!progress.isPending(lecture) && !progress.isPending(notes));
        QCOMPARE(refused.count(), 0);
        const QHash<QString, QVariant> completion = completionInCourse();
        QCOMPARE(completion.value(lecture), QVariant(true));
        QCOMPARE(completion.value(notes), QVariant(false));
        QCOMPARE(completion.value(QStringLiteral("r-1003")), QVariant());
    }

    void progressRouteRefusals_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");

        const QByteArray complete = R"({"isCompleted":true})";
        QTest::newRow("unknown id") << QByteArray("POST") << QStringLiteral("contents/r-9999/progress")
                                    << complete << 404;
        QTest::newRow("a quiz") << QByteArray("POST") << QStringLiteral("contents/qz-201/progress")
                                << complete << 404;
        QTest::newRow("two segments")
            << QByteArray("POST") << QStringLiteral("contents/r-1001%2Fx/progress") << complete << 404;
        QTest::newRow("text flag") << QByteArray("POST") << QStringLiteral("contents/r-1001/progress")
                                   << QByteArray(R"({"isCompleted":"true"})") << 400;
        QTest::newRow("no flag") << QByteArray("POST") << QStringLiteral("contents/r-1001/progress")
                                 << QByteArray("{}") << 400;
        QTest::newRow("not JSON") << QByteArray("POST") << QStringLiteral("contents/r-1001/progress")
                                  << QByteArray("isCompleted=true") << 400;
        QTest::newRow("GET") << QByteArray("GET") << QStringLiteral("contents/r-1001/progress")
                             << QByteArray() << 405;
    }

    void progressRouteRefusals()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QFETCH(QByteArray, body);
        QFETCH(int, status);

        QCOMPARE(fetch(method, apiUrl(path), accessToken(), body).status, status);

        const QHash<QString, QVariant> completion = completionInCourse();
        QCOMPARE(completion.value(QStringLiteral("r-1001")), QVariant());
        QCOMPARE(completion.value(QStringLiteral("r-1002")), QVariant(true));
    }

    void progressCanBeMadeUnavailable()
    {
        startSignedIn(true);
        const Answer answer = fetch("POST", apiUrl(QStringLiteral("contents/r-1001/progress")), accessToken(),
                                    R"({"isCompleted":true})");
        QCOMPARE(answer.status, 503);
        QCOMPARE(completionInCourse().value(QStringLiteral("r-1001")), QVariant());
    }

    void notificationsAndTheirReadState()
    {
        NotificationsController notifications(m_manager.get(), 60000);
        QTRY_COMPARE(notifications.unreadCount(), 2);
        notifications.fetchNotifications();
        QTRY_COMPARE(notifications.notifications().size(), 4);
        for (const QVariant &entry : notifications.notifications()) {
            const QVariantMap record = entry.toMap();
            QCOMPARE(record.value(QStringLiteral("entityType")), QVariant(QStringLiteral("course")));
            QCOMPARE(record.value(QStringLiteral("metadata")).toMap().value(QStringLiteral("courseId")),
                     QVariant(QStringLiteral("c-101")));
            QVERIFY(!record.value(QStringLiteral("title")).toString().isEmpty());
        }

        notifications.setFilterUnread(true);
        QTRY_COMPARE(notifications.notifications().size(), 2);
        const QString first =
            notifications.notifications().first().toMap().value(QStringLiteral("id")).toString();

        notifications.markAsRead(first);
        QCOMPARE(notifications.unreadCount(), 1);
        QTRY_COMPARE(fetch("GET", apiUrl(QStringLiteral("notifications/unread-count")), accessToken()).body,
                     QByteArray(R"({"count":1})"));
        QCOMPARE(fetch("PATCH", apiUrl(QStringLiteral("notifications/nt-0000/read")), accessToken()).status,
                 404);

        notifications.fetchNotifications();
        QTRY_COMPARE(notifications.notifications().size(), 1);
        notifications.markAllAsRead();
        QTRY_COMPARE(
            fetch("GET", apiUrl(QStringLiteral("notifications?filter=unread&page=1&limit=50")), accessToken())
                .body,
            QByteArray(R"({"data":[]})"));
        QVERIFY(notifications.failure().code.isEmpty());
    }
};

QTEST_MAIN(tst_SampleLearningRoutes)
#include "tst_SampleLearningRoutes.moc"
