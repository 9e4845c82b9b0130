#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/HlsProxyThread.h"
#include "testsupport/LogRecorder.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>
#include <QUuid>
#include <atomic>
#include <chrono>
#include <cmath>
#include <future>
#include <limits>

Q_DECLARE_METATYPE(TokenInfo)

using quorin::test::LogRecorder;
using SessionState = HlsProxyServer::SessionState;

namespace {

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QString newSessionId()
{
    return QUuid::createUuid().toString(QUuid::Id128);
}

SessionInfo sessionFor(const QString &lectureId, quint64 authGeneration = 1)
{
    SessionInfo info;
    info.lectureId = lectureId;
    info.playbackKey = QByteArray(16, 'k');
    info.playbackIv = QByteArray(16, 'i');
    info.masterIv = QByteArray(16, 'm');
    info.authorization = "Bearer first";
    info.acceptLanguage = "en";
    info.generation = 2;
    info.authGeneration = authGeneration;
    return info;
}

TokenInfo segmentToken(const QString &sessionId, quint64 sequence,
                       const QString &renditionId = "0123456789ab")
{
    TokenInfo info;
    info.url = QStringLiteral("https://media.example/v/seg-%1.ts").arg(sequence);
    info.lectureId = QStringLiteral("lecture");
    info.sessionId = sessionId;
    info.generation = 2;
    info.authorization = "Bearer first";
    info.sourceIv = QByteArray(16, '\x01');
    info.sequence = sequence;
    info.startMs = qint64(sequence) * 6000;
    info.durationMs = 6000;
    info.renditionId = renditionId;
    return info;
}

TokenInfo playlistToken(const QString &sessionId)
{
    TokenInfo info;
    info.url = QStringLiteral("https://media.example/v/master.m3u8");
    info.lectureId = QStringLiteral("lecture");
    info.sessionId = sessionId;
    info.generation = 2;
    return info;
}

// Counts the proxy's sessionStopped on the test thread, where the proxy's signal arrives queued.
class StoppedSessions : public QObject
{
public:
    explicit StoppedSessions(HlsProxyServer *server)
    {
        connect(server, &HlsProxyServer::sessionStopped, this, [this](const QString &id) { ids.append(id); });
    }

    QStringList ids;
};

QList<LogRecorder::Record> recordsOf(const LogRecorder &recorder, const QString &event, const QString &field,
                                     const QString &value)
{
    QList<LogRecorder::Record> matching;
    for (const LogRecorder::Record &record : recorder.withEvent(event)) {
        if (record.field(field) == value)
            matching.append(record);
    }
    return matching;
}

} // namespace

class tst_HlsProxyRegistries : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<HlsProxyThread> proxy;
    HlsProxyServer *server = nullptr;

    void setPlaybackState(const QString &sessionId, bool active, double rate, bool recentStall)
    {
        QVERIFY(QMetaObject::invokeMethod(server, "updatePlaybackState", Qt::BlockingQueuedConnection,
                                          Q_ARG(QString, sessionId), Q_ARG(bool, active), Q_ARG(double, rate),
                                          Q_ARG(bool, recentStall)));
    }

    void unregisterAndWait(HlsProxyServer *target, const QString &sessionId)
    {
        StoppedSessions stopped(target);
        target->unregisterSession(sessionId, QStringLiteral("test_end"));
        QTRY_VERIFY(stopped.ids.contains(sessionId));
    }

private Q_SLOTS:
    void initTestCase() { DiagnosticLogger::initialize(); }

    void cleanupTestCase() { DiagnosticLogger::shutdown(); }

    void init()
    {
        proxy = std::make_unique<HlsProxyThread>();
        server = proxy->server();
    }

    void cleanup()
    {
        proxy.reset();
        server = nullptr;
    }

    void registrationTimeAndReplacement()
    {
        const LogRecorder recorder;
        const QString sessionId = newSessionId();
        SessionInfo info = sessionFor(QStringLiteral("lecture-1"));
        info.registeredAtMs = 12345;

        const qint64 before = nowMs();
        server->registerSession(sessionId, info);
        const qint64 after = nowMs();

        SessionInfo stored;
        QVERIFY(server->getSession(sessionId, stored));
        QVERIFY(stored.registeredAtMs >= before && stored.registeredAtMs <= after);
        SessionInfo expected = info;
        expected.registeredAtMs = stored.registeredAtMs;
        QCOMPARE(stored, expected);

        for (int permit = 0; permit < 3; ++permit)
            QVERIFY(server->acquireRequest(sessionId));
        QCOMPARE(server->activeRequestCount(sessionId), 3);

        // Registering the id again replaces the record, renews the time and drops the permits.
        QTRY_VERIFY(nowMs() > stored.registeredAtMs);
        const SessionInfo replacement = sessionFor(QStringLiteral("lecture-2"), 7);
        server->registerSession(sessionId, replacement);
        SessionInfo renewed;
        QVERIFY(server->getSession(sessionId, renewed));
        QVERIFY(renewed.registeredAtMs > stored.registeredAtMs);
        QCOMPARE(renewed.lectureId, QStringLiteral("lecture-2"));
        QCOMPARE(renewed.authGeneration, 7u);
        QCOMPARE(server->activeRequestCount(sessionId), 0);

        const auto started = recorder.withEvent(QStringLiteral("session_started"));
        QCOMPARE(started.size(), 2);
        for (int index = 0; index < 2; ++index) {
            QCOMPARE(started[index].category, QStringLiteral("hls"));
            QCOMPARE(started[index].level, QStringLiteral("info"));
            QCOMPARE(started[index].fields.size(), 2);
            QCOMPARE(started[index].field(QStringLiteral("session_fp")),
                     DiagnosticLogger::fingerprint(sessionId));
        }
        QCOMPARE(started[0].field(QStringLiteral("lecture_fp")), DiagnosticLogger::fingerprint("lecture-1"));
        QCOMPARE(started[1].field(QStringLiteral("lecture_fp")), DiagnosticLogger::fingerprint("lecture-2"));
    }

    void requestPermits()
    {
        const QString sessionId = newSessionId();
        server->registerSession(sessionId, sessionFor(QStringLiteral("lecture")));

        for (int permit = 0; permit < HlsProxyServer::MaximumRequestsPerSession; ++permit)
            QVERIFY(server->acquireRequest(sessionId));
        QVERIFY(!server->acquireRequest(sessionId));
        QCOMPARE(server->activeRequestCount(sessionId), 8);

        server->releaseRequest(sessionId);
        QCOMPARE(server->activeRequestCount(sessionId), 7);
        QVERIFY(server->acquireRequest(sessionId));
        QVERIFY(!server->acquireRequest(sessionId));

        for (int release = 0; release < 12; ++release)
            server->releaseRequest(sessionId);
        QCOMPARE(server->activeRequestCount(sessionId), 0);
        // Releases beyond the permits held leave nothing to spend.
        for (int permit = 0; permit < HlsProxyServer::MaximumRequestsPerSession; ++permit)
            QVERIFY(server->acquireRequest(sessionId));
        QVERIFY(!server->acquireRequest(sessionId));

        const QString stranger = newSessionId();
        server->releaseRequest(stranger);
        QCOMPARE(server->activeRequestCount(stranger), 0);
        QVERIFY(!server->acquireRequest(stranger));
        QCOMPARE(server->activeRequestCount(stranger), 0);

        // A late release from a connection of a session that ended creates nothing.
        unregisterAndWait(server, sessionId);
        server->releaseRequest(sessionId);
        QCOMPARE(server->activeRequestCount(sessionId), 0);
        QVERIFY(!server->acquireRequest(sessionId));
        server->registerSession(sessionId, sessionFor(QStringLiteral("lecture")));
        QCOMPARE(server->activeRequestCount(sessionId), 0);
    }

    void sourceKeys_data()
    {
        QTest::addColumn<QByteArray>("key");
        QTest::addColumn<bool>("registered");
        QTest::addColumn<bool>("stored");

        QTest::newRow("16 bytes") << QByteArray(16, '\x11') << true << true;
        QTest::newRow("15 bytes") << QByteArray(15, '\x11') << true << false;
        QTest::newRow("17 bytes") << QByteArray(17, '\x11') << true << false;
        QTest::newRow("empty") << QByteArray() << true << false;
        QTest::newRow("unregistered session") << QByteArray(16, '\x11') << false << false;
    }

    void sourceKeys()
    {
        QFETCH(QByteArray, key);
        QFETCH(bool, registered);
        QFETCH(bool, stored);
        const QString sessionId = newSessionId();
        const QString keyUrl = QStringLiteral("https://media.example/v/key.bin");
        if (registered)
            server->registerSession(sessionId, sessionFor(QStringLiteral("lecture")));

        server->storeSourceKey(sessionId, keyUrl, key);
        QByteArray out = "untouched";
        QCOMPARE(server->sourceKey(sessionId, keyUrl, out), stored);
        QCOMPARE(out, stored ? key : QByteArray("untouched"));
        QVERIFY(!server->sourceKey(sessionId, keyUrl + QLatin1Char('2'), out));
    }

    void sourceKeyReplacedThenDropped()
    {
        const QString sessionId = newSessionId();
        const QString keyUrl = QStringLiteral("https://media.example/v/key.bin");
        server->registerSession(sessionId, sessionFor(QStringLiteral("lecture")));

        server->storeSourceKey(sessionId, keyUrl, QByteArray(16, '\x01'));
        server->storeSourceKey(sessionId, keyUrl, QByteArray(16, '\x02'));
        QByteArray out;
        QVERIFY(server->sourceKey(sessionId, keyUrl, out));
        QCOMPARE(out, QByteArray(16, '\x02'));

        server->unregisterSession(sessionId, QStringLiteral("test_end"));
        out.clear();
        QVERIFY(!server->sourceKey(sessionId, keyUrl, out));
        QVERIFY(out.isEmpty());

        // Registered afresh, the session starts without the keys of its earlier life.
        server->registerSession(sessionId, sessionFor(QStringLiteral("lecture")));
        QVERIFY(!server->sourceKey(sessionId, keyUrl, out));
    }

    void playbackState_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("storedRate");
        QTest::addColumn<bool>("playing");
        QTest::addColumn<bool>("recentStall");

        QTest::newRow("zero") << 0.0 << 0.25 << true << false;
        QTest::newRow("below the minimum") << 0.1 << 0.25 << false << true;
        QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << 0.25 << true << true;
        QTest::newRow("negative") << -1.0 << 0.25 << false << false;
        QTest::newRow("minus infinity") << -std::numeric_limits<double>::infinity() << 0.25 << true << false;
        QTest::newRow("within") << 1.5 << 1.5 << true << false;
        QTest::newRow("above the maximum") << 8.0 << 4.0 << false << true;
        QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << 4.0 << true << true;
    }

    void playbackState()
    {
        QFETCH(double, rate);
        QFETCH(double, storedRate);
        QFETCH(bool, playing);
        QFETCH(bool, recentStall);
        const QString sessionId = newSessionId();
        server->registerSession(sessionId, sessionFor(QStringLiteral("lecture")));

        setPlaybackState(sessionId, playing, rate, recentStall);

        const HlsProxyServer::PlaybackState state = server->playbackState(sessionId);
        QCOMPARE(state.playing, std::optional<bool>(playing));
        QCOMPARE(state.playbackRate, std::optional<double>(storedRate));
        QCOMPARE(state.recentStall, std::optional<bool>(recentStall));

        const QString stranger = newSessionId();
        setPlaybackState(stranger, playing, rate, recentStall);
        const HlsProxyServer::PlaybackState nothing = server->playbackState(stranger);
        QVERIFY(!nothing.playing && !nothing.playbackRate && !nothing.recentStall);

        // An unregistered session loses what it reported.
        server->unregisterSession(sessionId, QStringLiteral("test_end"));
        const HlsProxyServer::PlaybackState forgotten = server->playbackState(sessionId);
        QVERIFY(!forgotten.playing && !forgotten.playbackRate && !forgotten.recentStall);
    }

    void authenticationSnapshot_data()
    {
        QTest::addColumn<quint64>("sessionGeneration");
        QTest::addColumn<quint64>("snapshotGeneration");
        QTest::addColumn<bool>("rewritten");

        QTest::newRow("older") << quint64(5) << quint64(4) << false;
        QTest::newRow("equal") << quint64(5) << quint64(5) << true;
        QTest::newRow("newer") << quint64(5) << quint64(9) << true;
        // Compared unsigned: a session past the signed range is newer than any small generation.
        QTest::newRow("older than a generation past the signed range")
            << (quint64(1) << 63) << quint64(1) << false;
        QTest::newRow("past the signed range") << quint64(1) << (quint64(1) << 63) << true;
    }

    void authenticationSnapshot()
    {
        QFETCH(quint64, sessionGeneration);
        QFETCH(quint64, snapshotGeneration);
        QFETCH(bool, rewritten);
        const QString sessionId = newSessionId();
        const SessionInfo original = sessionFor(QStringLiteral("lecture"), sessionGeneration);
        server->registerSession(sessionId, original);
        TokenInfo playlist = playlistToken(sessionId);
        playlist.authorization = original.authorization;
        playlist.acceptLanguage = original.acceptLanguage;
        const QString token = server->registerToken(playlist);
        QVERIFY(!token.isEmpty());

        MediaAuthSnapshot snapshot;
        snapshot.authorization = "Bearer second";
        snapshot.acceptLanguage = "ar";
        snapshot.generation = snapshotGeneration;
        QMetaObject::invokeMethod(
            server, [&] { server->updateAuthenticationSnapshot(snapshot); }, Qt::BlockingQueuedConnection);

        SessionInfo stored;
        QVERIFY(server->getSession(sessionId, stored));
        QCOMPARE(stored.authorization, rewritten ? snapshot.authorization : original.authorization);
        QCOMPARE(stored.acceptLanguage, rewritten ? snapshot.acceptLanguage : original.acceptLanguage);
        QCOMPARE(stored.authGeneration, rewritten ? snapshotGeneration : sessionGeneration);
        QCOMPARE(stored.lectureId, original.lectureId);
        QCOMPARE(stored.registeredAtMs > 0, true);

        TokenInfo resolved;
        QCOMPARE(server->resolveToken(token, resolved), HlsTokenRegistry::Resolution::Resolved);
        QCOMPARE(resolved.authorization, original.authorization);
        QCOMPARE(resolved.acceptLanguage, original.acceptLanguage);
    }

    void rememberResourceSkips_data()
    {
        QTest::addColumn<TokenInfo>("token");
        QTest::addColumn<bool>("registered");
        QTest::addColumn<bool>("remembered");

        const QString sessionId = QStringLiteral("remembering-session");
        TokenInfo timed = segmentToken(sessionId, 4);
        TokenInfo initialisation = segmentToken(sessionId, 0);
        initialisation.startMs = -1;
        initialisation.durationMs = 0;
        TokenInfo noRendition = timed;
        noRendition.renditionId.clear();
        TokenInfo noSession = timed;
        noSession.sessionId.clear();

        QTest::newRow("timed segment") << timed << true << true;
        QTest::newRow("playlist") << playlistToken(sessionId) << true << false;
        QTest::newRow("initialisation section") << initialisation << true << false;
        QTest::newRow("empty rendition") << noRendition << true << false;
        QTest::newRow("empty session") << noSession << true << false;
        QTest::newRow("unregistered session") << timed << false << false;
    }

    void rememberResourceSkips()
    {
        QFETCH(TokenInfo, token);
        QFETCH(bool, registered);
        QFETCH(bool, remembered);
        const QString sessionId = QStringLiteral("remembering-session");
        if (registered)
            server->registerSession(sessionId, sessionFor(QStringLiteral("lecture")));

        server->rememberResource(token);

        const auto kept = server->rememberedResources(token.sessionId, token.renditionId);
        QCOMPARE(kept.size(), remembered ? 1 : 0);
        if (remembered)
            QCOMPARE(kept.value(token.sequence), token);
    }

    void rememberResourceKeepsTheLaterRecordInSequenceOrder()
    {
        const QString sessionId = newSessionId();
        server->registerSession(sessionId, sessionFor(QStringLiteral("lecture")));

        for (const quint64 sequence : {7u, 5u, 6u})
            server->rememberResource(segmentToken(sessionId, sequence));
        TokenInfo later = segmentToken(sessionId, 6);
        later.url = QStringLiteral("https://media.example/v/seg-6-again.ts");
        server->rememberResource(later);
        server->rememberResource(segmentToken(sessionId, 6, QStringLiteral("ba9876543210")));

        const auto kept = server->rememberedResources(sessionId, QStringLiteral("0123456789ab"));
        QCOMPARE(kept.keys(), QList<quint64>({5, 6, 7}));
        QCOMPARE(kept.value(6), later);
        QCOMPARE(server->rememberedResources(sessionId, QStringLiteral("ba9876543210")).size(), 1);

        server->unregisterSession(sessionId, QStringLiteral("test_end"));
        QVERIFY(server->rememberedResources(sessionId, QStringLiteral("0123456789ab")).isEmpty());
    }

    void unregisteringWhatIsNotRegisteredDoesNothing()
    {
        const QString ended = newSessionId();
        server->registerSession(ended, sessionFor(QStringLiteral("lecture")));
        unregisterAndWait(server, ended);

        const LogRecorder recorder;
        StoppedSessions stopped(server);
        server->unregisterSession(QString(), QStringLiteral("empty"));
        server->unregisterSession(newSessionId(), QStringLiteral("never_registered"));
        server->unregisterSession(ended, QStringLiteral("already_unregistered"));
        QCOMPARE(server->sessionState(ended), SessionState::Retired);

        // The sentinel's teardown is queued behind any the calls above could have posted.
        const QString sentinel = newSessionId();
        server->registerSession(sentinel, sessionFor(QStringLiteral("lecture")));
        server->unregisterSession(sentinel, QStringLiteral("sentinel"));
        QTRY_VERIFY(!stopped.ids.isEmpty());
        QCOMPARE(stopped.ids, QStringList({sentinel}));

        const auto stoppedRecords = recorder.withEvent(QStringLiteral("session_stopped"));
        QCOMPARE(stoppedRecords.size(), 1);
        QCOMPARE(stoppedRecords.constFirst().field(QStringLiteral("reason")), QStringLiteral("sentinel"));
    }

    void unregisterRetiresTheSession()
    {
        const LogRecorder recorder;
        StoppedSessions stopped(server);
        const QString sessionId = newSessionId();

        const qint64 beforeRegistering = nowMs();
        server->registerSession(sessionId, sessionFor(QStringLiteral("lecture")));
        const qint64 afterRegistering = nowMs();
        const QString playlist = server->registerToken(playlistToken(sessionId));
        const QString segment = server->registerToken(segmentToken(sessionId, 1));
        QVERIFY(!playlist.isEmpty() && !segment.isEmpty());
        QTRY_VERIFY(nowMs() > afterRegistering);

        const qint64 beforeUnregistering = nowMs();
        server->unregisterSession(sessionId, QStringLiteral("quality_switch"));
        const qint64 afterUnregistering = nowMs();
        const SessionState atOnce = server->sessionState(sessionId);
        QVERIFY2(atOnce == SessionState::Retiring || atOnce == SessionState::Retired,
                 QByteArray::number(int(atOnce)));

        const auto records =
            recordsOf(recorder, QStringLiteral("session_stopped"), QStringLiteral("session_fp"),
                      DiagnosticLogger::fingerprint(sessionId));
        QCOMPARE(records.size(), 1);
        const LogRecorder::Record &record = records.constFirst();
        QCOMPARE(record.category, QStringLiteral("hls"));
        QCOMPARE(record.level, QStringLiteral("info"));
        QCOMPARE(record.field(QStringLiteral("reason")), QStringLiteral("quality_switch"));
        const qint64 lifetimeMs = record.fields.value(QStringLiteral("lifetime_ms")).toLongLong();
        QVERIFY2(lifetimeMs >= beforeUnregistering - afterRegistering &&
                     lifetimeMs <= afterUnregistering - beforeRegistering,
                 QByteArray::number(lifetimeMs));
        QVERIFY(lifetimeMs > 0);

        QTRY_COMPARE(stopped.ids, QStringList({sessionId}));
        QCOMPARE(server->sessionState(sessionId), SessionState::Retired);
        SessionInfo out;
        QVERIFY(!server->getSession(sessionId, out));
        TokenInfo resolved;
        QCOMPARE(server->resolveToken(playlist, resolved), HlsTokenRegistry::Resolution::RetiredSession);
        QCOMPARE(server->resolveToken(segment, resolved), HlsTokenRegistry::Resolution::RetiredSession);
        QCOMPARE(resolved.sessionId, sessionId);
        QVERIFY(!server->acquireRequest(sessionId));

        server->registerSession(sessionId, sessionFor(QStringLiteral("lecture")));
        QCOMPARE(server->sessionState(sessionId), SessionState::Active);
        QVERIFY(!server->registerToken(playlistToken(sessionId)).isEmpty());
        QVERIFY(server->acquireRequest(sessionId));
    }

    void sessionStates()
    {
        const QString sessionId = newSessionId();
        QCOMPARE(server->sessionState(sessionId), SessionState::Unknown);
        server->registerSession(sessionId, sessionFor(QStringLiteral("lecture")));
        QCOMPARE(server->sessionState(sessionId), SessionState::Active);

        // While the proxy thread is busy the teardown waits in its queue: the id reads Retiring.
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        bool releaseSent = false;
        const auto releaseProxyThread = qScopeGuard([&] {
            if (!releaseSent)
                release.set_value();
        });
        std::promise<void> busy;
        QMetaObject::invokeMethod(
            server,
            [&busy, released] {
                busy.set_value();
                released.wait();
            },
            Qt::QueuedConnection);
        busy.get_future().wait();
        StoppedSessions stopped(server);
        server->unregisterSession(sessionId, QStringLiteral("test_end"));
        QCOMPARE(server->sessionState(sessionId), SessionState::Retiring);
        release.set_value();
        releaseSent = true;
        QTRY_COMPARE(stopped.ids, QStringList({sessionId}));
        QCOMPARE(server->sessionState(sessionId), SessionState::Retired);
    }

    void onlyTheLastRetiredIdsAreKept()
    {
        StoppedSessions stopped(server);
        QStringList ids;
        for (int index = 0; index < 300; ++index) {
            ids.append(newSessionId());
            server->registerSession(ids.constLast(), sessionFor(QStringLiteral("lecture")));
            server->unregisterSession(ids.constLast(), QStringLiteral("test_end"));
        }
        QTRY_COMPARE(stopped.ids.size(), 300);

        int retired = 0;
        int unknown = 0;
        for (const QString &id : std::as_const(ids)) {
            const SessionState state = server->sessionState(id);
            retired += state == SessionState::Retired;
            unknown += state == SessionState::Unknown;
        }
        QCOMPARE(retired, 256);
        QCOMPARE(unknown, 44);
    }

    // Several rejections of one kind inside a window give one warning at once and one summary
    // at the window's end, carrying the first rejection's sample.
    void rejectionWindows_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QStringList>("samples");
        QTest::addColumn<qulonglong>("suppressed");

        QTest::newRow("request limit of one session")
            << QStringLiteral("request_limit") << QStringList(5, QStringLiteral("aaaaaaaaaaaa")) << 4ull;
        QTest::newRow("unknown tokens of one resource type")
            << QStringLiteral("unknown_token")
            << QStringList({"bbbbbbbbbbbb", "cccccccccccc", "dddddddddddd"}) << 2ull;
        QTest::newRow("retired session")
            << QStringLiteral("retired_session") << QStringList(2, QStringLiteral("eeeeeeeeeeee")) << 1ull;
    }

    void rejectionWindows()
    {
        QFETCH(QString, reason);
        QFETCH(QStringList, samples);
        QFETCH(qulonglong, suppressed);
        const LogRecorder recorder;

        QElapsedTimer window;
        window.start();
        for (const QString &sample : std::as_const(samples))
            server->recordRejected(reason, sample, QStringLiteral("segment"));

        const auto atOnce = recorder.withEvent(QStringLiteral("request_rejected"));
        QCOMPARE(atOnce.size(), 1);
        QCOMPARE(atOnce.constFirst().category, QStringLiteral("hls"));
        QCOMPARE(atOnce.constFirst().level, QStringLiteral("warning"));
        QCOMPARE(atOnce.constFirst().fields,
                 QVariantMap({{QStringLiteral("reason"), reason},
                              {QStringLiteral("resource_type"), QStringLiteral("segment")},
                              {QStringLiteral("sample_fp"), samples.constFirst()}}));
        QVERIFY(recorder.withEvent(QStringLiteral("request_rejected_summary")).isEmpty());

        QTRY_COMPARE_WITH_TIMEOUT(recorder.withEvent(QStringLiteral("request_rejected_summary")).size(), 1,
                                  10000);
        QVERIFY2(window.elapsed() >= 950, QByteArray::number(window.elapsed()));
        const LogRecorder::Record summary =
            recorder.withEvent(QStringLiteral("request_rejected_summary")).constFirst();
        QCOMPARE(summary.level, QStringLiteral("warning"));
        QCOMPARE(summary.fields.value(QStringLiteral("suppressed")).metaType(),
                 QMetaType::fromType<quint64>());
        QCOMPARE(summary.fields,
                 QVariantMap({{QStringLiteral("reason"), reason},
                              {QStringLiteral("resource_type"), QStringLiteral("segment")},
                              {QStringLiteral("sample_fp"), samples.constFirst()},
                              {QStringLiteral("suppressed"), QVariant::fromValue<quint64>(suppressed)}}));
        QCOMPARE(recorder.withEvent(QStringLiteral("request_rejected")).size(), 1);
    }

    void separateKindsHaveSeparateWindows()
    {
        const LogRecorder recorder;
        server->recordRejected(QStringLiteral("request_limit"), QStringLiteral("aaaaaaaaaaaa"), "segment");
        server->recordRejected(QStringLiteral("request_limit"), QStringLiteral("bbbbbbbbbbbb"), "segment");
        server->recordRejected(QStringLiteral("request_limit"), QStringLiteral("aaaaaaaaaaaa"), "playlist");
        server->recordRejected(QStringLiteral("unknown_session"), QStringLiteral("aaaaaaaaaaaa"), "segment");
        server->recordRejected(QStringLiteral("unknown_token"), QStringLiteral("aaaaaaaaaaaa"), "segment");
        server->recordRejected(QStringLiteral("unknown_token"), QStringLiteral("aaaaaaaaaaaa"), "key");
        QCOMPARE(recorder.withEvent(QStringLiteral("request_rejected")).size(), 6);
    }

    // A window that saw one rejection closes without a summary. A second window opened just after
    // it closes later, so once its summary is there the first one has closed too.
    void singleRejectionHasNoSummary()
    {
        const LogRecorder recorder;
        server->recordRejected(QStringLiteral("unknown_session"), QStringLiteral("aaaaaaaaaaaa"), "key");
        server->recordRejected(QStringLiteral("unknown_session"), QStringLiteral("ffffffffffff"), "key");
        server->recordRejected(QStringLiteral("unknown_session"), QStringLiteral("ffffffffffff"), "key");

        QTRY_COMPARE_WITH_TIMEOUT(recorder.withEvent(QStringLiteral("request_rejected_summary")).size(), 1,
                                  10000);
        const auto summaries = recorder.withEvent(QStringLiteral("request_rejected_summary"));
        QCOMPARE(summaries.constFirst().field(QStringLiteral("sample_fp")), QStringLiteral("ffffffffffff"));
    }

    void rejectionAfterTheWindowIsLoggedAtOnce()
    {
        const LogRecorder recorder;
        server->recordRejected(QStringLiteral("request_limit"), QStringLiteral("aaaaaaaaaaaa"), "segment");
        server->recordRejected(QStringLiteral("request_limit"), QStringLiteral("aaaaaaaaaaaa"), "segment");
        QTRY_COMPARE_WITH_TIMEOUT(recorder.withEvent(QStringLiteral("request_rejected_summary")).size(), 1,
                                  10000);

        server->recordRejected(QStringLiteral("request_limit"), QStringLiteral("aaaaaaaaaaaa"), "segment");
        QCOMPARE(recorder.withEvent(QStringLiteral("request_rejected")).size(), 2);
    }

    // The stream controller registers from the GUI thread while connections use the same tables
    // on the proxy thread. Also built under ThreadSanitizer (scripts/test-tsan).
    void concurrentRegistrationAndRequests()
    {
        QStringList ids;
        for (int index = 0; index < 6; ++index)
            ids.append(newSessionId());

        std::atomic<bool> stop{false};
        std::atomic<int> proxyRounds{0};
        std::atomic<int> countsOutOfRange{0};
        std::promise<void> proxyLoopDone;
        std::future<void> proxyFinished = proxyLoopDone.get_future();
        HlsProxyServer *const target = server;
        QMetaObject::invokeMethod(
            target,
            [&, ids] {
                for (int round = 0; !stop.load(); ++round) {
                    for (const QString &id : ids) {
                        int held = 0;
                        while (held <= HlsProxyServer::MaximumRequestsPerSession &&
                               target->acquireRequest(id))
                            ++held;
                        const int count = target->activeRequestCount(id);
                        if (count < 0 || count > HlsProxyServer::MaximumRequestsPerSession)
                            ++countsOutOfRange;
                        target->updatePlaybackState(id, round % 2 == 0, 0.5 + round % 4, round % 3 == 0);
                        target->rememberResource(segmentToken(id, quint64(round % 50)));
                        for (; held > 0; --held)
                            target->releaseRequest(id);
                    }
                    proxyRounds.store(round + 1);
                }
                proxyLoopDone.set_value();
            },
            Qt::QueuedConnection);

        // Whatever fails below, the proxy thread must be free again before the server goes.
        const auto stopProxyLoop = qScopeGuard([&] {
            stop.store(true);
            proxyFinished.wait_for(std::chrono::seconds(60));
        });
        StoppedSessions stopped(target);
        int unregistered = 0;
        int refusedTokens = 0;
        QElapsedTimer running;
        running.start();
        for (int step = 0; step < 3000 || proxyRounds.load() < 100; ++step) {
            if (running.elapsed() > 60000)
                break;
            const QString &id = ids.at(step % ids.size());
            target->registerSession(id, sessionFor(QStringLiteral("lecture")));
            for (quint64 sequence = 0; sequence < 3; ++sequence)
                refusedTokens += target->registerToken(segmentToken(id, sequence)).isEmpty();
            const int count = target->activeRequestCount(id);
            if (count < 0 || count > HlsProxyServer::MaximumRequestsPerSession)
                ++countsOutOfRange;
            if (step % 3 != 0) {
                target->unregisterSession(id, QStringLiteral("stress"));
                ++unregistered;
            }
        }
        stop.store(true);

        QCOMPARE(proxyFinished.wait_for(std::chrono::seconds(60)), std::future_status::ready);
        QVERIFY(proxyRounds.load() >= 100);
        QCOMPARE(countsOutOfRange.load(), 0);
        QCOMPARE(refusedTokens, 0);
        QTRY_COMPARE_WITH_TIMEOUT(int(stopped.ids.size()), unregistered, 60000);
        for (const QString &id : std::as_const(ids)) {
            const int count = target->activeRequestCount(id);
            QVERIFY(count >= 0 && count <= HlsProxyServer::MaximumRequestsPerSession);
        }
    }
};

QTEST_GUILESS_MAIN(tst_HlsProxyRegistries)
#include "tst_HlsProxyRegistries.moc"
