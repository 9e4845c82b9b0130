#include "quiz/QuizController.h"
#include "tests/quiz/QuizControllerHarness.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::QuizControllerHarness;
using Response = FixtureServer::Response;

namespace {

enum class Setup {
    // An open attempt, online.
    Active,
    // The reload of an open attempt failed: offline and read-only.
    OfflineReadOnly,
    // Time ran out during a review; the review was then confirmed: Active but locked.
    Locked,
    // The session file lists "q1" as changed on the server.
    Review,
    // The attempt was submitted.
    Submitted,
};

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What the page can see of a controller, to tell that a refused call changed nothing.
QVariantList visibleState(const QuizController &controller)
{
    return {int(controller.state()),        controller.errorMessage(), controller.answers(),
            controller.eliminatedOptions(), controller.selfGrades(),   controller.markedQuestionIds(),
            controller.reviewQuestionIds(), controller.canEdit(),      controller.online()};
}

} // namespace

Q_DECLARE_METATYPE(Setup)

// The six edits of an open attempt: what each changes, what it refuses, and that each accepted
// edit is in the session file before the call returns.
class tst_QuizAnswering : public QObject
{
    Q_OBJECT

private:
    QuizControllerHarness m_harness;

    static QJsonObject attemptWith(const QString &status, const QJsonArray &answers = {},
                                   const QJsonObject &extra = {})
    {
        QJsonObject attempt = QuizControllerHarness::attempt(QStringLiteral("a1"), status, answers);
        for (auto member = extra.constBegin(); member != extra.constEnd(); ++member)
            attempt.insert(member.key(), member.value());
        return attempt;
    }

    std::unique_ptr<QuizController> loadedWith(const QJsonObject &attempt)
    {
        const QString member = attempt.value(QStringLiteral("status")).toString() == QLatin1String("ACTIVE")
                                   ? QStringLiteral("activeAttempt")
                                   : QStringLiteral("attempt");
        return m_harness.loaded(
            QuizControllerHarness::details(QuizControllerHarness::quiz(), {{member, attempt}}));
    }

    // A controller in the given situation. Attempt "a1" has q1 answered with 2 and option 1 of
    // q1 struck out.
    std::unique_ptr<QuizController> prepared(Setup setup)
    {
        const QJsonArray answers{QuizControllerHarness::answer(QStringLiteral("q1"), 2)};
        QJsonObject members{
            {QStringLiteral("eliminatedOptions"), QJsonObject{{QStringLiteral("q1"), QJsonArray{1}}}}};
        if (setup == Setup::Review || setup == Setup::Locked)
            members.insert(QStringLiteral("reviewQuestionIds"), QJsonArray{QStringLiteral("q1")});
        if (!QuizControllerHarness::saveAttemptFile(members))
            return nullptr;

        std::unique_ptr<QuizController> controller;
        switch (setup) {
        case Setup::Active:
        case Setup::OfflineReadOnly:
        case Setup::Review:
            controller = loadedWith(attemptWith(QStringLiteral("ACTIVE"), answers));
            break;
        case Setup::Locked:
            controller = loadedWith(attemptWith(
                QStringLiteral("ACTIVE"), answers,
                {{QStringLiteral("expiresAt"), m_harness.now.addSecs(-5).toString(Qt::ISODateWithMs)}}));
            if (controller)
                controller->keepChangedAnswer(QStringLiteral("q1"));
            break;
        case Setup::Submitted:
            controller = loadedWith(attemptWith(QStringLiteral("SUBMITTED"), answers));
            break;
        }
        if (controller && setup == Setup::OfflineReadOnly) {
            m_harness.answerDetails({QuizControllerHarness::dropped()});
            if (!m_harness.load(*controller))
                return nullptr;
        }
        return controller;
    }

    // "answer:<option>" or "strike:<option>", on question q1.
    static void edit(QuizController &controller, const QString &call)
    {
        const QStringList parts = call.split(QLatin1Char(':'));
        if (parts.at(0) == QLatin1String("answer"))
            controller.setAnswer(QStringLiteral("q1"), parts.at(1).toInt());
        else
            controller.toggleEliminated(QStringLiteral("q1"), parts.at(1).toInt());
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    void preparedSituations_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("online");
        QTest::newRow("active") << Setup::Active << int(QuizController::Active) << true;
        QTest::newRow("offline") << Setup::OfflineReadOnly << int(QuizController::OfflineReadOnly) << false;
        QTest::newRow("locked") << Setup::Locked << int(QuizController::Active) << true;
        QTest::newRow("review") << Setup::Review << int(QuizController::ReviewRequired) << true;
        QTest::newRow("submitted") << Setup::Submitted << int(QuizController::Result) << true;
    }

    // The situations the other tests rely on are what they claim to be.
    void preparedSituations()
    {
        QFETCH(Setup, setup);
        QFETCH(int, state);
        QFETCH(bool, online);
        const auto controller = prepared(setup);
        QVERIFY(controller);
        QCOMPARE(int(controller->state()), state);
        QCOMPARE(controller->online(), online);
        QCOMPARE(controller->canEdit(), setup == Setup::Active);
        QCOMPARE(controller->answers(), (QVariantMap{{QStringLiteral("q1"), 2}}));
    }

    void struckOutOptions_data()
    {
        QTest::addColumn<QJsonArray>("serverAnswers");
        QTest::addColumn<QJsonObject>("saved");
        // Each call is "answer:<option>" or "strike:<option>", all on question q1.
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QVariant>("struckAfter");
        QTest::addColumn<QVariant>("answerAfter");
        // Undefined: q1 is not pending.
        QTest::addColumn<QJsonValue>("pendingAfter");
        QTest::addColumn<bool>("syncStarted");

        const auto struck = [](const QJsonArray &options) {
            return QJsonObject{
                {QStringLiteral("eliminatedOptions"), QJsonObject{{QStringLiteral("q1"), options}}}};
        };
        const QVariant none;
        const QJsonValue notPending(QJsonValue::Undefined);
        const QJsonValue cleared(QJsonValue::Null);
        QTest::newRow("choosing a struck option un-strikes it")
            << QJsonArray() << struck({1, 2, 3}) << QStringList{"answer:2"} << QVariant(QVariantList{1, 3})
            << QVariant(2) << QJsonValue(2) << true;
        QTest::newRow("choosing the only struck option removes the entry")
            << QJsonArray() << struck({2}) << QStringList{"answer:2"} << none << QVariant(2) << QJsonValue(2)
            << true;
        QTest::newRow("strikes are kept ascending")
            << QJsonArray() << QJsonObject() << QStringList{"strike:3", "strike:0", "strike:2"}
            << QVariant(QVariantList{0, 2, 3}) << none << notPending << false;
        QTest::newRow("striking again restores")
            << QJsonArray() << QJsonObject() << QStringList{"strike:3", "strike:0", "strike:2", "strike:2"}
            << QVariant(QVariantList{0, 3}) << none << notPending << false;
        QTest::newRow("striking the answer clears it")
            << QJsonArray{QuizControllerHarness::answer(QStringLiteral("q1"), 1)} << QJsonObject()
            << QStringList{"strike:1"} << QVariant(QVariantList{1}) << none << cleared << true;
        QTest::newRow("restoring the answer's option clears it")
            << QJsonArray()
            << QJsonObject{{QStringLiteral("answers"), QJsonObject{{QStringLiteral("q1"), 1}}},
                           {QStringLiteral("eliminatedOptions"),
                            QJsonObject{{QStringLiteral("q1"), QJsonArray{1}}}}}
            << QStringList{"strike:1"} << none << none << cleared << true;
    }

    void struckOutOptions()
    {
        QFETCH(QJsonArray, serverAnswers);
        QFETCH(QJsonObject, saved);
        QFETCH(QStringList, calls);
        QFETCH(QVariant, struckAfter);
        QFETCH(QVariant, answerAfter);
        QFETCH(QJsonValue, pendingAfter);
        QFETCH(bool, syncStarted);
        if (!saved.isEmpty())
            QVERIFY(QuizControllerHarness::saveAttemptFile(saved));
        const auto controller = loadedWith(attemptWith(QStringLiteral("ACTIVE"), serverAnswers));
        QVERIFY(controller);
        QVERIFY(controller->canEdit());

        for (const QString &call : std::as_const(calls))
            edit(*controller, call);

        const QVariantMap struck = controller->eliminatedOptions();
        QCOMPARE(struck.contains(QStringLiteral("q1")), struckAfter.isValid());
        if (struckAfter.isValid())
            QCOMPARE(struck.value(QStringLiteral("q1")).toList(), struckAfter.toList());
        const QVariantMap answers = controller->answers();
        QCOMPARE(answers.contains(QStringLiteral("q1")), answerAfter.isValid());
        if (answerAfter.isValid())
            QCOMPARE(answers.value(QStringLiteral("q1")), answerAfter);
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile().value(QStringLiteral("q1")), pendingAfter);
        QCOMPARE(controller->timerForTests(QuizController::Timer::Sync).active, syncStarted);
        // What the page sees is what the file holds.
        const QJsonObject file = QuizControllerHarness::readSession(QuizControllerHarness::attemptFile());
        QCOMPARE(file.value(QStringLiteral("eliminatedOptions")).toObject().toVariantMap(), struck);
        QCOMPARE(file.value(QStringLiteral("answers")).toObject().toVariantMap(), answers);
    }

    void refusedEditsChangeNothing_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("questionId");
        QTest::addColumn<int>("option");

        const QList<QPair<const char *, Setup>> situations{{"offline", Setup::OfflineReadOnly},
                                                           {"locked", Setup::Locked},
                                                           {"under review", Setup::Review},
                                                           {"no id", Setup::Active}};
        for (const auto &[name, setup] : situations) {
            const QString questionId = setup == Setup::Active ? QString() : QStringLiteral("q1");
            for (const char *call : {"setAnswer", "clearAnswer", "toggleEliminated"})
                QTest::addRow("%s, %s", call, name) << setup << QString::fromLatin1(call) << questionId << 0;
        }
        QTest::newRow("toggleEliminated, negative option")
            << Setup::Active << QStringLiteral("toggleEliminated") << QStringLiteral("q1") << -1;
    }

    void refusedEditsChangeNothing()
    {
        QFETCH(Setup, setup);
        QFETCH(QString, call);
        QFETCH(QString, questionId);
        QFETCH(int, option);
        const auto controller = prepared(setup);
        QVERIFY(controller);
        QVERIFY(m_harness.settle());
        const QVariantList before = visibleState(*controller);
        const QByteArray bytes = fileBytes(QuizControllerHarness::attemptFile());
        const QStringList sent = m_harness.sent();
        QSignalSpy changed(controller.get(), &QuizController::changed);
        QSignalSpy feedback(controller.get(), &QuizController::feedback);

        if (call == QLatin1String("setAnswer"))
            controller->setAnswer(questionId, 0);
        else if (call == QLatin1String("clearAnswer"))
            controller->clearAnswer(questionId);
        else
            controller->toggleEliminated(questionId, option);

        QCOMPARE(visibleState(*controller), before);
        QCOMPARE(fileBytes(QuizControllerHarness::attemptFile()), bytes);
        QCOMPARE(changed.size(), 0);
        QCOMPARE(feedback.size(), 0);
        QVERIFY(!controller->timerForTests(QuizController::Timer::Sync).active);
        QVERIFY(m_harness.settle());
        QCOMPARE(m_harness.sent(), sent);
    }

    void marksAreLocalNotesOfAnOpenAttempt_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("active") << Setup::Active << true;
        QTest::newRow("offline") << Setup::OfflineReadOnly << true;
        QTest::newRow("locked") << Setup::Locked << true;
        QTest::newRow("under review") << Setup::Review << true;
        QTest::newRow("submitted") << Setup::Submitted << false;
    }

    void marksAreLocalNotesOfAnOpenAttempt()
    {
        QFETCH(Setup, setup);
        QFETCH(bool, accepted);
        const auto controller = prepared(setup);
        QVERIFY(controller);
        const QByteArray bytes = fileBytes(QuizControllerHarness::attemptFile());
        QSignalSpy changed(controller.get(), &QuizController::changed);

        controller->toggleMarked(QStringLiteral("q2"));
        controller->toggleMarked(QStringLiteral("q4"));
        controller->toggleMarked(QString());

        const QVariantList marked =
            accepted ? QVariantList{QStringLiteral("q2"), QStringLiteral("q4")} : QVariantList();
        QCOMPARE(controller->markedQuestionIds(), marked);
        QCOMPARE(changed.size(), accepted ? 2 : 0);
        QVERIFY(!controller->timerForTests(QuizController::Timer::Sync).active);
        if (accepted) {
            const QJsonObject file = QuizControllerHarness::readSession(QuizControllerHarness::attemptFile());
            QCOMPARE(file.value(QStringLiteral("markedQuestionIds")).toArray().size(), 2);
            controller->toggleMarked(QStringLiteral("q2"));
            QCOMPARE(controller->markedQuestionIds(), QVariantList{QStringLiteral("q4")});
        } else {
            QCOMPARE(fileBytes(QuizControllerHarness::attemptFile()), bytes);
        }
        QVERIFY(m_harness.settle());
        QVERIFY(m_harness.requestsTo(QuizControllerHarness::saveRoute()).isEmpty());
    }

    void selfGradeTravelsWithTheAnswer()
    {
        const auto controller = loadedWith(
            attemptWith(QStringLiteral("ACTIVE"), {QuizControllerHarness::answer(QStringLiteral("q1"), 2)}));
        QVERIFY(controller);
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(), QJsonObject());

        controller->setSelfGrade(QStringLiteral("q1"), true);
        controller->setSelfGrade(QStringLiteral("q2"), false);

        QCOMPARE(controller->selfGrades(),
                 (QVariantMap{{QStringLiteral("q1"), true}, {QStringLiteral("q2"), false}}));
        // Only the answered question goes out again; the other grade waits for its answer.
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(), (QJsonObject{{QStringLiteral("q1"), 2}}));
        QVERIFY(controller->timerForTests(QuizController::Timer::Sync).active);
    }

    void keepingChangedAnswersEndsTheReview()
    {
        QVERIFY(QuizControllerHarness::saveAttemptFile(
            {{QStringLiteral("reviewQuestionIds"), QJsonArray{QStringLiteral("q1"), QStringLiteral("q2")}}}));
        const auto controller = loadedWith(
            attemptWith(QStringLiteral("ACTIVE"), {QuizControllerHarness::answer(QStringLiteral("q1"), 1),
                                                   QuizControllerHarness::answer(QStringLiteral("q2"), 0)}));
        QVERIFY(controller);
        QCOMPARE(controller->state(), QuizController::ReviewRequired);
        QSignalSpy changed(controller.get(), &QuizController::changed);

        controller->keepChangedAnswer(QStringLiteral("q1"));

        QCOMPARE(controller->state(), QuizController::ReviewRequired);
        QVERIFY(!controller->errorMessage().isEmpty());
        QCOMPARE(controller->reviewQuestionIds(), QVariantList{QStringLiteral("q2")});
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(), (QJsonObject{{QStringLiteral("q1"), 1}}));
        QVERIFY(!controller->timerForTests(QuizController::Timer::Sync).active);
        QCOMPARE(changed.size(), 1);

        controller->keepChangedAnswer(QStringLiteral("q2"));

        QCOMPARE(controller->state(), QuizController::Active);
        QCOMPARE(controller->errorMessage(), QString());
        QVERIFY(controller->canEdit());
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(),
                 (QJsonObject{{QStringLiteral("q1"), 1}, {QStringLiteral("q2"), 0}}));
        QVERIFY(!controller->timerForTests(QuizController::Timer::Sync).active);
        QCOMPARE(changed.size(), 2);
    }

    void keepingNeverReopensAFinishedAttempt()
    {
        QVERIFY(QuizControllerHarness::saveAttemptFile(
            {{QStringLiteral("reviewQuestionIds"), QJsonArray{QStringLiteral("q1")}}}));
        const auto controller = prepared(Setup::Submitted);
        QVERIFY(controller);
        QCOMPARE(controller->state(), QuizController::Result);

        controller->keepChangedAnswer(QStringLiteral("q1"));
        controller->keepChangedAnswer(QStringLiteral("q9"));

        QCOMPARE(controller->state(), QuizController::Result);
        QVERIFY(!controller->canEdit());
    }

    void writtenTextIsStoredOrKept_data()
    {
        QTest::addColumn<Setup>("setup");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("kept");
        QTest::newRow("active: stored") << Setup::Active << QStringLiteral("new text") << true << false;
        QTest::newRow("offline: kept")
            << Setup::OfflineReadOnly << QStringLiteral("new text") << false << true;
        QTest::newRow("locked: kept") << Setup::Locked << QStringLiteral("new text") << false << true;
        QTest::newRow("under review: kept") << Setup::Review << QStringLiteral("new text") << false << true;
        QTest::newRow("offline, the stored text again")
            << Setup::OfflineReadOnly << QStringLiteral("2") << false << false;
        QTest::newRow("submitted: neither")
            << Setup::Submitted << QStringLiteral("new text") << false << false;
    }

    void writtenTextIsStoredOrKept()
    {
        QFETCH(Setup, setup);
        QFETCH(QString, text);
        QFETCH(bool, stored);
        QFETCH(bool, kept);
        const auto controller = prepared(setup);
        QVERIFY(controller);
        const int state = int(controller->state());

        controller->setWrittenAnswer(QStringLiteral("q1"), text);

        QCOMPARE(controller->answers().value(QStringLiteral("q1")), stored ? QVariant(text) : QVariant(2));
        const QVariantMap expectedDrafts = kept ? QVariantMap{{QStringLiteral("q1"), text}} : QVariantMap();
        QCOMPARE(controller->writtenDrafts(), expectedDrafts);
        QCOMPARE(int(controller->state()), state);
        const QJsonObject drafts = QuizControllerHarness::readSession(QuizControllerHarness::attemptFile())
                                       .value(QStringLiteral("drafts"))
                                       .toObject();
        QCOMPARE(drafts.value(QStringLiteral("q1")).toObject().value(QStringLiteral("text")),
                 kept ? QJsonValue(text) : QJsonValue(QJsonValue::Undefined));
        QCOMPARE(controller->unsentAnswersCount(), stored || kept ? 1 : 0);
    }

    void textHandedOverDuringAReloadIsKept()
    {
        const auto controller = prepared(Setup::OfflineReadOnly);
        QVERIFY(controller);
        const QJsonObject open = QuizControllerHarness::details(
            QuizControllerHarness::quiz(),
            {{QStringLiteral("activeAttempt"),
              attemptWith(QStringLiteral("ACTIVE"),
                          {QuizControllerHarness::answer(QStringLiteral("q1"), 2)})}});
        m_harness.answerDetails({QuizControllerHarness::held(QuizControllerHarness::json(open))});
        controller->retry();
        QCOMPARE(controller->state(), QuizController::Loading);

        controller->setWrittenAnswer(QStringLiteral("q2"), QStringLiteral("typed while loading"));
        QCOMPARE(controller->writtenDrafts(),
                 (QVariantMap{{QStringLiteral("q2"), QStringLiteral("typed while loading")}}));
        m_harness.server().release(QuizControllerHarness::detailsRoute());

        QTRY_COMPARE(controller->state(), QuizController::Active);
        QCOMPARE(controller->answers().value(QStringLiteral("q2")),
                 QVariant(QStringLiteral("typed while loading")));
        QCOMPARE(controller->writtenDrafts(), QVariantMap());
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(),
                 (QJsonObject{{QStringLiteral("q2"), QStringLiteral("typed while loading")}}));
    }

    void keepingAReviewedQuestionHandsOverItsDraft()
    {
        const auto controller = prepared(Setup::Review);
        QVERIFY(controller);
        controller->setWrittenAnswer(QStringLiteral("q1"), QStringLiteral("rewritten"));
        QCOMPARE(controller->answers().value(QStringLiteral("q1")), QVariant(2));

        controller->keepChangedAnswer(QStringLiteral("q1"));

        // What the student saw in the field is what was kept.
        QCOMPARE(controller->state(), QuizController::Active);
        QCOMPARE(controller->answers().value(QStringLiteral("q1")), QVariant(QStringLiteral("rewritten")));
        QCOMPARE(controller->writtenDrafts(), QVariantMap());
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(),
                 (QJsonObject{{QStringLiteral("q1"), QStringLiteral("rewritten")}}));
        QVERIFY(controller->timerForTests(QuizController::Timer::Sync).active);
    }

    void acceptedEditIsSavedBeforeItReturns_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<QString>("member");
        QTest::addColumn<QJsonValue>("saved");
        QTest::newRow("setAnswer") << QStringLiteral("setAnswer") << QStringLiteral("answers")
                                   << QJsonValue(
                                          QJsonObject{{QStringLiteral("q1"), 2}, {QStringLiteral("q3"), 1}});
        QTest::newRow("clearAnswer") << QStringLiteral("clearAnswer") << QStringLiteral("answers")
                                     << QJsonValue(QJsonObject());
        QTest::newRow("toggleMarked") << QStringLiteral("toggleMarked") << QStringLiteral("markedQuestionIds")
                                      << QJsonValue(QJsonArray{QStringLiteral("q1")});
        QTest::newRow("toggleEliminated")
            << QStringLiteral("toggleEliminated") << QStringLiteral("eliminatedOptions")
            << QJsonValue(QJsonObject{{QStringLiteral("q1"), QJsonArray{0}}});
        QTest::newRow("setSelfGrade") << QStringLiteral("setSelfGrade") << QStringLiteral("selfGrades")
                                      << QJsonValue(QJsonObject{{QStringLiteral("q1"), true}});
        QTest::newRow("keepChangedAnswer") << QStringLiteral("keepChangedAnswer") << QStringLiteral("pending")
                                           << QJsonValue(QJsonObject{{QStringLiteral("q1"), 2}});
    }

    void acceptedEditIsSavedBeforeItReturns()
    {
        QFETCH(QString, call);
        QFETCH(QString, member);
        QFETCH(QJsonValue, saved);
        const auto controller = loadedWith(
            attemptWith(QStringLiteral("ACTIVE"), {QuizControllerHarness::answer(QStringLiteral("q1"), 2)}));
        QVERIFY(controller);
        QVERIFY(QFile::remove(QuizControllerHarness::attemptFile()) ||
                !QFile::exists(QuizControllerHarness::attemptFile()));

        // No turn of the event loop between the call and the read.
        const QString q1 = QStringLiteral("q1");
        if (call == QLatin1String("setAnswer"))
            controller->setAnswer(QStringLiteral("q3"), 1);
        else if (call == QLatin1String("clearAnswer"))
            controller->clearAnswer(q1);
        else if (call == QLatin1String("toggleMarked"))
            controller->toggleMarked(q1);
        else if (call == QLatin1String("toggleEliminated"))
            controller->toggleEliminated(q1, 0);
        else if (call == QLatin1String("setSelfGrade"))
            controller->setSelfGrade(q1, true);
        else
            controller->keepChangedAnswer(q1);

        QCOMPARE(QuizControllerHarness::readSession(QuizControllerHarness::attemptFile()).value(member),
                 saved);
    }
};

QTEST_GUILESS_MAIN(tst_QuizAnswering)
#include "tst_QuizAnswering.moc"
