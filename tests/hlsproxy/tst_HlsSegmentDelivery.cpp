#include "ProxySignalLog.h"
#include "ProxyTestRig.h"
#include "ProxyTestSession.h"
#include "SegmentTestSupport.h"
#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/SegmentTransferRules.h"
#include "media/MediaTransferCoordinator.h"
#include "media/ProxyRecoveryPolicy.h"
#include "media/ResourceCache.h"
#include "testsupport/Aes128Cbc.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/LogRecorder.h"
#include "testsupport/LoopbackHttpClient.h"
#include "testsupport/MediaFixtures.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QUuid>
#include <atomic>
#include <csignal>
#include <memory>
#include <sys/resource.h>

using quorin::test::Aes128Cbc;
using quorin::test::FixtureServer;
using quorin::test::LogRecorder;
using quorin::test::LoopbackHttpClient;
using quorin::test::MediaFixtures;
using Support = SegmentTestSupport;
using Priority = MediaTransferCoordinator::Priority;

namespace {

const QByteArray SourceKey = QByteArray::fromHex("00112233445566778899aabbccddeeff");
const QByteArray SourceIv = QByteArray::fromHex("0f0e0d0c0b0a09080706050403020100");

QString newLecture()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

ProxyTestSession::Segment keyedSegment(const QString &keyUrl)
{
    ProxyTestSession::Segment segment;
    segment.keyUrl = keyUrl;
    segment.sourceIv = SourceIv;
    return segment;
}

// Holds Playback permits of the process-wide coordinator and gives back whatever it still holds.
class HeldPermits
{
public:
    explicit HeldPermits(int count)
    {
        while (m_held < count && MediaTransferCoordinator::instance()->tryAcquire(Priority::Playback))
            ++m_held;
    }
    ~HeldPermits() { releaseAll(); }
    HeldPermits(const HeldPermits &) = delete;
    HeldPermits &operator=(const HeldPermits &) = delete;

    [[nodiscard]] int held() const { return m_held; }
    void releaseOne()
    {
        if (m_held > 0) {
            --m_held;
            MediaTransferCoordinator::instance()->release(Priority::Playback);
        }
    }
    void releaseAll()
    {
        while (m_held > 0)
            releaseOne();
    }

private:
    int m_held = 0;
};

// The largest buffer the system gives a TCP connection for reading or writing ("tcp_rmem" or
// "tcp_wmem"), or the fallback when it cannot be read.
qint64 systemBufferMaximum(const char *name, qint64 fallback)
{
    QFile file(QStringLiteral("/proc/sys/net/ipv4/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        return fallback;
    const QList<QByteArray> values = file.readAll().simplified().split(' ');
    bool ok = false;
    const qint64 maximum = values.size() == 3 ? values.at(2).toLongLong(&ok) : 0;
    return ok && maximum > 0 ? maximum : fallback;
}

enum class PermitRelief { Never, OnePermitAfterASecond, SegmentCachedMeanwhile };
enum class StagingFault { VaultFailsMidSegment, CannotOpen, ShortWrite };

// A keyed segment body whose padding does not check out: its plaintext's last block ends in 0x00,
// which no PKCS#7 padding does, and the encrypted padding block is cut off.
QByteArray garbledKeyedBody()
{
    QByteArray plaintext = SegmentTestSupport::sourceBytes(1008);
    plaintext[plaintext.size() - 1] = '\0';
    return Aes128Cbc::encrypt(plaintext, SourceKey, SourceIv).left(1008);
}

// What keeps the proxy's staging file from being written, for as long as it lives: the cache
// folder replaced by a plain file, so that nothing can be opened in it (root is not held back by
// permissions); or a limit on the size of files this process writes, so that a write beyond it
// comes back short.
class StagingObstacle
{
public:
    StagingObstacle(StagingFault fault, QString root)
        : m_fault(fault)
        , m_root(std::move(root))
    {
        if (m_fault == StagingFault::CannotOpen) {
            QDir().rename(m_root, aside());
            QFile blocker(m_root);
            (void)blocker.open(QIODevice::WriteOnly);
        } else {
            ::getrlimit(RLIMIT_FSIZE, &m_saved);
            m_savedHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit lowered = m_saved;
            lowered.rlim_cur = ShortWriteLimitBytes;
            ::setrlimit(RLIMIT_FSIZE, &lowered);
        }
    }
    ~StagingObstacle()
    {
        if (m_fault == StagingFault::CannotOpen) {
            QFile::remove(m_root);
            QDir().rename(aside(), m_root);
        } else {
            ::setrlimit(RLIMIT_FSIZE, &m_saved);
            std::signal(SIGXFSZ, m_savedHandler);
        }
    }
    StagingObstacle(const StagingObstacle &) = delete;
    StagingObstacle &operator=(const StagingObstacle &) = delete;

private:
    // Past the first pieces of the segment, so that the file exists and then stops growing.
    static constexpr rlim_t ShortWriteLimitBytes = 300000;

    [[nodiscard]] QString aside() const { return m_root + QStringLiteral(".aside"); }

    StagingFault m_fault;
    QString m_root;
    rlimit m_saved{};
    void (*m_savedHandler)(int) = SIG_DFL;
};

} // namespace

Q_DECLARE_METATYPE(PermitRelief)
Q_DECLARE_METATYPE(StagingFault)

class tst_HlsSegmentDelivery : public QObject, protected ProxyTestRig
{
    Q_OBJECT

private:
    [[nodiscard]] QString originUrl(const QString &path) const { return origin->url(path).toString(); }

    [[nodiscard]] QStringList transferEvents() const
    {
        static const QStringList kept{QStringLiteral("sourceReached"), QStringLiteral("segmentReached"),
                                      QStringLiteral("segmentTransfer"), QStringLiteral("segmentDelivered")};
        QStringList events;
        for (const QString &event : proxyLog->events)
            if (kept.contains(event))
                events.append(event);
        return events;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(startProxy(Records::Detailed)); }

    void init()
    {
        DiagnosticLogger::setDetailedUntil(QDateTime::currentDateTimeUtc().addSecs(3600));
        QVERIFY(openOrigin());
    }

    void cleanup()
    {
        QVERIFY(closeOrigin());
        // Whatever the case, no staging file outlives its connection.
        QCOMPARE(Support::stagingFiles(), QStringList());
        QCOMPARE(Support::freePlaybackPermits(), MediaTransferCoordinator::MaximumTransfers);
    }

    void lengthRule_data()
    {
        QTest::addColumn<qint64>("sourceBytes");
        QTest::addColumn<bool>("keyed");
        QTest::addColumn<qint64>("answerBytes");

        QTest::newRow("clear 1000") << qint64(1000) << false << qint64(1008);
        QTest::newRow("clear 1008, a whole padding block") << qint64(1008) << false << qint64(1024);
        QTest::newRow("clear 100 from a range") << qint64(100) << false << qint64(112);
        QTest::newRow("clear empty") << qint64(0) << false << qint64(16);
        QTest::newRow("keyed 1008") << qint64(1008) << true << qint64(1008);
    }

    void lengthRule()
    {
        QFETCH(qint64, sourceBytes);
        QFETCH(bool, keyed);
        QTEST(quorin::reencryptedLength(sourceBytes, keyed), "answerBytes");
    }

    void transferClassification_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<qint64>("countedMs");
        QTest::addColumn<double>("throughput");
        QTest::addColumn<bool>("healthy");

        QTest::newRow("2 MiB in 1000 ms is slow")
            << qint64(2097152) << qint64(1000) << qint64(1000) << 2.0 << false;
        QTest::newRow("2 MiB in 700 ms is short enough")
            << qint64(2097152) << qint64(700) << qint64(700) << 2097152.0 * 1000 / (700 * 1048576.0) << true;
        QTest::newRow("1 MiB in 800 ms is slow")
            << qint64(1048576) << qint64(800) << qint64(800) << 1.25 << false;
        QTest::newRow("3 MiB in 1000 ms is not slow")
            << qint64(3145728) << qint64(1000) << qint64(1000) << 3.0 << true;
        QTest::newRow("elapsed 0 counts as 1") << qint64(1048576) << qint64(0) << qint64(1) << 1000.0 << true;
    }

    void transferClassification()
    {
        QFETCH(qint64, bytes);
        QFETCH(qint64, elapsedMs);
        QFETCH(double, throughput);
        const quorin::TransferClassification result = quorin::classifyTransfer(bytes, elapsedMs);
        QTEST(result.elapsedMs, "countedMs");
        QVERIFY(qAbs(result.throughputMibS - throughput) < 1e-9);
        QTEST(result.healthy, "healthy");
    }

    void answers_data()
    {
        QTest::addColumn<bool>("keyed");
        QTest::addColumn<int>("sourceSize");
        QTest::addColumn<QString>("byteRange");
        QTest::addColumn<QList<QByteArray>>("playerLines");
        QTest::addColumn<bool>("omitContentLength");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<QByteArray>("contentLength");
        QTest::addColumn<QByteArray>("upstreamRange");
        QTest::addColumn<int>("plainFrom");
        QTest::addColumn<int>("plainBytes");
        QTest::addColumn<bool>("staged");

        QTest::newRow("clear segment")
            << false << 1000 << QString() << QList<QByteArray>() << false << QByteArray("HTTP/1.1 200 OK")
            << QByteArray("1008") << QByteArray() << 0 << 1000 << true;
        QTest::newRow("keyed segment")
            << true << 1000 << QString() << QList<QByteArray>() << false << QByteArray("HTTP/1.1 200 OK")
            << QByteArray("1008") << QByteArray() << 0 << 1000 << true;
        QTest::newRow("upstream without a length")
            << false << 1000 << QString() << QList<QByteArray>() << true << QByteArray("HTTP/1.1 200 OK")
            << QByteArray() << QByteArray() << 0 << 1000 << true;
        QTest::newRow("playlist byte range")
            << false << 2000 << QStringLiteral("1000@0") << QList<QByteArray>() << false
            << QByteArray("HTTP/1.1 206 Partial Content") << QByteArray("1008") << QByteArray("bytes=0-999")
            << 0 << 1000 << false;
        QTest::newRow("two Range lines, the first counts")
            << false << 2000 << QString() << QList<QByteArray>{"Range: bytes=100-199", "Range: bytes=300-399"}
            << false << QByteArray("HTTP/1.1 206 Partial Content") << QByteArray("112")
            << QByteArray("bytes=100-199") << 100 << 100 << false;
        // An open range from 0 asks for the whole segment: answered as if there were none.
        QTest::newRow("open range from 0")
            << false << 1000 << QString() << QList<QByteArray>{"Range: bytes=0-"} << false
            << QByteArray("HTTP/1.1 200 OK") << QByteArray("1008") << QByteArray() << 0 << 1000 << true;
        // A keyed segment decrypts only as a whole, so the player's range is not forwarded.
        QTest::newRow("keyed segment asked from byte 16")
            << true << 1000 << QString() << QList<QByteArray>{"Range: bytes=16-"} << false
            << QByteArray("HTTP/1.1 200 OK") << QByteArray("1008") << QByteArray() << 0 << 1000 << true;
    }

    void answers()
    {
        QFETCH(bool, keyed);
        QFETCH(int, sourceSize);
        QFETCH(QString, byteRange);
        QFETCH(QList<QByteArray>, playerLines);
        QFETCH(bool, omitContentLength);
        QFETCH(int, plainFrom);
        QFETCH(int, plainBytes);
        QFETCH(bool, staged);

        // Keyed: 1000 plaintext bytes that the origin serves encrypted (1008 bytes).
        const QByteArray source = Support::sourceBytes(sourceSize);
        const QByteArray upstreamBody = keyed ? Aes128Cbc::encrypt(source, SourceKey, SourceIv) : source;
        FixtureServer::Response response(200, upstreamBody, "video/MP2T");
        response.omitContentLength = omitContentLength;
        origin->setResponse(QStringLiteral("/segment.ts"), response);
        origin->setResponse(QStringLiteral("/source.key"), FixtureServer::Response(200, SourceKey));

        ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QString url = originUrl(QStringLiteral("/segment.ts"));
        ProxyTestSession::Segment listed =
            keyed ? keyedSegment(originUrl(QStringLiteral("/source.key"))) : ProxyTestSession::Segment();
        listed.byteRange = byteRange;
        const LoopbackHttpClient::Answer answer =
            Support::fetchSegment(server, session, session.registerSegment(url, listed), playerLines);

        QVERIFY(answer.closed);
        QTEST(answer.statusLine, "statusLine");
        QTEST(answer.header("Content-Length"), "contentLength");
        if (omitContentLength)
            QVERIFY(!answer.raw.left(answer.raw.indexOf("\r\n\r\n")).toLower().contains("content-length"));
        QCOMPARE(Support::playerPlaintext(server, session, answer.body), source.mid(plainFrom, plainBytes));
        const QList<FixtureServer::Request> requests = origin->requests(QStringLiteral("/segment.ts"));
        QCOMPARE(requests.size(), 1);
        QTEST(requests.constFirst().header("Range"), "upstreamRange");

        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(Support::isCached(session, url), staged);
        if (staged) {
            const QByteArray stored = Support::storedCopy(session, url);
            QCOMPARE(stored.size(), upstreamBody.size());
            QVERIFY(stored != upstreamBody);
        }
    }

    void secondRequestIsServedFromTheCache()
    {
        // Through a real playlist: the chunk URL and the IV come from its rewritten text.
        const QByteArray source = Support::sourceBytes(5000);
        origin->setResponse(QStringLiteral("/index.m3u8"),
                            FixtureServer::Response(200,
                                                    "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\n"
                                                    "segment.ts\n#EXT-X-ENDLIST\n",
                                                    "application/vnd.apple.mpegurl"));
        origin->setResponse(QStringLiteral("/segment.ts"),
                            FixtureServer::Response(200, source, "video/MP2T"));
        ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());

        const LoopbackHttpClient::Answer playlist = LoopbackHttpClient::get(
            server->port(), session.target(QStringLiteral("/playlist.m3u8"), session.playlistToken()));
        QCOMPARE(playlist.status(), 200);
        const QByteArray iv = LoopbackHttpClient::keyLineIv(playlist.body);
        QCOMPARE(iv.size(), 16);
        QByteArray chunkUrl;
        for (const QByteArray &line : playlist.body.split('\n'))
            if (line.startsWith("http://127.0.0.1"))
                chunkUrl = line;
        QVERIFY(!chunkUrl.isEmpty());
        const QString target =
            QUrl(QString::fromLatin1(chunkUrl)).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority);
        const QByteArray key = LoopbackHttpClient::fetchPlaybackKey(
            server->port(), session.target(QStringLiteral("/key.bin"), QString()));

        const LoopbackHttpClient::Answer first = LoopbackHttpClient::get(server->port(), target);
        QCOMPARE(LoopbackHttpClient::decryptBody(first.body, key, iv), source);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        const QString url = originUrl(QStringLiteral("/segment.ts"));
        QVERIFY(Support::isCached(session, url));
        QVERIFY(Support::storedCopy(session, url) != source);
        QCOMPARE(Support::storedCopy(session, url).size(), source.size());

        proxyLog->clear();
        recorder->clear();
        const LoopbackHttpClient::Answer second = LoopbackHttpClient::get(server->port(), target);
        QCOMPARE(second.raw, first.raw);
        QCOMPARE(origin->requestCount(QStringLiteral("/segment.ts")), 1);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));

        // A cache hit is delivered before its first byte and never reaches the source.
        QCOMPARE(transferEvents(),
                 (QStringList{QStringLiteral("segmentDelivered"), QStringLiteral("segmentReached"),
                              QStringLiteral("segmentTransfer")}));
        QCOMPARE(proxyLog->transfers.size(), 1);
        QCOMPARE(std::get<1>(proxyLog->transfers.constFirst()), qlonglong(second.body.size()));
        QCOMPARE(std::get<3>(proxyLog->transfers.constFirst()), true);
        const QList<LogRecorder::Record> records = recorder->withEvent(QStringLiteral("segment_complete"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.constFirst().field(QStringLiteral("source")), QStringLiteral("cache"));
        QCOMPARE(records.constFirst().field(QStringLiteral("ttfb_ms")), QStringLiteral("-1"));
    }

    void cachedRanges_data()
    {
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<QByteArray>("contentLength");
        QTest::addColumn<int>("plainFrom");
        QTest::addColumn<int>("plainBytes");

        QTest::newRow("bytes=100-199") << QByteArray("bytes=100-199") << QByteArray("HTTP/1.1 200 OK")
                                       << QByteArray("112") << 100 << 100;
        QTest::newRow("bytes=900-") << QByteArray("bytes=900-") << QByteArray("HTTP/1.1 200 OK")
                                    << QByteArray("112") << 900 << 100;
        QTest::newRow("bytes=950-5000, past the end")
            << QByteArray("bytes=950-5000") << QByteArray("HTTP/1.1 200 OK") << QByteArray("64") << 950 << 50;
        QTest::newRow("start at the end")
            << QByteArray("bytes=1000-") << QByteArray("HTTP/1.1 416 Invalid range") << QByteArray() << 0
            << -1;
        QTest::newRow("start past the end")
            << QByteArray("bytes=4000-4001") << QByteArray("HTTP/1.1 416 Invalid range") << QByteArray() << 0
            << -1;
    }

    void cachedRanges()
    {
        QFETCH(QByteArray, range);
        QFETCH(int, plainFrom);
        QFETCH(int, plainBytes);

        const QByteArray source = Support::sourceBytes(1000);
        ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QString url = originUrl(QStringLiteral("/segment.ts"));
        QVERIFY(session.cacheAsTheProxyWould(url, source));

        const LoopbackHttpClient::Answer answer =
            Support::fetchSegment(server, session, session.registerSegment(url), {"Range: " + range});
        QTEST(answer.statusLine, "statusLine");
        QTEST(answer.header("Content-Length"), "contentLength");
        if (plainBytes >= 0)
            QCOMPARE(Support::playerPlaintext(server, session, answer.body),
                     source.mid(plainFrom, plainBytes));
        else
            QVERIFY(answer.body.isEmpty());
        QCOMPARE(origin->totalRequestCount(), 0);
    }

    void upstreamAnnouncementsInOrder_data()
    {
        QTest::addColumn<bool>("initialisationSection");
        QTest::addColumn<QStringList>("events");

        QTest::newRow("media segment")
            << false
            << QStringList{QStringLiteral("sourceReached"), QStringLiteral("segmentReached"),
                           QStringLiteral("segmentTransfer"), QStringLiteral("segmentDelivered")};
        QTest::newRow("initialisation section")
            << true << QStringList{QStringLiteral("sourceReached"), QStringLiteral("segmentTransfer")};
    }

    void upstreamAnnouncementsInOrder()
    {
        QFETCH(bool, initialisationSection);
        const QByteArray source = initialisationSection
                                      ? MediaFixtures::readFile(MediaFixtures::entry(QStringLiteral("fmp4"))
                                                                    .value(QStringLiteral("initSegment"))
                                                                    .toString())
                                      : Support::sourceBytes(300000);
        QVERIFY(!source.isEmpty());
        origin->setResponse(QStringLiteral("/part"), FixtureServer::Response(200, source, "video/MP2T"));
        ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        ProxyTestSession::Segment listed;
        if (initialisationSection) {
            listed.startMs = -1;
            listed.durationMs = 0;
        }
        const LoopbackHttpClient::Answer answer = Support::fetchSegment(
            server, session, session.registerSegment(originUrl(QStringLiteral("/part")), listed));
        QCOMPARE(Support::playerPlaintext(server, session, answer.body), source);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));

        QTEST(transferEvents(), "events");
        QCOMPARE(std::get<1>(proxyLog->transfers.constFirst()), qlonglong(answer.body.size()));
        QCOMPARE(std::get<3>(proxyLog->transfers.constFirst()), false);
        QCOMPARE(std::get<2>(proxyLog->sources.constFirst()), ProxyResourceType::Segment);
        if (!initialisationSection) {
            QCOMPARE(proxyLog->reached.constFirst(),
                     ProxySignalLog::Reach(session.sessionId(), 1, QStringLiteral("rendition-1"), 0, 2000));
            QCOMPARE(proxyLog->deliveries.constFirst(),
                     ProxySignalLog::Delivery(session.sessionId(), QStringLiteral("rendition-1"), 0, 2000));
        }
        const QList<LogRecorder::Record> records = recorder->withEvent(QStringLiteral("segment_complete"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.constFirst().field(QStringLiteral("source")), QStringLiteral("cdn"));
        QVERIFY(records.constFirst().fields.value(QStringLiteral("ttfb_ms")).toLongLong() >= 0);
    }

    void slowTransferIsReported()
    {
        DiagnosticLogger::setDetailedUntil(QDateTime::currentDateTimeUtc().addSecs(-1));
        const QByteArray source = Support::sourceBytes(2097152);
        FixtureServer::Response response(200, source, "video/MP2T");
        response.bytesPerSecond = 1048576;
        origin->setResponse(QStringLiteral("/slow.ts"), response);
        ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());

        const LoopbackHttpClient::Answer answer = Support::fetchSegment(
            server, session, session.registerSegment(originUrl(QStringLiteral("/slow.ts"))));
        QCOMPARE(answer.body.size(), 2097152 + 16);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));

        QVERIFY(recorder->withEvent(QStringLiteral("segment_complete")).isEmpty());
        const QList<LogRecorder::Record> slow = recorder->withEvent(QStringLiteral("segment_slow"));
        QCOMPARE(slow.size(), 1);
        const LogRecorder::Record &record = slow.constFirst();
        QCOMPARE(record.level, QStringLiteral("warning"));
        QCOMPARE(record.category, QStringLiteral("hls"));
        QVERIFY(!record.detailedOnly);
        const QStringList fields{QStringLiteral("session_fp"),
                                 QStringLiteral("source"),
                                 QStringLiteral("bytes"),
                                 QStringLiteral("elapsed_ms"),
                                 QStringLiteral("ttfb_ms"),
                                 QStringLiteral("disk_ms"),
                                 QStringLiteral("crypto_ms"),
                                 QStringLiteral("throughput_mib_s"),
                                 QStringLiteral("backpressure_events"),
                                 QStringLiteral("backpressure_ms"),
                                 QStringLiteral("active_requests")};
        QStringList present = record.fields.keys();
        present.sort();
        QStringList expected = fields;
        expected.sort();
        QCOMPARE(present, expected);
        QCOMPARE(record.field(QStringLiteral("session_fp")),
                 DiagnosticLogger::fingerprint(session.sessionId()));
        QCOMPARE(record.field(QStringLiteral("source")), QStringLiteral("cdn"));
        QCOMPARE(record.fields.value(QStringLiteral("bytes")).toLongLong(), qint64(2097152 + 16));
        QVERIFY(record.fields.value(QStringLiteral("elapsed_ms")).toLongLong() >= 1000);
        QVERIFY(record.field(QStringLiteral("throughput_mib_s"))
                    .contains(QRegularExpression(QStringLiteral("^\\d+\\.\\d\\d$"))));
        QCOMPARE(record.fields.value(QStringLiteral("active_requests")).toInt(), 1);
    }

    void transferPermitWait_data()
    {
        QTest::addColumn<PermitRelief>("relief");
        QTest::addColumn<QByteArray>("statusLine");
        QTest::addColumn<int>("upstreamRequests");

        QTest::newRow("no permit comes")
            << PermitRelief::Never << QByteArray("HTTP/1.1 503 Playback transfer capacity unavailable") << 0;
        QTest::newRow("a permit after a second")
            << PermitRelief::OnePermitAfterASecond << QByteArray("HTTP/1.1 200 OK") << 1;
        QTest::newRow("cached during the wait")
            << PermitRelief::SegmentCachedMeanwhile << QByteArray("HTTP/1.1 200 OK") << 0;
    }

    void transferPermitWait()
    {
        QFETCH(PermitRelief, relief);
        const QByteArray source = Support::sourceBytes(4000);
        origin->setResponse(QStringLiteral("/segment.ts"),
                            FixtureServer::Response(200, source, "video/MP2T"));
        ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QString url = originUrl(QStringLiteral("/segment.ts"));
        const QString token = session.registerSegment(url);

        HeldPermits permits(MediaTransferCoordinator::MaximumTransfers);
        QCOMPARE(permits.held(), MediaTransferCoordinator::MaximumTransfers);
        QTimer relieve;
        relieve.setSingleShot(true);
        connect(&relieve, &QTimer::timeout, this, [&] {
            if (relief == PermitRelief::OnePermitAfterASecond)
                permits.releaseOne();
            else if (relief == PermitRelief::SegmentCachedMeanwhile)
                QVERIFY(session.cacheAsTheProxyWould(url, source));
        });
        relieve.start(1000);

        QElapsedTimer waited;
        waited.start();
        const LoopbackHttpClient::Answer answer = Support::fetchSegment(server, session, token);
        QTEST(answer.statusLine, "statusLine");
        QTEST(origin->requestCount(QStringLiteral("/segment.ts")), "upstreamRequests");
        if (relief == PermitRelief::Never) {
            // 80 retries 25 ms apart come before the refusal.
            QVERIFY2(waited.elapsed() >= 1900, qPrintable(QString::number(waited.elapsed())));
            QCOMPARE(proxyLog->failures.size(), 1);
            QCOMPARE(proxyLog->failures.constFirst().httpStatus, 503);
        } else {
            QVERIFY(waited.elapsed() >= 900);
            QCOMPARE(Support::playerPlaintext(server, session, answer.body), source);
        }
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        permits.releaseAll();
    }

    void slowReaderHoldsBackTheUpstream()
    {
        constexpr qint64 SegmentBytes = 64 * 1048576;
        constexpr qint64 WriteWindowBytes = 1048576;
        constexpr int PlayerReceiveBufferBytes = 262144;
        const QByteArray source = Support::sourceBytes(SegmentBytes);
        FixtureServer::Response response(200, source, "video/MP2T");
        response.writeWindowBytes = WriteWindowBytes;
        origin->setResponse(QStringLiteral("/large.ts"), response);
        ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QString token = session.registerSegment(originUrl(QStringLiteral("/large.ts")));

        QTcpSocket player;
        player.setReadBufferSize(65536);
        // A fixed receive buffer: the system's automatic sizing could otherwise take in megabytes
        // that the player never read.
        player.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, PlayerReceiveBufferBytes);
        player.connectToHost(QHostAddress::LocalHost, server->port());
        QVERIFY(player.waitForConnected(10000));
        player.write(LoopbackHttpClient::getHead(session.target(QStringLiteral("/chunk.ts"), token)));

        // The player reads nothing more: the origin's sent bytes must level off.
        QTRY_VERIFY_WITH_TIMEOUT(origin->bytesSent() > 4 * 1048576, 20000);
        qint64 before = -1;
        QElapsedTimer levelled;
        levelled.start();
        while (levelled.elapsed() < 30000) {
            before = origin->bytesSent();
            QTest::qWait(750);
            if (origin->bytesSent() == before)
                break;
        }
        QCOMPARE(origin->bytesSent(), before);
        // What may wait between the origin and the player: the proxy's 4 MiB in its socket and 4 MiB
        // in the reply, the origin's window, and the system's buffers of the two connections at
        // their largest (the receiving side of a connection sizes itself up to the read maximum).
        const qint64 held = 2 * 4194304 + WriteWindowBytes + 2 * systemBufferMaximum("tcp_wmem", 4194304) +
                            systemBufferMaximum("tcp_rmem", 6291456) + 2 * PlayerReceiveBufferBytes;
        QVERIFY2(held < SegmentBytes, "the system's buffers could hold the whole segment");
        QVERIFY2(before <= held,
                 qPrintable(QStringLiteral("%1 sent, at most %2 expected").arg(before).arg(held)));

        player.setReadBufferSize(0);
        QByteArray received;
        connect(&player, &QTcpSocket::readyRead, this, [&] { received += player.readAll(); });
        received += player.readAll();
        QTRY_VERIFY_WITH_TIMEOUT(player.state() == QAbstractSocket::UnconnectedState, 60000);
        received += player.readAll();
        const qsizetype headEnd = received.indexOf("\r\n\r\n");
        QVERIFY(headEnd > 0);
        const QByteArray body = received.mid(headEnd + 4);
        QCOMPARE(body.size(), SegmentBytes + 16);
        QVERIFY(Support::playerPlaintext(server, session, body) == source);

        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        const QList<LogRecorder::Record> records = recorder->withEvent(QStringLiteral("segment_complete")) +
                                                   recorder->withEvent(QStringLiteral("segment_slow"));
        QCOMPARE(records.size(), 1);
        QVERIFY(records.constFirst().fields.value(QStringLiteral("backpressure_events")).toLongLong() >= 1);
    }

    void prefetchPermitIsFreeOnDelivery()
    {
        origin->setResponse(QStringLiteral("/segment.ts"),
                            FixtureServer::Response(200, Support::sourceBytes(3000), "video/MP2T"));
        ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());

        std::atomic<int> deliveries{0};
        std::atomic<bool> granted{false};
        // Runs inside the delivery, on the proxy thread, as a prefetch decision would.
        const QMetaObject::Connection connection = connect(
            server, &HlsProxyServer::segmentDelivered, server,
            [&](const QString &, const QString &, qlonglong, qlonglong) {
                MediaTransferCoordinator *coordinator = MediaTransferCoordinator::instance();
                if (coordinator->tryAcquire(Priority::Prefetch)) {
                    granted = true;
                    coordinator->release(Priority::Prefetch);
                }
                ++deliveries;
            },
            Qt::DirectConnection);
        const LoopbackHttpClient::Answer answer = Support::fetchSegment(
            server, session, session.registerSegment(originUrl(QStringLiteral("/segment.ts"))));
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        disconnect(connection);
        QCOMPARE(answer.status(), 200);
        QCOMPARE(deliveries.load(), 1);
        QVERIFY(granted.load());
    }

    void playerLeavesMidTransfer()
    {
        FixtureServer::Response response(200, Support::sourceBytes(4 * 1048576), "video/MP2T");
        response.bytesPerSecond = 1048576;
        origin->setResponse(QStringLiteral("/segment.ts"), response);
        ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QString url = originUrl(QStringLiteral("/segment.ts"));

        LoopbackHttpClient player(server->port());
        QVERIFY(player.connectToServer());
        player.send(LoopbackHttpClient::getHead(
            session.target(QStringLiteral("/chunk.ts"), session.registerSegment(url))));
        QTRY_VERIFY_WITH_TIMEOUT(player.received().size() > 100000, 20000);
        QVERIFY(!Support::stagingFiles().isEmpty());
        player.abort();

        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(Support::stagingFiles(), QStringList());
        QVERIFY(!Support::isCached(session, url));
        QVERIFY(proxyLog->transfers.isEmpty());
        QVERIFY(!proxyLog->events.contains(QStringLiteral("segmentDelivered")));
        QVERIFY(recorder->withEvent(QStringLiteral("segment_complete")).isEmpty());
        QVERIFY(recorder->withEvent(QStringLiteral("segment_slow")).isEmpty());
        QCOMPARE(server->activeRequestCount(session.sessionId()), 0);
        QCOMPARE(Support::freePlaybackPermits(), MediaTransferCoordinator::MaximumTransfers);
    }

    void garbledKeyedSegment()
    {
        // The plaintext's last block ends in 0x00, which no PKCS#7 padding does: the encrypted
        // padding block is cut off, so the last block left fails the padding check.
        QByteArray plaintext = Support::sourceBytes(1008);
        plaintext[plaintext.size() - 1] = '\0';
        const QByteArray garbled = Aes128Cbc::encrypt(plaintext, SourceKey, SourceIv).left(1008);
        origin->setResponse(QStringLiteral("/segment.ts"),
                            FixtureServer::Response(200, garbled, "video/MP2T"));
        origin->setResponse(QStringLiteral("/source.key"), FixtureServer::Response(200, SourceKey));
        ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QString url = originUrl(QStringLiteral("/segment.ts"));
        const QString token =
            session.registerSegment(url, keyedSegment(originUrl(QStringLiteral("/source.key"))));

        const LoopbackHttpClient::Answer answer = Support::fetchSegment(server, session, token);
        QCOMPARE(answer.header("Content-Length"), QByteArray("1008"));
        QVERIFY(answer.body.size() < 1008);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QVERIFY(!Support::isCached(session, url));
        QCOMPARE(proxyLog->failures.size(), 1);
        QCOMPARE(proxyLog->failures.constFirst().upstreamCode, QStringLiteral("DECRYPTION_FAILED"));
        QCOMPARE(proxyLog->failures.constFirst().httpStatus, 200);
        QCOMPARE(proxyLog->failures.constFirst().networkError, 0);
        QVERIFY(Support::warned(
            *recorder,
            QStringLiteral("HlsProxyServer: source AES-128 segment failed authentication/padding")));
        QVERIFY(proxyLog->transfers.isEmpty());

        (void)Support::fetchSegment(server, session, token);
        QCOMPARE(origin->requestCount(QStringLiteral("/segment.ts")), 2);
    }

    // A cached copy that no longer decrypts costs one rebuild, not the lecture: the proxy drops
    // the copy and reports a cache fault, which the recovery policy answers with a rebuild; the
    // rebuilt stream fetches the segment upstream and plays on. The same copy failing again in the
    // same stream is terminal.
    void garbledCachedSegmentIsRecoverable()
    {
        const QByteArray plaintext = Support::sourceBytes(1000);
        origin->setResponse(
            QStringLiteral("/segment.ts"),
            FixtureServer::Response(200, Aes128Cbc::encrypt(plaintext, SourceKey, SourceIv), "video/MP2T"));
        origin->setResponse(QStringLiteral("/source.key"), FixtureServer::Response(200, SourceKey));
        const QString lecture = newLecture();
        const QString url = originUrl(QStringLiteral("/segment.ts"));
        const ProxyTestSession::Segment listed = keyedSegment(originUrl(QStringLiteral("/source.key")));
        auto first =
            std::make_unique<ProxyTestSession>(server, originUrl(QStringLiteral("/index.m3u8")), lecture);
        QVERIFY(first->isRegistered());
        QVERIFY(first->cacheAsTheProxyWould(url, garbledKeyedBody()));

        const LoopbackHttpClient::Answer garbled =
            Support::fetchSegment(server, *first, first->registerSegment(url, listed));
        // Cut short: nothing of the answer, or less than its head announced.
        QVERIFY(garbled.statusLine.isEmpty() ||
                garbled.body.size() < garbled.header("Content-Length").toInt());
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(origin->requestCount(QStringLiteral("/segment.ts")), 0);
        QCOMPARE(proxyLog->failures.size(), 1);
        const ProxyFailureRecord fault = proxyLog->failures.constFirst();
        QCOMPARE(fault.origin, ProxyFailureOrigin::LocalProxy);
        QCOMPARE(fault.reason, ProxyFailureReason::CacheFault);
        QCOMPARE(fault.resourceType, ProxyResourceType::Segment);
        QCOMPARE(fault.resourceFp, DiagnosticLogger::fingerprint(url));
        QVERIFY(!Support::isCached(*first, url));
        QCOMPARE(recorder->withEvent(QStringLiteral("cached_copy_damaged")).size(), 1);

        // Playback control's answer, and its rebuild: a new session of the same lecture.
        QSet<QString> faulted;
        QCOMPARE(ProxyRecoveryPolicy::decide(fault, first->sessionId(), 1, false, faulted),
                 ProxyRecoveryPolicy::Action::Rebuild);
        faulted.insert(fault.resourceFp);
        first.reset();
        proxyLog->clear();
        const ProxyTestSession rebuilt(server, originUrl(QStringLiteral("/index.m3u8")), lecture);
        QVERIFY(rebuilt.isRegistered());
        const QString token = rebuilt.registerSegment(url, listed);
        const LoopbackHttpClient::Answer played = Support::fetchSegment(server, rebuilt, token);
        QCOMPARE(Support::playerPlaintext(server, rebuilt, played.body), plaintext);
        QCOMPARE(origin->requestCount(QStringLiteral("/segment.ts")), 1);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QVERIFY(proxyLog->failures.isEmpty());
        QVERIFY(Support::isCached(rebuilt, url));

        // The copy comes back damaged: no rebuild mends that.
        ResourceCache::instance()->deleteResources({ResourceCache::vaultKey(lecture, url)});
        QVERIFY(rebuilt.cacheAsTheProxyWould(url, garbledKeyedBody()));
        (void)Support::fetchSegment(server, rebuilt, token);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(proxyLog->failures.size(), 1);
        QCOMPARE(ProxyRecoveryPolicy::decide(proxyLog->failures.constFirst(), rebuilt.sessionId(), 1, true,
                                             faulted),
                 ProxyRecoveryPolicy::Action::SetupFailed);
        QCOMPARE(origin->requestCount(QStringLiteral("/segment.ts")), 1);
    }

    // A vault that fails while a cached copy is served says nothing about the file: the answer
    // fails as a cache fault, and the copy stays for when the vault is back.
    void vaultFailingDuringCacheHitKeepsTheCopy()
    {
        const QByteArray source = Support::sourceBytes(16 * 1048576);
        const ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QString url = originUrl(QStringLiteral("/segment.ts"));
        QVERIFY(session.cacheAsTheProxyWould(url, source));
        const auto restore = qScopeGuard([] { QVERIFY(ProxyTestSession::restoreVault()); });

        // A player that takes the head and then stops reading holds the pump back at its
        // high-water mark, far from the end of the copy, while the vault fails.
        QTcpSocket player;
        player.setReadBufferSize(65536);
        player.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 65536);
        player.connectToHost(QHostAddress::LocalHost, server->port());
        QVERIFY(player.waitForConnected(10000));
        player.write(LoopbackHttpClient::getHead(
            session.target(QStringLiteral("/chunk.ts"), session.registerSegment(url))));
        QVERIFY(player.waitForReadyRead(10000));
        QVERIFY(ProxyTestSession::failVault());

        player.setReadBufferSize(0);
        qint64 received = player.readAll().size();
        while (player.state() == QAbstractSocket::ConnectedState && player.waitForReadyRead(10000))
            received += player.readAll().size();
        received += player.readAll().size();
        QVERIFY(received < source.size());
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(proxyLog->failures.size(), 1);
        QCOMPARE(proxyLog->failures.constFirst().reason, ProxyFailureReason::CacheFault);
        QVERIFY(ProxyTestSession::restoreVault());
        QVERIFY(Support::isCached(session, url));
        QVERIFY(recorder->withEvent(QStringLiteral("cached_copy_damaged")).isEmpty());
    }

    // No plaintext reaches the disk, whatever goes wrong with the staging of an upstream segment:
    // the staging file goes, nothing is cached, and the player's answer is whole.
    void stagingFailuresLeaveNothing_data()
    {
        QTest::addColumn<StagingFault>("fault");
        QTest::addColumn<QString>("warning");

        QTest::newRow("vault fails mid-segment")
            << StagingFault::VaultFailsMidSegment
            << QStringLiteral("HlsProxyServer: cache write failed; continuing playback without caching");
        QTest::newRow("staging file cannot be opened")
            << StagingFault::CannotOpen
            << QStringLiteral("HlsProxyServer: Failed to open temp cache file for writing!");
        QTest::newRow("short write")
            << StagingFault::ShortWrite
            << QStringLiteral("HlsProxyServer: cache write failed; continuing playback without caching");
    }

    void stagingFailuresLeaveNothing()
    {
        QFETCH(StagingFault, fault);
        QFETCH(QString, warning);
        constexpr qint64 SegmentBytes = 2 * 1048576;
        const QByteArray source = Support::sourceBytes(SegmentBytes);
        FixtureServer::Response response(200, source, "video/MP2T");
        if (fault == StagingFault::VaultFailsMidSegment)
            response.bytesPerSecond = SegmentBytes;
        origin->setResponse(QStringLiteral("/segment.ts"), response);
        const ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QString url = originUrl(QStringLiteral("/segment.ts"));
        const QString root = ResourceCache::instance()->root();
        QStringList before = Support::filesBelow(root);
        before.sort();

        std::unique_ptr<StagingObstacle> obstacle;
        if (fault != StagingFault::VaultFailsMidSegment)
            obstacle = std::make_unique<StagingObstacle>(fault, root);
        const auto restore = qScopeGuard([] { QVERIFY(ProxyTestSession::restoreVault()); });
        LoopbackHttpClient player(server->port());
        QVERIFY(player.connectToServer());
        player.send(LoopbackHttpClient::getHead(
            session.target(QStringLiteral("/chunk.ts"), session.registerSegment(url))));
        if (fault == StagingFault::VaultFailsMidSegment) {
            QTRY_VERIFY_WITH_TIMEOUT(player.received().size() > 200000, 20000);
            QVERIFY(!Support::stagingFiles().isEmpty());
            QVERIFY(ProxyTestSession::failVault());
        }
        const LoopbackHttpClient::Answer answer = player.waitForClose(30000);
        QVERIFY(answer.closed);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        obstacle.reset();
        QVERIFY(ProxyTestSession::restoreVault());

        QCOMPARE(answer.status(), 200);
        QCOMPARE(Support::playerPlaintext(server, session, answer.body), source);
        QVERIFY(proxyLog->failures.isEmpty());
        QVERIFY(Support::warned(*recorder, warning));
        QStringList after = Support::filesBelow(root);
        after.sort();
        QCOMPARE(after, before);
        QVERIFY(!Support::isCached(session, url));
    }
};

QTEST_GUILESS_MAIN(tst_HlsSegmentDelivery)
#include "tst_HlsSegmentDelivery.moc"
