#include "quiz/QuizController.h"
#include "quiz/QuizDomain.h"
#include "tests/quiz/QuizControllerHarness.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::QuizControllerHarness;
using Response = FixtureServer::Response;

Q_DECLARE_METATYPE(FixtureServer::Response)

namespace {

const QString kNeedsConnection = QStringLiteral("Internet connection is required to submit the quiz.");
const QString kReviewFirst = QStringLiteral("Review changed questions before submitting.");
const QString kClosed = QStringLiteral("This attempt is closed and cannot be submitted.");

enum class Setup { Offline, UnderReview, ClosedByServer, NoAttempt, Finished };

QJsonArray serverAnswers()
{
    return {QuizControllerHarness::answer(QStringLiteral("q1"), 1),
            QuizControllerHarness::answer(QStringLiteral("q2"), 0)};
}

QJsonObject attemptOf(const QString &status, int revision, const QJsonArray &answers = serverAnswers())
{
    QJsonObject attempt = QuizControllerHarness::attempt(QStringLiteral("a1"), status, answers);
    attempt.insert(QStringLiteral("revision"), revision);
    return attempt;
}

Response submitted(int revision = 5)
{
    QJsonObject attempt = attemptOf(QStringLiteral("SUBMITTED"), revision);
    attempt.insert(QStringLiteral("submittedAt"), QStringLiteral("2024-05-01T10:30:00.000Z"));
    return QuizControllerHarness::json(attempt);
}

Response revisionConflict(int revision)
{
    return QuizControllerHarness::conflict(QStringLiteral("ATTEMPT_REVISION_CONFLICT"),
                                           attemptOf(QStringLiteral("ACTIVE"), revision),
                                           QStringLiteral("Outdated"));
}

QJsonObject openDetails(const QJsonArray &questions = QuizControllerHarness::questions(5))
{
    QJsonObject quiz = QuizControllerHarness::quiz();
    quiz.insert(QStringLiteral("questions"), questions);
    return QuizControllerHarness::details(
        quiz, {{QStringLiteral("activeAttempt"), attemptOf(QStringLiteral("ACTIVE"), 3)}});
}

} // namespace

Q_DECLARE_METATYPE(Setup)

// Submitting an attempt: what refuses it, what goes out, the singular-path fallback, the
// conflicts, and replies that come late or without an attempt.
class tst_QuizSubmission : public QObject
{
    Q_OBJECT

private:
    QuizControllerHarness m_harness;

    FixtureServer &server() { return m_harness.server(); }

    static QuizController::Intervals intervals(int syncMs = 600000, int reconnectMs = 600000)
    {
        QuizController::Intervals chosen = QuizControllerHarness::quietIntervals();
        chosen.syncMs = syncMs;
        chosen.reconnectMs = reconnectMs;
        return chosen;
    }

    // The submissions that reached the server, as "plural <base>" or "singular <base>".
    QStringList submissions()
    {
        QStringList found;
        const QList<FixtureServer::Request> requests = server().requests();
        for (const FixtureServer::Request &request : requests) {
            const QString path = QString::fromUtf8(request.path);
            const QString base = QString::number(
                QuizControllerHarness::bodyOf(request).value(QStringLiteral("baseRevision")).toInt());
            if (path == QuizControllerHarness::submitRoute())
                found.append(QStringLiteral("plural ") + base);
            else if (path == QuizControllerHarness::fallbackSubmitRoute())
                found.append(QStringLiteral("singular ") + base);
        }
        return found;
    }

    std::unique_ptr<QuizController> prepared(Setup setup)
    {
        switch (setup) {
        case Setup::Offline: {
            auto controller = m_harness.loaded(openDetails());
            m_harness.answerDetails({QuizControllerHarness::dropped()});
            if (!controller || !m_harness.load(*controller))
                return nullptr;
            return controller;
        }
        case Setup::UnderReview:
            if (!QuizControllerHarness::saveAttemptFile(
                    {{QStringLiteral("reviewQuestionIds"), QJsonArray{QStringLiteral("q1")}}}))
                return nullptr;
            return m_harness.loaded(openDetails());
        case Setup::ClosedByServer: {
            m_harness.answerSave({QuizControllerHarness::conflict(QStringLiteral("ATTEMPT_CLOSED"), {},
                                                                  QStringLiteral("Closed"))});
            auto controller = m_harness.loaded(openDetails(), intervals(20));
            if (!controller)
                return nullptr;
            controller->setAnswer(QStringLiteral("q1"), 2);
            if (!QTest::qWaitFor(
                    [&controller] { return controller->state() == QuizController::OfflineReadOnly; }))
                return nullptr;
            return controller;
        }
        case Setup::NoAttempt:
            return m_harness.loaded(QuizControllerHarness::details(QuizControllerHarness::quiz()));
        case Setup::Finished:
            return m_harness.loaded(QuizControllerHarness::details(
                QuizControllerHarness::quiz(),
                {{QStringLiteral("attempt"), attemptOf(QStringLiteral("SUBMITTED"), 5)}}));
        }
        return nullptr;
    }

    // Submits and waits until the submission chain has come to rest in a state other than Submitting.
    [[nodiscard]] static bool submitAndWait(QuizController &controller)
    {
        controller.submit();
        if (controller.state() != QuizController::Submitting)
            return false;
        return QTest::qWaitFor([&controller] { return controller.state() != QuizController::Submitting; },
                               10000);
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    void refusalsSendNothing_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QStringList>("feedback");
        QTest::newRow("offline") << Setup::Offline
                                 << QStringList{kNeedsConnection + QStringLiteral("|error")};
        QTest::newRow("questions under review")
            << Setup::UnderReview << QStringList{kReviewFirst + QStringLiteral("|warning")};
        QTest::newRow("closed by the server")
            << Setup::ClosedByServer << QStringList{kClosed + QStringLiteral("|warning")};
        QTest::newRow("no attempt") << Setup::NoAttempt << QStringList();
        QTest::newRow("finished attempt") << Setup::Finished << QStringList();
    }

    void refusalsSendNothing()
    {
        QFETCH(Setup, setup);
        QFETCH(QStringList, feedback);
        m_harness.answerSubmit({submitted()});
        m_harness.answerFallbackSubmit({submitted()});
        const auto controller = prepared(setup);
        QVERIFY(controller);
        const QuizController::State state = controller->state();
        const QString message = controller->errorMessage();
        QSignalSpy feedbackSpy(controller.get(), &QuizController::feedback);
        QSignalSpy starting(controller.get(), &QuizController::submissionStarting);

        controller->submit();

        QCOMPARE(controller->state(), state);
        QCOMPARE(controller->errorMessage(), message);
        QCOMPARE(QuizControllerHarness::feedbackOf(feedbackSpy), feedback);
        QCOMPARE(starting.size(), 0);
        QVERIFY(m_harness.settle());
        QCOMPARE(submissions(), QStringList());
    }

    void acceptedSubmissionCarriesEveryAnswer()
    {
        m_harness.answerSubmit({QuizControllerHarness::held(submitted())});
        const auto controller = m_harness.loaded(openDetails());
        QVERIFY(controller);
        controller->setAnswer(QStringLiteral("q3"), 2);
        controller->setSelfGrade(QStringLiteral("q1"), true);
        QSignalSpy starting(controller.get(), &QuizController::submissionStarting);

        controller->submit();

        QCOMPARE(controller->state(), QuizController::Submitting);
        QCOMPARE(controller->errorMessage(), QString());
        QCOMPARE(starting.size(), 1);
        QTRY_COMPARE(submissions(), QStringList{QStringLiteral("plural 3")});
        const QJsonObject body =
            QuizControllerHarness::bodyOf(server().requests(QuizControllerHarness::submitRoute()).first());
        const QVariantMap answers{
            {QStringLiteral("q1"), 1}, {QStringLiteral("q2"), 0}, {QStringLiteral("q3"), 2}};
        QCOMPARE(body, QuizDomain::mutationPayload(3, controller->questions(), answers,
                                                   {{QStringLiteral("q1"), true}}));
        QCOMPARE(body.value(QStringLiteral("answers")).toArray().size(), 3);
        // The submission does not wait for the debounced save, and no save goes out meanwhile.
        controller->syncNow();
        QVERIFY(m_harness.settle());
        QCOMPARE(m_harness.requestsTo(QuizControllerHarness::saveRoute()).size(), 0);
        server().release(QuizControllerHarness::submitRoute());
        QTRY_COMPARE(controller->state(), QuizController::Result);
    }

    void successEndsTheAttempt()
    {
        m_harness.answerSubmit({submitted(5)});
        const auto controller = m_harness.loaded(openDetails());
        QVERIFY(controller);
        controller->setAnswer(QStringLiteral("q3"), 2);

        QVERIFY(submitAndWait(*controller));

        QCOMPARE(controller->state(), QuizController::Result);
        QCOMPARE(controller->errorMessage(), QString());
        QCOMPARE(controller->revision(), 5);
        QVERIFY(!controller->canEdit());
        // Pending answers are dropped: what remains is the server's copy.
        QCOMPARE(controller->answers(), (QVariantMap{{QStringLiteral("q1"), 1}, {QStringLiteral("q2"), 0}}));
        const QJsonObject file = QuizControllerHarness::readSession(QuizControllerHarness::attemptFile());
        QCOMPARE(file.value(QStringLiteral("pending")).toObject(), QJsonObject());
        QCOMPARE(file.value(QStringLiteral("attempt")).toObject().value(QStringLiteral("status")),
                 QJsonValue(QStringLiteral("SUBMITTED")));
        QCOMPARE(submissions(), QStringList{QStringLiteral("plural 3")});
    }

    void notFoundFallsBackOnce_data()
    {
        QTest::addColumn<Response>("fallbackReply");
        QTest::addColumn<int>("state");
        QTest::addColumn<QStringList>("feedback");
        QTest::newRow("fallback accepted") << submitted() << int(QuizController::Result) << QStringList();
        QTest::newRow("fallback not found too")
            << QuizControllerHarness::json(
                   QJsonObject{{QStringLiteral("message"), QStringLiteral("No such attempt")}}, 404)
            << int(QuizController::Active) << QStringList{QStringLiteral("No such attempt|error")};
    }

    void notFoundFallsBackOnce()
    {
        QFETCH(Response, fallbackReply);
        QFETCH(int, state);
        QFETCH(QStringList, feedback);
        m_harness.answerSubmit({Response(404)});
        m_harness.answerFallbackSubmit({fallbackReply});
        const auto controller = m_harness.loaded(openDetails());
        QVERIFY(controller);
        QSignalSpy feedbackSpy(controller.get(), &QuizController::feedback);

        QVERIFY(submitAndWait(*controller));

        QCOMPARE(int(controller->state()), state);
        QCOMPARE(controller->errorMessage(), QString());
        QCOMPARE(QuizControllerHarness::feedbackOf(feedbackSpy), feedback);
        QVERIFY(m_harness.settle());
        QCOMPARE(submissions(), QStringList({"plural 3", "singular 3"}));
    }

    void revisionConflictResubmitsAtOnce()
    {
        m_harness.answerSubmit({revisionConflict(9), Response(404)});
        m_harness.answerFallbackSubmit({submitted(10)});
        const auto controller = m_harness.loaded(openDetails());
        QVERIFY(controller);

        QVERIFY(submitAndWait(*controller));

        QCOMPARE(controller->state(), QuizController::Result);
        QCOMPARE(controller->revision(), 10);
        QVERIFY(m_harness.settle());
        QCOMPARE(submissions(), QStringList({"plural 3", "plural 9", "singular 9"}));
    }

    void endlessConflictsEndAfterThreeResubmissions()
    {
        m_harness.answerSubmit({revisionConflict(9)});
        const auto controller = m_harness.loaded(openDetails());
        QVERIFY(controller);
        QSignalSpy feedbackSpy(controller.get(), &QuizController::feedback);

        QVERIFY(submitAndWait(*controller));

        QCOMPARE(controller->state(), QuizController::Active);
        QCOMPARE(controller->errorMessage(), QString());
        QCOMPARE(QuizControllerHarness::feedbackOf(feedbackSpy),
                 QStringList{QStringLiteral("Outdated|error")});
        QVERIFY(m_harness.settle());
        QCOMPARE(submissions(), QStringList({"plural 3", "plural 9", "plural 9", "plural 9"}));
        // A new submission may try again.
        QVERIFY(submitAndWait(*controller));
        QCOMPARE(submissions().size(), 8);
    }

    void networkFailureGoesOffline()
    {
        m_harness.answerSubmit({QuizControllerHarness::dropped()});
        const auto controller = m_harness.loaded(openDetails(), intervals(600000, 50));
        QVERIFY(controller);

        QVERIFY(submitAndWait(*controller));

        QCOMPARE(controller->state(), QuizController::OfflineReadOnly);
        QCOMPARE(controller->errorMessage(), QuizControllerHarness::kConnectionLost);
        QVERIFY(!controller->online());
        QTRY_COMPARE(server().requestCount(QuizControllerHarness::detailsRoute()), 2);
        QTRY_COMPARE(controller->state(), QuizController::Active);
        QVERIFY(controller->online());
    }

    void lateSaveReplyKeepsTheSubmission_data()
    {
        QTest::addColumn<Response>("saveReply");
        QTest::newRow("save accepted") << QuizControllerHarness::json(attemptOf(QStringLiteral("ACTIVE"), 4));
        QTest::newRow("attempt closed") << QuizControllerHarness::conflict(QStringLiteral("ATTEMPT_CLOSED"),
                                                                           {}, QStringLiteral("Closed"));
        QTest::newRow("revision conflict") << revisionConflict(4);
        QTest::newRow("connection dropped") << QuizControllerHarness::dropped();
    }

    void lateSaveReplyKeepsTheSubmission()
    {
        QFETCH(Response, saveReply);
        m_harness.answerSave({QuizControllerHarness::held(saveReply)});
        m_harness.answerSubmit({submitted(5)});
        const auto controller = m_harness.loaded(openDetails(), intervals(20));
        QVERIFY(controller);
        controller->setAnswer(QStringLiteral("q3"), 2);
        QTRY_VERIFY(controller->syncing());
        QTRY_COMPARE(m_harness.requestsTo(QuizControllerHarness::saveRoute()).size(), 1);

        QVERIFY(submitAndWait(*controller));
        QCOMPARE(controller->state(), QuizController::Result);
        server().release(QuizControllerHarness::saveRoute());
        QTRY_VERIFY(!controller->syncing());

        QCOMPARE(controller->state(), QuizController::Result);
        QCOMPARE(controller->errorMessage(), QString());
        QCOMPARE(controller->revision(), 5);
        QVERIFY(controller->online());
        const QJsonObject file = QuizControllerHarness::readSession(QuizControllerHarness::attemptFile());
        QCOMPARE(file.value(QStringLiteral("attempt")).toObject().value(QStringLiteral("status")),
                 QJsonValue(QStringLiteral("SUBMITTED")));
        QVERIFY(m_harness.settle());
        QCOMPARE(submissions(), QStringList{QStringLiteral("plural 3")});
        QCOMPARE(m_harness.requestsTo(QuizControllerHarness::saveRoute()).size(), 1);
    }

    void textBeingTypedReachesTheSubmission()
    {
        m_harness.answerSubmit({submitted()});
        const auto controller = m_harness.loaded(openDetails());
        QVERIFY(controller);
        QList<bool> editableThen;
        connect(controller.get(), &QuizController::submissionStarting, controller.get(), [&] {
            editableThen.append(controller->canEdit());
            controller->setAnswer(QStringLiteral("q5"), QStringLiteral("typed"));
            // A second press while the first is being announced joins it.
            controller->submit();
        });

        QVERIFY(submitAndWait(*controller));

        QCOMPARE(editableThen, QList<bool>{true});
        QVERIFY(m_harness.settle());
        const QList<FixtureServer::Request> posts = server().requests(QuizControllerHarness::submitRoute());
        QCOMPARE(posts.size(), 1);
        const QJsonArray answers =
            QuizControllerHarness::bodyOf(posts.first()).value(QStringLiteral("answers")).toArray();
        QCOMPARE(answers.last().toObject().value(QStringLiteral("answer")),
                 QJsonValue(QStringLiteral("typed")));
    }

    void replyWithoutAnAttemptReloads()
    {
        m_harness.answerSubmit({QuizControllerHarness::json(QJsonObject{{QStringLiteral("ok"), true}})});
        const auto controller = m_harness.loaded(openDetails());
        QVERIFY(controller);
        controller->setAnswer(QStringLiteral("q3"), 2);
        m_harness.answerDetails(QuizControllerHarness::details(
            QuizControllerHarness::quiz(),
            {{QStringLiteral("attempt"), attemptOf(QStringLiteral("SUBMITTED"), 5)}}));

        controller->submit();

        QTRY_COMPARE(server().requestCount(QuizControllerHarness::detailsRoute()), 2);
        QTRY_COMPARE(controller->revision(), 5);
        QCOMPARE(controller->state(), QuizController::Result);
        QCOMPARE(QuizControllerHarness::readSession(QuizControllerHarness::attemptFile())
                     .value(QStringLiteral("pending")),
                 QJsonValue(QJsonObject()));
    }

    void changedQuestionIsReviewedBeforeSubmittingAgain()
    {
        const QJsonArray changed = QuizControllerHarness::questionsWithChange(5, 2);
        m_harness.answerSubmit(
            {QuizControllerHarness::conflict(QStringLiteral("QUESTION_VERSION_CONFLICT")), submitted()});
        const auto controller = m_harness.loaded(openDetails());
        QVERIFY(controller);
        m_harness.answerDetails(openDetails(changed));
        QSignalSpy feedbackSpy(controller.get(), &QuizController::feedback);

        controller->submit();

        QTRY_COMPARE(server().requestCount(QuizControllerHarness::detailsRoute()), 2);
        QTRY_COMPARE(controller->reviewQuestionIds(), QVariantList{QStringLiteral("q2")});
        QCOMPARE(controller->state(), QuizController::ReviewRequired);
        QCOMPARE(controller->errorMessage(), QuizControllerHarness::kQuestionsChanged);
        QCOMPARE(controller->questions().at(1).toMap().value(QStringLiteral("text")).toString(),
                 QStringLiteral("Question 2, corrected"));

        controller->submit();
        QCOMPARE(QuizControllerHarness::feedbackOf(feedbackSpy),
                 QStringList{kReviewFirst + QStringLiteral("|warning")});
        controller->keepChangedAnswer(QStringLiteral("q2"));
        QVERIFY(submitAndWait(*controller));

        QCOMPARE(controller->state(), QuizController::Result);
        const QList<FixtureServer::Request> posts = server().requests(QuizControllerHarness::submitRoute());
        QCOMPARE(posts.size(), 2);
        const QJsonArray answers =
            QuizControllerHarness::bodyOf(posts.at(1)).value(QStringLiteral("answers")).toArray();
        QCOMPARE(answers.at(1).toObject().value(QStringLiteral("questionUpdatedAt")),
                 QJsonValue(QuizControllerHarness::kChangedStamp));
    }

    void endedAttemptTellsWhetherItWasSubmitted_data()
    {
        // The finished attempt's "submittedAt"; undefined when it has none.
        QTest::addColumn<QJsonValue>("submittedAt");
        QTest::addColumn<bool>("answersLeftHere");
        QTest::addColumn<bool>("submitted");
        const QJsonValue none(QJsonValue::Undefined);
        const QJsonValue time(QStringLiteral("2024-05-01T10:30:00.000Z"));
        QTest::newRow("expired") << none << false << false;
        QTest::newRow("expired, answers left here") << none << true << false;
        QTest::newRow("submission time null") << QJsonValue(QJsonValue::Null) << false << false;
        QTest::newRow("submission time not a time") << QJsonValue(QStringLiteral("soon")) << true << false;
        QTest::newRow("submitted") << time << false << true;
        QTest::newRow("submitted, answers left here") << time << true << true;
    }

    void endedAttemptTellsWhetherItWasSubmitted()
    {
        QFETCH(QJsonValue, submittedAt);
        QFETCH(bool, answersLeftHere);
        QFETCH(bool, submitted);
        if (answersLeftHere) {
            // Two answers that never went out (one of them cleared, which is no answer) and a
            // text kept while the attempt could not take it.
            const QJsonObject draft{{QStringLiteral("text"), QStringLiteral("kept")},
                                    {QStringLiteral("typedAt"), QStringLiteral("2024-05-01T10:20:00.000Z")}};
            QVERIFY(QuizControllerHarness::saveAttemptFile(
                {{QStringLiteral("pending"),
                  QJsonObject{{QStringLiteral("q3"), 2}, {QStringLiteral("q4"), QJsonValue::Null}}},
                 {QStringLiteral("drafts"), QJsonObject{{QStringLiteral("q5"), draft}}}}));
        }
        QJsonObject ended = attemptOf(submitted ? QStringLiteral("SUBMITTED") : QStringLiteral("EXPIRED"), 5);
        if (!submittedAt.isUndefined())
            ended.insert(QStringLiteral("submittedAt"), submittedAt);
        const auto controller = m_harness.loaded(QuizControllerHarness::details(
            QuizControllerHarness::quiz(), {{QStringLiteral("attempt"), ended}}));
        QVERIFY(controller);

        QCOMPARE(controller->state(), QuizController::Result);
        QCOMPARE(controller->attemptSubmitted(), submitted);
        QCOMPARE(controller->unsentAnswersCount(), answersLeftHere ? 2 : 0);
    }

    void ownSubmissionCountsWithoutASubmissionTime()
    {
        QJsonObject accepted = attemptOf(QStringLiteral("SUBMITTED"), 5);
        m_harness.answerSubmit({QuizControllerHarness::json(accepted)});
        const auto controller = m_harness.loaded(openDetails());
        QVERIFY(controller);
        controller->setAnswer(QStringLiteral("q3"), 2);
        QVERIFY(!controller->attemptSubmitted());

        QVERIFY(submitAndWait(*controller));

        QCOMPARE(controller->state(), QuizController::Result);
        QVERIFY(controller->attemptSubmitted());
        QCOMPARE(controller->unsentAnswersCount(), 0);
        // The page opened again knows it too, from the file.
        const auto reopened = m_harness.loaded(QuizControllerHarness::details(
            QuizControllerHarness::quiz(), {{QStringLiteral("attempt"), accepted}}));
        QVERIFY(reopened);
        QCOMPARE(reopened->state(), QuizController::Result);
        QVERIFY(reopened->attemptSubmitted());
        QCOMPARE(QuizControllerHarness::readSession(QuizControllerHarness::attemptFile())
                     .value(QStringLiteral("submissionAccepted")),
                 QJsonValue(true));
    }
};

QTEST_GUILESS_MAIN(tst_QuizSubmission)
#include "tst_QuizSubmission.moc"
