#include "net/NetworkManager.h"
#include "quiz/QuizController.h"
#include "tests/sample-server/SamplePlatformSession.h"
#include "testsupport/InMemoryKeychain.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using quorin::test::SamplePlatformSession;

// The sample platform's quiz routes, as the demo client meets them: through the real quiz
// controller, signed in with the sample account.
class tst_SampleQuizRoutes : public QObject
{
    Q_OBJECT

private:
    quorin::test::InMemoryKeychain m_keychain;
    std::unique_ptr<SamplePlatformSession> m_platform;
    std::unique_ptr<NetworkManager> m_manager;
    QNetworkAccessManager m_network;

    [[nodiscard]] QByteArray accessToken() const
    {
        return m_manager->mediaAuthenticationSnapshot().authorization;
    }

    // One request outside the client: the answer's status and its body read as JSON.
    QPair<int, QJsonDocument> fetch(const QByteArray &method, const QString &path,
                                    const QByteArray &authorization, const QJsonObject &body = {})
    {
        QNetworkRequest request(m_platform->apiBase().resolved(QUrl(path)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        if (!authorization.isEmpty())
            request.setRawHeader("Authorization", authorization);
        const QByteArray content =
            method == "POST" ? QJsonDocument(body).toJson(QJsonDocument::Compact) : QByteArray();
        std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, method, content));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!finished.wait(10000))
            return {-1, {}};
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                QJsonDocument::fromJson(reply->readAll())};
    }

    std::unique_ptr<QuizController> controllerFor(const QString &quizId)
    {
        QuizController::Configuration configuration;
        configuration.network = m_manager.get();
        configuration.userId = [] { return QStringLiteral("u-1001"); };
        configuration.currentUtc = [] { return QDateTime::currentDateTimeUtc(); };
        auto controller = std::make_unique<QuizController>(std::move(configuration));
        controller->setQuizId(quizId);
        return controller;
    }

    // Loads the quiz and waits for its history too.
    [[nodiscard]] static bool load(QuizController &controller, int historySize)
    {
        controller.open();
        return QTest::qWaitFor([&controller] { return controller.state() != QuizController::Loading; },
                               10000) &&
               QTest::qWaitFor([&] { return controller.attempts().size() == historySize; }, 10000);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        m_keychain.installAsNative();
    }

    // A fresh platform for every test: the attempts live in its memory.
    void init()
    {
        m_platform = std::make_unique<SamplePlatformSession>();
        QVERIFY2(m_platform->start(), qPrintable(m_platform->errorString()));

        m_keychain.clear();
        NetworkManager::Configuration client;
        client.baseUrl = m_platform->apiBase().toString();
        client.credentialStore = m_keychain.createStore();
        m_manager = std::make_unique<NetworkManager>(std::move(client));
        QSignalSpy signedIn(m_manager.get(), &NetworkManager::loginSuccess);
        m_manager->login(SamplePlatformSession::kNumber, SamplePlatformSession::kPassword, QString());
        QVERIFY(signedIn.wait(10000));
    }

    void cleanup()
    {
        m_manager.reset();
        m_platform.reset();
    }

    void routesNeedASignedInUser_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::newRow("quiz") << QByteArray("GET") << QStringLiteral("quizzes/qz-201");
        QTest::newRow("attempts") << QByteArray("GET") << QStringLiteral("quizzes/qz-201/attempts");
        QTest::newRow("start") << QByteArray("POST") << QStringLiteral("quizzes/qz-205/attempts");
        QTest::newRow("unknown quiz") << QByteArray("GET") << QStringLiteral("quizzes/qz-999");
    }

    void routesNeedASignedInUser()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QCOMPARE(fetch(method, path, QByteArray()).first, 401);
        QCOMPARE(fetch(method, path, QByteArrayLiteral("Bearer not-a-token")).first, 401);

        // The refused start began nothing.
        QCOMPARE(fetch("GET", QStringLiteral("quizzes/qz-205/attempts"), accessToken()).second.array(),
                 QJsonArray());
    }

    void unknownQuizIsNotFound_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::newRow("unknown id") << QByteArray("GET") << QStringLiteral("quizzes/qz-999");
        QTest::newRow("unknown id's attempts")
            << QByteArray("GET") << QStringLiteral("quizzes/qz-999/attempts");
        QTest::newRow("start of an unknown id")
            << QByteArray("POST") << QStringLiteral("quizzes/qz-999/attempts");
        QTest::newRow("id naming another file") << QByteArray("GET") << QStringLiteral("quizzes/..%2Fme");
        QTest::newRow("id with a path") << QByteArray("GET") << QStringLiteral("quizzes/quizzes%2Fqz-201");
        QTest::newRow("other member") << QByteArray("GET") << QStringLiteral("quizzes/qz-201/answers");
    }

    void unknownQuizIsNotFound()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        const auto answer = fetch(method, path, accessToken());
        QCOMPARE(answer.first, 404);
        QVERIFY(!answer.second.object().value(QStringLiteral("message")).toString().isEmpty());
    }

    void everySampleQuizLoads_data()
    {
        QTest::addColumn<QString>("quizId");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("questionCount");
        QTest::addColumn<QStringList>("history");
        QTest::addColumn<bool>("available");
        QTest::addColumn<int>("leaderboardSize");

        QTest::newRow("practice with two finished attempts")
            << QStringLiteral("qz-201") << int(QuizController::Result) << QStringLiteral("ORDINARY") << 6
            << QStringList({"qz-201-att-2", "qz-201-att-1"}) << true << 0;
        QTest::newRow("timed, open since the platform started")
            << QStringLiteral("qz-202") << int(QuizController::Ready) << QStringLiteral("TIMED") << 3
            << QStringList() << true << 3;
        QTest::newRow("timed, opening later") << QStringLiteral("qz-203") << int(QuizController::Ready)
                                              << QStringLiteral("TIMED") << 2 << QStringList() << false << 0;
        QTest::newRow("leaderboard only") << QStringLiteral("qz-204") << int(QuizController::Leaderboard)
                                          << QStringLiteral("TIMED") << 2 << QStringList() << false << 3;
        QTest::newRow("ordinary") << QStringLiteral("qz-205") << int(QuizController::Ready)
                                  << QStringLiteral("ORDINARY") << 3 << QStringList() << true << 0;
    }

    void everySampleQuizLoads()
    {
        QFETCH(QString, quizId);
        QFETCH(int, state);
        QFETCH(QString, type);
        QFETCH(int, questionCount);
        QFETCH(QStringList, history);
        QFETCH(bool, available);
        QFETCH(int, leaderboardSize);
        const auto controller = controllerFor(quizId);

        QVERIFY(load(*controller, int(history.size())));

        QCOMPARE(int(controller->state()), state);
        QCOMPARE(controller->errorMessage(), QString());
        QCOMPARE(controller->quizType(), type);
        QVERIFY(!controller->title().isEmpty());
        QCOMPARE(controller->questions().size(), questionCount);
        QCOMPARE(SamplePlatformSession::idsOf(controller->attempts()), history);
        QCOMPARE(controller->available(), available);
        QCOMPARE(controller->leaderboard().size(), leaderboardSize);
    }

    void finishedAttemptIsTheNewest()
    {
        const auto answer = fetch("GET", QStringLiteral("quizzes/qz-201"), accessToken());
        QCOMPARE(answer.first, 200);
        const QJsonObject details = answer.second.object();
        QVERIFY(details.value(QStringLiteral("activeAttempt")).isNull());
        QCOMPARE(details.value(QStringLiteral("attempt")).toObject().value(QStringLiteral("id")).toString(),
                 QStringLiteral("qz-201-att-2"));
        // Links are written for the demo's port and answered on the server's own origin.
        const QString link = details.value(QStringLiteral("quiz"))
                                 .toObject()
                                 .value(QStringLiteral("customGptLink"))
                                 .toString();
        QVERIFY2(link.startsWith(m_platform->apiBase().resolved(QUrl(QStringLiteral("/"))).toString()),
                 qPrintable(link));
    }

    void ordinaryQuizStartsOnce()
    {
        const auto controller = controllerFor(QStringLiteral("qz-205"));
        QVERIFY(load(*controller, 0));

        controller->startAttempt();
        QTRY_COMPARE(controller->state(), QuizController::Active);
        QCOMPARE(controller->revision(), 1);
        QCOMPARE(controller->answers(), QVariantMap());
        QVERIFY(controller->canEdit());

        // The open attempt comes back as it is, and a reload finds it open.
        const auto again = fetch("POST", QStringLiteral("quizzes/qz-205/attempts"), accessToken());
        QCOMPARE(again.first, 200);
        const QJsonObject attempt = again.second.object();
        QCOMPARE(attempt.value(QStringLiteral("status")).toString(), QStringLiteral("ACTIVE"));
        QCOMPARE(attempt.value(QStringLiteral("revision")).toInt(), 1);
        QVERIFY(!attempt.contains(QStringLiteral("expiresAt")));

        const auto reopened = controllerFor(QStringLiteral("qz-205"));
        QVERIFY(load(*reopened, 0));
        QCOMPARE(reopened->state(), QuizController::Active);
        QCOMPARE(reopened->localPath(), controller->localPath());
        QCOMPARE(fetch("GET", QStringLiteral("quizzes/qz-205/attempts"), accessToken()).second.array().size(),
                 1);
    }

    void timedQuizStartFollowsItsWindow()
    {
        QCOMPARE(fetch("POST", QStringLiteral("quizzes/qz-202/attempts"), accessToken(),
                       {{QStringLiteral("nickname"), QStringLiteral("  ")}})
                     .first,
                 400);
        const auto early = fetch("POST", QStringLiteral("quizzes/qz-203/attempts"), accessToken(),
                                 {{QStringLiteral("nickname"), QStringLiteral("bob")}});
        QCOMPARE(early.first, 403);
        QVERIFY(!early.second.object().value(QStringLiteral("message")).toString().isEmpty());
        QCOMPARE(fetch("POST", QStringLiteral("quizzes/qz-204/attempts"), accessToken(),
                       {{QStringLiteral("nickname"), QStringLiteral("bob")}})
                     .first,
                 403);

        const auto controller = controllerFor(QStringLiteral("qz-202"));
        QVERIFY(load(*controller, 0));
        controller->startAttempt(QStringLiteral(" bob "));
        QTRY_COMPARE(controller->state(), QuizController::Active);

        const QJsonObject quiz = fetch("GET", QStringLiteral("quizzes/qz-202"), accessToken())
                                     .second.object()
                                     .value(QStringLiteral("quiz"))
                                     .toObject();
        const QJsonObject attempt = fetch("GET", QStringLiteral("quizzes/qz-202/attempts"), accessToken())
                                        .second.array()
                                        .first()
                                        .toObject();
        QCOMPARE(attempt.value(QStringLiteral("nickname")).toString(), QStringLiteral("bob"));
        const QDateTime startsAt =
            QDateTime::fromString(quiz.value(QStringLiteral("startsAt")).toString(), Qt::ISODateWithMs);
        QVERIFY(startsAt.isValid());
        QCOMPARE(
            QDateTime::fromString(attempt.value(QStringLiteral("expiresAt")).toString(), Qt::ISODateWithMs),
            startsAt.addSecs(3600));
    }
};

QTEST_GUILESS_MAIN(tst_SampleQuizRoutes)
#include "tst_SampleQuizRoutes.moc"
