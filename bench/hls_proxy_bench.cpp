// The local HLS proxy as the player sees it, against the same media fetched straight from the
// origin: cache-hit throughput against the single-core AES limit of this machine, time to first
// byte of playlists and segments from the cache and from upstream, and time from play() to the
// first decoded frame. The origin is the test fixture server, on loopback, in this process; the
// player side runs on other threads. Prints figures only; never a gate.
#include "ProxySignalLog.h"
#include "ProxyTestSession.h"
#include "bench/BenchTiming.h"
#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/TokenInfo.h"
#include "media/CryptoManager.h"
#include "media/ResourceCache.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/MediaFixtures.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QMediaPlayer>
#include <QProcess>
#include <QSslSocket>
#include <QTcpSocket>
#include <QUuid>
#include <QVideoFrame>
#include <QVideoSink>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <openssl/evp.h>
#include <thread>
#include <vector>

using quorin::test::FixtureServer;
using quorin::test::MediaFixtures;

namespace {

constexpr qint64 ThroughputSegmentBytes = 2000000;
constexpr int ThroughputRounds = 50;
constexpr int TtfbRounds = 200;
constexpr int FrameRuns = 5;

struct Fetch
{
    bool ok = false;
    double ttfbMs = 0;
    double totalMs = 0;
    qint64 bytes = 0;
};

// One GET with "Connection: close", blocking, on the calling thread. TLS when a host name is given.
Fetch httpGet(quint16 port, const QByteArray &target, bool tls)
{
    std::unique_ptr<QTcpSocket> socket;
    QElapsedTimer timer;
    timer.start();
    if (tls) {
        auto *secure = new QSslSocket;
        socket.reset(secure);
        secure->setSslConfiguration(FixtureServer::clientConfiguration());
        secure->connectToHostEncrypted(QStringLiteral("localhost"), port);
        if (!secure->waitForEncrypted(30000))
            return {};
    } else {
        socket = std::make_unique<QTcpSocket>();
        socket->connectToHost(QHostAddress::LocalHost, port);
        if (!socket->waitForConnected(30000))
            return {};
    }
    socket->write("GET " + target + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n");
    Fetch fetch;
    if (!socket->waitForReadyRead(30000))
        return {};
    fetch.ttfbMs = double(timer.nsecsElapsed()) / 1e6;
    QByteArray received = socket->readAll();
    while (socket->state() == QAbstractSocket::ConnectedState && socket->waitForReadyRead(30000))
        received += socket->readAll();
    received += socket->readAll();
    fetch.totalMs = double(timer.nsecsElapsed()) / 1e6;
    fetch.bytes = received.size();
    fetch.ok = received.startsWith("HTTP/1.1 200");
    return fetch;
}

// Runs the work on a thread of its own while this thread's event loop serves the origin.
void offThread(const std::function<void()> &work)
{
    std::atomic<bool> done{false};
    std::thread runner([&] {
        work();
        done = true;
    });
    QEventLoop loop;
    while (!done)
        loop.processEvents(QEventLoop::AllEvents, 5);
    runner.join();
}

double percentile(std::vector<double> samples, double fraction)
{
    std::sort(samples.begin(), samples.end());
    const auto index = std::min(samples.size() - 1, std::size_t(fraction * double(samples.size())));
    return samples[index];
}

QByteArray aes128CbcEncrypt(const QByteArray &plain, const QByteArray &key, const QByteArray &iv)
{
    EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
    QByteArray out(plain.size() + 16, Qt::Uninitialized);
    int written = 0;
    int tail = 0;
    auto *bytes = reinterpret_cast<unsigned char *>(out.data());
    EVP_EncryptInit_ex(context, EVP_aes_128_cbc(), nullptr,
                       reinterpret_cast<const unsigned char *>(key.constData()),
                       reinterpret_cast<const unsigned char *>(iv.constData()));
    EVP_EncryptUpdate(context, bytes, &written, reinterpret_cast<const unsigned char *>(plain.constData()),
                      int(plain.size()));
    EVP_EncryptFinal_ex(context, bytes + written, &tail);
    EVP_CIPHER_CTX_free(context);
    out.resize(written + tail);
    return out;
}

// Bytes per second of one cipher on one core, from openssl's machine-readable "+F:" line.
double opensslSpeed(const QStringList &extra, const QString &cipher)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  QStringList{QStringLiteral("speed"), QStringLiteral("-elapsed"), QStringLiteral("-mr"),
                              QStringLiteral("-seconds"), QStringLiteral("3"), QStringLiteral("-bytes"),
                              QStringLiteral("16384")} +
                      extra + QStringList{QStringLiteral("-evp"), cipher});
    if (!openssl.waitForFinished(60000))
        return 0;
    for (const QByteArray &line : openssl.readAllStandardOutput().split('\n')) {
        if (line.startsWith("+F:"))
            return line.split(':').constLast().trimmed().toDouble();
    }
    return 0;
}

TokenInfo segmentToken(const ProxyTestSession &session, const QString &url, const QString &keyUrl,
                       const QByteArray &sourceIv, quint64 sequence)
{
    TokenInfo segment;
    segment.url = url;
    segment.lectureId = session.info().lectureId;
    segment.sessionId = session.sessionId();
    segment.generation = session.info().generation;
    segment.playbackKey = session.info().playbackKey;
    segment.playbackIv = session.info().playbackIv;
    segment.cacheIv = CryptoManager::itemIv(session.info().masterIv, url);
    segment.authorization = session.info().authorization;
    segment.acceptLanguage = session.info().acceptLanguage;
    segment.keyUrl = keyUrl;
    segment.keyCacheIv = CryptoManager::itemIv(session.info().masterIv, keyUrl);
    segment.sourceIv = sourceIv;
    segment.sequence = sequence;
    segment.startMs = qint64(sequence) * 2000;
    segment.durationMs = 2000;
    segment.renditionId = QStringLiteral("bench");
    return segment;
}

QString playlistToken(HlsProxyServer *server, const ProxyTestSession &session, const QString &url)
{
    TokenInfo playlist;
    playlist.url = url;
    playlist.lectureId = session.info().lectureId;
    playlist.sessionId = session.sessionId();
    playlist.generation = session.info().generation;
    playlist.authorization = session.info().authorization;
    playlist.acceptLanguage = session.info().acceptLanguage;
    return server->registerToken(playlist);
}

class Bench
{
public:
    Bench()
        : m_server(ProxySignalLog::trustingServer())
    {
    }

    bool start()
    {
        if (!m_server || m_server->port() == 0 || !ProxyTestSession::prepareVault() || !m_origin.listen() ||
            !m_plainOrigin.listen())
            return false;
        const QString media = MediaFixtures::path(QString());
        m_origin.serveDirectory(QStringLiteral("/media/"), media);
        m_plainOrigin.serveDirectory(QStringLiteral("/media/"), media);
        const QByteArray playlist = MediaFixtures::readFile(QStringLiteral("aes/index.m3u8"));
        m_origin.setPrefixHandler(QStringLiteral("/pl/"), [playlist](const FixtureServer::Request &) {
            return FixtureServer::Response(200, playlist, "application/vnd.apple.mpegurl");
        });
        const QByteArray segment = MediaFixtures::readFile(QStringLiteral("aes/segment000.ts"));
        m_origin.setPrefixHandler(QStringLiteral("/sg/"), [segment](const FixtureServer::Request &) {
            return FixtureServer::Response(200, segment, "video/mp2t");
        });
        return true;
    }

    void cacheHitThroughput()
    {
        ProxyTestSession session(m_server, url("/media/aes/index.m3u8"), newLecture());
        const QByteArray key = MediaFixtures::hexBytes(QStringLiteral("aes"), QStringLiteral("keyHex"));
        const QByteArray iv = MediaFixtures::hexBytes(QStringLiteral("aes"), QStringLiteral("ivHex"));
        const QString keyUrl = url("/media/aes/key.bin");
        m_server->storeSourceKey(session.sessionId(), keyUrl, key);
        // PKCS#7 pads 1,999,999 bytes to exactly 2,000,000.
        const QByteArray body = aes128CbcEncrypt(QByteArray(ThroughputSegmentBytes - 1, 's'), key, iv);
        const QString segmentUrl = url("/throughput/segment.ts");
        if (body.size() != ThroughputSegmentBytes) {
            std::printf("cache-hit throughput: the segment is %lld bytes\n",
                        static_cast<long long>(body.size()));
            return;
        }
        if (!session.cacheAsTheProxyWould(segmentUrl, body)) {
            std::printf(
                "cache-hit throughput: the cache refused the segment (free space below its floor?)\n");
            return;
        }
        const QByteArray target =
            session
                .target(QStringLiteral("/chunk.ts"),
                        m_server->registerToken(segmentToken(session, segmentUrl, keyUrl, iv, 0)))
                .toUtf8();
        qint64 bytes = 0;
        double ms = 0;
        bool ok = true;
        offThread([&] {
            ok = httpGet(m_server->port(), target, false).ok; // warm-up
            for (int round = 0; round < ThroughputRounds && ok; ++round) {
                const Fetch fetch = httpGet(m_server->port(), target, false);
                ok = fetch.ok;
                bytes += fetch.bytes;
                ms += fetch.totalMs;
            }
        });
        if (!ok) {
            std::printf("cache-hit throughput: a request failed\n");
            return;
        }
        const double proxyMBps = double(bytes) / (ms / 1000.0) / 1e6;
        const double encrypt = opensslSpeed({}, QStringLiteral("aes-128-cbc"));
        const double decrypt = opensslSpeed({QStringLiteral("-decrypt")}, QStringLiteral("aes-128-cbc"));
        const double ctr = opensslSpeed({}, QStringLiteral("aes-256-ctr"));
        const double limit = encrypt > 0 && decrypt > 0 ? 1.0 / (1.0 / encrypt + 1.0 / decrypt) : 0;
        std::printf("cache-hit throughput (2,000,000-byte keyed segment, %d requests after one warm-up)\n",
                    ThroughputRounds);
        std::printf("  proxy                          %9.1f MB/s\n", proxyMBps);
        std::printf("  openssl aes-128-cbc encrypt E  %9.1f MB/s\n", encrypt / 1e6);
        std::printf("  openssl aes-128-cbc decrypt D  %9.1f MB/s\n", decrypt / 1e6);
        std::printf("  single-core limit L=1/(1/E+1/D)%9.1f MB/s\n", limit / 1e6);
        std::printf("  proxy / L                      %9.2f   (target: at least 0.50)\n",
                    limit > 0 ? proxyMBps * 1e6 / limit : 0.0);
        std::printf("  openssl aes-256-ctr (at rest)  %9.1f MB/s   (context)\n", ctr / 1e6);
    }

    void timeToFirstByte()
    {
        ProxyTestSession session(m_server, url("/media/aes/index.m3u8"), newLecture());
        const QByteArray key = MediaFixtures::hexBytes(QStringLiteral("aes"), QStringLiteral("keyHex"));
        const QByteArray iv = MediaFixtures::hexBytes(QStringLiteral("aes"), QStringLiteral("ivHex"));
        const QString keyUrl = url("/media/aes/key.bin");
        m_server->storeSourceKey(session.sessionId(), keyUrl, key);
        const QString cachedSegmentUrl = url("/media/aes/segment000.ts");
        (void)session.cacheAsTheProxyWould(cachedSegmentUrl,
                                           MediaFixtures::readFile(QStringLiteral("aes/segment000.ts")));

        QList<QByteArray> playlistCached, playlistUpstream, segmentCached, segmentUpstream;
        QList<QByteArray> directPlaylists, directSegments;
        const QByteArray cachedPlaylistTarget =
            session.target(QStringLiteral("/playlist.m3u8"), session.playlistToken()).toUtf8();
        const QByteArray cachedSegmentTarget =
            session
                .target(QStringLiteral("/chunk.ts"),
                        m_server->registerToken(segmentToken(session, cachedSegmentUrl, keyUrl, iv, 0)))
                .toUtf8();
        for (int round = 0; round < TtfbRounds; ++round) {
            const QString playlistPath = QStringLiteral("/pl/%1/index.m3u8").arg(round);
            playlistUpstream.append(session
                                        .target(QStringLiteral("/playlist.m3u8"),
                                                playlistToken(m_server, session, url(playlistPath)))
                                        .toUtf8());
            directPlaylists.append(playlistPath.toUtf8());
            const QString segmentPath = QStringLiteral("/sg/%1.ts").arg(round);
            segmentUpstream.append(session
                                       .target(QStringLiteral("/chunk.ts"),
                                               m_server->registerToken(segmentToken(
                                                   session, url(segmentPath), keyUrl, iv, quint64(round))))
                                       .toUtf8());
            directSegments.append(segmentPath.toUtf8());
        }
        std::printf("time to first byte (%d requests each; median / p99 ms)\n", TtfbRounds);
        const quint16 proxy = m_server->port();
        const quint16 origin = m_origin.port();
        offThread([&] { (void)httpGet(proxy, cachedPlaylistTarget, false); }); // fills the cache
        report(
            "playlist from the cache", [&](int) { return httpGet(proxy, cachedPlaylistTarget, false); },
            [&](int) { return httpGet(origin, "/media/aes/index.m3u8", true); });
        report(
            "playlist from upstream",
            [&](int round) { return httpGet(proxy, playlistUpstream.at(round), false); },
            [&](int round) { return httpGet(origin, directPlaylists.at(round), true); });
        report(
            "segment from the cache", [&](int) { return httpGet(proxy, cachedSegmentTarget, false); },
            [&](int) { return httpGet(origin, "/media/aes/segment000.ts", true); });
        report(
            "segment from upstream",
            [&](int round) { return httpGet(proxy, segmentUpstream.at(round), false); },
            [&](int round) { return httpGet(origin, directSegments.at(round), true); });
    }

    void timeToFirstFrame()
    {
        std::vector<double> cold, direct, warm;
        QString warmLecture;
        for (int run = 0; run < FrameRuns; ++run) {
            const QString lecture = newLecture();
            ProxyTestSession session(m_server, url("/media/aes/index.m3u8"), lecture);
            cold.push_back(firstFrameMs(session.loopbackUrl()));
            session.unregister();
            warmLecture = lecture;
        }
        for (int run = 0; run < FrameRuns; ++run)
            direct.push_back(firstFrameMs(m_plainOrigin.url(QStringLiteral("/media/aes/index.m3u8"))));
        for (int run = 0; run < FrameRuns; ++run) {
            // The same lecture again: every playlist, key and segment is in the cache.
            ProxyTestSession session(m_server, url("/media/aes/index.m3u8"), warmLecture);
            warm.push_back(firstFrameMs(session.loopbackUrl()));
        }
        const double coldMedian = quorin::bench::median(cold);
        const double directMedian = quorin::bench::median(direct);
        std::printf("time to first decoded frame (%d runs each, GStreamer, median ms)\n", FrameRuns);
        std::printf("  proxy, empty cache (TLS upstream)   %8.1f ms\n", coldMedian);
        std::printf("  direct from the origin (plain HTTP) %8.1f ms\n", directMedian);
        std::printf("  proxy / direct                      %8.2f   (target: at most 1.2)\n",
                    directMedian > 0 ? coldMedian / directMedian : 0.0);
        std::printf("  proxy, warm cache                   %8.1f ms\n", quorin::bench::median(warm));
    }

private:
    [[nodiscard]] QString url(const char *path) const
    {
        return m_origin.url(QString::fromLatin1(path)).toString();
    }
    [[nodiscard]] QString url(const QString &path) const { return m_origin.url(path).toString(); }
    [[nodiscard]] static QString newLecture() { return QUuid::createUuid().toString(QUuid::WithoutBraces); }

    static void report(const char *name, const std::function<Fetch(int)> &viaProxy,
                       const std::function<Fetch(int)> &directly)
    {
        std::vector<double> proxied, straight;
        bool ok = true;
        offThread([&] {
            for (int round = 0; round < TtfbRounds && ok; ++round) {
                const Fetch one = viaProxy(round);
                const Fetch two = directly(round);
                ok = one.ok && two.ok;
                proxied.push_back(one.ttfbMs);
                straight.push_back(two.ttfbMs);
            }
        });
        if (!ok) {
            std::printf("  %-24s a request failed\n", name);
            return;
        }
        std::printf("  %-24s proxy %7.2f / %7.2f ms   direct %7.2f / %7.2f ms\n", name,
                    quorin::bench::median(proxied), percentile(proxied, 0.99),
                    quorin::bench::median(straight), percentile(straight, 0.99));
    }

    // Milliseconds from setSource() and play() to the first valid frame; -1 when none came within a
    // minute.
    static double firstFrameMs(const QUrl &source)
    {
        QMediaPlayer player;
        QVideoSink sink;
        player.setVideoSink(&sink);
        QElapsedTimer timer;
        double firstMs = -1;
        bool failed = false;
        QObject::connect(&sink, &QVideoSink::videoFrameChanged, &sink, [&](const QVideoFrame &frame) {
            if (frame.isValid() && firstMs < 0)
                firstMs = double(timer.nsecsElapsed()) / 1e6;
        });
        QObject::connect(&player, &QMediaPlayer::errorOccurred, &player, [&failed] { failed = true; });
        // The GStreamer backend starts fetching and decoding at setSource, so the clock starts there,
        // with play() right after it.
        timer.start();
        player.setSource(source);
        player.play();
        QEventLoop loop;
        while (firstMs < 0 && !failed && timer.elapsed() < 60000)
            loop.processEvents(QEventLoop::AllEvents, 5);
        player.stop();
        player.setSource(QUrl());
        return firstMs;
    }

    HlsProxyServer *m_server;
    FixtureServer m_origin;
    FixtureServer m_plainOrigin{FixtureServer::Transport::PlainHttp};
};

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_MEDIA_BACKEND", "gstreamer");
    // GStreamer's own debug output would print the loopback URLs, which carry session ids.
    qunsetenv("GST_DEBUG");
    QGuiApplication application(argc, argv);
    Bench bench;
    if (!bench.start()) {
        std::printf("hls_proxy_bench: the proxy, the vault or the origin did not start\n");
        return 1;
    }
    bench.cacheHitThroughput();
    bench.timeToFirstByte();
    bench.timeToFirstFrame();
    return 0;
}
