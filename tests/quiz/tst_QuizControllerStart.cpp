#include "quiz/QuizController.h"
#include "quiz/QuizDomain.h"
#include "tests/quiz/QuizControllerHarness.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::QuizControllerHarness;
using Response = FixtureServer::Response;

Q_DECLARE_METATYPE(FixtureServer::Response)

namespace {

const QString kNeedsConnection = QStringLiteral("Internet connection is required to start the quiz.");
const QString kNeedsNickname = QStringLiteral("Enter a nickname to start this timed quiz.");
const QString kInvalidAttempt = QStringLiteral("The server returned an invalid quiz attempt.");

QJsonObject bodyOf(const FixtureServer::Request &request)
{
    return QJsonDocument::fromJson(request.body).object();
}

} // namespace

class tst_QuizControllerStart : public QObject
{
    Q_OBJECT

private:
    QuizControllerHarness m_harness;

    FixtureServer &server() { return m_harness.server(); }

    // A timed quiz whose window opened a minute ago and lasts an hour.
    QJsonObject timedQuiz(qint64 startsInSeconds = -60) const
    {
        QJsonObject quiz = QuizControllerHarness::quiz(QStringLiteral("TIMED"));
        quiz.insert(QStringLiteral("startsAt"),
                    m_harness.now.addSecs(startsInSeconds).toString(Qt::ISODateWithMs));
        quiz.insert(QStringLiteral("durationSeconds"), 3600);
        return quiz;
    }

    std::unique_ptr<QuizController> loaded(const QJsonObject &details) { return m_harness.loaded(details); }

    [[nodiscard]] static Response startedAttempt(const QString &id = QStringLiteral("a-new"))
    {
        return QuizControllerHarness::json(QuizControllerHarness::attempt(id, QStringLiteral("ACTIVE")));
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    void timedQuizNeedsANickname()
    {
        m_harness.answerStart({startedAttempt()});
        const auto controller = loaded(QuizControllerHarness::details(timedQuiz()));
        QVERIFY(controller);
        QVERIFY(controller->available());
        QSignalSpy feedback(controller.get(), &QuizController::feedback);

        controller->startAttempt(QStringLiteral("   "));
        controller->startAttempt();

        QCOMPARE(QuizControllerHarness::feedbackOf(feedback),
                 QStringList({kNeedsNickname + QStringLiteral("|warning"),
                              kNeedsNickname + QStringLiteral("|warning")}));
        QVERIFY(!controller->startingAttempt());
        QVERIFY(m_harness.settle());
        QVERIFY(m_harness.posts().isEmpty());
    }

    void timedQuizSendsTheTrimmedNickname()
    {
        m_harness.answerStart({QuizControllerHarness::held(startedAttempt())});
        const auto controller = loaded(QuizControllerHarness::details(timedQuiz()));
        QVERIFY(controller);
        QSignalSpy changed(controller.get(), &QuizController::changed);

        controller->startAttempt(QStringLiteral(" bob "));
        QVERIFY(controller->startingAttempt());
        QCOMPARE(changed.size(), 1);
        QTRY_COMPARE(m_harness.posts().size(), 1);
        QVERIFY(controller->startingAttempt());
        QCOMPARE(controller->state(), QuizController::Ready);

        server().release(QuizControllerHarness::attemptsRoute());
        QTRY_COMPARE(controller->state(), QuizController::Active);
        QVERIFY(!controller->startingAttempt());
        const QList<FixtureServer::Request> posts = m_harness.posts();
        QCOMPARE(posts.size(), 1);
        QCOMPARE(posts.first().path, QByteArray("/api/v1/quizzes/q/attempts"));
        QCOMPARE(bodyOf(posts.first()), (QJsonObject{{QStringLiteral("nickname"), QStringLiteral("bob")}}));
    }

    void ordinaryQuizSendsAnEmptyBodyOnce()
    {
        m_harness.answerStart({startedAttempt()});
        const auto controller = loaded(QuizControllerHarness::details(QuizControllerHarness::quiz()));
        QVERIFY(controller);
        QSignalSpy feedback(controller.get(), &QuizController::feedback);

        controller->startAttempt(QStringLiteral("bob"));
        controller->startAttempt(QStringLiteral("bob"));

        QTRY_COMPARE(controller->state(), QuizController::Active);
        QVERIFY(m_harness.settle());
        const QList<FixtureServer::Request> posts = m_harness.posts();
        QCOMPARE(posts.size(), 1);
        QCOMPARE(bodyOf(posts.first()), QJsonObject());
        QCOMPARE(posts.first().body, QByteArray("{}"));
        QCOMPARE(feedback.size(), 0);
    }

    void idTravelsAsOneEncodedSegment()
    {
        const QString encoded = QStringLiteral("a%2Fb%3Fx");
        m_harness.answerDetails(QuizControllerHarness::details(QuizControllerHarness::quiz()), encoded);
        m_harness.answerHistory({QuizControllerHarness::json(QJsonArray())}, encoded);
        m_harness.answerStart({startedAttempt()}, encoded);
        auto controller = m_harness.makeController();
        controller->setQuizId(QStringLiteral("a/b?x"));
        QVERIFY(m_harness.load(*controller));

        controller->startAttempt();

        QTRY_COMPARE(controller->state(), QuizController::Active);
        QVERIFY(m_harness.settle());
        QCOMPARE(m_harness.sent(),
                 QStringList({"GET /api/v1/quizzes/a%2Fb%3Fx", "GET /api/v1/quizzes/a%2Fb%3Fx/attempts",
                              "POST /api/v1/quizzes/a%2Fb%3Fx/attempts"}));
    }

    void refusalsSendNothing_data()
    {
        QTest::addColumn<QList<Response>>("detailsAnswers");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("severity");

        QTest::newRow("offline after a failed load")
            << QList<Response>{Response(404)} << int(QuizController::Failed) << kNeedsConnection
            << QStringLiteral("error");
        QTest::newRow("attempt open")
            << QList<Response>{QuizControllerHarness::json(QuizControllerHarness::details(
                   QuizControllerHarness::quiz(),
                   {{QStringLiteral("activeAttempt"),
                     QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE"))}}))}
            << int(QuizController::Active) << kNeedsConnection << QStringLiteral("error");
        QTest::newRow("leaderboard")
            << QList<Response>{QuizControllerHarness::json(QuizControllerHarness::details(
                   QuizControllerHarness::quiz(), {{QStringLiteral("leaderboardOnly"), true}}))}
            << int(QuizController::Leaderboard) << kNeedsConnection << QStringLiteral("error");
        // The message is filled in by the test: it names the local start time.
        QTest::newRow("timed quiz before its start")
            << QList<Response>{QuizControllerHarness::json(QuizControllerHarness::details(timedQuiz(3600)))}
            << int(QuizController::Ready) << QString() << QStringLiteral("warning");
    }

    void refusalsSendNothing()
    {
        QFETCH(QList<Response>, detailsAnswers);
        QFETCH(int, state);
        QFETCH(QString, message);
        QFETCH(QString, severity);
        m_harness.answerDetails(detailsAnswers);
        m_harness.answerHistory({QuizControllerHarness::json(QJsonArray())});
        m_harness.answerStart({startedAttempt()});
        auto controller = m_harness.makeController();
        controller->setQuizId(QuizControllerHarness::kQuizId);
        QVERIFY(m_harness.load(*controller));
        QCOMPARE(int(controller->state()), state);
        if (message.isEmpty()) {
            QVERIFY(!controller->available());
            message = controller->availabilityMessage();
            QVERIFY(message.startsWith(QStringLiteral("This quiz starts at ")));
        }
        QSignalSpy feedback(controller.get(), &QuizController::feedback);
        QSignalSpy changed(controller.get(), &QuizController::changed);

        controller->startAttempt(QStringLiteral("bob"));

        QCOMPARE(QuizControllerHarness::feedbackOf(feedback),
                 QStringList{message + QLatin1Char('|') + severity});
        QCOMPARE(changed.size(), 0);
        QVERIFY(!controller->startingAttempt());
        QVERIFY(m_harness.settle());
        QVERIFY(m_harness.posts().isEmpty());
    }

    void unusableStartRepliesReturnToReady_data()
    {
        QTest::addColumn<Response>("reply");
        QTest::addColumn<QString>("message");
        QTest::newRow("server error")
            << QuizControllerHarness::json(QJsonObject{{QStringLiteral("message"), QStringLiteral("Down")}},
                                           500)
            << QStringLiteral("Down");
        QTest::newRow("empty object") << QuizControllerHarness::json(QJsonObject()) << kInvalidAttempt;
        QTest::newRow("attempt without an id")
            << QuizControllerHarness::json(QJsonObject{{QStringLiteral("id"), 42},
                                                       {QStringLiteral("status"), QStringLiteral("ACTIVE")}})
            << kInvalidAttempt;
        QTest::newRow("not JSON") << Response(200, "<html></html>", "text/html") << kInvalidAttempt;
    }

    void unusableStartRepliesReturnToReady()
    {
        QFETCH(Response, reply);
        QFETCH(QString, message);
        m_harness.answerStart({reply});
        const auto controller = loaded(QuizControllerHarness::details(QuizControllerHarness::quiz()));
        QVERIFY(controller);
        QSignalSpy feedback(controller.get(), &QuizController::feedback);
        const int before = server().totalRequestCount();

        controller->startAttempt();
        QVERIFY(feedback.wait(10000));

        QCOMPARE(QuizControllerHarness::feedbackOf(feedback),
                 QStringList{message + QStringLiteral("|error")});
        QCOMPARE(controller->state(), QuizController::Ready);
        QCOMPARE(controller->errorMessage(), QString());
        QVERIFY(!controller->startingAttempt());
        QVERIFY(controller->online());
        QVERIFY(m_harness.waitForRequests(before + 1));
        QVERIFY(!QDir(QuizControllerHarness::dataFolder() + QStringLiteral("/quiz-sessions")).exists());
    }

    void startedAttemptReplacesWhatTheEarlierOneLeft()
    {
        // The earlier, finished attempt comes back from its session file with marks, struck-out
        // options, questions under review and the question on screen.
        const QString earlierFile =
            QuizControllerHarness::sessionFile(QStringLiteral("u1"), QStringLiteral("a-old"));
        QVERIFY(QuizDomain::saveSession(
            earlierFile,
            QuizControllerHarness::session(
                QStringLiteral("a-old"),
                {{QStringLiteral("answers"), QJsonObject{{QStringLiteral("q1"), 2}}},
                 {QStringLiteral("pending"), QJsonObject{{QStringLiteral("q2"), 1}}},
                 {QStringLiteral("selfGrades"), QJsonObject{{QStringLiteral("q3"), true}}},
                 {QStringLiteral("markedQuestionIds"), QJsonArray{QStringLiteral("q1")}},
                 {QStringLiteral("eliminatedOptions"), QJsonObject{{QStringLiteral("q2"), QJsonArray{0}}}},
                 {QStringLiteral("reviewQuestionIds"), QJsonArray{QStringLiteral("q4")}},
                 {QStringLiteral("currentQuestionIndex"), 2}})));
        const auto controller = loaded(QuizControllerHarness::details(
            QuizControllerHarness::quiz(),
            {{QStringLiteral("attempt"),
              QuizControllerHarness::attempt(QStringLiteral("a-old"), QStringLiteral("SUBMITTED"))}}));
        QVERIFY(controller);
        QCOMPARE(controller->state(), QuizController::Result);
        QCOMPARE(controller->reviewQuestionIds(), QVariantList{QStringLiteral("q4")});

        // The page shows the start panel again once the server reports no attempt.
        m_harness.answerDetails(QuizControllerHarness::details(QuizControllerHarness::quiz()));
        QVERIFY(m_harness.load(*controller));
        QCOMPARE(controller->state(), QuizController::Ready);
        QCOMPARE(controller->markedQuestionIds(), QVariantList{QStringLiteral("q1")});

        QJsonObject started = QuizControllerHarness::attempt(
            QStringLiteral("a-new"), QStringLiteral("ACTIVE"),
            QJsonArray{QuizControllerHarness::answer(QStringLiteral("q5"), 1)});
        started.insert(QStringLiteral("revision"), 1);
        m_harness.answerStart({QuizControllerHarness::json(started)});
        QSignalSpy feedback(controller.get(), &QuizController::feedback);
        controller->startAttempt();
        QTRY_COMPARE(controller->state(), QuizController::Active);

        QCOMPARE(controller->errorMessage(), QString());
        QCOMPARE(controller->answers(), (QVariantMap{{QStringLiteral("q5"), 1}}));
        QCOMPARE(controller->selfGrades(), QVariantMap());
        QCOMPARE(controller->markedQuestionIds(), QVariantList());
        QCOMPARE(controller->eliminatedOptions(), QVariantMap());
        QCOMPARE(controller->reviewQuestionIds(), QVariantList());
        QCOMPARE(controller->revision(), 1);
        QCOMPARE(controller->currentQuestionIndex(), 2);
        QVERIFY(controller->canEdit());
        QCOMPARE(feedback.size(), 0);

        const QString file =
            QuizControllerHarness::sessionFile(QStringLiteral("u1"), QStringLiteral("a-new"));
        QCOMPARE(controller->localPath(), file);
        const QJsonObject saved = QuizControllerHarness::readSession(file);
        QCOMPARE(saved.value(QStringLiteral("attemptId")).toString(), QStringLiteral("a-new"));
        QCOMPARE(saved.value(QStringLiteral("pending")).toObject(), QJsonObject());
        QCOMPARE(saved.value(QStringLiteral("markedQuestionIds")).toArray(), QJsonArray());
        QCOMPARE(saved.value(QStringLiteral("currentQuestionIndex")).toInt(-1), 2);
    }
};

QTEST_GUILESS_MAIN(tst_QuizControllerStart)
#include "tst_QuizControllerStart.moc"
