#include "quiz/QuizController.h"
#include "quiz/QuizDomain.h"
#include "tests/quiz/QuizControllerHarness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::QuizControllerHarness;
using Response = FixtureServer::Response;

namespace {

const QString kReviewMessage =
    QStringLiteral("Some questions changed. Review your answers before continuing.");
const QString kSaveFailed = QStringLiteral("Could not save quiz answers locally.");

QString sessionsFolder()
{
    return QuizControllerHarness::dataFolder() + QStringLiteral("/quiz-sessions");
}

QJsonObject openAttempt(const QJsonArray &answers = {})
{
    return {{QStringLiteral("activeAttempt"),
             QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE"), answers)}};
}

QJsonObject finishedAttempt()
{
    return {{QStringLiteral("attempt"),
             QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("SUBMITTED"))}};
}

bool writeRaw(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class tst_QuizLocalSession : public QObject
{
    Q_OBJECT

private:
    QuizControllerHarness m_harness;

    static QString fileOf(const QString &userId = QStringLiteral("u1"))
    {
        return QuizControllerHarness::sessionFile(userId, QStringLiteral("a1"));
    }

    static bool save(const QJsonObject &members, const QString &attemptId = QStringLiteral("a1"))
    {
        return QuizDomain::saveSession(fileOf(), QuizControllerHarness::session(attemptId, members));
    }

    std::unique_ptr<QuizController> loaded(const QJsonObject &members, int questionCount = 5)
    {
        return m_harness.loaded(QuizControllerHarness::details(
            QuizControllerHarness::quiz(QStringLiteral("ORDINARY"), questionCount), members));
    }

    // How many times a load emits `changed` before its history arrives: the history is held so
    // that only the load itself is counted.
    int changesOfALoad(const QJsonObject &members, QuizController **kept = nullptr)
    {
        m_harness.answerDetails(QuizControllerHarness::details(QuizControllerHarness::quiz(), members));
        m_harness.answerHistory({QuizControllerHarness::held(QuizControllerHarness::json(QJsonArray()))});
        auto controller = m_harness.makeController();
        controller->setQuizId(QuizControllerHarness::kQuizId);
        QSignalSpy changed(controller.get(), &QuizController::changed);
        if (!m_harness.load(*controller))
            return -1;
        const int count = int(changed.size());
        if (kept)
            *kept = controller.release();
        return count;
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    void withoutAnAttemptNothingIsWrittenOrRead()
    {
        const auto controller = loaded({});
        QVERIFY(controller);
        QCOMPARE(controller->state(), QuizController::Ready);
        QSignalSpy feedback(controller.get(), &QuizController::feedback);

        controller->setCurrentQuestionIndex(3);
        QCOMPARE(controller->currentQuestionIndex(), 3);
        QVERIFY(m_harness.load(*controller));

        QCOMPARE(controller->currentQuestionIndex(), 3);
        QCOMPARE(feedback.size(), 0);
        QVERIFY(!QFileInfo::exists(sessionsFolder()));
    }

    void savedFileHoldsTheAttemptState()
    {
        QVERIFY(save(
            {{QStringLiteral("answers"), QJsonObject{{QStringLiteral("q1"), 2}}},
             {QStringLiteral("pending"), QJsonObject{{QStringLiteral("q2"), QJsonValue::Null}}},
             {QStringLiteral("selfGrades"), QJsonObject{{QStringLiteral("q3"), false}}},
             {QStringLiteral("markedQuestionIds"), QJsonArray{QStringLiteral("q4"), QStringLiteral("q2")}},
             {QStringLiteral("eliminatedOptions"), QJsonObject{{QStringLiteral("q1"), QJsonArray{0, 1}}}}}));
        const QJsonObject attempt = QuizControllerHarness::attempt(
            QStringLiteral("a1"), QStringLiteral("ACTIVE"),
            QJsonArray{QuizControllerHarness::answer(QStringLiteral("q5"), QStringLiteral("text"))});
        const auto controller = loaded({{QStringLiteral("activeAttempt"), attempt}});
        QVERIFY(controller);
        QVERIFY(QFile::remove(fileOf()));

        controller->setCurrentQuestionIndex(1);

        const QJsonObject saved = QuizControllerHarness::readSession(fileOf());
        QStringList keys = saved.keys();
        keys.sort();
        QCOMPARE(keys,
                 QStringList({"answerStamps", "answers", "attempt", "attemptId", "currentQuestionIndex",
                              "drafts", "eliminatedOptions", "markedQuestionIds", "pending", "quizId",
                              "reviewQuestionIds", "schemaVersion", "selfGrades", "submissionAccepted"}));
        QCOMPARE(saved.value(QStringLiteral("schemaVersion")), QJsonValue(1));
        QCOMPARE(saved.value(QStringLiteral("quizId")), QJsonValue(QStringLiteral("q")));
        QCOMPARE(saved.value(QStringLiteral("attemptId")), QJsonValue(QStringLiteral("a1")));
        QCOMPARE(saved.value(QStringLiteral("attempt")).toObject(), attempt);
        QCOMPARE(saved.value(QStringLiteral("answers")).toObject(),
                 (QJsonObject{{QStringLiteral("q1"), 2}, {QStringLiteral("q5"), QStringLiteral("text")}}));
        const QJsonObject pending = saved.value(QStringLiteral("pending")).toObject();
        QCOMPARE(pending.keys(), QStringList{QStringLiteral("q2")});
        QVERIFY(pending.value(QStringLiteral("q2")).isNull());
        QCOMPARE(saved.value(QStringLiteral("selfGrades")).toObject(),
                 (QJsonObject{{QStringLiteral("q3"), false}}));
        QVariantList marked = saved.value(QStringLiteral("markedQuestionIds")).toArray().toVariantList();
        std::sort(marked.begin(), marked.end(),
                  [](const QVariant &a, const QVariant &b) { return a.toString() < b.toString(); });
        QCOMPARE(marked, (QVariantList{QStringLiteral("q2"), QStringLiteral("q4")}));
        QCOMPARE(saved.value(QStringLiteral("eliminatedOptions")).toObject(),
                 (QJsonObject{{QStringLiteral("q1"), QJsonArray{0, 1}}}));
        QCOMPARE(saved.value(QStringLiteral("currentQuestionIndex")), QJsonValue(1));
        QCOMPARE(saved.value(QStringLiteral("reviewQuestionIds")).toArray(), QJsonArray());
        // Answers found without a stamp take the one of their question as loaded.
        const QString stamp = QStringLiteral("2024-05-01T10:00:00.000Z");
        QCOMPARE(saved.value(QStringLiteral("answerStamps")).toObject(),
                 (QJsonObject{{QStringLiteral("q1"), stamp}, {QStringLiteral("q5"), stamp}}));
        QCOMPARE(saved.value(QStringLiteral("drafts")).toObject(), QJsonObject());
        QCOMPARE(saved.value(QStringLiteral("submissionAccepted")), QJsonValue(false));
    }

    void failedSaveIsReportedAndChangesNoState()
    {
        const auto controller = loaded(openAttempt());
        QVERIFY(controller);
        // A file where the quiz's folder should be.
        const QString quizFolder = QFileInfo(fileOf()).absolutePath();
        QVERIFY(writeRaw(quizFolder, "in the way"));
        QSignalSpy feedback(controller.get(), &QuizController::feedback);

        controller->setCurrentQuestionIndex(2);

        QCOMPARE(feedback.size(), 1);
        QCOMPARE(feedback.first(), (QList<QVariant>{kSaveFailed, QStringLiteral("error")}));
        QCOMPARE(controller->state(), QuizController::Active);
        QCOMPARE(controller->errorMessage(), QString());
        QCOMPARE(controller->currentQuestionIndex(), 2);
        QVERIFY(QFileInfo(quizFolder).isFile());
    }

    void restoreLaysTheFileOverTheLoadedAttempt_data()
    {
        QTest::addColumn<QJsonObject>("saved");
        QTest::addColumn<int>("questionCount");
        QTest::addColumn<int>("index");
        QTest::addColumn<QVariantList>("marked");
        QTest::addColumn<QVariantMap>("answers");

        const QVariantMap serverAnswers{{QStringLiteral("q1"), 1}, {QStringLiteral("q2"), 0}};
        QTest::newRow("index past the last question")
            << QJsonObject{{QStringLiteral("currentQuestionIndex"), 12}} << 5 << 4 << QVariantList()
            << serverAnswers;
        QTest::newRow("negative index") << QJsonObject{{QStringLiteral("currentQuestionIndex"), -3}} << 5 << 0
                                        << QVariantList() << serverAnswers;
        QTest::newRow("index on a quiz without questions")
            << QJsonObject{{QStringLiteral("currentQuestionIndex"), 3}} << 0 << 0 << QVariantList()
            << serverAnswers;
        QTest::newRow("index given as a fraction")
            << QJsonObject{{QStringLiteral("currentQuestionIndex"), 2.5}} << 5 << 0 << QVariantList()
            << serverAnswers;
        QTest::newRow("marks that are not ids")
            << QJsonObject{{QStringLiteral("markedQuestionIds"),
                            QJsonArray{QString(), 5, QStringLiteral("q2")}}}
            << 5 << 0 << QVariantList{QStringLiteral("q2")} << serverAnswers;
        QTest::newRow("saved answer replaces the server's")
            << QJsonObject{{QStringLiteral("answers"), QJsonObject{{QStringLiteral("q1"), 3}}},
                           {QStringLiteral("currentQuestionIndex"), 2}}
            << 5 << 2 << QVariantList() << QVariantMap{{QStringLiteral("q1"), 3}, {QStringLiteral("q2"), 0}};
    }

    void restoreLaysTheFileOverTheLoadedAttempt()
    {
        QFETCH(QJsonObject, saved);
        QFETCH(int, questionCount);
        QFETCH(int, index);
        QFETCH(QVariantList, marked);
        QFETCH(QVariantMap, answers);
        QVERIFY(save(saved));

        const auto controller = loaded(openAttempt({QuizControllerHarness::answer(QStringLiteral("q1"), 1),
                                                    QuizControllerHarness::answer(QStringLiteral("q2"), 0)}),
                                       questionCount);
        QVERIFY(controller);

        QCOMPARE(controller->state(), QuizController::Active);
        QCOMPARE(controller->currentQuestionIndex(), index);
        QCOMPARE(controller->markedQuestionIds(), marked);
        QCOMPARE(controller->answers(), answers);
    }

    void unusableFileRestoresNothing_data()
    {
        QTest::addColumn<QByteArray>("content");
        const auto compact = [](const QJsonObject &object) {
            return QJsonDocument(object).toJson(QJsonDocument::Compact);
        };
        const QJsonObject members{{QStringLiteral("answers"), QJsonObject{{QStringLiteral("q1"), 3}}},
                                  {QStringLiteral("markedQuestionIds"), QJsonArray{QStringLiteral("q2")}},
                                  {QStringLiteral("currentQuestionIndex"), 3}};
        QTest::newRow("another attempt at this path")
            << compact(QuizControllerHarness::session(QStringLiteral("a2"), members));
        QTest::newRow("attempt id of another case")
            << compact(QuizControllerHarness::session(QStringLiteral("A1"), members));
        QJsonObject later = QuizControllerHarness::session(QStringLiteral("a1"), members);
        later.insert(QStringLiteral("schemaVersion"), 2);
        QTest::newRow("schema version 2") << compact(later);
        QTest::newRow("not JSON") << QByteArray("{\"attemptId\":\"a1\",");
        QTest::newRow("no file") << QByteArray();
    }

    void unusableFileRestoresNothing()
    {
        QFETCH(QByteArray, content);
        const QJsonObject members = openAttempt({QuizControllerHarness::answer(QStringLiteral("q1"), 1)});
        QuizController *plain = nullptr;
        const int changesWithoutFile = changesOfALoad(members, &plain);
        const std::unique_ptr<QuizController> baseline(plain);
        QVERIFY(changesWithoutFile > 0);
        // The load notes the stamps of the answers it found in a file of its own.
        if (content.isEmpty())
            QVERIFY(QFile::remove(fileOf()));
        else
            QVERIFY(writeRaw(fileOf(), content));

        QuizController *raw = nullptr;
        const int changes = changesOfALoad(members, &raw);
        const std::unique_ptr<QuizController> controller(raw);

        QCOMPARE(changes, changesWithoutFile);
        QCOMPARE(controller->answers(), (QVariantMap{{QStringLiteral("q1"), 1}}));
        QCOMPARE(controller->markedQuestionIds(), QVariantList());
        QCOMPARE(controller->currentQuestionIndex(), 0);
        QCOMPARE(controller->state(), QuizController::Active);
        QVERIFY(!controller->timerForTests(QuizController::Timer::Sync).active);
    }

    void restoredPendingAnswersGoOutOnlyForAnOpenAttempt_data()
    {
        QTest::addColumn<QJsonObject>("members");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("syncScheduled");
        QTest::newRow("open attempt") << openAttempt() << int(QuizController::Active) << true;
        QTest::newRow("finished attempt") << finishedAttempt() << int(QuizController::Result) << false;
    }

    void restoredPendingAnswersGoOutOnlyForAnOpenAttempt()
    {
        QFETCH(QJsonObject, members);
        QFETCH(int, state);
        QFETCH(bool, syncScheduled);
        QVERIFY(save({{QStringLiteral("pending"), QJsonObject{{QStringLiteral("q1"), 2}}}}));
        m_harness.answerDetails(QuizControllerHarness::details(QuizControllerHarness::quiz(), members));
        m_harness.answerHistory({QuizControllerHarness::json(QJsonArray())});
        auto controller = m_harness.makeController({60000, 600000, 600000, 600000});
        controller->setQuizId(QuizControllerHarness::kQuizId);

        QVERIFY(m_harness.load(*controller));

        QCOMPARE(int(controller->state()), state);
        const QuizController::TimerReading sync = controller->timerForTests(QuizController::Timer::Sync);
        QCOMPARE(sync.active, syncScheduled);
        QCOMPARE(sync.intervalMs, 60000);
    }

    void restoredReviewNeedsTheNotice()
    {
        QVERIFY(save({{QStringLiteral("reviewQuestionIds"), QJsonArray{QStringLiteral("q2")}},
                      {QStringLiteral("pending"), QJsonObject{{QStringLiteral("q1"), 2}}}}));
        const auto controller = loaded(openAttempt());
        QVERIFY(controller);

        QCOMPARE(controller->state(), QuizController::ReviewRequired);
        QCOMPARE(controller->errorMessage(), kReviewMessage);
        QCOMPARE(controller->reviewQuestionIds(), QVariantList{QStringLiteral("q2")});
        QVERIFY(!controller->canEdit());
        QVERIFY(!controller->timerForTests(QuizController::Timer::Sync).active);

        // A reload restores again; what was under review before stays under review.
        QVERIFY(
            save({{QStringLiteral("reviewQuestionIds"), QJsonArray{QStringLiteral("q1"), QString(), 3}}}));
        QVERIFY(m_harness.load(*controller));
        QCOMPARE(controller->state(), QuizController::ReviewRequired);
        QCOMPARE(controller->errorMessage(), kReviewMessage);
        QCOMPARE(controller->reviewQuestionIds(), (QVariantList{QStringLiteral("q1"), QStringLiteral("q2")}));
    }

    void restoredReviewOutsideAnOpenAttemptChangesNoState_data()
    {
        QTest::addColumn<QJsonObject>("members");
        QTest::addColumn<int>("state");
        QTest::newRow("finished attempt") << finishedAttempt() << int(QuizController::Result);
        QTest::newRow("leaderboard") << QJsonObject{{QStringLiteral("leaderboardOnly"), true},
                                                    {QStringLiteral("activeAttempt"),
                                                     openAttempt().value(QStringLiteral("activeAttempt"))}}
                                     << int(QuizController::Leaderboard);
    }

    void restoredReviewOutsideAnOpenAttemptChangesNoState()
    {
        QFETCH(QJsonObject, members);
        QFETCH(int, state);
        QVERIFY(save({{QStringLiteral("reviewQuestionIds"), QJsonArray{QStringLiteral("q1")}}}));

        const auto controller = loaded(members);
        QVERIFY(controller);

        QCOMPARE(int(controller->state()), state);
        QCOMPARE(controller->errorMessage(), QString());
        QCOMPARE(controller->reviewQuestionIds(), QVariantList{QStringLiteral("q1")});
    }

    void secondControllerResumesWhereTheFirstStopped()
    {
        QVERIFY(save(
            {{QStringLiteral("markedQuestionIds"), QJsonArray{QStringLiteral("q3")}},
             {QStringLiteral("eliminatedOptions"), QJsonObject{{QStringLiteral("q2"), QJsonArray{1}}}}}));
        {
            const auto first = loaded(openAttempt());
            QVERIFY(first);
            first->setCurrentQuestionIndex(3);
        }
        QCOMPARE(QuizControllerHarness::readSession(fileOf()).value(QStringLiteral("currentQuestionIndex")),
                 QJsonValue(3));

        const auto second = loaded(openAttempt());
        QVERIFY(second);

        QCOMPARE(second->currentQuestionIndex(), 3);
        QCOMPARE(second->currentQuestion().value(QStringLiteral("id")).toString(), QStringLiteral("q4"));
        QCOMPARE(second->markedQuestionIds(), QVariantList{QStringLiteral("q3")});
        QCOMPARE(second->eliminatedOptions(), (QVariantMap{{QStringLiteral("q2"), QVariantList{1}}}));
    }

    // A file written by the release before stamps and drafts were kept: the answers it holds are
    // taken as given against the questions as loaded, and go out with those stamps, as they did.
    void earlierReleaseFileLoadsAndSendsAsBefore()
    {
        QVERIFY(save({{QStringLiteral("answers"), QJsonObject{{QStringLiteral("q1"), 2}}},
                      {QStringLiteral("pending"), QJsonObject{{QStringLiteral("q1"), 2}}}}));
        QVERIFY(!QuizControllerHarness::readSession(fileOf()).contains(QStringLiteral("answerStamps")));
        QJsonObject changedQuiz = QuizControllerHarness::quiz();
        changedQuiz.insert(QStringLiteral("questions"), QuizControllerHarness::questionsWithChange(5, 1));
        QJsonObject acceptedAttempt =
            QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE"),
                                           {QuizControllerHarness::answer(QStringLiteral("q1"), 2)});
        acceptedAttempt.insert(QStringLiteral("revision"), 4);
        m_harness.answerSave({QuizControllerHarness::json(acceptedAttempt)});
        const auto controller = m_harness.loaded(QuizControllerHarness::details(changedQuiz, openAttempt()),
                                                 {20, 600000, 600000, 600000});
        QVERIFY(controller);

        QCOMPARE(controller->state(), QuizController::Active);
        QCOMPARE(controller->reviewQuestionIds(), QVariantList());
        QCOMPARE(controller->writtenDrafts(), QVariantMap());
        QTRY_COMPARE(controller->revision(), 4);
        const QList<FixtureServer::Request> saves = m_harness.requestsTo(QuizControllerHarness::saveRoute());
        QCOMPARE(saves.size(), 1);
        const QJsonObject sent = QuizControllerHarness::bodyOf(saves.first())
                                     .value(QStringLiteral("answers"))
                                     .toArray()
                                     .first()
                                     .toObject();
        QCOMPARE(sent.value(QStringLiteral("questionUpdatedAt")),
                 QJsonValue(QuizControllerHarness::kChangedStamp));
        const QJsonObject saved = QuizControllerHarness::readSession(fileOf());
        QCOMPARE(saved.value(QStringLiteral("schemaVersion")), QJsonValue(1));
        QCOMPARE(saved.value(QStringLiteral("answerStamps")).toObject(),
                 (QJsonObject{{QStringLiteral("q1"), QuizControllerHarness::kChangedStamp}}));
    }

    void draftTypedOfflineGoesOutOnceFromTheNextStart()
    {
        m_harness.answerSave({QuizControllerHarness::dropped()});
        const QuizController::Intervals quickSave{20, 600000, 600000, 600000};
        auto first = m_harness.loaded(
            QuizControllerHarness::details(QuizControllerHarness::quiz(), openAttempt()), quickSave);
        QVERIFY(first);
        first->setAnswer(QStringLiteral("q1"), 0);
        QTRY_COMPARE(first->state(), QuizController::OfflineReadOnly);

        first->setWrittenAnswer(QStringLiteral("q2"), QStringLiteral("typed offline"));
        QCOMPARE(first->writtenDrafts(),
                 (QVariantMap{{QStringLiteral("q2"), QStringLiteral("typed offline")}}));
        QVERIFY(!first->answers().contains(QStringLiteral("q2")));
        const QJsonObject draft = QuizControllerHarness::readSession(fileOf())
                                      .value(QStringLiteral("drafts"))
                                      .toObject()
                                      .value(QStringLiteral("q2"))
                                      .toObject();
        QCOMPARE(draft.value(QStringLiteral("text")), QJsonValue(QStringLiteral("typed offline")));
        QCOMPARE(draft.value(QStringLiteral("typedAt")),
                 QJsonValue(m_harness.now.toString(Qt::ISODateWithMs)));
        QCOMPARE(draft.value(QStringLiteral("questionUpdatedAt")),
                 QJsonValue(QStringLiteral("2024-05-01T10:00:00.000Z")));
        // The client quits.
        first.reset();

        QJsonObject acceptedAttempt =
            QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE"));
        acceptedAttempt.insert(QStringLiteral("revision"), 4);
        m_harness.answerSave({QuizControllerHarness::json(acceptedAttempt)});
        const auto second = m_harness.loaded(
            QuizControllerHarness::details(QuizControllerHarness::quiz(), openAttempt()), quickSave);
        QVERIFY(second);

        QCOMPARE(second->answers().value(QStringLiteral("q2")), QVariant(QStringLiteral("typed offline")));
        QCOMPARE(second->writtenDrafts(), QVariantMap());
        QTRY_COMPARE(second->revision(), 4);
        QVERIFY(m_harness.settle());
        const QList<FixtureServer::Request> saves = m_harness.requestsTo(QuizControllerHarness::saveRoute());
        QCOMPARE(saves.size(), 2);
        QCOMPARE(QuizControllerHarness::bodyOf(saves.at(1)),
                 QuizDomain::mutationPayload(
                     3, second->questions(),
                     {{QStringLiteral("q1"), 0}, {QStringLiteral("q2"), QStringLiteral("typed offline")}},
                     {}));
        QCOMPARE(QuizControllerHarness::pendingInAttemptFile(), QJsonObject());
        QCOMPARE(QuizControllerHarness::readSession(fileOf()).value(QStringLiteral("drafts")).toObject(),
                 QJsonObject());
    }

    void userChangeBetweenSavesWritesUnderTheNewUser()
    {
        const auto controller = loaded(openAttempt());
        QVERIFY(controller);
        controller->setCurrentQuestionIndex(1);
        QCOMPARE(QuizControllerHarness::readSession(fileOf()).value(QStringLiteral("currentQuestionIndex")),
                 QJsonValue(1));

        m_harness.userId = QStringLiteral("u2");
        controller->setCurrentQuestionIndex(2);

        QCOMPARE(controller->localPath(), fileOf(QStringLiteral("u2")));
        QCOMPARE(QuizControllerHarness::readSession(fileOf(QStringLiteral("u2")))
                     .value(QStringLiteral("currentQuestionIndex")),
                 QJsonValue(2));
        QCOMPARE(QuizControllerHarness::readSession(fileOf()).value(QStringLiteral("currentQuestionIndex")),
                 QJsonValue(1));
        QVERIFY(QFileInfo(fileOf()).absolutePath() != QFileInfo(fileOf(QStringLiteral("u2"))).absolutePath());
    }
};

QTEST_GUILESS_MAIN(tst_QuizLocalSession)
#include "tst_QuizLocalSession.moc"
