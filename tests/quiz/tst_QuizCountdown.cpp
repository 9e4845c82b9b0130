#include "quiz/QuizController.h"
#include "tests/quiz/QuizControllerHarness.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::QuizControllerHarness;
using Response = FixtureServer::Response;

namespace {

const QString kTimeUpSubmitting = QStringLiteral("Time is up. Submitting saved answers…");
const QString kTimeUpNotSubmitted =
    QStringLiteral("Time is up, and your answers could not be submitted yet.");

// Ticks every 20 ms; the clock moves only when a test moves it.
QuizController::Intervals ticking()
{
    QuizController::Intervals chosen = QuizControllerHarness::quietIntervals();
    chosen.countdownMs = 20;
    return chosen;
}

} // namespace

// The countdown to an attempt's deadline or a timed quiz's start, and what happens when it ends.
class tst_QuizCountdown : public QObject
{
    Q_OBJECT

private:
    QuizControllerHarness m_harness;

    FixtureServer &server() { return m_harness.server(); }

    QJsonObject openAttempt(const QJsonValue &expiresAt) const
    {
        QJsonObject attempt =
            QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE"),
                                           {QuizControllerHarness::answer(QStringLiteral("q1"), 1)});
        if (!expiresAt.isUndefined())
            attempt.insert(QStringLiteral("expiresAt"), expiresAt);
        return attempt;
    }

    QString timeText(qint64 secondsFromNow) const
    {
        return m_harness.now.addSecs(secondsFromNow).toString(Qt::ISODateWithMs);
    }

    QJsonObject timedQuizStarting(qint64 secondsFromNow) const
    {
        QJsonObject quiz = QuizControllerHarness::quiz(QStringLiteral("TIMED"));
        quiz.insert(QStringLiteral("startsAt"), timeText(secondsFromNow));
        quiz.insert(QStringLiteral("durationSeconds"), 3600);
        return QuizControllerHarness::details(quiz);
    }

    std::unique_ptr<QuizController> loadedAttempt(const QJsonValue &expiresAt)
    {
        return m_harness.loaded(
            QuizControllerHarness::details(QuizControllerHarness::quiz(),
                                           {{QStringLiteral("activeAttempt"), openAttempt(expiresAt)}}),
            ticking());
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    void passedDeadlineSubmitsOnLoad()
    {
        m_harness.answerDetails(QuizControllerHarness::details(
            QuizControllerHarness::quiz(), {{QStringLiteral("activeAttempt"), openAttempt(timeText(-10))}}));
        m_harness.answerHistory({QuizControllerHarness::json(QJsonArray())});
        m_harness.answerSubmit({QuizControllerHarness::held(Response(500))});
        auto controller = m_harness.makeController(ticking());
        controller->setQuizId(QuizControllerHarness::kQuizId);
        QList<bool> editableThen;
        connect(controller.get(), &QuizController::submissionStarting, controller.get(), [&] {
            editableThen.append(controller->canEdit());
            controller->setAnswer(QStringLiteral("q2"), QStringLiteral("typed"));
        });

        controller->open();
        QTRY_COMPARE(controller->state(), QuizController::Submitting);

        QCOMPARE(controller->errorMessage(), kTimeUpSubmitting);
        QCOMPARE(controller->remainingSeconds(), 0);
        QVERIFY(!controller->canEdit());
        QVERIFY(!controller->timerForTests(QuizController::Timer::Countdown).active);
        QCOMPARE(editableThen, QList<bool>{true});
        QTRY_COMPARE(server().requestCount(QuizControllerHarness::submitRoute()), 1);
        const QJsonArray answers =
            QuizControllerHarness::bodyOf(server().requests(QuizControllerHarness::submitRoute()).first())
                .value(QStringLiteral("answers"))
                .toArray();
        QCOMPARE(answers.size(), 2);
        QCOMPARE(answers.at(1).toObject().value(QStringLiteral("answer")),
                 QJsonValue(QStringLiteral("typed")));
    }

    void deadlineAheadCountsDown()
    {
        const auto controller = loadedAttempt(timeText(30));
        QVERIFY(controller);
        QCOMPARE(controller->remainingSeconds(), 30);
        QVERIFY(controller->timerForTests(QuizController::Timer::Countdown).active);

        m_harness.now = m_harness.now.addSecs(1);
        QTRY_COMPARE(controller->remainingSeconds(), 29);
        QCOMPARE(controller->state(), QuizController::Active);
    }

    void withoutADeadlineNothingCounts_data()
    {
        QTest::addColumn<QJsonValue>("expiresAt");
        QTest::newRow("no member") << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("null") << QJsonValue(QJsonValue::Null);
        QTest::newRow("not a time") << QJsonValue(QStringLiteral("soon"));
    }

    void withoutADeadlineNothingCounts()
    {
        QFETCH(QJsonValue, expiresAt);
        const auto controller = loadedAttempt(expiresAt);
        QVERIFY(controller);

        QCOMPARE(controller->remainingSeconds(), -1);
        QVERIFY(!controller->timerForTests(QuizController::Timer::Countdown).active);
        QCOMPARE(controller->state(), QuizController::Active);
        QVERIFY(controller->canEdit());
    }

    void timedQuizCountsToItsStart_data()
    {
        QTest::addColumn<qint64>("startsIn");
        QTest::addColumn<qint64>("remaining");
        QTest::addColumn<bool>("counting");
        QTest::newRow("start ahead") << qint64(90) << qint64(90) << true;
        QTest::newRow("start past") << qint64(-90) << qint64(-1) << false;
    }

    void timedQuizCountsToItsStart()
    {
        QFETCH(qint64, startsIn);
        QFETCH(qint64, remaining);
        QFETCH(bool, counting);
        const auto controller = m_harness.loaded(timedQuizStarting(startsIn), ticking());
        QVERIFY(controller);
        QCOMPARE(controller->state(), QuizController::Ready);

        QCOMPARE(controller->remainingSeconds(), remaining);
        QCOMPARE(controller->timerForTests(QuizController::Timer::Countdown).active, counting);
        if (counting) {
            m_harness.now = m_harness.now.addSecs(1);
            QTRY_COMPARE(controller->remainingSeconds(), remaining - 1);
        }
    }

    void startOfATimedQuizIsAnnounced()
    {
        const auto controller = m_harness.loaded(timedQuizStarting(90), ticking());
        QVERIFY(controller);
        const QDateTime start = m_harness.now.addSecs(90);

        m_harness.now = start.addMSecs(-500);
        QTRY_VERIFY(!controller->timerForTests(QuizController::Timer::Countdown).active);
        QCOMPARE(controller->remainingSeconds(), 0);
        QVERIFY(!controller->available());
        QSignalSpy changed(controller.get(), &QuizController::changed);

        // Nothing else would make the page read `available` again once the start has come.
        m_harness.now = start;
        QVERIFY(changed.wait(5000));

        QVERIFY(controller->available());
        QCOMPARE(controller->remainingSeconds(), -1);
        QVERIFY(!controller->timerForTests(QuizController::Timer::Countdown).active);
    }

    void timeUpWhileNotActiveOnlyLocks_data()
    {
        QTest::addColumn<bool>("review");
        QTest::newRow("under review") << true;
        QTest::newRow("offline") << false;
    }

    void timeUpWhileNotActiveOnlyLocks()
    {
        QFETCH(bool, review);
        if (review)
            QVERIFY(QuizControllerHarness::saveAttemptFile(
                {{QStringLiteral("reviewQuestionIds"), QJsonArray{QStringLiteral("q1")}}}));
        m_harness.answerSubmit({Response(500)});
        const auto controller = loadedAttempt(timeText(60));
        QVERIFY(controller);
        if (!review) {
            m_harness.answerDetails({QuizControllerHarness::dropped()});
            QVERIFY(m_harness.load(*controller));
        }
        const QuizController::State state = controller->state();
        QCOMPARE(state, review ? QuizController::ReviewRequired : QuizController::OfflineReadOnly);
        const QString message = controller->errorMessage();
        QVERIFY(controller->timerForTests(QuizController::Timer::Countdown).active);

        m_harness.now = m_harness.now.addSecs(61);
        QTRY_VERIFY(!controller->timerForTests(QuizController::Timer::Countdown).active);

        QCOMPARE(controller->remainingSeconds(), 0);
        QCOMPARE(controller->state(), state);
        QCOMPARE(controller->errorMessage(), message);
        QVERIFY(m_harness.settle());
        QCOMPARE(server().requestCount(QuizControllerHarness::submitRoute()), 0);
        if (!review)
            return;

        // Locked, but the review can still be ended and the attempt submitted.
        controller->keepChangedAnswer(QStringLiteral("q1"));
        QCOMPARE(controller->state(), QuizController::Active);
        QVERIFY(!controller->canEdit());
        controller->setAnswer(QStringLiteral("q2"), 1);
        QCOMPARE(controller->answers().value(QStringLiteral("q2")), QVariant());
        controller->submit();
        QCOMPARE(controller->state(), QuizController::Submitting);
        QTRY_COMPARE(server().requestCount(QuizControllerHarness::submitRoute()), 1);
    }

    // The submission owed at the deadline fails: the page says so and tries again by itself, and
    // a page opened again picks the tries up; the answers stay on disk until the server has them.
    void failedTimeUpSubmissionIsShownAndTriedAgain()
    {
        QJsonObject accepted = openAttempt(timeText(60));
        accepted.insert(QStringLiteral("status"), QStringLiteral("SUBMITTED"));
        accepted.insert(QStringLiteral("submittedAt"), timeText(61));
        const Response serverError = QuizControllerHarness::json(
            QJsonObject{{QStringLiteral("message"), QStringLiteral("Server error")}}, 500);
        m_harness.answerSubmit({serverError, serverError, QuizControllerHarness::json(accepted)});
        QuizController::Intervals slowRetry = ticking();
        slowRetry.timeUpRetryMs = {600000};
        auto controller = m_harness.loaded(
            QuizControllerHarness::details(QuizControllerHarness::quiz(),
                                           {{QStringLiteral("activeAttempt"), openAttempt(timeText(60))}}),
            slowRetry);
        QVERIFY(controller);
        controller->setAnswer(QStringLiteral("q2"), 2);
        QSignalSpy feedback(controller.get(), &QuizController::feedback);

        m_harness.now = m_harness.now.addSecs(61);
        QTRY_COMPARE(server().requestCount(QuizControllerHarness::submitRoute()), 1);
        QTRY_VERIFY(controller->timeUpSubmissionFailed());

        QCOMPARE(controller->state(), QuizController::Active);
        QCOMPARE(controller->errorMessage(), kTimeUpNotSubmitted);
        QVERIFY(!controller->canEdit());
        const QuizController::TimerReading retry =
            controller->timerForTests(QuizController::Timer::TimeUpRetry);
        QVERIFY(retry.active);
        QCOMPARE(retry.intervalMs, 600000);
        QCOMPARE(QuizControllerHarness::feedbackOf(feedback), QStringList());
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(), (QJsonObject{{QStringLiteral("q2"), 2}}));

        // The page is closed and opened again: the owed submission goes out at once, and the tries
        // after it follow by themselves.
        QuizController::Intervals quickRetry = ticking();
        quickRetry.timeUpRetryMs = {30};
        controller = m_harness.makeController(quickRetry);
        controller->setQuizId(QuizControllerHarness::kQuizId);
        controller->open();
        QTRY_COMPARE(server().requestCount(QuizControllerHarness::submitRoute()), 2);
        QTRY_COMPARE(server().requestCount(QuizControllerHarness::submitRoute()), 3);
        QTRY_COMPARE(controller->state(), QuizController::Result);

        QVERIFY(!controller->timeUpSubmissionFailed());
        QVERIFY(!controller->timerForTests(QuizController::Timer::TimeUpRetry).active);
        QCOMPARE(controller->errorMessage(), QString());
        QVERIFY(controller->attemptSubmitted());
        const QJsonArray sent =
            QuizControllerHarness::bodyOf(server().requests(QuizControllerHarness::submitRoute()).last())
                .value(QStringLiteral("answers"))
                .toArray();
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.at(1).toObject().value(QStringLiteral("answer")), QJsonValue(2));
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(), QJsonObject());
    }

    void timeUpRetriesBackOff()
    {
        m_harness.answerSubmit({Response(500)});
        QuizController::Intervals backOff = ticking();
        backOff.timeUpRetryMs = {20, 40, 60};
        m_harness.answerDetails(QuizControllerHarness::details(
            QuizControllerHarness::quiz(), {{QStringLiteral("activeAttempt"), openAttempt(timeText(-1))}}));
        m_harness.answerHistory({QuizControllerHarness::json(QJsonArray())});
        auto controller = m_harness.makeController(backOff);
        controller->setQuizId(QuizControllerHarness::kQuizId);
        // The wait chosen after each failure, read the moment it is chosen.
        QList<int> waits;
        int failuresSeen = 0;
        connect(controller.get(), &QuizController::changed, controller.get(), [&] {
            const QuizController::TimerReading retry =
                controller->timerForTests(QuizController::Timer::TimeUpRetry);
            const int failures = server().requestCount(QuizControllerHarness::submitRoute());
            if (controller->timeUpSubmissionFailed() && retry.active && failures != failuresSeen) {
                failuresSeen = failures;
                waits.append(retry.intervalMs);
            }
        });

        controller->open();

        QTRY_COMPARE(server().requestCount(QuizControllerHarness::submitRoute()), 5);
        QTRY_COMPARE(waits.size(), 5);
        QCOMPARE(waits, (QList<int>{20, 40, 60, 60, 60}));
    }
};

QTEST_GUILESS_MAIN(tst_QuizCountdown)
#include "tst_QuizCountdown.moc"
