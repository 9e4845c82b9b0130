#include "quiz/QuizController.h"
#include "quiz/QuizDomain.h"
#include "tests/quiz/QuizControllerHarness.h"

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

QJsonObject openAttempt(int revision, const QJsonArray &answers = {})
{
    QJsonObject attempt =
        QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE"), answers);
    attempt.insert(QStringLiteral("revision"), revision);
    return attempt;
}

Response saved(int revision, const QJsonArray &answers = {})
{
    return QuizControllerHarness::json(openAttempt(revision, answers));
}

} // namespace

// The debounced save of changed answers: what goes out, what a reply acknowledges, and every way a
// save can fail.
class tst_QuizSync : public QObject
{
    Q_OBJECT

private:
    QuizControllerHarness m_harness;

    FixtureServer &server() { return m_harness.server(); }

    static QuizController::Intervals intervals(int syncMs, int reconnectMs = 600000)
    {
        QuizController::Intervals chosen = QuizControllerHarness::quietIntervals();
        chosen.syncMs = syncMs;
        chosen.reconnectMs = reconnectMs;
        return chosen;
    }

    static QJsonObject details(const QJsonArray &serverAnswers = {}, const QJsonArray &questions = {})
    {
        QJsonObject quiz = QuizControllerHarness::quiz();
        if (!questions.isEmpty())
            quiz.insert(QStringLiteral("questions"), questions);
        return QuizControllerHarness::details(
            quiz, {{QStringLiteral("activeAttempt"), openAttempt(3, serverAnswers)}});
    }

    QList<QJsonObject> saveBodies()
    {
        QList<QJsonObject> bodies;
        const QList<FixtureServer::Request> requests =
            m_harness.requestsTo(QuizControllerHarness::saveRoute());
        for (const FixtureServer::Request &request : requests) {
            if (request.method != "PUT")
                return {};
            bodies.append(QuizControllerHarness::bodyOf(request));
        }
        return bodies;
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    void burstOfEditsGoesOutInOneSave()
    {
        m_harness.answerSave({saved(4)});
        const auto controller =
            m_harness.loaded(details({QuizControllerHarness::answer(QStringLiteral("q3"), 1),
                                      QuizControllerHarness::answer(QStringLiteral("q4"), 2),
                                      QuizControllerHarness::answer(QStringLiteral("q5"), 0)}),
                             intervals(200));
        QVERIFY(controller);

        controller->setAnswer(QStringLiteral("q1"), 0);
        controller->setAnswer(QStringLiteral("q2"), QStringLiteral("written"));
        controller->clearAnswer(QStringLiteral("q3"));
        controller->setSelfGrade(QStringLiteral("q4"), true);
        controller->toggleEliminated(QStringLiteral("q5"), 0);
        QVERIFY(controller->timerForTests(QuizController::Timer::Sync).active);
        QCOMPARE(m_harness.requestsTo(QuizControllerHarness::saveRoute()).size(), 0);

        QTRY_COMPARE(controller->revision(), 4);
        QVERIFY(m_harness.settle());
        const QList<QJsonObject> bodies = saveBodies();
        QCOMPARE(bodies.size(), 1);
        const QVariantMap pending{{QStringLiteral("q1"), 0},
                                  {QStringLiteral("q2"), QStringLiteral("written")},
                                  {QStringLiteral("q3"), QVariant()},
                                  {QStringLiteral("q4"), 2},
                                  {QStringLiteral("q5"), QVariant()}};
        QCOMPARE(bodies.first(), QuizDomain::mutationPayload(3, controller->questions(), pending,
                                                             {{QStringLiteral("q4"), true}}));
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(), QJsonObject());
        QVERIFY(!controller->syncing());
    }

    void laterEditRestartsTheDebounce()
    {
        // Short enough that a coarse timer's leeway (5 %) stays well inside the margins below.
        const int interval = 2000;
        const auto controller = m_harness.loaded(details(), intervals(interval));
        QVERIFY(controller);
        controller->setAnswer(QStringLiteral("q1"), 0);
        const auto remaining = [&controller] {
            return controller->timerForTests(QuizController::Timer::Sync).remainingMs;
        };
        QTRY_VERIFY(remaining() >= 0 && remaining() <= interval - 500);

        controller->setAnswer(QStringLiteral("q2"), 1);

        QVERIFY2(remaining() > interval - 300, qPrintable(QString::number(remaining())));
    }

    void answerChangedDuringASaveStaysPending()
    {
        m_harness.answerSave(
            {QuizControllerHarness::held(saved(4, {QuizControllerHarness::answer(QStringLiteral("q1"), 0),
                                                   QuizControllerHarness::answer(QStringLiteral("q2"), 1)})),
             saved(5, {QuizControllerHarness::answer(QStringLiteral("q1"), 2),
                       QuizControllerHarness::answer(QStringLiteral("q2"), 1)})});
        const auto controller = m_harness.loaded(details(), intervals(20));
        QVERIFY(controller);
        controller->setAnswer(QStringLiteral("q1"), 0);
        controller->setAnswer(QStringLiteral("q2"), 1);
        QTRY_COMPARE(m_harness.requestsTo(QuizControllerHarness::saveRoute()).size(), 1);
        QVERIFY(controller->syncing());

        controller->setAnswer(QStringLiteral("q1"), 2);
        // The debounce runs out while the first save is held; it must not send a second. Nothing
        // else may be asked meanwhile: the fixture's gauge counts every request in flight.
        QTRY_VERIFY(!controller->timerForTests(QuizController::Timer::Sync).active);
        server().release(QuizControllerHarness::saveRoute());

        // The second save carries what was still pending after the first reply, on its revision.
        QTRY_COMPARE(controller->revision(), 5);
        QCOMPARE(controller->answers(), (QVariantMap{{QStringLiteral("q1"), 2}, {QStringLiteral("q2"), 1}}));
        QVERIFY(m_harness.settle());
        const QList<QJsonObject> bodies = saveBodies();
        QCOMPARE(bodies.size(), 2);
        QCOMPARE(bodies.at(1).value(QStringLiteral("baseRevision")), QJsonValue(4));
        QCOMPARE(bodies.at(1),
                 QuizDomain::mutationPayload(4, controller->questions(), {{QStringLiteral("q1"), 2}}, {}));
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(), QJsonObject());
        QCOMPARE(server().maxRequestsInFlight(), 1);
    }

    void answerOfAQuestionWithoutAStampStaysPending()
    {
        QJsonArray questions = QuizControllerHarness::questions(2);
        QJsonObject unstamped = questions.at(1).toObject();
        unstamped.remove(QStringLiteral("updatedAt"));
        questions.replace(1, unstamped);
        m_harness.answerSave({saved(4)});
        const auto controller = m_harness.loaded(details({}, questions), intervals(20));
        QVERIFY(controller);

        controller->setAnswer(QStringLiteral("q2"), 1);
        QTRY_VERIFY(!controller->timerForTests(QuizController::Timer::Sync).active);
        QVERIFY(m_harness.settle());
        QCOMPARE(m_harness.requestsTo(QuizControllerHarness::saveRoute()).size(), 0);

        controller->setAnswer(QStringLiteral("q1"), 0);
        QTRY_COMPARE(controller->revision(), 4);
        QVERIFY(m_harness.settle());
        const QList<QJsonObject> bodies = saveBodies();
        QCOMPARE(bodies.size(), 1);
        QCOMPARE(bodies.first().value(QStringLiteral("answers")).toArray().size(), 1);
        // Only what went out was acknowledged.
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(), (QJsonObject{{QStringLiteral("q2"), 1}}));
        QCOMPARE(controller->answers(), (QVariantMap{{QStringLiteral("q2"), 1}}));
    }

    void replyWithoutAnAttemptKeepsTheHeldOne()
    {
        m_harness.answerSave({QuizControllerHarness::json(QJsonObject{{QStringLiteral("ok"), true}})});
        const auto controller = m_harness.loaded(details(), intervals(20));
        QVERIFY(controller);

        controller->setAnswer(QStringLiteral("q1"), 0);
        QTRY_COMPARE(m_harness.requestsTo(QuizControllerHarness::saveRoute()).size(), 1);
        QTRY_COMPARE(QuizControllerHarness::pendingInAttemptFile(), QJsonObject());

        QVERIFY(!controller->syncing());
        QCOMPARE(controller->revision(), 3);
        QCOMPARE(controller->state(), QuizController::Active);
        QCOMPARE(controller->answers(), (QVariantMap{{QStringLiteral("q1"), 0}}));
        QCOMPARE(QuizControllerHarness::readSession(QuizControllerHarness::attemptFile())
                     .value(QStringLiteral("attemptId")),
                 QJsonValue(QStringLiteral("a1")));
    }

    void failedSaves_data()
    {
        QTest::addColumn<Response>("reply");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("online");
        QTest::addColumn<bool>("canEdit");
        QTest::addColumn<int>("revision");
        QTest::addColumn<QStringList>("feedback");
        // The base of a save that follows on its own; -1 when none follows.
        QTest::addColumn<int>("nextBase");
        QTest::addColumn<bool>("reloads");

        const QJsonObject newer = openAttempt(7, {QuizControllerHarness::answer(QStringLiteral("q2"), 2)});
        QTest::newRow("revision conflict, attempt in details")
            << QuizControllerHarness::json(
                   QJsonObject{{QStringLiteral("code"), QStringLiteral("ATTEMPT_REVISION_CONFLICT")},
                               {QStringLiteral("message"), QStringLiteral("Outdated")},
                               {QStringLiteral("details"), QJsonObject{{QStringLiteral("attempt"), newer}}}},
                   409)
            << int(QuizController::Active) << QString() << true << true << 7 << QStringList() << 7 << false;
        // Two messages: the failure's details carry the second after a line feed.
        QTest::newRow("revision conflict with two messages")
            << QuizControllerHarness::json(
                   QJsonObject{{QStringLiteral("code"), QStringLiteral("ATTEMPT_REVISION_CONFLICT")},
                               {QStringLiteral("message"), QStringLiteral("Outdated")},
                               {QStringLiteral("details"),
                                QJsonObject{{QStringLiteral("message"), QStringLiteral("Saved elsewhere")},
                                            {QStringLiteral("attempt"), newer}}}},
                   409)
            << int(QuizController::Active) << QString() << true << true << 7 << QStringList() << 7 << false;
        QTest::newRow("revision conflict without a usable attempt")
            << QuizControllerHarness::json(
                   QJsonObject{{QStringLiteral("code"), QStringLiteral("ATTEMPT_REVISION_CONFLICT")},
                               {QStringLiteral("message"), QStringLiteral("Outdated")},
                               {QStringLiteral("attempt"), QJsonObject{{QStringLiteral("id"), 12}}}},
                   409)
            << int(QuizController::Active) << QString() << true << true << 3 << QStringList{"Outdated|error"}
            << -1 << false;
        QTest::newRow("attempt closed")
            << QuizControllerHarness::conflict(QStringLiteral("ATTEMPT_CLOSED"), {}, QStringLiteral("Closed"))
            << int(QuizController::OfflineReadOnly) << QStringLiteral("Closed") << true << false << 3
            << QStringList() << -1 << false;
        QTest::newRow("attempt expired") << QuizControllerHarness::conflict(QStringLiteral("attempt_expired"),
                                                                            {}, QStringLiteral("Expired"))
                                         << int(QuizController::OfflineReadOnly) << QStringLiteral("Expired")
                                         << true << false << 3 << QStringList() << -1 << false;
        QTest::newRow("dropped connection")
            << QuizControllerHarness::dropped() << int(QuizController::OfflineReadOnly)
            << QuizControllerHarness::kConnectionLost << false << false << 3 << QStringList() << -1 << true;
        QTest::newRow("server error")
            << QuizControllerHarness::json(QJsonObject{{QStringLiteral("message"), QStringLiteral("Down")}},
                                           500)
            << int(QuizController::Active) << QString() << true << true << 3 << QStringList{"Down|error"}
            << -1 << false;
    }

    void failedSaves()
    {
        QFETCH(Response, reply);
        QFETCH(int, state);
        QFETCH(QString, message);
        QFETCH(bool, online);
        QFETCH(bool, canEdit);
        QFETCH(int, revision);
        QFETCH(QStringList, feedback);
        QFETCH(int, nextBase);
        QFETCH(bool, reloads);
        // A save that follows on its own is held, so that what came before it can be read.
        m_harness.answerSave({reply, QuizControllerHarness::held(saved(8))});
        const auto controller = m_harness.loaded(details(), intervals(20, 50));
        QVERIFY(controller);
        QSignalSpy feedbackSpy(controller.get(), &QuizController::feedback);
        controller->setAnswer(QStringLiteral("q1"), 0);
        // A failure's handling writes the file itself; a conflict's adopted attempt waits for the
        // next save.
        QVERIFY(QFile::remove(QuizControllerHarness::attemptFile()));

        QTRY_VERIFY(!m_harness.requestsTo(QuizControllerHarness::saveRoute()).isEmpty());
        // A conflict's own save follows at once and is held, so its reply shows in the revision.
        if (nextBase >= 0)
            QTRY_COMPARE(controller->revision(), revision);
        else
            QTRY_VERIFY(!controller->syncing() && int(controller->state()) == state);

        QCOMPARE(int(controller->state()), state);
        QCOMPARE(controller->errorMessage(), message);
        QCOMPARE(controller->online(), online);
        QCOMPARE(controller->canEdit(), canEdit);
        QCOMPARE(controller->revision(), revision);
        QCOMPARE(QuizControllerHarness::feedbackOf(feedbackSpy), feedback);
        QCOMPARE(controller->answers().value(QStringLiteral("q1")), QVariant(0));
        if (nextBase >= 0) {
            // The pending answer was kept: it goes out again, on the adopted revision.
            QTRY_COMPARE(m_harness.requestsTo(QuizControllerHarness::saveRoute()).size(), 2);
            const QJsonObject again = saveBodies().at(1);
            QCOMPARE(again.value(QStringLiteral("baseRevision")), QJsonValue(nextBase));
            QCOMPARE(again.value(QStringLiteral("answers")).toArray().size(), 1);
            server().release(QuizControllerHarness::saveRoute());
            QTRY_COMPARE(controller->revision(), 8);
            return;
        }
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(), (QJsonObject{{QStringLiteral("q1"), 0}}));
        if (reloads) {
            QVERIFY(controller->timerForTests(QuizController::Timer::Reconnect).active);
            QTRY_COMPARE(server().requestCount(QuizControllerHarness::detailsRoute()), 2);
            QTRY_COMPARE(controller->state(), QuizController::Active);
            // The restored pending answer goes out once the attempt is open again.
            QTRY_COMPARE(m_harness.requestsTo(QuizControllerHarness::saveRoute()).size(), 2);
            return;
        }
        QVERIFY(m_harness.settle());
        QCOMPARE(m_harness.requestsTo(QuizControllerHarness::saveRoute()).size(), 1);
    }

    void changedQuestionIsReviewedAsItIsNow()
    {
        const QJsonArray changed = QuizControllerHarness::questionsWithChange(5, 1);
        m_harness.answerSave(
            {QuizControllerHarness::conflict(QStringLiteral("QUESTION_VERSION_CONFLICT")), saved(4)});
        const auto controller = m_harness.loaded(details(), intervals(20));
        QVERIFY(controller);
        m_harness.answerDetails(details({}, changed));

        controller->setAnswer(QStringLiteral("q1"), 1);
        QTRY_COMPARE(server().requestCount(QuizControllerHarness::detailsRoute()), 2);
        QTRY_COMPARE(controller->questions().first().toMap().value(QStringLiteral("text")).toString(),
                     QStringLiteral("Question 1, corrected"));
        QTRY_COMPARE(controller->state(), QuizController::ReviewRequired);
        QCOMPARE(controller->errorMessage(), QuizControllerHarness::kQuestionsChanged);
        QCOMPARE(controller->reviewQuestionIds(), QVariantList{QStringLiteral("q1")});
        QCOMPARE(controller->answers().value(QStringLiteral("q1")), QVariant(1));

        controller->keepChangedAnswer(QStringLiteral("q1"));
        QCOMPARE(controller->state(), QuizController::Active);
        controller->syncNow();

        QTRY_COMPARE(controller->revision(), 4);
        const QList<QJsonObject> bodies = saveBodies();
        QCOMPARE(bodies.size(), 2);
        const QJsonObject kept = bodies.at(1).value(QStringLiteral("answers")).toArray().first().toObject();
        QCOMPARE(kept.value(QStringLiteral("questionUpdatedAt")),
                 QJsonValue(QuizControllerHarness::kChangedStamp));
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(), QJsonObject());
        QCOMPARE(controller->state(), QuizController::Active);
    }

    void answerGivenBeforeAChangeWaitsForReview_data()
    {
        // How the answer given against the first version stands when the change arrives.
        QTest::addColumn<bool>("acknowledged");
        // The change arrives with a reload of the same page, or with a page opened afresh.
        QTest::addColumn<bool>("newPage");
        QTest::newRow("pending offline, reloaded") << false << false;
        QTest::newRow("pending offline, opened again") << false << true;
        QTest::newRow("acknowledged, reloaded") << true << false;
        QTest::newRow("acknowledged, opened again") << true << true;
    }

    void answerGivenBeforeAChangeWaitsForReview()
    {
        QFETCH(bool, acknowledged);
        QFETCH(bool, newPage);
        const QString firstStamp = QuizControllerHarness::questions(1)
                                       .first()
                                       .toObject()
                                       .value(QStringLiteral("updatedAt"))
                                       .toString();
        const QJsonArray given{QuizControllerHarness::answer(QStringLiteral("q1"), 1)};
        m_harness.answerSave({acknowledged ? saved(4, given) : QuizControllerHarness::dropped()});
        auto controller = m_harness.loaded(details(), intervals(20));
        QVERIFY(controller);
        controller->setAnswer(QStringLiteral("q1"), 1);
        if (acknowledged)
            QTRY_COMPARE(controller->revision(), 4);
        else
            QTRY_COMPARE(controller->state(), QuizController::OfflineReadOnly);
        QVERIFY(m_harness.settle());
        QCOMPARE(QuizControllerHarness::readSession(QuizControllerHarness::attemptFile())
                     .value(QStringLiteral("answerStamps"))
                     .toObject(),
                 (QJsonObject{{QStringLiteral("q1"), firstStamp}}));

        // The teacher changes the question; the server holds the answer only once it took it.
        m_harness.answerDetails(
            details(acknowledged ? given : QJsonArray(), QuizControllerHarness::questionsWithChange(5, 1)));
        m_harness.answerSave({saved(9)});
        if (newPage) {
            controller = m_harness.makeController(intervals(20));
            controller->setQuizId(QuizControllerHarness::kQuizId);
        }
        QVERIFY(m_harness.load(*controller));

        QCOMPARE(controller->state(), QuizController::ReviewRequired);
        QCOMPARE(controller->errorMessage(), QuizControllerHarness::kQuestionsChanged);
        QCOMPARE(controller->reviewQuestionIds(), QVariantList{QStringLiteral("q1")});
        QCOMPARE(controller->answers().value(QStringLiteral("q1")), QVariant(1));
        // Nothing goes out for it, asked or not, until the student decides.
        controller->syncNow();
        QVERIFY(m_harness.settle());
        const int savesBefore = int(m_harness.requestsTo(QuizControllerHarness::saveRoute()).size());
        QCOMPARE(savesBefore, 1);

        controller->keepChangedAnswer(QStringLiteral("q1"));
        QCOMPARE(controller->state(), QuizController::Active);
        controller->syncNow();
        QTRY_COMPARE(controller->revision(), 9);
        const QList<QJsonObject> bodies = saveBodies();
        QCOMPARE(bodies.size(), 2);
        const QJsonArray kept = bodies.at(1).value(QStringLiteral("answers")).toArray();
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept.first().toObject().value(QStringLiteral("answer")), QJsonValue(1));
        QCOMPARE(kept.first().toObject().value(QStringLiteral("questionUpdatedAt")),
                 QJsonValue(QuizControllerHarness::kChangedStamp));
        QCOMPARE(QuizControllerHarness::readSession(QuizControllerHarness::attemptFile())
                     .value(QStringLiteral("answerStamps"))
                     .toObject(),
                 (QJsonObject{{QStringLiteral("q1"), QuizControllerHarness::kChangedStamp}}));
    }

    void answerOfAnUnchangedQuestionIsNotReviewed()
    {
        m_harness.answerSave({saved(4, {QuizControllerHarness::answer(QStringLiteral("q2"), 0)})});
        auto controller = m_harness.loaded(details(), intervals(20));
        QVERIFY(controller);
        controller->setAnswer(QStringLiteral("q2"), 0);
        QTRY_COMPARE(controller->revision(), 4);

        // Another question changed; the one answered did not.
        m_harness.answerDetails(details({QuizControllerHarness::answer(QStringLiteral("q2"), 0)},
                                        QuizControllerHarness::questionsWithChange(5, 1)));
        QVERIFY(m_harness.load(*controller));

        QCOMPARE(controller->state(), QuizController::Active);
        QCOMPARE(controller->reviewQuestionIds(), QVariantList());
    }

    void selfGradeChangedDuringASaveIsSent()
    {
        const QJsonObject graded{{QStringLiteral("questionId"), QStringLiteral("q2")},
                                 {QStringLiteral("answer"), QStringLiteral("essay")},
                                 {QStringLiteral("selfGradedCorrect"), true}};
        m_harness.answerSave({QuizControllerHarness::held(saved(4, {graded})), saved(5)});
        const auto controller = m_harness.loaded(details(), intervals(20));
        QVERIFY(controller);
        controller->setAnswer(QStringLiteral("q2"), QStringLiteral("essay"));
        controller->setSelfGrade(QStringLiteral("q2"), true);
        QTRY_COMPARE(m_harness.requestsTo(QuizControllerHarness::saveRoute()).size(), 1);
        QVERIFY(controller->syncing());

        controller->setSelfGrade(QStringLiteral("q2"), false);
        QTRY_VERIFY(!controller->timerForTests(QuizController::Timer::Sync).active);
        server().release(QuizControllerHarness::saveRoute());

        // The answer did not change, its grade did: the server must hear of it.
        QTRY_COMPARE(controller->revision(), 5);
        QVERIFY(m_harness.settle());
        const QList<QJsonObject> bodies = saveBodies();
        QCOMPARE(bodies.size(), 2);
        const QJsonObject regraded =
            bodies.at(1).value(QStringLiteral("answers")).toArray().first().toObject();
        QCOMPARE(regraded.value(QStringLiteral("questionId")), QJsonValue(QStringLiteral("q2")));
        QCOMPARE(regraded.value(QStringLiteral("selfGradedCorrect")), QJsonValue(false));
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(), QJsonObject());
    }
};

QTEST_GUILESS_MAIN(tst_QuizSync)
#include "tst_QuizSync.moc"
