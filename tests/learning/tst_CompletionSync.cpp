#include "app/DiagnosticLogger.h"
#include "tests/learning/LearningProgressHarness.h"
#include "testsupport/LogRecorder.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::LearningProgressHarness;
using quorin::test::LogRecorder;
using quorin::test::NetworkManagerHarness;
using Report = std::function<void(LearningProgressController &)>;

Q_DECLARE_METATYPE(Report)
Q_DECLARE_METATYPE(FixtureServer::Response)

namespace {

const QString kUser = QStringLiteral("u1");
const QString kOtherUser = QStringLiteral("u2");
const QString kPendingKey = QStringLiteral("learningProgressPending/u1");
const QString kCourse = QStringLiteral("c1");
const QString r1 = QStringLiteral("r1");
const QString r2 = QStringLiteral("r2");
const QString r3 = QStringLiteral("r3");
const QByteArray kCompleteBody = R"({"isCompleted":true})";
const QByteArray kIncompleteBody = R"({"isCompleted":false})";
const QString kContentsPrefix = QStringLiteral("/api/v1/contents/");
const QString kProgressSuffix = QStringLiteral("/progress");
constexpr int kLongRetryMs = 60000;

const QString kSaveStarted = QStringLiteral("log save_started");
const QString kSaveSucceeded = QStringLiteral("log save_result success");
const QString kSaveFailed = QStringLiteral("log save_result failure");
const QString kRollback = QStringLiteral("log rollback");
const QString kRetryScheduled = QStringLiteral("log retry_scheduled");
const QString kDelayNotice = QStringLiteral("progressSyncDelayed PROGRESS_SYNC_DELAYED network retryable The "
                                            "server is unavailable. Your change is saved and will sync "
                                            "automatically.");

QString changed(const QString &id, bool completed, bool pending)
{
    const auto word = [](bool value) { return value ? QStringLiteral("true") : QStringLiteral("false"); };
    return QStringLiteral("completionChanged %1 %2 %3").arg(id, word(completed), word(pending));
}

QString describe(const AppFailure &failure)
{
    return QStringLiteral("%1 %2 %3 %4")
        .arg(failure.code, failure.category,
             failure.retryable ? QStringLiteral("retryable") : QStringLiteral("final"), failure.userMessage);
}

QString progressRoute(const QString &encodedId)
{
    return kContentsPrefix + encodedId + kProgressSuffix;
}

// The id of a completion request's path, as sent; empty for any other path.
QString progressIdOf(const QByteArray &path)
{
    const QString text = QString::fromUtf8(path);
    if (!text.startsWith(kContentsPrefix) || !text.endsWith(kProgressSuffix))
        return {};
    return text.mid(kContentsPrefix.size(), text.size() - kContentsPrefix.size() - kProgressSuffix.size());
}

QVariantMap pendingEntry(const QString &id, const QVariant &hadPreviousRecord, const QVariantMap &previous)
{
    QVariantMap entry{{QStringLiteral("resourceId"), id},
                      {QStringLiteral("courseId"), kCourse},
                      {QStringLiteral("previousRecord"), previous}};
    if (hadPreviousRecord.isValid())
        entry.insert(QStringLiteral("hadPreviousRecord"), hadPreviousRecord);
    return entry;
}

QStringList queuedIds()
{
    QStringList ids;
    for (const QVariant &entry : LearningProgressHarness::stored(kPendingKey).toList())
        ids.append(entry.toMap().value(QStringLiteral("resourceId")).toString());
    return ids;
}

// The settings keys of the learning activity and its queue, whatever the user.
QStringList progressKeys()
{
    QStringList keys;
    const QStringList all = QSettings(QStringLiteral("quorin"), QStringLiteral("desktop")).allKeys();
    for (const QString &key : all) {
        if (key.startsWith(QLatin1String("learningActivity")) ||
            key.startsWith(QLatin1String("learningProgressPending")))
            keys.append(key);
    }
    return keys;
}

// What views and the log heard, in order: the controller's result signals, each after the
// progress records logged before it ("log <event>", with the result of a "save_result").
class Timeline : public QObject
{
public:
    Timeline(LearningProgressController &controller, const LogRecorder &log)
        : m_log(log)
        , m_logSeen(log.inCategory(QStringLiteral("progress")).size())
    {
        connect(&controller, &LearningProgressController::completionChanged, this,
                [this](const QString &id, bool completed, bool pending) {
                    add(changed(id, completed, pending));
                });
        connect(
            &controller, &LearningProgressController::progressError, this,
            [this](const AppFailure &failure) { add(QStringLiteral("progressError ") + describe(failure)); });
        connect(&controller, &LearningProgressController::progressSyncDelayed, this,
                [this](const AppFailure &failure) {
                    add(QStringLiteral("progressSyncDelayed ") + describe(failure));
                });
    }

    [[nodiscard]] QStringList entries()
    {
        takeLog();
        return m_entries;
    }
    [[nodiscard]] qsizetype size() { return entries().size(); }
    [[nodiscard]] qsizetype count(const QString &entry) { return entries().count(entry); }

private:
    void add(const QString &entry)
    {
        takeLog();
        m_entries.append(entry);
    }

    void takeLog()
    {
        const QList<LogRecorder::Record> records = m_log.inCategory(QStringLiteral("progress"));
        for (qsizetype index = m_logSeen; index < records.size(); ++index) {
            const LogRecorder::Record &record = records.at(index);
            QString entry = QStringLiteral("log ") + record.event;
            if (record.fields.contains(QStringLiteral("result")))
                entry += QLatin1Char(' ') + record.field(QStringLiteral("result"));
            m_entries.append(entry);
        }
        m_logSeen = records.size();
    }

    const LogRecorder &m_log;
    qsizetype m_logSeen;
    QStringList m_entries;
};

// The completion requests as the fixture saw them: "sent <id>" when one arrived and
// "answered <id>" when its answer left or its connection closed, with the most outstanding at once.
class ProgressTraffic : public QObject
{
public:
    explicit ProgressTraffic(FixtureServer &server)
    {
        connect(&server, &FixtureServer::requestReceived, this,
                [this](const FixtureServer::Request &request) {
                    const QString id = progressIdOf(request.path);
                    if (id.isEmpty())
                        return;
                    events.append(QStringLiteral("sent ") + id);
                    m_inFlight += 1;
                    maxInFlight = qMax(maxInFlight, m_inFlight);
                });
        connect(&server, &FixtureServer::responseFinished, this, [this](const QByteArray &path) {
            const QString id = progressIdOf(path);
            if (id.isEmpty())
                return;
            events.append(QStringLiteral("answered ") + id);
            m_inFlight -= 1;
        });
    }

    [[nodiscard]] qsizetype count(const QString &event) const { return events.count(event); }

    QStringList events;
    int maxInFlight = 0;

private:
    int m_inFlight = 0;
};

} // namespace

// Completion marks applied locally at once and confirmed with the server: the queue of
// completions sent one at a time in order, retried after passing failures and kept across sign-outs,
// incompletions that need the server now, and what is undone when the server refuses.
class tst_CompletionSync : public QObject
{
    Q_OBJECT

private:
    LearningProgressHarness m_harness;
    std::unique_ptr<LogRecorder> m_log;

    [[nodiscard]] FixtureServer &server() { return m_harness.network().server(); }
    [[nodiscard]] NetworkManager &manager() { return m_harness.manager(); }

    [[nodiscard]] bool signIn() { return !m_harness.network().signIn(manager()).isEmpty(); }
    [[nodiscard]] bool settle() { return m_harness.network().settle(manager()); }

    [[nodiscard]] std::unique_ptr<LearningProgressController>
    controllerFor(const QString &userId, int retryIntervalMs = kLongRetryMs)
    {
        return m_harness.makeSignedInController(
            userId, LearningProgressHarness::ControllerOptions{10000, retryIntervalMs});
    }

    [[nodiscard]] QList<QByteArray> bodiesTo(const QString &encodedId)
    {
        QList<QByteArray> bodies;
        for (const FixtureServer::Request &request :
             m_harness.network().server().requests(progressRoute(encodedId))) {
            if (request.method == "POST")
                bodies.append(request.body);
        }
        return bodies;
    }

    [[nodiscard]] int requestsTo(const QString &encodedId)
    {
        return server().requestCount(progressRoute(encodedId));
    }

    // True once the backend client has handed the callback of a request to this path its answer:
    // the client logs the request's end right before it calls back.
    [[nodiscard]] qsizetype repliesHandled(const QString &relativePath) const
    {
        qsizetype handled = 0;
        for (const LogRecorder::Record &record : m_log->withEvent(QStringLiteral("request_complete")))
            handled += record.field(QStringLiteral("endpoint")) == relativePath ? 1 : 0;
        return handled;
    }

    // Opens the resource and reports video position 42000 and PDF page 3, all written.
    static void openWithResumePoint(LearningProgressController &controller, const QString &id)
    {
        LearningProgressHarness::open(controller, id);
        controller.updateVideoPosition(id, 42000, 120000, true);
        controller.updatePdfPage(id, 3, 10);
        controller.flush();
    }

    static void openCompleted(LearningProgressController &controller, const QString &id)
    {
        LearningProgressHarness::open(controller, id, QStringLiteral("VIDEO"),
                                      QStringLiteral("https://media.example/lecture.m3u8"), true);
    }

    static FixtureServer::Response held(const FixtureServer::Response &response)
    {
        FixtureServer::Response holding = response;
        holding.held = true;
        return holding;
    }

    static FixtureServer::Response ok() { return FixtureServer::Response::json("{}"); }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init()
    {
        m_harness.init();
        m_log = std::make_unique<LogRecorder>();
    }
    void cleanup()
    {
        m_log.reset();
        m_harness.cleanup();
    }

    void aNeverOpenedResourceMarkedComplete()
    {
        QVERIFY(signIn());
        server().setResponse(progressRoute(r1), held(ok()));
        auto controller = controllerFor(kUser);
        Timeline timeline(*controller, *m_log);
        ProgressTraffic traffic(server());

        controller->setCompleted(r1, kCourse, true);

        const QVariantMap record = LearningProgressHarness::storedRecord(kUser, r1);
        QCOMPARE(record, LearningProgressHarness::completionRecord(r1, m_harness.nowStamp()));
        QVERIFY(controller->isCompleted(r1));
        QCOMPARE(controller->progress(r1), 1.0);
        QCOMPARE(controller->recentItems(), QVariantList());
        QCOMPARE(LearningProgressHarness::stored(kPendingKey),
                 QVariant(QVariantList{pendingEntry(r1, false, QVariantMap())}));
        QTRY_COMPARE(traffic.events, QStringList{QStringLiteral("sent r1")});
        QVERIFY(controller->isPending(r1));
        QCOMPARE(timeline.entries(), QStringList({kSaveStarted, changed(r1, true, true)}));
        const QList<FixtureServer::Request> requests = server().requests(progressRoute(r1));
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().method, QByteArray("POST"));
        QCOMPARE(requests.first().target, QByteArray("/api/v1/contents/r1/progress"));
        QCOMPARE(QJsonDocument::fromJson(requests.first().body), QJsonDocument::fromJson(kCompleteBody));

        server().release(progressRoute(r1));

        QTRY_VERIFY(!controller->isPending(r1));
        QCOMPARE(timeline.entries(), QStringList({kSaveStarted, changed(r1, true, true), kSaveSucceeded,
                                                  changed(r1, true, false)}));
        QCOMPARE(LearningProgressHarness::stored(kPendingKey), QVariant(QVariantList()));
        QCOMPARE(LearningProgressHarness::storedRecord(kUser, r1), record);
        QVERIFY(controller->isCompleted(r1));

        const auto started = m_harness.network().logRecords(QStringLiteral("save_started"));
        QCOMPARE(started.size(), 1);
        QCOMPARE(started.first().value(QStringLiteral("category")), QStringLiteral("progress"));
        QCOMPARE(started.first().value(QStringLiteral("level")), QStringLiteral("info"));
        QCOMPARE(started.first().value(QStringLiteral("completed")), QStringLiteral("true"));
        QCOMPARE(started.first().value(QStringLiteral("resource_fp")), DiagnosticLogger::fingerprint(r1));
        const auto results = m_harness.network().logRecords(QStringLiteral("save_result"));
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().value(QStringLiteral("result")), QStringLiteral("success"));
        QCOMPARE(results.first().value(QStringLiteral("level")), QStringLiteral("info"));
        QCOMPARE(results.first().value(QStringLiteral("resource_fp")), DiagnosticLogger::fingerprint(r1));
    }

    void theReplyToAQueuedCompletion_data()
    {
        QTest::addColumn<bool>("opened");
        QTest::addColumn<FixtureServer::Response>("answer");
        QTest::addColumn<bool>("dropConnection");
        QTest::addColumn<QStringList>("afterTheFirstSignal");
        QTest::addColumn<bool>("restored");
        QTest::addColumn<bool>("queued");

        const QStringList refused{kRollback,
                                  QStringLiteral("progressError HTTP_422 validation final Not allowed"),
                                  changed(r1, false, false)};
        const QStringList refusedWithFreshTokens{
            kRollback, QStringLiteral("progressError HTTP_403 authentication final Not yours"),
            changed(r1, false, false)};
        for (const bool opened : {true, false}) {
            const char *resource = opened ? "opened" : "never opened";
            QTest::addRow("%s, 200", resource)
                << opened << ok() << false << QStringList({kSaveSucceeded, changed(r1, true, false)}) << false
                << false;
            QTest::addRow("%s, 503", resource)
                << opened << FixtureServer::Response::json(R"({"message":"Down"})", 503) << false
                << QStringList({kRetryScheduled, kDelayNotice}) << false << true;
            QTest::addRow("%s, connection dropped", resource)
                << opened << FixtureServer::Response::hung() << true
                << QStringList({kRetryScheduled, kDelayNotice}) << false << true;
            QTest::addRow("%s, 422", resource)
                << opened << FixtureServer::Response::json(R"({"message":"Not allowed"})", 422) << false
                << refused << true << false;
            // Refused again after a successful refresh: the session is still valid.
            QTest::addRow("%s, 403 with fresh tokens", resource)
                << opened << FixtureServer::Response::json(R"({"message":"Not yours"})", 403) << false
                << refusedWithFreshTokens << true << false;
        }
    }

    void theReplyToAQueuedCompletion()
    {
        QFETCH(bool, opened);
        QFETCH(FixtureServer::Response, answer);
        QFETCH(bool, dropConnection);
        QFETCH(QStringList, afterTheFirstSignal);
        QFETCH(bool, restored);
        QFETCH(bool, queued);
        QVERIFY(signIn());
        m_harness.network().answerRefresh(m_harness.network().tokenExpiringIn(3600),
                                          QStringLiteral("refresh-2"));
        server().setResponse(progressRoute(r1), answer);
        auto controller = controllerFor(kUser);
        if (opened)
            openWithResumePoint(*controller, r1);
        const QVariantMap before = LearningProgressHarness::storedRecord(kUser, r1);
        Timeline timeline(*controller, *m_log);

        if (dropConnection) {
            // The network layer sends a request again on a new connection when one closes before
            // any answer, a few times; each is dropped too.
            connect(&server(), &FixtureServer::requestReceived, controller.get(),
                    [this](const FixtureServer::Request &request) {
                        if (progressIdOf(request.path) == r1)
                            QTimer::singleShot(0, &server(), [this] { server().closeAllConnections(); });
                    });
        }

        controller->setCompleted(r1, kCourse, true);
        const QVariantMap marked = LearningProgressHarness::storedRecord(kUser, r1);

        const QStringList expected =
            QStringList({kSaveStarted, changed(r1, true, true)}) + afterTheFirstSignal;
        QTRY_COMPARE(timeline.size(), expected.size());
        QCOMPARE(timeline.entries(), expected);
        QCOMPARE(marked.value(QStringLiteral("completed")), QVariant(true));
        QCOMPARE(marked.value(QStringLiteral("positionMs")), QVariant(qint64(0)));
        QCOMPARE(marked.value(QStringLiteral("pageIndex")), QVariant(-1));
        QCOMPARE(LearningProgressHarness::storedRecord(kUser, r1), restored ? before : marked);
        QCOMPARE(controller->isCompleted(r1), !restored);
        QCOMPARE(queuedIds(), queued ? QStringList{r1} : QStringList());
        QCOMPARE(controller->isPending(r1), queued);
        for (const QByteArray &body : bodiesTo(r1))
            QCOMPARE(QJsonDocument::fromJson(body), QJsonDocument::fromJson(kCompleteBody));
        if (restored) {
            const auto rollbacks = m_harness.network().logRecords(QStringLiteral("rollback"));
            QCOMPARE(rollbacks.size(), 1);
            QCOMPARE(rollbacks.first().value(QStringLiteral("level")), QStringLiteral("warning"));
            QCOMPARE(rollbacks.first().value(QStringLiteral("resource_fp")),
                     DiagnosticLogger::fingerprint(r1));
        }
        if (queued) {
            QVERIFY(LearningProgressHarness::retryTimer(*controller)->isActive());
            QCOMPARE(m_harness.network().logRecords(QStringLiteral("retry_scheduled")).size(), 1);
        }
    }

    // r1 is held until r2 would have reached the fixture had it been sent beside it; after a
    // delay, the head is retried before anything behind it.
    void theQueueGoesOutInOrderOneAtATime_data()
    {
        QTest::addColumn<QList<FixtureServer::Response>>("answersToR1");
        QTest::addColumn<QStringList>("traffic");

        QTest::newRow("held, then 200")
            << QList<FixtureServer::Response>{held(ok())}
            << QStringList({QStringLiteral("sent r1"), QStringLiteral("answered r1"),
                            QStringLiteral("sent r2"), QStringLiteral("answered r2")});
        QTest::newRow("503, then 200 on the retry")
            << QList<FixtureServer::Response>{FixtureServer::Response::json("{}", 503), ok()}
            << QStringList({QStringLiteral("sent r1"), QStringLiteral("answered r1"),
                            QStringLiteral("sent r1"), QStringLiteral("answered r1"),
                            QStringLiteral("sent r2"), QStringLiteral("answered r2")});
    }

    void theQueueGoesOutInOrderOneAtATime()
    {
        QFETCH(QList<FixtureServer::Response>, answersToR1);
        QFETCH(QStringList, traffic);
        QVERIFY(signIn());
        server().setResponses(progressRoute(r1), answersToR1);
        server().setResponse(progressRoute(r2), ok());
        auto controller = controllerFor(kUser, 200);
        Timeline timeline(*controller, *m_log);
        ProgressTraffic seen(server());

        controller->setCompleted(r1, kCourse, true);
        controller->setCompleted(r2, kCourse, true);
        QTRY_VERIFY(seen.count(QStringLiteral("sent r1")) == 1);
        QVERIFY(settle());
        QVERIFY(controller->isPending(r2));
        server().release(progressRoute(r1));

        QTRY_COMPARE(seen.events, traffic);
        QTRY_VERIFY(!controller->isPending(r2));
        QCOMPARE(seen.maxInFlight, 1);
        QCOMPARE(timeline.count(changed(r1, true, false)), 1);
        QCOMPARE(timeline.count(changed(r2, true, false)), 1);
        QVERIFY(timeline.entries().indexOf(changed(r1, true, false)) <
                timeline.entries().indexOf(changed(r2, true, false)));
        QCOMPARE(queuedIds(), QStringList());
    }

    void aRepeatedDelayIsAnnouncedOnceAndRestartsTheRetry()
    {
        QVERIFY(signIn());
        server().setResponse(progressRoute(r1), FixtureServer::Response::json("{}", 503));
        server().setResponse(progressRoute(r2), ok());
        auto controller = controllerFor(kUser, 20000);
        QTimer *retryTimer = LearningProgressHarness::retryTimer(*controller);
        Timeline timeline(*controller, *m_log);
        ProgressTraffic seen(server());

        controller->setCompleted(r1, kCourse, true);
        QTRY_COMPARE(timeline.count(kDelayNotice), 1);
        const int firstRemaining = retryTimer->remainingTime();
        QVERIFY(firstRemaining > 0);
        // Far enough into the interval that a restart shows beyond coarse timer rounding.
        const int elapsedEnough = firstRemaining - 2000;
        QTRY_VERIFY_WITH_TIMEOUT(retryTimer->remainingTime() <= elapsedEnough, 10000);

        // A new completion sends the head again, which is still unavailable.
        controller->setCompleted(r2, kCourse, true);

        QTRY_COMPARE(timeline.count(kRetryScheduled), 2);
        QVERIFY(retryTimer->remainingTime() > elapsedEnough);
        QCOMPARE(timeline.count(kDelayNotice), 1);
        QCOMPARE(seen.events, QStringList({QStringLiteral("sent r1"), QStringLiteral("answered r1"),
                                           QStringLiteral("sent r1"), QStringLiteral("answered r1")}));
        QCOMPARE(queuedIds(), QStringList({r1, r2}));
    }

    void aDelayAfterASyncIsAnnouncedAgain()
    {
        QVERIFY(signIn());
        const FixtureServer::Response unavailable = FixtureServer::Response::json("{}", 503);
        // The completion, its retry, the incompletion, the new completion.
        server().setResponses(progressRoute(r1), {unavailable, ok(), ok(), unavailable});
        auto controller = controllerFor(kUser, 100);
        Timeline timeline(*controller, *m_log);

        controller->setCompleted(r1, kCourse, true);
        QTRY_COMPARE(timeline.count(changed(r1, true, false)), 1);
        controller->setCompleted(r1, kCourse, false);
        QTRY_COMPARE(timeline.count(changed(r1, false, false)), 1);
        controller->setCompleted(r1, kCourse, true);
        QTRY_COMPARE(timeline.count(kDelayNotice), 2);

        QCOMPARE(bodiesTo(r1),
                 QList<QByteArray>({kCompleteBody, kCompleteBody, kIncompleteBody, kCompleteBody}));
    }

    void markingIncompleteSignedOutIsRefused()
    {
        auto controller = controllerFor(kUser);
        openCompleted(*controller, r1);
        const QVariantMap before = LearningProgressHarness::storedRecord(kUser, r1);
        Timeline timeline(*controller, *m_log);

        controller->setCompleted(r1, kCourse, false);

        QCOMPARE(
            timeline.entries(),
            QStringList({kSaveStarted,
                         QStringLiteral("progressError INCOMPLETE_REQUIRES_ONLINE network retryable Connect "
                                        "to the internet to mark a lesson incomplete."),
                         changed(r1, true, false)}));
        QCOMPARE(LearningProgressHarness::storedRecord(kUser, r1), before);
        QVERIFY(controller->isCompleted(r1));
        QVERIFY(!controller->isPending(r1));
        QCOMPARE(queuedIds(), QStringList());
        QVERIFY(settle());
        QCOMPARE(m_harness.network().sentByCodeUnderTest(), QStringList());
    }

    void markingIncompleteSignedIn_data()
    {
        QTest::addColumn<FixtureServer::Response>("answer");
        QTest::addColumn<QStringList>("afterTheReply");
        QTest::addColumn<bool>("completedAfter");
        QTest::addColumn<QString>("resultLevel");

        QTest::newRow("200") << ok() << QStringList({kSaveSucceeded, changed(r1, false, false)}) << false
                             << QStringLiteral("info");
        QTest::newRow("500") << FixtureServer::Response::json(R"({"message":"Broken"})", 500)
                             << QStringList({kRollback,
                                             QStringLiteral("progressError HTTP_500 server retryable Broken"),
                                             kSaveFailed, changed(r1, true, false)})
                             << true << QStringLiteral("warning");
    }

    void markingIncompleteSignedIn()
    {
        QFETCH(FixtureServer::Response, answer);
        QFETCH(QStringList, afterTheReply);
        QFETCH(bool, completedAfter);
        QFETCH(QString, resultLevel);
        QVERIFY(signIn());
        server().setResponse(progressRoute(r1), held(answer));
        auto controller = controllerFor(kUser);
        openCompleted(*controller, r1);
        const QVariantMap before = LearningProgressHarness::storedRecord(kUser, r1);
        Timeline timeline(*controller, *m_log);

        controller->setCompleted(r1, kCourse, false);

        QTRY_COMPARE(requestsTo(r1), 1);
        QCOMPARE(bodiesTo(r1), QList<QByteArray>{kIncompleteBody});
        QVERIFY(controller->isPending(r1));
        QVERIFY(!controller->isCompleted(r1));
        QCOMPARE(queuedIds(), QStringList());
        const QStringList beforeTheReply{kSaveStarted, changed(r1, false, true)};
        QCOMPARE(timeline.entries(), beforeTheReply);

        server().release(progressRoute(r1));

        QTRY_VERIFY(!controller->isPending(r1));
        QCOMPARE(timeline.entries(), beforeTheReply + afterTheReply);
        QCOMPARE(controller->isCompleted(r1), completedAfter);
        QVariantMap expected = before;
        expected.insert(QStringLiteral("completed"), completedAfter);
        QCOMPARE(LearningProgressHarness::storedRecord(kUser, r1), expected);
        const auto results = m_harness.network().logRecords(QStringLiteral("save_result"));
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().value(QStringLiteral("level")), resultLevel);
        QCOMPARE(m_harness.network().logRecords(QStringLiteral("rollback")).size(), completedAfter ? 1 : 0);
    }

    // The backend client ends the session inside the request call when the access token is
    // about to expire and there is no refresh token: the settled state must still be the last.
    void theSettledStateIsTheLastWordWhenTheSessionEndsInsideTheCall()
    {
        m_harness.network().keychain().setValue(QStringLiteral("accessToken"),
                                                QString::fromUtf8(m_harness.network().tokenExpiringIn(30)));
        m_harness.setManager(m_harness.network().makeManager());
        QVERIFY(manager().isAuthenticated());
        auto controller = controllerFor(kUser);
        openCompleted(*controller, r1);
        Timeline timeline(*controller, *m_log);

        controller->setCompleted(r1, kCourse, false);

        QCOMPARE(timeline.entries(),
                 QStringList({kSaveStarted, changed(r1, false, true), kRollback,
                              QStringLiteral("progressError HTTP_401 authentication final Your session has "
                                             "expired. Please sign in again."),
                              kSaveFailed, changed(r1, true, false)}));
        QVERIFY(!controller->isPending(r1));
        QCOMPARE(LearningProgressHarness::storedField(kUser, r1, QStringLiteral("completed")),
                 QVariant(true));
        QCOMPARE(server().totalRequestCount(), 0);
    }

    void aRepeatWhilePendingIsIgnored_data()
    {
        QTest::addColumn<bool>("first");
        QTest::addColumn<bool>("repeat");

        QTest::newRow("queued completion, complete again") << true << true;
        QTest::newRow("queued completion, then incomplete") << true << false;
        QTest::newRow("incompletion in flight, incomplete again") << false << false;
        QTest::newRow("incompletion in flight, then complete") << false << true;
    }

    void aRepeatWhilePendingIsIgnored()
    {
        QFETCH(bool, first);
        QFETCH(bool, repeat);
        QVERIFY(signIn());
        server().setResponse(progressRoute(r1), held(ok()));
        auto controller = controllerFor(kUser);
        LearningProgressHarness::open(*controller, r1, QStringLiteral("VIDEO"),
                                      QStringLiteral("https://media.example/lecture.m3u8"), !first);
        Timeline timeline(*controller, *m_log);
        controller->setCompleted(r1, kCourse, first);
        QTRY_COMPARE(requestsTo(r1), 1);
        const QStringList heard = timeline.entries();
        const int revision = controller->revision();
        const QVariantMap record = LearningProgressHarness::storedRecord(kUser, r1);
        const QVariant queue = LearningProgressHarness::stored(kPendingKey);

        controller->setCompleted(r1, kCourse, repeat);

        QCOMPARE(timeline.entries(), heard + QStringList{kSaveStarted});
        QCOMPARE(controller->revision(), revision);
        QCOMPARE(LearningProgressHarness::storedRecord(kUser, r1), record);
        QCOMPARE(LearningProgressHarness::stored(kPendingKey), queue);
        QVERIFY(controller->isPending(r1));
        QVERIFY(settle());
        QCOMPARE(requestsTo(r1), 1);

        server().release(progressRoute(r1));
        QTRY_VERIFY(!controller->isPending(r1));
        QCOMPARE(controller->isCompleted(r1), first);
    }

    void withoutAUserNothingIsStoredOrSent()
    {
        QVERIFY(signIn());
        auto controller = m_harness.makeController();
        Timeline timeline(*controller, *m_log);

        controller->setCompleted(r1, kCourse, true);

        QCOMPARE(
            timeline.entries(),
            QStringList({kSaveStarted, QStringLiteral("progressError ACCOUNT_IDENTITY_UNAVAILABLE validation "
                                                      "final Your account identity is not available yet.")}));
        QCOMPARE(progressKeys(), QStringList());
        QVERIFY(!controller->isCompleted(r1));
        QVERIFY(!controller->isPending(r1));
        QVERIFY(settle());
        QCOMPARE(m_harness.network().sentByCodeUnderTest(), QStringList());
    }

    void changesThatDoNothing_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("completed");

        QTest::newRow("empty id") << QString() << true;
        QTest::newRow("dot") << QStringLiteral(".") << true;
        QTest::newRow("dot dot") << QStringLiteral("..") << true;
        QTest::newRow("dot dot, incomplete") << QStringLiteral("..") << false;
        QTest::newRow("never opened, incomplete") << r1 << false;
    }

    void changesThatDoNothing()
    {
        QFETCH(QString, id);
        QFETCH(bool, completed);
        QVERIFY(signIn());
        auto controller = controllerFor(kUser);
        Timeline timeline(*controller, *m_log);
        const int revision = controller->revision();

        controller->setCompleted(id, kCourse, completed);

        QCOMPARE(timeline.entries(), QStringList{kSaveStarted});
        QCOMPARE(controller->revision(), revision);
        QCOMPARE(progressKeys(), QStringList());
        QVERIFY(!controller->isPending(id));
        QVERIFY(settle());
        QCOMPARE(m_harness.network().sentByCodeUnderTest(), QStringList());
        const auto started = m_harness.network().logRecords(QStringLiteral("save_started"));
        QCOMPARE(started.size(), 1);
        QCOMPARE(started.first().value(QStringLiteral("resource_fp")), DiagnosticLogger::fingerprint(id));
    }

    void anOfflineQueueDrainsAfterSignIn()
    {
        const QVariantMap previous = LearningProgressHarness::openedRecord(
            r3, QStringLiteral("PDF"), QStringLiteral("https://media.example/notes.pdf"),
            m_harness.nowStamp());
        QVariantMap withAnExtraKey = pendingEntry(r3, true, previous);
        withAnExtraKey.insert(QStringLiteral("isCompleted"), true);
        LearningProgressHarness::seed(kPendingKey, QVariantList{pendingEntry(r1, false, QVariantMap()),
                                                                pendingEntry(r2, QVariant(), QVariantMap()),
                                                                withAnExtraKey});
        for (const QString &id : {r1, r2, r3})
            server().setResponse(progressRoute(id), ok());
        ProgressTraffic seen(server());
        auto controller = controllerFor(kUser);
        Timeline timeline(*controller, *m_log);
        QVERIFY(settle());
        QCOMPARE(m_harness.network().sentByCodeUnderTest(), QStringList());
        QVERIFY(controller->isPending(r2));

        QVERIFY(signIn());

        QTRY_COMPARE(queuedIds(), QStringList());
        QCOMPARE(seen.events, QStringList({QStringLiteral("sent r1"), QStringLiteral("answered r1"),
                                           QStringLiteral("sent r2"), QStringLiteral("answered r2"),
                                           QStringLiteral("sent r3"), QStringLiteral("answered r3")}));
        QCOMPARE(seen.maxInFlight, 1);
        for (const QString &id : {r1, r2, r3})
            QCOMPARE(bodiesTo(id), QList<QByteArray>{kCompleteBody});
        QCOMPARE(timeline.entries(),
                 QStringList({kSaveSucceeded, changed(r1, true, false), kSaveSucceeded,
                              changed(r2, true, false), kSaveSucceeded, changed(r3, true, false)}));
    }

    // A stored entry that names no resource could never be sent; it must not hold the rest.
    void anEntryThatCannotBeSentIsDropped()
    {
        LearningProgressHarness::seed(kPendingKey, QVariantList{pendingEntry(QStringLiteral(".."), false, {}),
                                                                QStringLiteral("not an entry"),
                                                                pendingEntry(r1, false, QVariantMap())});
        server().setResponse(progressRoute(r1), ok());
        QVERIFY(signIn());

        auto controller = controllerFor(kUser);

        QTRY_COMPARE(LearningProgressHarness::stored(kPendingKey), QVariant(QVariantList()));
        QCOMPARE(m_harness.network().sentByCodeUnderTest(),
                 QStringList{QStringLiteral("POST /api/v1/contents/r1/progress")});
    }

    // u2 has a completion of its own out when u1's reply comes back.
    void aLateReplyAfterAUserSwitchChangesNothing()
    {
        const QString otherPendingKey = QStringLiteral("learningProgressPending/u2");
        LearningProgressHarness::seed(otherPendingKey, QVariantList{pendingEntry(r2, false, QVariantMap())});
        QVERIFY(signIn());
        server().setResponse(progressRoute(r1), held(ok()));
        server().setResponse(progressRoute(r2), held(ok()));
        auto controller = controllerFor(kUser);
        controller->setCompleted(r1, kCourse, true);
        QTRY_COMPARE(requestsTo(r1), 1);
        const QVariantMap marked = LearningProgressHarness::storedRecord(kUser, r1);

        controller->setUserId(kOtherUser);
        QTRY_COMPARE(requestsTo(r2), 1);
        Timeline timeline(*controller, *m_log);
        const int revision = controller->revision();
        server().release(progressRoute(r1));
        QTRY_COMPARE(repliesHandled(QStringLiteral("contents/r1/progress")), 1);
        QVERIFY(settle());

        QCOMPARE(timeline.entries(), QStringList());
        QCOMPARE(controller->revision(), revision);
        QVERIFY(!controller->isPending(r1));
        QVERIFY(!controller->isCompleted(r1));
        QVERIFY(controller->isPending(r2));
        QCOMPARE(requestsTo(r2), 1);
        QCOMPARE(LearningProgressHarness::stored(otherPendingKey),
                 QVariant(QVariantList{pendingEntry(r2, false, QVariantMap())}));
        QCOMPARE(queuedIds(), QStringList{r1});
        QCOMPARE(LearningProgressHarness::storedRecord(kUser, r1), marked);

        server().release(progressRoute(r2));
        QTRY_VERIFY(!controller->isPending(r2));
        controller->setUserId(kUser);

        QTRY_COMPARE(queuedIds(), QStringList());
        QCOMPARE(bodiesTo(r1), QList<QByteArray>({kCompleteBody, kCompleteBody}));
        QCOMPARE(timeline.entries().last(), changed(r1, true, false));
    }

    // u1 -> u2 -> u1 sends r1 again while its first request is out. The first reply comes back
    // at once and the second a while later; r2 may only follow the second.
    void aStaleReplyAfterSwitchingAwayAndBackChangesNothing()
    {
        QVERIFY(signIn());
        FixtureServer::Response later = held(ok());
        later.delayMs = 1500;
        server().setResponses(progressRoute(r1), {held(ok()), later});
        server().setResponse(progressRoute(r2), ok());
        ProgressTraffic seen(server());
        auto controller = controllerFor(kUser);
        controller->setCompleted(r1, kCourse, true);
        controller->setCompleted(r2, kCourse, true);
        QTRY_COMPARE(requestsTo(r1), 1);

        controller->setUserId(kOtherUser);
        controller->setUserId(kUser);
        QTRY_COMPARE(requestsTo(r1), 2);
        server().release(progressRoute(r1));

        QTRY_COMPARE(queuedIds(), QStringList());
        QVERIFY(settle());
        QCOMPARE(seen.events, QStringList({QStringLiteral("sent r1"), QStringLiteral("sent r1"),
                                           QStringLiteral("answered r1"), QStringLiteral("answered r1"),
                                           QStringLiteral("sent r2"), QStringLiteral("answered r2")}));
        QCOMPARE(requestsTo(r2), 1);
    }

    // When a refresh is refused, its waiters are served before the session's end is announced:
    // the reply still finds the user set, with a failure that reads as final.
    void theSessionEndingKeepsAnOfflineMark()
    {
        m_harness.setManager(m_harness.network().makeSignedInManager(m_harness.network().tokenExpiringIn(30),
                                                                     QStringLiteral("refresh-1")));
        server().setResponse(NetworkManagerHarness::route(QStringLiteral("auth/refresh")),
                             FixtureServer::Response::json(R"({"message":"Expired"})", 401));
        server().setResponse(progressRoute(r1), ok());
        auto controller = controllerFor(kUser);
        Timeline timeline(*controller, *m_log);
        QSignalSpy expired(&manager(), &NetworkManager::sessionExpired);

        controller->setCompleted(r1, kCourse, true);

        QVERIFY(expired.wait());
        QCOMPARE(controller->userId(), QString());
        QCOMPARE(timeline.entries(), QStringList({kSaveStarted, changed(r1, true, true), kRetryScheduled}));
        QCOMPARE(LearningProgressHarness::storedField(kUser, r1, QStringLiteral("completed")),
                 QVariant(true));
        QCOMPARE(LearningProgressHarness::stored(kPendingKey),
                 QVariant(QVariantList{pendingEntry(r1, false, QVariantMap())}));
        QCOMPARE(requestsTo(r1), 0);

        // Signing in again and setting the user, as the identity wiring does.
        QVERIFY(signIn());
        controller->setUserId(kUser);

        QTRY_COMPARE(queuedIds(), QStringList());
        QCOMPARE(bodiesTo(r1), QList<QByteArray>{kCompleteBody});
        QCOMPARE(timeline.entries().last(), changed(r1, true, false));
        QVERIFY(controller->isCompleted(r1));
    }

    // A mark queued today may be refused days later: only what the mark changed is undone.
    void aRefusedMarkKeepsWhatCameAfterIt_data()
    {
        QTest::addColumn<bool>("openedBefore");
        QTest::addColumn<Report>("since");
        QTest::addColumn<QVariantMap>("expected");

        QTest::newRow("opened; reopened, watched further and hidden since")
            << true << Report([](LearningProgressController &controller) {
                   LearningProgressHarness::open(controller, r1);
                   controller.updateVideoPosition(r1, 61000, 120000, true);
                   controller.removeRecentItem(r1);
               })
            << QVariantMap{{QStringLiteral("title"), QStringLiteral("Title of r1")},
                           {QStringLiteral("completed"), false},
                           {QStringLiteral("positionMs"), qint64(61000)},
                           {QStringLiteral("pageIndex"), 3},
                           {QStringLiteral("hiddenFromRecent"), true}};
        QTest::newRow("opened; nothing since") << true << Report([](LearningProgressController &) {})
                                               << QVariantMap{{QStringLiteral("completed"), false},
                                                              {QStringLiteral("positionMs"), qint64(42000)},
                                                              {QStringLiteral("pageIndex"), 3},
                                                              {QStringLiteral("hiddenFromRecent"), false}};
        QTest::newRow("never opened; opened since")
            << false << Report([](LearningProgressController &controller) {
                   LearningProgressHarness::open(controller, r1);
               })
            << QVariantMap{{QStringLiteral("title"), QStringLiteral("Title of r1")},
                           {QStringLiteral("completed"), false},
                           {QStringLiteral("positionMs"), qint64(0)},
                           {QStringLiteral("pageIndex"), -1}};
    }

    void aRefusedMarkKeepsWhatCameAfterIt()
    {
        QFETCH(bool, openedBefore);
        QFETCH(Report, since);
        QFETCH(QVariantMap, expected);
        QVERIFY(signIn());
        server().setResponses(progressRoute(r1), {FixtureServer::Response::json("{}", 503),
                                                  FixtureServer::Response::json(R"({"message":"No"})", 422)});
        auto controller = controllerFor(kUser);
        if (openedBefore)
            openWithResumePoint(*controller, r1);
        Timeline timeline(*controller, *m_log);
        controller->setCompleted(r1, kCourse, true);
        QTRY_COMPARE(timeline.count(kDelayNotice), 1);

        since(*controller);
        // A sign-in sends the queue again.
        QVERIFY(signIn());

        QTRY_COMPARE(timeline.count(changed(r1, false, false)), 1);
        const QVariantMap record = LearningProgressHarness::storedRecord(kUser, r1);
        for (auto value = expected.constBegin(); value != expected.constEnd(); ++value)
            QCOMPARE(record.value(value.key()), value.value());
        QCOMPARE(queuedIds(), QStringList());
    }

    void idsGoIntoThePathAsOneSegment_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QByteArray>("target");

        QTest::newRow("slash") << QStringLiteral("r/1") << QByteArray("/api/v1/contents/r%2F1/progress");
        QTest::newRow("query and fragment")
            << QStringLiteral("r?x=1#y") << QByteArray("/api/v1/contents/r%3Fx%3D1%23y/progress");
    }

    void idsGoIntoThePathAsOneSegment()
    {
        QFETCH(QString, id);
        QFETCH(QByteArray, target);
        QVERIFY(signIn());
        server().setResponse(QString::fromLatin1(target), ok());
        auto controller = controllerFor(kUser);
        Timeline timeline(*controller, *m_log);

        controller->setCompleted(id, kCourse, true);

        QTRY_COMPARE(timeline.count(changed(id, true, false)), 1);
        QCOMPARE(m_harness.network().sentByCodeUnderTest(),
                 QStringList{QStringLiteral("POST ") + QString::fromLatin1(target)});
    }
};

QTEST_MAIN(tst_CompletionSync)
#include "tst_CompletionSync.moc"
