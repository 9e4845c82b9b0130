#include "app/DiagnosticLogger.h"
#include "learning/CourseController.h"
#include "tests/net/NetworkManagerHarness.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::NetworkManagerHarness;
using Response = FixtureServer::Response;

Q_DECLARE_METATYPE(FixtureServer::Response)

namespace {

const QString kCourses = QStringLiteral("/api/v1/courses/");

Response held(Response response)
{
    response.held = true;
    return response;
}

Response course(const char *json)
{
    return Response::json(QByteArray(json));
}

// Worked out here rather than through the logger, so a change of the logger's digest shows.
QString fingerprintOf(const QString &id)
{
    return QString::fromLatin1(
        QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256).toHex().left(12));
}

} // namespace

class tst_CourseController : public QObject
{
    Q_OBJECT

private:
    NetworkManagerHarness m_harness;
    std::unique_ptr<NetworkManager> m_manager;

    FixtureServer &server() { return m_harness.server(); }

    void answer(const QString &id, const QList<Response> &responses)
    {
        server().setResponses(kCourses + id, responses);
    }

    [[nodiscard]] QStringList sentTargets() const { return m_harness.sentByCodeUnderTest(); }

    void settle() { QVERIFY(m_harness.settle(*m_manager)); }

    // Runs one load to its end, success or failure.
    [[nodiscard]] static bool load(CourseController &controller)
    {
        QSignalSpy loaded(&controller, &CourseController::courseLoaded);
        QSignalSpy failed(&controller, &CourseController::courseError);
        controller.fetchCourse();
        return QTest::qWaitFor([&] { return loaded.size() + failed.size() == 1; }, 10000) &&
               !controller.isLoading();
    }

    [[nodiscard]] QList<quorin::test::LogLineParser::Record> loadResults() const
    {
        return m_harness.logRecords(QStringLiteral("load_result"));
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }

    void init()
    {
        m_harness.init();
        m_manager = m_harness.makeManager();
        QVERIFY(!m_harness.signIn(*m_manager).isEmpty());
    }

    void cleanup()
    {
        m_manager.reset();
        m_harness.cleanup();
    }

    void unusableIdSendsNothing_data()
    {
        QTest::addColumn<QString>("courseId");
        QTest::newRow("empty") << QString();
        QTest::newRow("dot") << QStringLiteral(".");
        // Qt would resolve "courses/.." to the API root itself.
        QTest::newRow("dot dot") << QStringLiteral("..");
    }

    void unusableIdSendsNothing()
    {
        QFETCH(QString, courseId);
        CourseController controller(m_manager.get());
        controller.setCourseId(courseId);
        QSignalSpy loading(&controller, &CourseController::loadingStatusChanged);
        QSignalSpy loaded(&controller, &CourseController::courseLoaded);
        QSignalSpy failed(&controller, &CourseController::courseError);

        controller.fetchCourse();
        settle();

        QVERIFY(!controller.isLoading());
        QCOMPARE(loading.size(), 0);
        QCOMPARE(loaded.size(), 0);
        QCOMPARE(failed.size(), 0);
        QCOMPARE(sentTargets(), QStringList());
        QVERIFY(m_harness.logRecords(QStringLiteral("load_started")).isEmpty());
    }

    void secondFetchDuringALoadSendsNothing()
    {
        answer(QStringLiteral("c1"), {held(course(R"({"title": "One"})"))});
        CourseController controller(m_manager.get());
        controller.setCourseId(QStringLiteral("c1"));
        QSignalSpy loading(&controller, &CourseController::loadingStatusChanged);
        QSignalSpy loaded(&controller, &CourseController::courseLoaded);

        controller.fetchCourse();
        QVERIFY(controller.isLoading());
        QTRY_COMPARE(server().requestCount(kCourses + QStringLiteral("c1")), 1);
        controller.fetchCourse();
        QCOMPARE(loading.size(), 1);

        server().release(kCourses + QStringLiteral("c1"));
        QVERIFY(loaded.wait(10000));
        settle();

        QCOMPARE(sentTargets(), QStringList{QStringLiteral("GET /api/v1/courses/c1")});
        QCOMPARE(loaded.size(), 1);
        QCOMPARE(loading.size(), 2);
        QVERIFY(!controller.isLoading());
        QCOMPARE(controller.title(), QStringLiteral("One"));
        QCOMPARE(m_harness.logRecords(QStringLiteral("load_started")).size(), 1);
        const auto results = loadResults();
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().value(QStringLiteral("category")), QStringLiteral("course"));
        QCOMPARE(results.first().value(QStringLiteral("level")), QStringLiteral("info"));
        QCOMPARE(results.first().value(QStringLiteral("result")), QStringLiteral("success"));
        QCOMPARE(results.first().value(QStringLiteral("course_fp")), fingerprintOf(QStringLiteral("c1")));
    }

    // Each row loads a baseline first, then its own reply: missing keys keep the baseline's
    // values, the two playback rules are worked out again every time.
    void typedReads_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("property");
        QTest::addColumn<QVariant>("expected");

        QTest::newRow("watermark false") << QByteArray(R"({"watermarkEnabled": false})")
                                         << QByteArray("watermarkEnabled") << QVariant(false);
        QTest::newRow("watermark as text") << QByteArray(R"({"watermarkEnabled": "false"})")
                                           << QByteArray("watermarkEnabled") << QVariant(true);
        QTest::newRow("watermark as number")
            << QByteArray(R"({"watermarkEnabled": 0})") << QByteArray("watermarkEnabled") << QVariant(true);
        QTest::newRow("watermark null") << QByteArray(R"({"watermarkEnabled": null})")
                                        << QByteArray("watermarkEnabled") << QVariant(true);
        QTest::newRow("watermark missing")
            << QByteArray("{}") << QByteArray("watermarkEnabled") << QVariant(true);
        QTest::newRow("headphones true") << QByteArray(R"({"requireHeadphones": true})")
                                         << QByteArray("requireHeadphones") << QVariant(true);
        QTest::newRow("headphones as text") << QByteArray(R"({"requireHeadphones": "true"})")
                                            << QByteArray("requireHeadphones") << QVariant(false);
        QTest::newRow("headphones as number") << QByteArray(R"({"requireHeadphones": 1})")
                                              << QByteArray("requireHeadphones") << QVariant(false);
        QTest::newRow("headphones null") << QByteArray(R"({"requireHeadphones": null})")
                                         << QByteArray("requireHeadphones") << QVariant(false);
        QTest::newRow("headphones missing")
            << QByteArray("{}") << QByteArray("requireHeadphones") << QVariant(false);
        QTest::newRow("title a number")
            << QByteArray(R"({"title": 42})") << QByteArray("title") << QVariant(QString());
        QTest::newRow("title missing")
            << QByteArray("{}") << QByteArray("title") << QVariant(QStringLiteral("Previous title"));
        QTest::newRow("description null")
            << QByteArray(R"({"description": null})") << QByteArray("description") << QVariant(QString());
        QTest::newRow("image replaced") << QByteArray(R"({"imageUrl": "img/b.png"})")
                                        << QByteArray("imageUrl") << QVariant(QStringLiteral("img/b.png"));
        QTest::newRow("author object") << QByteArray(R"({"author": {"fullName": "A. Teacher"}})")
                                       << QByteArray("author") << QVariant(QStringLiteral("A. Teacher"));
        QTest::newRow("author a plain text") << QByteArray(R"({"author": "plain"})") << QByteArray("author")
                                             << QVariant(QStringLiteral("Previous author"));
        QTest::newRow("author empty object")
            << QByteArray(R"({"author": {}})") << QByteArray("author") << QVariant(QString());
        QTest::newRow("author name a number")
            << QByteArray(R"({"author": {"fullName": 7}})") << QByteArray("author") << QVariant(QString());
    }

    void typedReads()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, property);
        QFETCH(QVariant, expected);
        answer(QStringLiteral("c1"),
               {course(R"({"title": "Previous title", "description": "Previous description",
                           "imageUrl": "img/a.png", "author": {"fullName": "Previous author"},
                           "watermarkEnabled": false, "requireHeadphones": true})"),
                Response::json(reply)});
        CourseController controller(m_manager.get());
        controller.setCourseId(QStringLiteral("c1"));
        QVERIFY(load(controller));
        QVERIFY(!controller.watermarkEnabled());
        QVERIFY(controller.requireHeadphones());

        QVERIFY(load(controller));
        QCOMPARE(controller.property(property.constData()), expected);
    }

    void educationLevel_data()
    {
        QTest::addColumn<QByteArray>("first");
        QTest::addColumn<QByteArray>("second");
        QTest::addColumn<QString>("expected");

        QTest::newRow("year's institution before its level")
            << QByteArray("{}")
            << QByteArray(
                   R"({"year": {"institution": {"name": "Inst A"}, "educationLevel": {"name": "Grade 3"}}})")
            << QStringLiteral("Inst A");
        QTest::newRow("year's level")
            << QByteArray("{}") << QByteArray(R"({"year": {"educationLevel": {"name": "Grade 3"}}})")
            << QStringLiteral("Grade 3");
        QTest::newRow("top-level institution fills an empty level")
            << QByteArray("{}") << QByteArray(R"({"year": {}, "institution": {"name": "Top"}})")
            << QStringLiteral("Top");
        QTest::newRow("top-level institution leaves a held level")
            << QByteArray(R"({"year": {"educationLevel": {"name": "Grade 9"}}})")
            << QByteArray(R"({"year": {}, "institution": {"name": "Top"}})") << QStringLiteral("Grade 9");
        QTest::newRow("nameless year institution, top-level name")
            << QByteArray(R"({"year": {"educationLevel": {"name": "Grade 9"}}})")
            << QByteArray(R"({"year": {"institution": {}}, "institution": {"name": "Inst"}})")
            << QStringLiteral("Inst");
        QTest::newRow("year not an object keeps the level")
            << QByteArray(R"({"year": {"educationLevel": {"name": "Grade 9"}}})")
            << QByteArray(R"({"year": "2024"})") << QStringLiteral("Grade 9");
    }

    void educationLevel()
    {
        QFETCH(QByteArray, first);
        QFETCH(QByteArray, second);
        QFETCH(QString, expected);
        answer(QStringLiteral("c1"), {Response::json(first), Response::json(second)});
        CourseController controller(m_manager.get());
        controller.setCourseId(QStringLiteral("c1"));
        QVERIFY(load(controller));
        QVERIFY(load(controller));
        QCOMPARE(controller.educationLevel(), expected);
    }

    void sectionsReplaceOnlyWhenSent()
    {
        answer(QStringLiteral("c1"),
               {course(R"({"sections": [{"id": "s-1", "content": [{"id": "v-1"}]}, 7]})"),
                course(R"({"title": "No sections"})"), course(R"({"sections": {}})"),
                course(R"({"sections": []})")});
        CourseController controller(m_manager.get());
        controller.setCourseId(QStringLiteral("c1"));

        QVERIFY(load(controller));
        const QVariantList sections = controller.sections();
        QCOMPARE(sections.size(), 2);
        const QVariantMap item =
            sections.first().toMap().value(QStringLiteral("content")).toList().value(0).toMap();
        QCOMPARE(item.value(QStringLiteral("id")), QVariant(QStringLiteral("v-1")));
        QCOMPARE(item.value(QStringLiteral("isShareable")), QVariant(false));
        QCOMPARE(sections.last().toMap(), (QVariantMap{{QStringLiteral("content"), QVariantList()},
                                                       {QStringLiteral("children"), QVariantList()}}));

        QVERIFY(load(controller));
        QCOMPARE(controller.sections(), sections);
        QVERIFY(load(controller));
        QCOMPARE(controller.sections(), sections);
        QVERIFY(load(controller));
        QCOMPARE(controller.sections(), QVariantList());

        QStringList logged;
        for (const auto &record : loadResults())
            logged.append(record.value(QStringLiteral("sections")));
        QCOMPARE(logged, (QStringList{QStringLiteral("2"), QStringLiteral("2"), QStringLiteral("2"),
                                      QStringLiteral("0")}));
    }

    void failureKeepsTheLastGoodCourse()
    {
        const QString id = QStringLiteral("course-raw-7319");
        answer(id, {course(R"({"title": "Good", "sections": [{"id": "s-1"}]})"),
                    Response::json(R"({"message": "Down"})", 500), course(R"({"title": "Again"})")});
        CourseController controller(m_manager.get());
        controller.setCourseId(id);
        QStringList events;
        connect(&controller, &CourseController::failureChanged, &controller,
                [&events] { events.append(QStringLiteral("failureChanged")); });
        connect(&controller, &CourseController::courseError, &controller,
                [&events](const AppFailure &failure) {
                    events.append(QStringLiteral("courseError:") + failure.code);
                });
        QSignalSpy errors(&controller, &CourseController::courseError);

        QVERIFY(load(controller));
        QCOMPARE(events, QStringList{QStringLiteral("failureChanged")});
        events.clear();

        QVERIFY(load(controller));
        QCOMPARE(events,
                 (QStringList{QStringLiteral("failureChanged"), QStringLiteral("courseError:HTTP_500")}));
        QCOMPARE(controller.failure().code, QStringLiteral("HTTP_500"));
        QCOMPARE(controller.failure().httpStatus, 500);
        QCOMPARE(errors.first().first().value<AppFailure>(), controller.failure());
        QVERIFY(!controller.isLoading());
        QCOMPARE(controller.title(), QStringLiteral("Good"));
        QCOMPARE(controller.sections().size(), 1);

        const auto results = loadResults();
        QCOMPARE(results.size(), 2);
        QCOMPARE(results.last().value(QStringLiteral("level")), QStringLiteral("warning"));
        QCOMPARE(results.last().value(QStringLiteral("result")), QStringLiteral("failure"));
        QCOMPARE(results.last().value(QStringLiteral("course_fp")), fingerprintOf(id));
        QVERIFY(!results.last().contains(QStringLiteral("sections")));
        QVERIFY(DiagnosticLogger::waitUntilWritten(std::chrono::seconds(10)));
        QFile log(DiagnosticLogger::logFilePath());
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(!log.readAll().contains(id.toUtf8()));

        QVERIFY(load(controller));
        QCOMPARE(controller.failure(), AppFailure());
        QCOMPARE(controller.title(), QStringLiteral("Again"));
    }

    void replyThatIsNotAnObject_data()
    {
        QTest::addColumn<Response>("reply");
        QTest::newRow("plain text OK") << Response(200, "OK", "text/plain");
        QTest::newRow("JSON array") << Response::json("[1, 2]");
        QTest::newRow("empty body") << Response(200);
    }

    void replyThatIsNotAnObject()
    {
        QFETCH(Response, reply);
        answer(QStringLiteral("c1"), {course(R"({"title": "Kept", "description": "D", "imageUrl": "img/a.png",
                           "author": {"fullName": "T"}, "year": {"educationLevel": {"name": "G"}},
                           "sections": [{"id": "s-1"}], "watermarkEnabled": false, "requireHeadphones": true})"),
                                      reply});
        CourseController controller(m_manager.get());
        controller.setCourseId(QStringLiteral("c1"));
        QVERIFY(load(controller));
        const QVariantList sections = controller.sections();

        QSignalSpy loaded(&controller, &CourseController::courseLoaded);
        QVERIFY(load(controller));
        QCOMPARE(loaded.size(), 1);
        QVERIFY(controller.watermarkEnabled());
        QVERIFY(!controller.requireHeadphones());
        QCOMPARE(controller.title(), QStringLiteral("Kept"));
        QCOMPARE(controller.description(), QStringLiteral("D"));
        QCOMPARE(controller.imageUrl(), QStringLiteral("img/a.png"));
        QCOMPARE(controller.author(), QStringLiteral("T"));
        QCOMPARE(controller.educationLevel(), QStringLiteral("G"));
        QCOMPARE(controller.sections(), sections);
        QVERIFY(controller.failure().code.isEmpty());
    }

    // An id goes into the path as one segment: it can add no segment, query or fragment.
    void idIsOnePathSegment_data()
    {
        QTest::addColumn<QString>("courseId");
        QTest::addColumn<QString>("target");
        QTest::newRow("delimiters") << QStringLiteral("a/b?x#y")
                                    << QStringLiteral("/api/v1/courses/a%2Fb%3Fx%23y");
        QTest::newRow("UTF-8") << QStringLiteral("é") << QStringLiteral("/api/v1/courses/%C3%A9");
        QTest::newRow("unreserved") << QStringLiteral("v1.2") << QStringLiteral("/api/v1/courses/v1.2");
    }

    void idIsOnePathSegment()
    {
        QFETCH(QString, courseId);
        QFETCH(QString, target);
        CourseController controller(m_manager.get());
        controller.setCourseId(courseId);
        QVERIFY(load(controller));
        settle();
        QCOMPARE(sentTargets(), QStringList{QStringLiteral("GET ") + target});
        const auto started = m_harness.logRecords(QStringLiteral("load_started"));
        QCOMPARE(started.size(), 1);
        QCOMPARE(started.first().value(QStringLiteral("course_fp")), fingerprintOf(courseId));
    }

    // A reply that arrives after the page moved to another course is not shown under the new id.
    void idChangedDuringALoad_data()
    {
        QTest::addColumn<int>("firstStatus");
        QTest::addColumn<QString>("newId");
        QTest::addColumn<bool>("loadsTheNewId");
        QTest::newRow("success for the old id") << 200 << QStringLiteral("c2") << true;
        QTest::newRow("failure for the old id") << 500 << QStringLiteral("c2") << true;
        QTest::newRow("id emptied") << 200 << QString() << false;
        QTest::newRow("id unusable") << 500 << QStringLiteral("..") << false;
    }

    void idChangedDuringALoad()
    {
        QFETCH(int, firstStatus);
        QFETCH(QString, newId);
        QFETCH(bool, loadsTheNewId);
        answer(QStringLiteral("c1"), {held(Response::json(R"({"title": "Course one"})", firstStatus))});
        answer(QStringLiteral("c2"), {course(R"({"title": "Course two"})")});
        CourseController controller(m_manager.get());
        controller.setCourseId(QStringLiteral("c1"));
        QSignalSpy loading(&controller, &CourseController::loadingStatusChanged);
        QSignalSpy loaded(&controller, &CourseController::courseLoaded);
        QSignalSpy errors(&controller, &CourseController::courseError);
        QSignalSpy failures(&controller, &CourseController::failureChanged);

        controller.fetchCourse();
        QTRY_COMPARE(server().requestCount(kCourses + QStringLiteral("c1")), 1);
        controller.setCourseId(newId);
        controller.fetchCourse();
        server().release(kCourses + QStringLiteral("c1"));

        if (loadsTheNewId) {
            QVERIFY(loaded.wait(10000));
            QCOMPARE(controller.title(), QStringLiteral("Course two"));
            const auto results = loadResults();
            QCOMPARE(results.size(), 1);
            QCOMPARE(results.first().value(QStringLiteral("course_fp")), fingerprintOf(QStringLiteral("c2")));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!controller.isLoading(), 10000);
            QCOMPARE(controller.title(), QString());
            QVERIFY(loadResults().isEmpty());
        }
        settle();
        QStringList expected{QStringLiteral("GET /api/v1/courses/c1")};
        if (loadsTheNewId)
            expected.append(QStringLiteral("GET /api/v1/courses/c2"));
        QCOMPARE(sentTargets(), expected);
        QCOMPARE(loading.size(), 2);
        QCOMPARE(loaded.size(), loadsTheNewId ? 1 : 0);
        QCOMPARE(errors.size(), 0);
        QCOMPARE(failures.size(), loadsTheNewId ? 1 : 0);
        QVERIFY(controller.failure().code.isEmpty());
    }

    void controllerGoneBeforeTheReply()
    {
        answer(QStringLiteral("c1"), {held(course(R"({"title": "One"})"))});
        auto controller = std::make_unique<CourseController>(m_manager.get());
        controller->setCourseId(QStringLiteral("c1"));
        controller->fetchCourse();
        QTRY_COMPARE(server().requestCount(kCourses + QStringLiteral("c1")), 1);
        controller.reset();

        QSignalSpy answered(&server(), &FixtureServer::responseFinished);
        server().release(kCourses + QStringLiteral("c1"));
        QTRY_VERIFY_WITH_TIMEOUT(!answered.isEmpty(), 10000);
        settle();
        QVERIFY(loadResults().isEmpty());
    }
};

QTEST_MAIN(tst_CourseController)
#include "tst_CourseController.moc"
