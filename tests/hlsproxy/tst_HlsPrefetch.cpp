#include "PrefetchRendition.h"
#include "ProxySignalLog.h"
#include "ProxyTestRig.h"
#include "ProxyTestSession.h"
#include "SegmentTestSupport.h"
#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/PrefetchAllowance.h"
#include "media/CryptoManager.h"
#include "media/MediaTransferCoordinator.h"
#include "media/ResourceCache.h"
#include "testsupport/Aes128Cbc.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/LogRecorder.h"
#include "testsupport/LoopbackHttpClient.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QThreadPool>
#include <QUuid>
#include <algorithm>
#include <atomic>
#include <memory>

using quorin::PrefetchAllowance;
using quorin::test::Aes128Cbc;
using quorin::test::FixtureServer;
using quorin::test::LogRecorder;
using quorin::test::LoopbackHttpClient;

namespace {

constexpr qint64 StartOfTime = 1'800'000'000'000;
const QByteArray SegmentAccept = "video/mp2t, application/octet-stream;q=0.9, */*;q=0.5";

QString newLecture()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// The clock and the retry timer prefetch reads: the time moves only when a test moves it, and a
// cooldown is recorded, not waited out.
struct PrefetchClock
{
    std::atomic<qint64> now{StartOfTime};
    QMutex mutex;
    QList<int> cooldowns; // guarded by mutex

    [[nodiscard]] QList<int> recorded()
    {
        const QMutexLocker locker(&mutex);
        return cooldowns;
    }
};

// A media playlist of keyed 6-second segments "live/0.ts" …, as the origin lists it.
QByteArray livePlaylist(int segments)
{
    QByteArray playlist = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:6\n#EXT-X-MEDIA-SEQUENCE:0\n"
                          "#EXT-X-KEY:METHOD=AES-128,URI=\"live/key.bin\",IV=0x" +
                          PrefetchRendition::sourceIv().toHex() + "\n";
    for (int index = 0; index < segments; ++index)
        playlist += "#EXTINF:6.0,\nlive/" + QByteArray::number(index) + ".ts\n";
    return playlist + "#EXT-X-ENDLIST\n";
}

enum class Skipped { ByteRange, KeyNotFetched, Cached, CoolingDown };
enum class BodySize { FortyMiB, SixtyFourMiB, OneByteOver, Empty };
enum class Prefetch { FinishesInTime, Hangs };

} // namespace

Q_DECLARE_METATYPE(Skipped)
Q_DECLARE_METATYPE(BodySize)
Q_DECLARE_METATYPE(Prefetch)

class tst_HlsPrefetch : public QObject, protected ProxyTestRig
{
    Q_OBJECT

private:
    std::shared_ptr<PrefetchClock> clock;

    [[nodiscard]] std::unique_ptr<ProxyTestSession> newSession() const
    {
        auto session = std::make_unique<ProxyTestSession>(
            server, origin->url(QStringLiteral("/index.m3u8")).toString(), newLecture());
        return session->isRegistered() ? std::move(session) : nullptr;
    }

    void onProxyThread(const std::function<void()> &work) const
    {
        QMetaObject::invokeMethod(server, work, Qt::BlockingQueuedConnection);
    }

    // As the stream controller posts it; the proxy thread has applied it when this returns.
    void reportPlaying(const ProxyTestSession &session, bool playing, double rate = 1.0,
                       bool stall = false) const
    {
        onProxyThread([&] { server->updatePlaybackState(session.sessionId(), playing, rate, stall); });
    }

    void delivered(const TokenInfo &segment) const
    {
        onProxyThread([&] { server->prefetchFollowing(segment, false); });
    }

    [[nodiscard]] HlsProxyServer::PrefetchStatus status(const TokenInfo &segment) const
    {
        return server->prefetchStatus(segment.sessionId, segment.renditionId, segment.url);
    }

    // Every worker has handed its completion back and the proxy thread has run it.
    void settle() const
    {
        QThreadPool::globalInstance()->waitForDone();
        onProxyThread([] {});
        QCoreApplication::sendPostedEvents();
    }

    [[nodiscard]] bool cachedPlaintextIs(const TokenInfo &segment, const QByteArray &expected) const
    {
        ResourceCache *cache = ResourceCache::instance();
        const QString key = ResourceCache::vaultKey(segment.lectureId, segment.url);
        QFile file(cache->getActivePath(key));
        if (!cache->exists(key) || !file.open(QIODevice::ReadOnly))
            return false;
        const QByteArray stored = file.readAll();
        // Encrypted at rest: the stored bytes are never the upstream ones.
        return stored != expected &&
               CryptoManager::instance()->processChunk(stored, 0, segment.cacheIv) == expected;
    }

    [[nodiscard]] static bool isCached(const TokenInfo &segment)
    {
        return ResourceCache::instance()->exists(ResourceCache::vaultKey(segment.lectureId, segment.url));
    }

    [[nodiscard]] static QStringList stagingFiles()
    {
        return QDir(ResourceCache::instance()->root())
            .entryList({QStringLiteral("*.prefetch-*")}, QDir::Files);
    }

    [[nodiscard]] int published(const QString &url) const
    {
        int count = 0;
        for (const LogRecorder::Record &record : recorder->withEvent(QStringLiteral("prefetch_complete"))) {
            if (record.field(QStringLiteral("resource_fp")) == DiagnosticLogger::fingerprint(url) &&
                record.fields.value(QStringLiteral("published")).toBool())
                ++count;
        }
        return count;
    }

    [[nodiscard]] QList<qlonglong> deliveredStarts(const QString &sessionId) const
    {
        QList<qlonglong> starts;
        for (const ProxySignalLog::Delivery &delivery : proxyLog->deliveries) {
            if (std::get<0>(delivery) == sessionId)
                starts.append(std::get<2>(delivery));
        }
        return starts;
    }

    // The player's side of a session that plays "/live/": the rewritten playlist's chunk targets,
    // the playback key and IV.
    struct Player
    {
        QStringList chunks;
        QByteArray key;
        QByteArray iv;

        [[nodiscard]] QByteArray plaintext(const LoopbackHttpClient::Answer &answer) const
        {
            return LoopbackHttpClient::decryptBody(answer.body, key, iv);
        }
    };

    [[nodiscard]] Player startPlaying(const ProxyTestSession &session, int segments) const
    {
        origin->setResponse(
            QStringLiteral("/index.m3u8"),
            FixtureServer::Response(200, livePlaylist(segments), "application/vnd.apple.mpegurl"));
        origin->setResponse(
            QStringLiteral("/live/key.bin"),
            FixtureServer::Response(200, PrefetchRendition::sourceKey(), "application/octet-stream"));
        PrefetchRendition::serveSegments(*origin, QStringLiteral("live"), true);
        Player player;
        const LoopbackHttpClient::Answer playlist = LoopbackHttpClient::get(
            server->port(), session.target(QStringLiteral("/playlist.m3u8"), session.playlistToken()));
        for (const QByteArray &line : playlist.body.split('\n')) {
            if (line.startsWith("http://127.0.0.1"))
                player.chunks.append(
                    QUrl(QString::fromLatin1(line)).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority));
        }
        player.iv = LoopbackHttpClient::keyLineIv(playlist.body);
        player.key = LoopbackHttpClient::fetchPlaybackKey(
            server->port(), session.target(QStringLiteral("/key.bin"), QString()));
        return player;
    }

    [[nodiscard]] QString liveUrl(int index) const
    {
        return origin->url(QStringLiteral("/live/%1.ts").arg(index)).toString();
    }

    [[nodiscard]] static QByteArray livePlaintext(int index)
    {
        return Aes128Cbc::decrypt(PrefetchRendition::fixtureBody(true, index), PrefetchRendition::sourceKey(),
                                  PrefetchRendition::sourceIv());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(startProxy(Records::Detailed)); }

    void init()
    {
        QVERIFY(openOrigin());
        clock = std::make_shared<PrefetchClock>();
        HlsProxyServer::PrefetchSeams seams;
        seams.nowMs = [clock = clock] { return clock->now.load(); };
        seams.startRetryTimer = [clock = clock](int delayMs, const std::function<void()> &) {
            const QMutexLocker locker(&clock->mutex);
            clock->cooldowns.append(delayMs);
        };
        server->setPrefetchSeams(seams);
    }

    void cleanup()
    {
        settle();
        QVERIFY(closeOrigin());
        server->setPrefetchSeams({});
        // Whatever ended how, no prefetch kept its permit.
        MediaTransferCoordinator *coordinator = MediaTransferCoordinator::instance();
        coordinator->setPlaybackBuffering(false);
        QVERIFY(coordinator->tryAcquire(MediaTransferCoordinator::Priority::Prefetch));
        coordinator->release(MediaTransferCoordinator::Priority::Prefetch);
        QVERIFY(stagingFiles().isEmpty());
    }

    // After segment n of 6-second segments, what the windows hold at each rate.
    void allowance_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<bool>("byteRangesBetween");
        QTest::addColumn<int>("allowance");
        QTest::addColumn<int>("extraAllowance");

        QTest::newRow("rate 1.0") << 1.0 << false << 15 << 15;
        QTest::newRow("rate 0.5") << 0.5 << false << 8 << 7;
        QTest::newRow("rate 2.0") << 2.0 << false << 30 << 30;
        QTest::newRow("byte-range segments count toward neither") << 1.0 << true << 15 << 15;
    }

    void allowance()
    {
        QFETCH(double, rate);
        QFETCH(bool, byteRangesBetween);
        QFETCH(int, allowance);
        QFETCH(int, extraAllowance);

        const qint64 afterSequence = 4;
        QMap<quint64, TokenInfo> segments;
        quint64 sequence = 0;
        for (int timed = 0; timed < 100; ++timed) {
            TokenInfo segment;
            segment.durationMs = 6000;
            segments.insert(sequence++, segment);
            if (byteRangesBetween) {
                segment.byteRange = QStringLiteral("1000@0");
                segments.insert(sequence++, segment);
            }
        }
        const PrefetchAllowance counted = PrefetchAllowance::count(
            segments, afterSequence, qRound64(90000 * rate), qRound64(180000 * rate));
        QCOMPARE(counted.allowance, allowance);
        QCOMPARE(counted.extraAllowance, extraAllowance);

        // The server counts the same on a delivered segment, at the rate playback reported. No
        // key was fetched, so nothing is prefetched and the counts stay as counted.
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        PrefetchRendition::Options options;
        options.count = int(segments.size());
        options.keyed = true;
        options.adjust = [&segments](TokenInfo &segment) {
            segment.byteRange = segments.value(segment.sequence).byteRange;
        };
        const PrefetchRendition rendition(server, *session, *origin, options);
        reportPlaying(*session, true, rate);
        delivered(rendition.segment(afterSequence));
        QCOMPARE(status(rendition.segment(0)).allowance, allowance);
        QCOMPARE(status(rendition.segment(0)).extraAllowance, extraAllowance);
        QCOMPARE(origin->totalRequestCount(), 0);
    }

    void allowanceEdges()
    {
        QMap<quint64, TokenInfo> segments;
        for (quint64 sequence = 0; sequence < 5; ++sequence) {
            TokenInfo segment;
            segment.durationMs = sequence == 2 ? 0 : 6000; // a zero duration still counts 1 ms
            segments.insert(sequence, segment);
        }
        QCOMPARE(PrefetchAllowance::count(segments, 0, 90000, 0), PrefetchAllowance());
        QCOMPARE(PrefetchAllowance::count(segments, 4, 90000, 180000), PrefetchAllowance());
        QCOMPARE(PrefetchAllowance::count(segments, 0, 6001, 180000), (PrefetchAllowance{2, 2}));
        // The segment that reaches the horizon is counted, and nothing after it.
        QCOMPARE(PrefetchAllowance::count(segments, 0, 6000, 12001), (PrefetchAllowance{1, 2}));
    }

    // Segment 0 delivered: the proxy fetches 1, 2, 3 … itself, as the player would, and stores
    // each under the vault.
    void chainPublishesFollowingSegments()
    {
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        PrefetchRendition::Options options;
        options.keyed = true;
        const PrefetchRendition rendition(server, *session, *origin, options);
        rendition.serveFrom(*origin);
        rendition.storeSourceKey();
        reportPlaying(*session, true);

        delivered(rendition.segment(0));
        QTRY_COMPARE_WITH_TIMEOUT(deliveredStarts(session->sessionId()).size(), 9, 30000);
        settle();

        QList<qlonglong> expectedStarts;
        for (int index = 1; index < 10; ++index) {
            const TokenInfo &segment = rendition.segment(index);
            expectedStarts.append(segment.startMs);
            const QList<FixtureServer::Request> requests = origin->requests(rendition.path(index));
            QCOMPARE(requests.size(), 1);
            QCOMPARE(requests.constFirst().header("Accept"), SegmentAccept);
            QCOMPARE(requests.constFirst().header("Authorization"), session->info().authorization);
            QCOMPARE(published(segment.url), 1);
            QVERIFY(cachedPlaintextIs(segment, rendition.body(index)));
            QCOMPARE(std::get<3>(proxyLog->deliveries.at(index - 1)), segment.startMs + segment.durationMs);
        }
        QCOMPARE(deliveredStarts(session->sessionId()), expectedStarts);
        // In order, one at a time.
        QStringList order;
        for (const FixtureServer::Request &request : origin->requests())
            order.append(QString::fromLatin1(request.path));
        QCOMPARE(order.size(), 9);
        for (int index = 1; index < 10; ++index)
            QCOMPARE(order.at(index - 1), rendition.path(index));
        QCOMPARE(origin->maxRequestsInFlight(), 1);
        QCOMPARE(origin->requestCount(rendition.path(0)), 0);
        QCOMPARE(status(rendition.segment(0)).publishedCount, 9);
        QCOMPARE(status(rendition.segment(0)).allowance, 0);
    }

    void nothingWithoutPlaying()
    {
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        const PrefetchRendition rendition(server, *session, *origin);
        rendition.serveFrom(*origin);

        delivered(rendition.segment(0));
        QVERIFY(!status(rendition.segment(1)).prefetching);
        reportPlaying(*session, false);
        delivered(rendition.segment(0));
        QVERIFY(!status(rendition.segment(1)).prefetching);
        settle();
        QCOMPARE(origin->totalRequestCount(), 0);
    }

    // A pause aborts a throttled prefetch: the fixture loses the connection and the URL cools down.
    void pauseAbortsRunningPrefetch()
    {
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        const PrefetchRendition rendition(server, *session, *origin);
        FixtureServer::Response throttled(200, QByteArray(2'000'000, 'x'), "video/mp2t");
        throttled.bytesPerSecond = 20000;
        origin->setResponse(rendition.path(1), throttled);
        reportPlaying(*session, true);

        delivered(rendition.segment(0));
        QTRY_COMPARE_WITH_TIMEOUT(origin->requestsInFlight(), 1, 30000);
        reportPlaying(*session, false);
        QTRY_COMPARE_WITH_TIMEOUT(origin->requestsInFlight(), 0, 30000);
        settle();

        const HlsProxyServer::PrefetchStatus failed = status(rendition.segment(1));
        QCOMPARE(failed.failures, 1);
        QCOMPARE(failed.retryAtMs, std::optional<qint64>(StartOfTime + 250));
        QVERIFY(!failed.prefetching);
        QCOMPARE(clock->recorded(), QList<int>{250});
        QVERIFY(!isCached(rendition.segment(1)));
        QCOMPARE(origin->requestCount(rendition.path(2)), 0);
    }

    void candidateSearch_data()
    {
        QTest::addColumn<Skipped>("skipped");
        QTest::newRow("byte range") << Skipped::ByteRange;
        QTest::newRow("key not fetched yet") << Skipped::KeyNotFetched;
        QTest::newRow("already cached") << Skipped::Cached;
        QTest::newRow("cooling down") << Skipped::CoolingDown;
    }

    // Segment 1 cannot or need not be prefetched now: segment 2 is.
    void candidateSearch()
    {
        QFETCH(Skipped, skipped);
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        PrefetchRendition::Options options;
        options.count = 3;
        options.adjust = [&](TokenInfo &segment) {
            if (segment.sequence != 1)
                return;
            if (skipped == Skipped::ByteRange)
                segment.byteRange = QStringLiteral("1000@0");
            if (skipped == Skipped::KeyNotFetched)
                segment.keyUrl = origin->url(QStringLiteral("/other/key.bin")).toString();
        };
        const PrefetchRendition rendition(server, *session, *origin, options);
        rendition.serveFrom(*origin);
        if (skipped == Skipped::Cached)
            QVERIFY(session->cacheAsTheProxyWould(rendition.segment(1).url, rendition.body(1)));
        if (skipped == Skipped::CoolingDown) {
            origin->setResponse(rendition.path(1), FixtureServer::Response(500));
            reportPlaying(*session, true);
            delivered(rendition.segment(0));
            QTRY_COMPARE_WITH_TIMEOUT(status(rendition.segment(1)).failures, 1, 30000);
            settle();
            origin->clearLog();
            clock->now += 249;
        }
        reportPlaying(*session, true);

        delivered(rendition.segment(0));
        QTRY_COMPARE_WITH_TIMEOUT(published(rendition.segment(2).url), 1, 30000);
        settle();
        QCOMPARE(origin->requestCount(rendition.path(1)), 0);
        QCOMPARE(origin->requestCount(rendition.path(2)), 1);
        // Two segments follow segment 0 in the window; only the one fetched used allowance.
        const int counted = skipped == Skipped::ByteRange ? 1 : 2;
        QCOMPARE(status(rendition.segment(0)).allowance, counted - 1);
    }

    // A URL failing again and again waits longer each time, up to the longest cooldown; one
    // publication forgets its failures.
    void cooldownsOfFailingUrl()
    {
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        PrefetchRendition::Options options;
        options.count = 2;
        const PrefetchRendition rendition(server, *session, *origin, options);
        origin->setResponse(rendition.path(1), FixtureServer::Response(500));
        reportPlaying(*session, true);

        const QList<int> expected{250, 500, 1000, 2000, 4000, 4000, 4000};
        for (qsizetype failure = 0; failure < expected.size(); ++failure) {
            const qint64 now = clock->now.load();
            delivered(rendition.segment(0));
            QTRY_COMPARE_WITH_TIMEOUT(clock->recorded().size(), failure + 1, 30000);
            QCOMPARE(clock->recorded().constLast(), expected.at(failure));
            const HlsProxyServer::PrefetchStatus failed = status(rendition.segment(1));
            QCOMPARE(failed.failures, std::min(int(failure) + 1, HlsProxyServer::MaximumPrefetchFailures));
            QCOMPARE(failed.retryAtMs, std::optional<qint64>(now + expected.at(failure)));
            // Still cooling down one millisecond before the end.
            clock->now = now + expected.at(failure) - 1;
            delivered(rendition.segment(0));
            QVERIFY(!status(rendition.segment(1)).prefetching);
            clock->now = now + expected.at(failure);
        }
        QCOMPARE(origin->requestCount(rendition.path(1)), expected.size());

        origin->clearScripts();
        rendition.serveFrom(*origin);
        delivered(rendition.segment(0));
        QTRY_COMPARE_WITH_TIMEOUT(published(rendition.segment(1).url), 1, 30000);
        settle();
        QCOMPARE(status(rendition.segment(1)).failures, 0);
        QCOMPARE(status(rendition.segment(1)).retryAtMs, std::nullopt);
    }

    // The player asks for another segment: the prefetch gives way and its URL cools down. The
    // player asks for the segment being prefetched: it goes on.
    void demandForAnotherSegmentAbortsPrefetch()
    {
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        const PrefetchRendition rendition(server, *session, *origin);
        origin->setResponse(rendition.path(1), FixtureServer::Response::hung());
        reportPlaying(*session, true);

        delivered(rendition.segment(0));
        QTRY_COMPARE_WITH_TIMEOUT(origin->requestsInFlight(), 1, 30000);
        onProxyThread([&] { server->prioritizeDemand(rendition.segment(1)); });
        QVERIFY(status(rendition.segment(1)).prefetching);
        QCOMPARE(status(rendition.segment(1)).failures, 0);

        onProxyThread([&] { server->prioritizeDemand(rendition.segment(5)); });
        QTRY_COMPARE_WITH_TIMEOUT(origin->requestsInFlight(), 0, 30000);
        const HlsProxyServer::PrefetchStatus aborted = status(rendition.segment(1));
        QVERIFY(!aborted.prefetching);
        QCOMPARE(aborted.failures, 1);
        QCOMPARE(aborted.retryAtMs, std::optional<qint64>(StartOfTime + 250));
    }

    // Demand from another session leaves this session's prefetch alone.
    void demandOfAnotherSessionLeavesPrefetch()
    {
        std::unique_ptr<ProxyTestSession> session = newSession();
        std::unique_ptr<ProxyTestSession> other = newSession();
        QVERIFY(session && other);
        const PrefetchRendition rendition(server, *session, *origin);
        const PrefetchRendition otherRendition(server, *other, *origin,
                                               PrefetchRendition::named(QStringLiteral("other"), 2));
        origin->setResponse(rendition.path(1), FixtureServer::Response::hung());
        reportPlaying(*session, true);

        delivered(rendition.segment(0));
        QTRY_COMPARE_WITH_TIMEOUT(origin->requestsInFlight(), 1, 30000);
        onProxyThread([&] { server->prioritizeDemand(otherRendition.segment(1)); });
        QVERIFY(status(rendition.segment(1)).prefetching);
        QCOMPARE(origin->requestsInFlight(), 1);
        session->unregister();
    }

    // Playback first: no prefetch while a segment for the player is fetched or playback buffers.
    void playbackComesFirst_data()
    {
        QTest::addColumn<bool>("buffering");
        QTest::newRow("playback permit held") << false;
        QTest::newRow("playback buffering") << true;
    }

    void playbackComesFirst()
    {
        QFETCH(bool, buffering);
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        const PrefetchRendition rendition(server, *session, *origin);
        rendition.serveFrom(*origin);
        reportPlaying(*session, true);
        MediaTransferCoordinator *coordinator = MediaTransferCoordinator::instance();
        if (buffering)
            coordinator->setPlaybackBuffering(true);
        else
            QVERIFY(coordinator->tryAcquire(MediaTransferCoordinator::Priority::Playback));

        delivered(rendition.segment(0));
        QVERIFY(!status(rendition.segment(1)).prefetching);

        if (buffering)
            coordinator->setPlaybackBuffering(false);
        else
            coordinator->release(MediaTransferCoordinator::Priority::Playback);
        // The next delivery tries again.
        delivered(rendition.segment(0));
        QTRY_COMPARE_WITH_TIMEOUT(published(rendition.segment(1).url), 1, 30000);
        QCOMPARE(origin->requestCount(rendition.path(1)), 1);
    }

    void twoSessionsPrefetchOneAtATime()
    {
        std::unique_ptr<ProxyTestSession> first = newSession();
        std::unique_ptr<ProxyTestSession> second = newSession();
        QVERIFY(first && second);
        const PrefetchRendition one(server, *first, *origin,
                                    PrefetchRendition::named(QStringLiteral("one"), 8));
        const PrefetchRendition two(server, *second, *origin,
                                    PrefetchRendition::named(QStringLiteral("two"), 8));
        one.serveFrom(*origin);
        two.serveFrom(*origin);
        reportPlaying(*first, true);
        reportPlaying(*second, true);

        // The player's deliveries go on in both; a chain refused its permit is picked up by the next.
        const auto bothDone = [&] {
            delivered(one.segment(0));
            delivered(two.segment(0));
            return published(one.segment(7).url) == 1 && published(two.segment(7).url) == 1;
        };
        QTRY_VERIFY_WITH_TIMEOUT(bothDone(), 60000);
        settle();
        for (int index = 1; index < 8; ++index) {
            QCOMPARE(origin->requestCount(one.path(index)), 1);
            QCOMPARE(origin->requestCount(two.path(index)), 1);
        }
        QCOMPARE(origin->maxRequestsInFlight(), 1);
    }

    // Once three prefetches showed the network outruns playback by the margin, the extra
    // allowance is released, once; with a stall reported (or never reported otherwise) never.
    void boostReleasesExtraAllowance_data()
    {
        QTest::addColumn<bool>("stall");
        QTest::addColumn<int>("lastPrefetched");
        QTest::newRow("no stall") << false << 30;
        QTest::newRow("stall") << true << 15;
    }

    void boostReleasesExtraAllowance()
    {
        QFETCH(bool, stall);
        QFETCH(int, lastPrefetched);
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        const PrefetchRendition rendition(server, *session, *origin,
                                          PrefetchRendition::named(QStringLiteral("seg"), 40));
        rendition.serveFrom(*origin);
        reportPlaying(*session, true, 1.0, stall);

        delivered(rendition.segment(0));
        QTRY_COMPARE_WITH_TIMEOUT(published(rendition.segment(lastPrefetched).url), 1, 60000);
        settle();
        QCOMPARE(origin->totalRequestCount(), lastPrefetched);
        QVERIFY(!status(rendition.segment(lastPrefetched + 1)).prefetching);
        const HlsProxyServer::PrefetchStatus after = status(rendition.segment(0));
        QCOMPARE(after.allowance, 0);
        QCOMPARE(after.boosted, lastPrefetched == 30);
        QCOMPARE(after.extraAllowance, lastPrefetched == 30 ? std::nullopt : std::optional<int>(15));
    }

    // Two lectures list the same segment URL: each prefetches its own copy under its own at-rest
    // IV, and deleting one lecture's copy leaves the other's whole.
    void lecturesSharingUrlKeepTheirOwnCopies()
    {
        std::unique_ptr<ProxyTestSession> first = newSession();
        std::unique_ptr<ProxyTestSession> second = newSession();
        QVERIFY(first && second);
        PrefetchRendition::Options options;
        options.count = 2;
        options.keyed = true;
        const PrefetchRendition one(server, *first, *origin, options);
        const PrefetchRendition two(server, *second, *origin, options);
        QCOMPARE(one.segment(1).url, two.segment(1).url);
        QVERIFY(one.segment(1).cacheIv != two.segment(1).cacheIv);
        one.serveFrom(*origin);
        one.storeSourceKey();
        two.storeSourceKey();
        reportPlaying(*first, true);
        reportPlaying(*second, true);

        delivered(one.segment(0));
        QTRY_COMPARE_WITH_TIMEOUT(published(one.segment(1).url), 1, 30000);
        settle();
        delivered(two.segment(0));
        QTRY_COMPARE_WITH_TIMEOUT(published(two.segment(1).url), 2, 30000);
        settle();
        QCOMPARE(origin->requestCount(one.path(1)), 2);
        QVERIFY(cachedPlaintextIs(one.segment(1), one.body(1)));
        QVERIFY(cachedPlaintextIs(two.segment(1), two.body(1)));

        ResourceCache::instance()->deleteResources(
            {ResourceCache::vaultKey(one.segment(1).lectureId, one.segment(1).url)});
        QVERIFY(!isCached(one.segment(1)));
        QVERIFY(cachedPlaintextIs(two.segment(1), two.body(1)));
    }

    // A keyed body that the source key does not open is never stored; the chain just stops.
    void bodyFailingTheKeyCheckIsNotPublished()
    {
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        PrefetchRendition::Options options;
        options.keyed = true;
        const PrefetchRendition rendition(server, *session, *origin, options);
        rendition.serveFrom(*origin);
        // A key under which the fixture's body does not decrypt with valid padding.
        QByteArray wrongKey = PrefetchRendition::sourceKey();
        do {
            wrongKey[0] = char(wrongKey.at(0) + 1);
        } while (!Aes128Cbc::decrypt(rendition.body(1), wrongKey, PrefetchRendition::sourceIv()).isEmpty());
        server->storeSourceKey(session->sessionId(), rendition.keyUrl(), wrongKey);
        reportPlaying(*session, true);

        delivered(rendition.segment(0));
        QTRY_COMPARE_WITH_TIMEOUT(recorder->withEvent(QStringLiteral("prefetch_complete")).size(), 1, 30000);
        settle();
        const LogRecorder::Record record =
            recorder->withEvent(QStringLiteral("prefetch_complete")).constFirst();
        QCOMPARE(record.level, QStringLiteral("warning"));
        QVERIFY(record.detailedOnly);
        QCOMPARE(record.fields.value(QStringLiteral("published")).toBool(), false);
        QVERIFY(!isCached(rendition.segment(1)));
        QVERIFY(proxyLog->deliveries.isEmpty());
        const HlsProxyServer::PrefetchStatus rejected = status(rendition.segment(1));
        QCOMPARE(rejected.failures, 0);
        QCOMPARE(rejected.retryAtMs, std::nullopt);
        QVERIFY(!rejected.prefetching);
        QVERIFY(clock->recorded().isEmpty());
        QCOMPARE(origin->requestCount(rendition.path(2)), 0);
    }

    // The session ends while the worker holds the body: nothing is published, nothing is left.
    void sessionEndingDuringStorePublishesNothing()
    {
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        const PrefetchRendition rendition(server, *session, *origin);
        rendition.serveFrom(*origin);
        QSemaphore reached;
        QSemaphore proceed;
        HlsProxyServer::PrefetchSeams seams;
        seams.nowMs = [clock = clock] { return clock->now.load(); };
        seams.beforeStore = [&](const TokenInfo &) {
            reached.release();
            proceed.acquire();
        };
        server->setPrefetchSeams(seams);
        reportPlaying(*session, true);

        delivered(rendition.segment(0));
        // The worker must never stay blocked, or the pool would never finish.
        const auto unblock = qScopeGuard([&proceed] { proceed.release(); });
        bool storing = false;
        QTRY_VERIFY_WITH_TIMEOUT(storing || (storing = reached.tryAcquire()), 20000);
        session->unregister();
        proceed.release();
        settle();

        QVERIFY(!isCached(rendition.segment(1)));
        QVERIFY(stagingFiles().isEmpty());
        QVERIFY(proxyLog->deliveries.isEmpty());
        QVERIFY(!status(rendition.segment(1)).prefetching);
        QCOMPARE(published(rendition.segment(1).url), 0);
    }

    void bodySizes_data()
    {
        QTest::addColumn<BodySize>("size");
        QTest::addColumn<bool>("stored");
        QTest::newRow("40 MiB, beyond the read buffer") << BodySize::FortyMiB << true;
        QTest::newRow("64 MiB exactly") << BodySize::SixtyFourMiB << true;
        QTest::newRow("one byte over 64 MiB") << BodySize::OneByteOver << false;
        QTest::newRow("empty") << BodySize::Empty << false;
    }

    void bodySizes()
    {
        QFETCH(BodySize, size);
        QFETCH(bool, stored);
        qint64 bytes = 0;
        switch (size) {
        case BodySize::FortyMiB:
            bytes = 40 * 1048576;
            break;
        case BodySize::SixtyFourMiB:
            bytes = HlsProxyServer::MaximumPrefetchBytes;
            break;
        case BodySize::OneByteOver:
            bytes = HlsProxyServer::MaximumPrefetchBytes + 1;
            break;
        case BodySize::Empty:
            break;
        }
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        PrefetchRendition::Options options;
        options.count = 2;
        const PrefetchRendition rendition(server, *session, *origin, options);
        QByteArray body(bytes, 'v');
        for (qint64 index = 0; index < bytes; index += 4096)
            body[index] = char(index / 4096);
        origin->setResponse(rendition.path(1), FixtureServer::Response(200, body, "video/mp2t"));
        reportPlaying(*session, true);

        delivered(rendition.segment(0));
        if (stored) {
            QTRY_COMPARE_WITH_TIMEOUT(published(rendition.segment(1).url), 1, 60000);
            settle();
            QVERIFY(cachedPlaintextIs(rendition.segment(1), body));
            QVERIFY(clock->recorded().isEmpty());
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(clock->recorded(), QList<int>{250}, 60000);
            settle();
            QVERIFY(!isCached(rendition.segment(1)));
            QCOMPARE(status(rendition.segment(1)).retryAtMs, std::optional<qint64>(StartOfTime + 250));
        }
    }

    // The retry timer continues the chain after the failed segment.
    void retryContinuesAfterFailedSegment()
    {
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        PrefetchRendition::Options options;
        options.count = 3;
        const PrefetchRendition rendition(server, *session, *origin, options);
        rendition.serveFrom(*origin);
        origin->setResponse(rendition.path(1), FixtureServer::Response(503));
        // The real single-shot timer this time.
        HlsProxyServer::PrefetchSeams seams;
        seams.nowMs = [clock = clock] { return clock->now.load(); };
        server->setPrefetchSeams(seams);
        reportPlaying(*session, true);

        delivered(rendition.segment(0));
        QTRY_COMPARE_WITH_TIMEOUT(published(rendition.segment(2).url), 1, 20000);
        QCOMPARE(origin->requestCount(rendition.path(1)), 1);
        QVERIFY(!isCached(rendition.segment(1)));
    }
    // The vault fails after the body arrived and before the worker encrypts it: the worker's
    // transform comes back short, and nothing is written, neither the body nor a staging file.
    void vaultFailingBeforeTheWorkerStoresNothing()
    {
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        PrefetchRendition::Options options;
        options.count = 2;
        const PrefetchRendition rendition(server, *session, *origin, options);
        rendition.serveFrom(*origin);
        const QString root = ResourceCache::instance()->root();
        QStringList before = SegmentTestSupport::filesBelow(root);
        before.sort();
        std::atomic<bool> failed{false};
        HlsProxyServer::PrefetchSeams seams;
        seams.nowMs = [clock = clock] { return clock->now.load(); };
        seams.beforeStore = [&failed](const TokenInfo &) { failed = ProxyTestSession::failVault(); };
        server->setPrefetchSeams(seams);
        const auto restore = qScopeGuard([] { QVERIFY(ProxyTestSession::restoreVault()); });
        reportPlaying(*session, true);

        delivered(rendition.segment(0));
        QTRY_COMPARE_WITH_TIMEOUT(recorder->withEvent(QStringLiteral("prefetch_complete")).size(), 1, 30000);
        settle();
        QVERIFY(failed.load());
        QVERIFY(ProxyTestSession::restoreVault());
        QCOMPARE(published(rendition.segment(1).url), 0);
        QVERIFY(!isCached(rendition.segment(1)));
        QStringList after = SegmentTestSupport::filesBelow(root);
        after.sort();
        QCOMPARE(after, before);
    }

    // A player that stops reading once its segment's upstream transfer is over holds no transfer
    // permit: what it has not read waits in memory, and another session's prefetch goes on.
    void stalledPlayerLeavesPrefetchToOthers()
    {
        // More than the socket's high-water mark, and less than that mark and the reply's buffer
        // together: the upstream transfer ends while its last bytes wait in the reply.
        constexpr qint64 SegmentBytes = 7 * 1048576;
        const QByteArray source = SegmentTestSupport::sourceBytes(SegmentBytes);
        origin->setResponse(QStringLiteral("/stalled.ts"),
                            FixtureServer::Response(200, source, "video/MP2T"));
        QSignalSpy upstreamDone(origin.get(), &FixtureServer::responseFinished);
        std::unique_ptr<ProxyTestSession> stalled = newSession();
        std::unique_ptr<ProxyTestSession> other = newSession();
        QVERIFY(stalled && other);
        const PrefetchRendition rendition(server, *other, *origin,
                                          PrefetchRendition::named(QStringLiteral("other"), 3));
        rendition.serveFrom(*origin);
        reportPlaying(*other, true);

        QTcpSocket player;
        player.setReadBufferSize(65536);
        player.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 65536);
        player.connectToHost(QHostAddress::LocalHost, server->port());
        QVERIFY(player.waitForConnected(10000));
        const QString url = origin->url(QStringLiteral("/stalled.ts")).toString();
        player.write(LoopbackHttpClient::getHead(
            stalled->target(QStringLiteral("/chunk.ts"), stalled->registerSegment(url))));
        const auto upstreamEnded = [&upstreamDone] {
            return std::any_of(upstreamDone.cbegin(), upstreamDone.cend(),
                               [](const QList<QVariant> &arguments) {
                                   return arguments.constFirst().toByteArray() == "/stalled.ts";
                               });
        };
        QTRY_VERIFY_WITH_TIMEOUT(upstreamEnded(), 30000);

        // Every delivery of the other session tries again; the chain needs a permit to start.
        QTRY_VERIFY_WITH_TIMEOUT((delivered(rendition.segment(0)), published(rendition.segment(1).url) == 1),
                                 20000);

        player.setReadBufferSize(0);
        QByteArray received = player.readAll();
        while (player.state() == QAbstractSocket::ConnectedState && player.waitForReadyRead(10000))
            received += player.readAll();
        received += player.readAll();
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        QVERIFY(headEnd > 0);
        QCOMPARE(SegmentTestSupport::playerPlaintext(server, *stalled, received.mid(headEnd + 4)), source);
    }

    // The player fetches segment 0 from upstream; the proxy fetches the rest as the player's own
    // requests would, and the player's next request is answered from the cache.
    void playerDeliveryStartsTheChain()
    {
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        reportPlaying(*session, true);
        const Player player = startPlaying(*session, 10);
        QCOMPARE(player.chunks.size(), 10);

        const LoopbackHttpClient::Answer first = LoopbackHttpClient::get(server->port(), player.chunks.at(0));
        QCOMPARE(player.plaintext(first), livePlaintext(0));
        QTRY_COMPARE_WITH_TIMEOUT(published(liveUrl(9)), 1, 30000);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        settle();

        QStringList fetched;
        for (const FixtureServer::Request &request : origin->requests()) {
            if (!request.path.endsWith(".ts"))
                continue;
            fetched.append(QString::fromLatin1(request.path));
            QCOMPARE(request.header("Accept"), SegmentAccept);
            QCOMPARE(request.header("Authorization"), session->info().authorization);
        }
        QStringList expected;
        for (int index = 0; index < 10; ++index)
            expected.append(QStringLiteral("/live/%1.ts").arg(index));
        QCOMPARE(fetched, expected);
        // One delivery for the player's segment, then one per publication.
        QList<qlonglong> starts;
        for (int index = 0; index < 10; ++index)
            starts.append(index * 6000);
        QCOMPARE(deliveredStarts(session->sessionId()), starts);

        proxyLog->clear();
        const LoopbackHttpClient::Answer second =
            LoopbackHttpClient::get(server->port(), player.chunks.at(1));
        QCOMPARE(player.plaintext(second), livePlaintext(1));
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(origin->requestCount(QStringLiteral("/live/1.ts")), 1);
        QCOMPARE(proxyLog->transfers.size(), 1);
        QCOMPARE(std::get<3>(proxyLog->transfers.constFirst()), true);
    }

    // The player asks for the segment a prefetch is fetching: it waits for it rather than fetch it
    // twice, but not for ever.
    void demandWaitsForPrefetchOfSameSegment_data()
    {
        QTest::addColumn<Prefetch>("prefetch");
        QTest::addColumn<int>("upstreamRequests");
        QTest::addColumn<bool>("cacheHit");
        QTest::newRow("prefetch finishes in time") << Prefetch::FinishesInTime << 1 << true;
        QTest::newRow("prefetch hangs") << Prefetch::Hangs << 2 << false;
    }

    void demandWaitsForPrefetchOfSameSegment()
    {
        QFETCH(Prefetch, prefetch);
        QFETCH(int, upstreamRequests);
        QFETCH(bool, cacheHit);
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        reportPlaying(*session, true);
        const Player player = startPlaying(*session, 3);
        QCOMPARE(player.chunks.size(), 3);
        FixtureServer::Response held(200, PrefetchRendition::fixtureBody(true, 1), "video/mp2t");
        held.held = true;
        FixtureServer::Response served(200, PrefetchRendition::fixtureBody(true, 1), "video/mp2t");
        const QString path = QStringLiteral("/live/1.ts");
        origin->setResponses(path,
                             {prefetch == Prefetch::Hangs ? FixtureServer::Response::hung() : held, served});

        QCOMPARE(player.plaintext(LoopbackHttpClient::get(server->port(), player.chunks.at(0))),
                 livePlaintext(0));
        QTRY_COMPARE_WITH_TIMEOUT(origin->requestCount(path), 1, 30000);
        QVERIFY(server->isPrefetching(liveUrl(1)));
        proxyLog->clear();

        LoopbackHttpClient client(server->port());
        QVERIFY(client.connectToServer());
        client.send(LoopbackHttpClient::getHead(player.chunks.at(1)));
        QTRY_COMPARE_WITH_TIMEOUT(proxyLog->demands.size(), 1, 30000);
        // The demand did not abort the prefetch of its own segment.
        QVERIFY(server->isPrefetching(liveUrl(1)));
        if (prefetch == Prefetch::FinishesInTime)
            origin->release(path);
        const LoopbackHttpClient::Answer answer = client.waitForClose();
        QCOMPARE(player.plaintext(answer), livePlaintext(1));
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(origin->requestCount(path), upstreamRequests);
        QCOMPARE(proxyLog->transfers.size(), 1);
        QCOMPARE(std::get<3>(proxyLog->transfers.constFirst()), cacheHit);
        session->unregister();
    }

    // The player's request for another segment makes a running prefetch give way.
    void playerDemandAbortsOtherPrefetch()
    {
        std::unique_ptr<ProxyTestSession> session = newSession();
        QVERIFY(session);
        reportPlaying(*session, true);
        const Player player = startPlaying(*session, 4);
        QCOMPARE(player.chunks.size(), 4);
        origin->setResponse(QStringLiteral("/live/1.ts"), FixtureServer::Response::hung());

        QCOMPARE(player.plaintext(LoopbackHttpClient::get(server->port(), player.chunks.at(0))),
                 livePlaintext(0));
        QTRY_COMPARE_WITH_TIMEOUT(origin->requestsInFlight(), 1, 30000);
        QCOMPARE(player.plaintext(LoopbackHttpClient::get(server->port(), player.chunks.at(3))),
                 livePlaintext(3));
        QVERIFY(!server->isPrefetching(liveUrl(1)));
        const HlsProxyServer::PrefetchStatus aborted =
            server->prefetchStatus(session->sessionId(), QString(), liveUrl(1));
        QCOMPARE(aborted.failures, 1);
        QCOMPARE(aborted.retryAtMs, std::optional<qint64>(StartOfTime + 250));
        QTRY_COMPARE_WITH_TIMEOUT(origin->requestsInFlight(), 0, 30000);
    }
};

QTEST_GUILESS_MAIN(tst_HlsPrefetch)
#include "tst_HlsPrefetch.moc"
