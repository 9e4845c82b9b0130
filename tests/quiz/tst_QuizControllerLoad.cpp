#include "quiz/QuizController.h"
#include "quiz/QuizDomain.h"
#include "tests/quiz/QuizControllerHarness.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QLocale>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::QuizControllerHarness;
using Response = FixtureServer::Response;

Q_DECLARE_METATYPE(FixtureServer::Response)

namespace {

const QString kDeadlineText = QStringLiteral("The deadline is based on the official quiz start time.");
const QString kExpiredText = QStringLiteral("This quiz has expired.");
const QDateTime kStart = QDateTime(QDate(2031, 3, 14), QTime(9, 30), Qt::UTC);

QStringList attemptIds(const QVariantList &attempts)
{
    QStringList ids;
    for (const QVariant &attempt : attempts)
        ids.append(attempt.toMap().value(QStringLiteral("id")).toString());
    return ids;
}

// The ids of a history answer, with the members that set their order.
QJsonObject finished(const QString &id, const QJsonObject &times)
{
    QJsonObject attempt = times;
    attempt.insert(QStringLiteral("id"), id);
    attempt.insert(QStringLiteral("status"), QStringLiteral("SUBMITTED"));
    return attempt;
}

} // namespace

class tst_QuizControllerLoad : public QObject
{
    Q_OBJECT

private:
    QuizControllerHarness m_harness;

    FixtureServer &server() { return m_harness.server(); }

    static QJsonObject details(const QJsonObject &members = {})
    {
        return QuizControllerHarness::details(QuizControllerHarness::quiz(), members);
    }

    std::unique_ptr<QuizController> loaded(const QJsonObject &details) { return m_harness.loaded(details); }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    // QML binds by these names and reads the methods in this order.
    void surfaceAsQmlSeesIt()
    {
        const QMetaObject &meta = QuizController::staticMetaObject;
        QStringList properties;
        for (int index = meta.propertyOffset(); index < meta.propertyCount(); ++index) {
            const QMetaProperty property = meta.property(index);
            properties.append(QString::fromLatin1(property.name()));
            const QByteArray expectedNotify =
                qstrcmp(property.name(), "quizId") == 0 ? "quizIdChanged" : "changed";
            QCOMPARE(property.notifySignal().name(), expectedNotify);
            const bool writable = qstrcmp(property.name(), "quizId") == 0 ||
                                  qstrcmp(property.name(), "currentQuestionIndex") == 0;
            QCOMPARE(property.isWritable(), writable);
        }
        QCOMPARE(properties, QStringList({"quizId",
                                          "title",
                                          "quizType",
                                          "state",
                                          "questions",
                                          "attempts",
                                          "leaderboard",
                                          "answers",
                                          "selfGrades",
                                          "markedQuestionIds",
                                          "eliminatedOptions",
                                          "reviewQuestionIds",
                                          "currentQuestionIndex",
                                          "currentQuestion",
                                          "answeredCount",
                                          "revision",
                                          "remainingSeconds",
                                          "canEdit",
                                          "online",
                                          "syncing",
                                          "startingAttempt",
                                          "available",
                                          "availabilityMessage",
                                          "statusMessage",
                                          "pendingAnswersCount",
                                          "errorMessage",
                                          "aiRedirectSeconds",
                                          "writtenDrafts",
                                          "attemptSubmitted",
                                          "unsentAnswersCount",
                                          "timeUpSubmissionFailed"}));

        QStringList signalList;
        QStringList invokables;
        for (int index = meta.methodOffset(); index < meta.methodCount(); ++index) {
            const QMetaMethod method = meta.method(index);
            if (method.methodType() == QMetaMethod::Signal)
                signalList.append(QString::fromLatin1(method.methodSignature()));
            else if (method.methodType() == QMetaMethod::Method)
                invokables.append(QString::fromLatin1(method.methodSignature()));
            else
                QFAIL(method.methodSignature().constData());
        }
        QCOMPARE(signalList, QStringList({"quizIdChanged()", "changed()", "feedback(QString,QString)",
                                          "submissionStarting()"}));
        QCOMPARE(invokables,
                 QStringList({"open()", "retry()", "startAttempt(QString)", "startAttempt()",
                              "setAnswer(QString,QVariant)", "clearAnswer(QString)", "toggleMarked(QString)",
                              "toggleEliminated(QString,int)", "setSelfGrade(QString,bool)",
                              "keepChangedAnswer(QString)", "setWrittenAnswer(QString,QString)", "syncNow()",
                              "submit()", "discussCurrentQuestion()"}));

        const QMetaEnum states = QMetaEnum::fromType<QuizController::State>();
        QCOMPARE(states.keyCount(), 10);
        QCOMPARE(states.keyToValue("Leaderboard"), 8);
        QCOMPARE(states.keyToValue("Failed"), 9);
    }

    void freshControllerWaitsWithStoppedTimers()
    {
        auto controller = m_harness.makeController();
        QCOMPARE(controller->state(), QuizController::Idle);
        QCOMPARE(controller->remainingSeconds(), -1);
        QVERIFY(controller->online());
        QVERIFY(!controller->canEdit());
        QVERIFY(controller->available());
        QCOMPARE(controller->currentQuestion(), QVariantMap());
        QVERIFY(m_harness.settle());
        QCOMPARE(m_harness.sent(), QStringList());
        QVERIFY(!QFileInfo::exists(QuizControllerHarness::dataFolder() + QStringLiteral("/quiz-sessions")));
    }

    // What QML creates takes the test hook's configuration while one is set, and the page's
    // production values otherwise.
    void defaultConstructionFollowsTheTestHook()
    {
        m_harness.answerDetails(details());
        m_harness.answerHistory({QuizControllerHarness::json(QJsonArray())});
        QuizController::setDefaultConfigurationForTests([this] {
            QuizController::Configuration configuration;
            configuration.network = &m_harness.network();
            configuration.userId = [] { return QStringLiteral("hooked"); };
            configuration.intervals = {11, 12, 13, 14};
            return configuration;
        });
        auto hooked = std::make_unique<QuizController>();
        QuizController::setDefaultConfigurationForTests({});
        QCOMPARE(hooked->timerForTests(QuizController::Timer::Sync).intervalMs, 11);
        QCOMPARE(hooked->timerForTests(QuizController::Timer::AiRedirect).intervalMs, 14);
        hooked->setQuizId(QuizControllerHarness::kQuizId);
        QVERIFY(m_harness.load(*hooked));
        QCOMPARE(hooked->state(), QuizController::Ready);

        const QuizController production;
        const QList<QPair<QuizController::Timer, int>> timers = {{QuizController::Timer::Sync, 750},
                                                                 {QuizController::Timer::Countdown, 1000},
                                                                 {QuizController::Timer::Reconnect, 10000},
                                                                 {QuizController::Timer::AiRedirect, 1000}};
        for (const auto &[timer, interval] : timers) {
            const QuizController::TimerReading reading = production.timerForTests(timer);
            QVERIFY(!reading.active);
            QCOMPARE(reading.intervalMs, interval);
        }
    }

    void unusableIdSendsNothing_data()
    {
        QTest::addColumn<QString>("quizId");
        QTest::newRow("blank") << QStringLiteral("  ");
        QTest::newRow("dot") << QStringLiteral(".");
        // The client would resolve "quizzes/.." to the API root itself.
        QTest::newRow("dot dot") << QStringLiteral("..");
    }

    void unusableIdSendsNothing()
    {
        QFETCH(QString, quizId);
        auto controller = m_harness.makeController();
        controller->setQuizId(quizId);
        QSignalSpy changed(controller.get(), &QuizController::changed);

        controller->open();
        controller->retry();
        QVERIFY(m_harness.settle());

        QCOMPARE(controller->state(), QuizController::Idle);
        QCOMPARE(changed.size(), 0);
        QCOMPARE(m_harness.sent(), QStringList());
    }

    void quizIdIsStoredTrimmed()
    {
        auto controller = m_harness.makeController();
        QSignalSpy idChanged(controller.get(), &QuizController::quizIdChanged);
        QSignalSpy changed(controller.get(), &QuizController::changed);

        controller->setQuizId(QStringLiteral(" q1 "));
        QCOMPARE(controller->quizId(), QStringLiteral("q1"));
        QCOMPARE(idChanged.size(), 1);

        controller->setQuizId(QStringLiteral("q1"));
        controller->setQuizId(QStringLiteral("\tq1"));
        QCOMPARE(idChanged.size(), 1);
        QCOMPARE(changed.size(), 0);
        QCOMPARE(controller->state(), QuizController::Idle);
        QVERIFY(m_harness.settle());
        QCOMPARE(m_harness.sent(), QStringList());
    }

    void secondOpenWhileLoadingSendsNothing()
    {
        m_harness.answerDetails({QuizControllerHarness::held(QuizControllerHarness::json(details()))});
        m_harness.answerHistory({QuizControllerHarness::json(QJsonArray())});
        auto controller = m_harness.makeController();
        controller->setQuizId(QuizControllerHarness::kQuizId);

        controller->open();
        QCOMPARE(controller->state(), QuizController::Loading);
        QTRY_COMPARE(server().requestCount(QuizControllerHarness::detailsRoute()), 1);
        controller->open();
        controller->retry();
        server().release(QuizControllerHarness::detailsRoute());

        QTRY_COMPARE(controller->state(), QuizController::Ready);
        QVERIFY(m_harness.waitForRequests(2));
        QCOMPARE(m_harness.sent(), QStringList({"GET /api/v1/quizzes/q", "GET /api/v1/quizzes/q/attempts"}));
    }

    void idTravelsAsOneEncodedSegment()
    {
        const QString encoded = QStringLiteral("a%2Fb%3Fx");
        m_harness.answerDetails(details(), encoded);
        m_harness.answerHistory({QuizControllerHarness::json(QJsonArray())}, encoded);
        auto controller = m_harness.makeController();
        controller->setQuizId(QStringLiteral("a/b?x"));

        QVERIFY(m_harness.load(*controller));

        QCOMPARE(controller->state(), QuizController::Ready);
        QCOMPARE(m_harness.sent(),
                 QStringList({"GET /api/v1/quizzes/a%2Fb%3Fx", "GET /api/v1/quizzes/a%2Fb%3Fx/attempts"}));
    }

    void stateFollowsTheDetails_data()
    {
        QTest::addColumn<QJsonObject>("members");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("attemptId");
        QTest::addColumn<QVariantMap>("answers");

        const QJsonArray answered{
            QuizControllerHarness::answer(QStringLiteral("q1"), 1),
            QuizControllerHarness::answer(QStringLiteral("q2"), QStringLiteral("text"))};
        const QVariantMap answeredMap{{QStringLiteral("q1"), 1},
                                      {QStringLiteral("q2"), QStringLiteral("text")}};
        QTest::newRow("leaderboard only, with an open attempt")
            << QJsonObject{{QStringLiteral("leaderboardOnly"), true},
                           {QStringLiteral("activeAttempt"),
                            QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE"),
                                                           answered)}}
            << int(QuizController::Leaderboard) << QStringLiteral("a1") << answeredMap;
        QTest::newRow("open attempt")
            << QJsonObject{{QStringLiteral("activeAttempt"),
                            QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE"),
                                                           answered)}}
            << int(QuizController::Active) << QStringLiteral("a1") << answeredMap;
        QTest::newRow("empty open attempt, finished attempt")
            << QJsonObject{{QStringLiteral("activeAttempt"), QJsonObject()},
                           {QStringLiteral("attempt"),
                            QuizControllerHarness::attempt(QStringLiteral("a2"), QStringLiteral("SUBMITTED"),
                                                           answered)}}
            << int(QuizController::Result) << QStringLiteral("a2") << answeredMap;
        QTest::newRow("open attempt given as text, attempt status with blanks")
            << QJsonObject{{QStringLiteral("activeAttempt"), QStringLiteral("x")},
                           {QStringLiteral("attempt"),
                            QuizControllerHarness::attempt(QStringLiteral("a3"), QStringLiteral(" active "))}}
            << int(QuizController::Active) << QStringLiteral("a3") << QVariantMap();
        QTest::newRow("no attempt") << QJsonObject() << int(QuizController::Ready) << QString()
                                    << QVariantMap();
    }

    void stateFollowsTheDetails()
    {
        QFETCH(QJsonObject, members);
        QFETCH(int, state);
        QFETCH(QString, attemptId);
        QFETCH(QVariantMap, answers);

        const auto controller = loaded(details(members));
        QVERIFY(controller);

        QCOMPARE(int(controller->state()), state);
        QCOMPARE(controller->errorMessage(), QString());
        QVERIFY(controller->online());
        QCOMPARE(controller->title(), QStringLiteral("Sample quiz"));
        QCOMPARE(controller->questions().size(), 5);
        QCOMPARE(controller->answers(), answers);
        // The session file path names the attempt held, so it shows which one was adopted.
        QCOMPARE(controller->localPath(),
                 QuizControllerHarness::sessionFile(QStringLiteral("u1"), attemptId));
        QCOMPARE(controller->revision(), attemptId.isEmpty() ? 0 : 3);
        QCOMPARE(controller->canEdit(), state == int(QuizController::Active));
        QVERIFY(m_harness.settle());
        QCOMPARE(m_harness.sent(), QStringList({"GET /api/v1/quizzes/q", "GET /api/v1/quizzes/q/attempts"}));
    }

    void notFoundOnAFreshPageFailsThenReconnects()
    {
        m_harness.answerDetails(
            {QuizControllerHarness::json(
                 QJsonObject{{QStringLiteral("message"), QStringLiteral("No such quiz")}}, 404),
             QuizControllerHarness::json(details())});
        m_harness.answerHistory({QuizControllerHarness::json(QJsonArray())});
        auto controller = m_harness.makeController({600000, 600000, 30, 600000});
        controller->setQuizId(QuizControllerHarness::kQuizId);
        QStringList seen;
        connect(controller.get(), &QuizController::changed, this, [&seen, &controller] {
            seen.append(
                QStringLiteral("%1|%2|%3")
                    .arg(int(controller->state()))
                    .arg(controller->errorMessage())
                    .arg(controller->online() ? QStringLiteral("online") : QStringLiteral("offline")));
        });

        controller->open();
        // The failure's text for the user is the server's message.
        QTRY_VERIFY(seen.size() >= 2);
        QCOMPARE(seen.mid(0, 2),
                 QStringList({QStringLiteral("1||online"), QStringLiteral("9|No such quiz|offline")}));

        // The reconnect ticks load again; the first usable answer stops them.
        QTRY_COMPARE(controller->state(), QuizController::Ready);
        QVERIFY(controller->online());
        QCOMPARE(controller->errorMessage(), QString());
        QVERIFY(!controller->timerForTests(QuizController::Timer::Reconnect).active);
        QVERIFY(m_harness.waitForRequests(3));
        QCOMPARE(m_harness.sent(), QStringList({"GET /api/v1/quizzes/q", "GET /api/v1/quizzes/q",
                                                "GET /api/v1/quizzes/q/attempts"}));
    }

    void droppedReloadKeepsTheAttemptReadOnly()
    {
        const QJsonArray answered{QuizControllerHarness::answer(QStringLiteral("q1"), 2)};
        const auto controller = loaded(details(
            {{QStringLiteral("activeAttempt"),
              QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE"), answered)}}));
        QVERIFY(controller);
        QVERIFY(controller->canEdit());

        Response dropped = QuizControllerHarness::json(details());
        dropped.dropAfterBodyBytes = 0;
        m_harness.answerDetails({dropped});
        QVERIFY(m_harness.load(*controller));

        QCOMPARE(controller->state(), QuizController::OfflineReadOnly);
        QCOMPARE(controller->errorMessage(), QuizControllerHarness::kConnectionLost);
        QVERIFY(!controller->online());
        QVERIFY(!controller->canEdit());
        QVERIFY(controller->timerForTests(QuizController::Timer::Reconnect).active);
        QCOMPARE(controller->answers(), (QVariantMap{{QStringLiteral("q1"), 2}}));
        QCOMPARE(controller->localPath(),
                 QuizControllerHarness::sessionFile(QStringLiteral("u1"), QStringLiteral("a1")));
    }

    void unusableReplyFailsAndKeepsTheConnectionState_data()
    {
        QTest::addColumn<bool>("failedBefore");
        QTest::newRow("fresh page") << false;
        QTest::newRow("after a failed load") << true;
    }

    void unusableReplyFailsAndKeepsTheConnectionState()
    {
        QFETCH(bool, failedBefore);
        const Response unusable = QuizControllerHarness::json(QJsonObject{
            {QStringLiteral("quiz"), QJsonObject{{QStringLiteral("id"), QStringLiteral("q")},
                                                 {QStringLiteral("type"), QStringLiteral("EXAM")}}}});
        QList<Response> answers{unusable};
        if (failedBefore)
            answers.prepend(Response(500));
        m_harness.answerDetails(answers);
        auto controller = m_harness.makeController();
        controller->setQuizId(QuizControllerHarness::kQuizId);
        if (failedBefore)
            QVERIFY(m_harness.load(*controller));

        QVERIFY(m_harness.load(*controller));

        QCOMPARE(controller->state(), QuizController::Failed);
        QCOMPARE(controller->errorMessage(), QStringLiteral("Quiz response has an invalid type"));
        QCOMPARE(controller->online(), !failedBefore);
        QCOMPARE(controller->timerForTests(QuizController::Timer::Reconnect).active, failedBefore);
        QVERIFY(m_harness.settle());
        QCOMPARE(server().requestCount(QuizControllerHarness::attemptsRoute()), 0);
    }

    void reloadMergesPendingAnswers_data()
    {
        QTest::addColumn<QJsonObject>("saved");
        QTest::addColumn<QJsonArray>("serverAnswers");
        QTest::addColumn<bool>("reloadCarriesTheAttempt");
        QTest::addColumn<QVariantMap>("answers");
        QTest::addColumn<QVariantMap>("selfGrades");

        const QJsonArray server{QuizControllerHarness::answer(QStringLiteral("q1"), 1),
                                QuizControllerHarness::answer(QStringLiteral("q2"), 0)};
        QTest::newRow("pending answer over the server's")
            << QJsonObject{{QStringLiteral("pending"), QJsonObject{{QStringLiteral("q1"), 2}}}} << server
            << true << QVariantMap{{QStringLiteral("q1"), 2}, {QStringLiteral("q2"), 0}} << QVariantMap();
        QTest::newRow("pending null removes the server's answer")
            << QJsonObject{{QStringLiteral("pending"), QJsonObject{{QStringLiteral("q2"), QJsonValue::Null}}}}
            << server << true << QVariantMap{{QStringLiteral("q1"), 1}} << QVariantMap();

        QJsonObject graded = QuizControllerHarness::answer(QStringLiteral("q1"), QStringLiteral("my answer"));
        graded.insert(QStringLiteral("selfGradedCorrect"), false);
        QTest::newRow("server self-grades added, others kept")
            << QJsonObject{{QStringLiteral("selfGrades"),
                            QJsonObject{{QStringLiteral("q1"), true}, {QStringLiteral("q3"), true}}}}
            << QJsonArray{graded} << true << QVariantMap{{QStringLiteral("q1"), QStringLiteral("my answer")}}
            << QVariantMap{{QStringLiteral("q1"), false}, {QStringLiteral("q3"), true}};
        QTest::newRow("details without an attempt keep it")
            << QJsonObject{{QStringLiteral("pending"), QJsonObject{{QStringLiteral("q1"), 2}}}} << server
            << false << QVariantMap{{QStringLiteral("q1"), 1}, {QStringLiteral("q2"), 0}} << QVariantMap();
    }

    void reloadMergesPendingAnswers()
    {
        QFETCH(QJsonObject, saved);
        QFETCH(QJsonArray, serverAnswers);
        QFETCH(bool, reloadCarriesTheAttempt);
        QFETCH(QVariantMap, answers);
        QFETCH(QVariantMap, selfGrades);

        // The first load brings the pending answers and grades back from the session file; the
        // file is gone before the reload, so only the merge of the reload acts.
        const QString file = QuizControllerHarness::sessionFile(QStringLiteral("u1"), QStringLiteral("a1"));
        QVERIFY(QuizDomain::saveSession(file, QuizControllerHarness::session(QStringLiteral("a1"), saved)));
        const QJsonObject withAttempt =
            details({{QStringLiteral("activeAttempt"),
                      QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE"),
                                                     serverAnswers)}});
        const auto controller = loaded(withAttempt);
        QVERIFY(controller);
        QVERIFY(QFile::remove(file));

        m_harness.answerDetails(reloadCarriesTheAttempt ? withAttempt : details());
        QVERIFY(m_harness.load(*controller));

        QCOMPARE(controller->state(),
                 reloadCarriesTheAttempt ? QuizController::Active : QuizController::Ready);
        QCOMPARE(controller->answers(), answers);
        QCOMPARE(controller->selfGrades(), selfGrades);
        QCOMPARE(controller->localPath(), file);
    }

    void historyListsFinishedAttemptsNewestFirst_data()
    {
        QTest::addColumn<Response>("laterAnswer");
        QTest::newRow("server error") << QuizControllerHarness::json(
            QJsonObject{{QStringLiteral("message"), QStringLiteral("Down")}}, 500);
        QTest::newRow("object instead of an array")
            << QuizControllerHarness::json(QJsonObject{{QStringLiteral("data"), QJsonArray()}});
    }

    void historyListsFinishedAttemptsNewestFirst()
    {
        QFETCH(Response, laterAnswer);
        const QJsonArray history{
            QuizControllerHarness::attempt(QStringLiteral("open"), QStringLiteral("ACTIVE")),
            QJsonObject{{QStringLiteral("status"), QStringLiteral("SUBMITTED")},
                        {QStringLiteral("submittedAt"), QStringLiteral("2024-05-09T10:00:00Z")}},
            finished(QStringLiteral("a"),
                     {{QStringLiteral("submittedAt"), QJsonValue::Null},
                      {QStringLiteral("startedAt"), QStringLiteral("2024-05-03T08:00:00Z")}}),
            finished(QStringLiteral("b"),
                     {{QStringLiteral("submittedAt"), QStringLiteral("2024-05-02T10:00:00Z")}}),
            finished(QStringLiteral("c"),
                     {{QStringLiteral("startedAt"), QStringLiteral("2024-05-04T08:00:00Z")}}),
            finished(QStringLiteral("d"),
                     {{QStringLiteral("submittedAt"), QStringLiteral("2024-05-02T10:00:00Z")}}),
        };
        m_harness.answerDetails(details());
        m_harness.answerHistory({QuizControllerHarness::json(history), laterAnswer});
        auto controller = m_harness.makeController();
        controller->setQuizId(QuizControllerHarness::kQuizId);

        QVERIFY(m_harness.load(*controller));
        QTRY_COMPARE(attemptIds(controller->attempts()), QStringList({"c", "b", "d", "a"}));

        QVERIFY(m_harness.load(*controller));
        QVERIFY(m_harness.waitForRequests(4));
        QCOMPARE(attemptIds(controller->attempts()), QStringList({"c", "b", "d", "a"}));
    }

    void availabilityOfATimedQuiz_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QJsonValue>("startsAt");
        QTest::addColumn<int>("durationSeconds");
        QTest::addColumn<qint64>("secondsAfterStart");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("available");
        QTest::addColumn<QString>("message");

        const QString timed = QStringLiteral("TIMED");
        const QJsonValue start = kStart.toString(Qt::ISODate);
        const QString startsAtText = QStringLiteral("This quiz starts at %1.");
        const auto localStart = [](const QLocale &locale) {
            return locale.toString(kStart.toLocalTime(), QLocale::ShortFormat);
        };
        QTest::newRow("a second before the start")
            << timed << start << 3600 << qint64(-1) << QStringLiteral("en_US") << false
            << startsAtText.arg(localStart(QLocale(QStringLiteral("en_US"))));
        QTest::newRow("before the start, in Arabic")
            << timed << start << 3600 << qint64(-1) << QStringLiteral("ar_EG") << false
            << startsAtText.arg(localStart(QLocale(QStringLiteral("ar_EG"))));
        QTest::newRow("at the start")
            << timed << start << 3600 << qint64(0) << QString() << true << kDeadlineText;
        QTest::newRow("at the end") << timed << start << 3600 << qint64(3600) << QString() << false
                                    << kExpiredText;
        QTest::newRow("a second before the end")
            << timed << start << 3600 << qint64(3599) << QString() << true << kDeadlineText;
        QTest::newRow("no duration, ten days on")
            << timed << start << 0 << qint64(10 * 86400) << QString() << true << kDeadlineText;
        QTest::newRow("start with an offset")
            << timed << QJsonValue(QStringLiteral("2031-03-14T11:30:00.000+02:00")) << 3600 << qint64(-1)
            << QStringLiteral("en_US") << false
            << startsAtText.arg(localStart(QLocale(QStringLiteral("en_US"))));
        QTest::newRow("no start") << timed << QJsonValue(QJsonValue::Undefined) << 3600 << qint64(-1)
                                  << QString() << true << QString();
        QTest::newRow("start not a time") << timed << QJsonValue(QStringLiteral("yesterday")) << 3600
                                          << qint64(-1) << QString() << true << QString();
        QTest::newRow("ordinary quiz")
            << QStringLiteral("ORDINARY") << start << 3600 << qint64(-1) << QString() << true << QString();
    }

    void availabilityOfATimedQuiz()
    {
        QFETCH(QString, type);
        QFETCH(QJsonValue, startsAt);
        QFETCH(int, durationSeconds);
        QFETCH(qint64, secondsAfterStart);
        QFETCH(QString, locale);
        QFETCH(bool, available);
        QFETCH(QString, message);

        QJsonObject quiz = QuizControllerHarness::quiz(type);
        if (!startsAt.isUndefined())
            quiz.insert(QStringLiteral("startsAt"), startsAt);
        quiz.insert(QStringLiteral("durationSeconds"), durationSeconds);
        const auto controller = loaded(QuizControllerHarness::details(quiz));
        QVERIFY(controller);
        QCOMPARE(controller->state(), QuizController::Ready);

        const QLocale previous;
        if (!locale.isEmpty())
            QLocale::setDefault(QLocale(locale));
        m_harness.now = kStart.addSecs(secondsAfterStart);
        const bool seenAvailable = controller->available();
        const QString seenMessage = controller->availabilityMessage();
        QLocale::setDefault(previous);

        QCOMPARE(seenAvailable, available);
        QCOMPARE(seenMessage, message);
    }

    void answeredCountCountsRealAnswers()
    {
        QJsonObject withoutAnswer{{QStringLiteral("questionId"), QStringLiteral("q6")}};
        const QJsonArray answers{QuizControllerHarness::answer(QStringLiteral("q1"), 0),
                                 QuizControllerHarness::answer(QStringLiteral("q2"), QStringLiteral("x")),
                                 QuizControllerHarness::answer(QStringLiteral("q3"), false),
                                 QuizControllerHarness::answer(QStringLiteral("q4"), QStringLiteral("  ")),
                                 QuizControllerHarness::answer(QStringLiteral("q5"), QJsonValue::Null),
                                 withoutAnswer,
                                 QuizControllerHarness::answer(QString(), 2)};
        const auto controller = loaded(details(
            {{QStringLiteral("activeAttempt"),
              QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE"), answers)}}));
        QVERIFY(controller);

        QCOMPARE(controller->answers().size(), 6);
        QCOMPARE(controller->answeredCount(), 3);
    }

    void currentQuestionIndexIsClamped_data()
    {
        QTest::addColumn<int>("questionCount");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("then");
        QTest::addColumn<int>("expected");
        QTest::newRow("below the first") << 10 << 3 << -5 << 0;
        QTest::newRow("past the last") << 10 << 0 << 99 << 9;
        QTest::newRow("inside") << 10 << 0 << 4 << 4;
        QTest::newRow("no questions") << 0 << 5 << 7 << 0;
    }

    void currentQuestionIndexIsClamped()
    {
        QFETCH(int, questionCount);
        QFETCH(int, first);
        QFETCH(int, then);
        QFETCH(int, expected);
        const auto controller = loaded(QuizControllerHarness::details(
            QuizControllerHarness::quiz(QStringLiteral("ORDINARY"), questionCount),
            {{QStringLiteral("activeAttempt"),
              QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE"))}}));
        QVERIFY(controller);

        controller->setCurrentQuestionIndex(first);
        controller->setCurrentQuestionIndex(then);

        QCOMPARE(controller->currentQuestionIndex(), expected);
        const QVariantMap current = controller->currentQuestion();
        QCOMPARE(current.value(QStringLiteral("id")).toString(),
                 questionCount == 0 ? QString() : QStringLiteral("q%1").arg(expected + 1));
        const QJsonObject saved = QuizControllerHarness::readSession(controller->localPath());
        if (questionCount > 0)
            QCOMPARE(saved.value(QStringLiteral("currentQuestionIndex")).toInt(-1), expected);
        else
            QVERIFY(saved.isEmpty());
    }

    void writingTheCurrentIndexDoesNothing()
    {
        const auto controller = loaded(
            details({{QStringLiteral("activeAttempt"),
                      QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE"))}}));
        QVERIFY(controller);
        QSignalSpy changed(controller.get(), &QuizController::changed);

        controller->setCurrentQuestionIndex(0);
        controller->setCurrentQuestionIndex(-1);
        QCOMPARE(changed.size(), 0);
        QVERIFY(!QFile::exists(controller->localPath()));

        controller->setCurrentQuestionIndex(3);
        QCOMPARE(changed.size(), 1);
        QVERIFY(QFile::remove(controller->localPath()));
        controller->setCurrentQuestionIndex(3);
        QCOMPARE(changed.size(), 1);
        QVERIFY(!QFile::exists(controller->localPath()));
    }

    void lateReplyAfterTheControllerIsGoneIsHarmless_data()
    {
        QTest::addColumn<QString>("heldRoute");
        QTest::addColumn<bool>("start");
        QTest::newRow("load") << QuizControllerHarness::detailsRoute() << false;
        QTest::newRow("history") << QuizControllerHarness::attemptsRoute() << false;
        QTest::newRow("start") << QuizControllerHarness::attemptsRoute() << true;
    }

    void lateReplyAfterTheControllerIsGoneIsHarmless()
    {
        QFETCH(QString, heldRoute);
        QFETCH(bool, start);
        const Response detailsAnswer = QuizControllerHarness::json(details());
        const Response attemptsAnswer = QuizControllerHarness::json(QJsonArray());
        const Response startAnswer = QuizControllerHarness::json(
            QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE")));
        const auto holdIf = [&heldRoute](const QString &route, const Response &response) {
            return route == heldRoute ? QuizControllerHarness::held(response) : response;
        };
        m_harness.answerDetails({holdIf(QuizControllerHarness::detailsRoute(), detailsAnswer)});
        m_harness.answerHistory(
            {start ? attemptsAnswer : holdIf(QuizControllerHarness::attemptsRoute(), attemptsAnswer)});
        m_harness.answerStart({QuizControllerHarness::held(startAnswer)});
        auto controller = m_harness.makeController();
        controller->setQuizId(QuizControllerHarness::kQuizId);

        controller->open();
        int expected = 1;
        if (heldRoute != QuizControllerHarness::detailsRoute()) {
            QTRY_COMPARE(controller->state(), QuizController::Ready);
            expected = 2;
        }
        if (start) {
            QVERIFY(m_harness.waitForRequests(2));
            controller->startAttempt(QStringLiteral("bob"));
            QVERIFY(controller->startingAttempt());
            expected = 3;
        }
        QTRY_COMPARE(server().totalRequestCount(), expected);
        const QPointer<QuizController> watched(controller.get());
        controller.reset();

        server().release(heldRoute);
        QVERIFY(m_harness.waitForRequests(expected));
        QVERIFY(watched.isNull());
        QCOMPARE(m_harness.sent().size(), expected);
        QVERIFY(
            !QFile::exists(QuizControllerHarness::sessionFile(QStringLiteral("u1"), QStringLiteral("a1"))));
    }
};

QTEST_GUILESS_MAIN(tst_QuizControllerLoad)
#include "tst_QuizControllerLoad.moc"
