// The local HLS proxy as the player sees it, against the same media fetched straight from the
// origin: cache-hit throughput against the single-core AES limit of this machine and against what
// the bench's own client reads from a responder that only copies memory, time to first byte of
// playlists and segments from the cache and from upstream, and time from play() to the first
// decoded frame, with the origin on loopback and with the origin 25 ms away. The origin is the
// test fixture server, in this process; the player side runs on other threads. Prints figures
// only; never a gate.
//
// Usage: hls_proxy_bench [throughput] [ttfb] [frames]; without arguments every part runs. One
// part alone is what a profiler should watch.
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
#include <QTimer>
#include <QUuid>
#include <QVideoFrame>
#include <QVideoSink>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

using quorin::test::FixtureServer;
using quorin::test::MediaFixtures;

namespace {

constexpr qint64 ThroughputSegmentBytes = 2000000;
constexpr int ThroughputRounds = 50;
constexpr int TtfbRounds = 200;
constexpr int FrameRuns = 5;
// A content network near the student: what the origin adds before each answer.
constexpr int NearbyOriginDelayMs = 25;

struct Fetch
{
    bool ok = false;
    double ttfbMs = 0;
    double totalMs = 0;
    qint64 bytes = 0;
};

// One GET with "Connection: close", blocking, on the calling thread; TLS when asked. The answer is
// counted as a player consumes it, piece by piece through one buffer: collecting it in a growing
// array made fresh pages for every answer, which cost this client more than the proxy's ciphers.
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
    static constexpr qsizetype PieceBytes = 65536;
    static thread_local QByteArray piece(PieceBytes, Qt::Uninitialized);
    const QByteArray success = "HTTP/1.1 200";
    QByteArray start;
    const auto consume = [&] {
        for (qint64 read = 0; (read = socket->read(piece.data(), PieceBytes)) > 0;) {
            if (start.size() < success.size())
                start += piece.left(qMin<qint64>(read, success.size() - start.size()));
            fetch.bytes += read;
        }
    };
    consume();
    while (socket->state() == QAbstractSocket::ConnectedState && socket->waitForReadyRead(30000))
        consume();
    consume();
    fetch.totalMs = double(timer.nsecsElapsed()) / 1e6;
    fetch.ok = start == success;
    return fetch;
}

// Runs the work on a thread of its own while this thread's event loop serves the origin. The loop
// sleeps until it has something to do: a polling loop would take a core from what is measured.
void offThread(const std::function<void()> &work)
{
    QEventLoop loop;
    std::thread runner([&] {
        work();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    runner.join();
}

// The least a server can do: one blocking thread that answers every connection with the same
// bytes from memory and closes it. What the bench's client reads from it is the client's ceiling.
class MemoryResponder
{
public:
    explicit MemoryResponder(QByteArray answer)
        : m_answer(std::move(answer))
    {
        m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (m_listener < 0 || ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
            ::listen(m_listener, 16) != 0 ||
            ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            return;
        m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~MemoryResponder()
    {
        m_stopping = true;
        if (m_listener >= 0)
            ::shutdown(m_listener, SHUT_RDWR);
        if (m_thread.joinable())
            m_thread.join();
        if (m_listener >= 0)
            ::close(m_listener);
    }
    MemoryResponder(const MemoryResponder &) = delete;
    MemoryResponder &operator=(const MemoryResponder &) = delete;

    [[nodiscard]] quint16 port() const { return m_port; }

private:
    void serve()
    {
        while (!m_stopping) {
            const int connection = ::accept(m_listener, nullptr, nullptr);
            if (connection < 0)
                return;
            readHead(connection);
            for (qsizetype sent = 0; sent < m_answer.size();) {
                const ssize_t written = ::send(connection, m_answer.constData() + sent,
                                               size_t(m_answer.size() - sent), MSG_NOSIGNAL);
                if (written <= 0)
                    break;
                sent += written;
            }
            ::close(connection);
        }
    }

    static void readHead(int connection)
    {
        QByteArray head;
        char buffer[4096];
        while (!head.contains("\r\n\r\n")) {
            const ssize_t received = ::recv(connection, buffer, sizeof(buffer), 0);
            if (received <= 0)
                return;
            head.append(buffer, received);
        }
    }

    QByteArray m_answer;
    int m_listener = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

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
            !m_plainOrigin.listen() || !m_nearbyOrigin.listen() || !m_nearbyPlainOrigin.listen())
            return false;
        const QString media = MediaFixtures::path(QString());
        m_origin.serveDirectory(QStringLiteral("/media/"), media);
        m_plainOrigin.serveDirectory(QStringLiteral("/media/"), media);
        FixtureServer::Response nearby;
        nearby.delayMs = NearbyOriginDelayMs;
        m_nearbyOrigin.serveDirectory(QStringLiteral("/media/"), media, nearby);
        m_nearbyPlainOrigin.serveDirectory(QStringLiteral("/media/"), media, nearby);
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
        const double ceilingMBps = clientCeilingMBps();
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
        std::printf("  client ceiling C (memory)      %9.1f MB/s\n", ceilingMBps);
        std::printf("  proxy / C                      %9.2f\n",
                    ceilingMBps > 0 ? proxyMBps / ceilingMBps : 0.0);
    }

    // The same answer as the proxy's, with the same length, served from memory and read by the
    // same client.
    static double clientCeilingMBps()
    {
        const QByteArray head = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: video/MP2T\r\n"
                                "Content-Length: " +
                                QByteArray::number(ThroughputSegmentBytes) + "\r\n\r\n";
        MemoryResponder responder(head + QByteArray(ThroughputSegmentBytes, 'c'));
        if (responder.port() == 0)
            return 0;
        qint64 bytes = 0;
        double ms = 0;
        bool ok = httpGet(responder.port(), "/ceiling", false).ok; // warm-up
        for (int round = 0; round < ThroughputRounds && ok; ++round) {
            const Fetch fetch = httpGet(responder.port(), "/ceiling", false);
            ok = fetch.ok;
            bytes += fetch.bytes;
            ms += fetch.totalMs;
        }
        return ok && ms > 0 ? double(bytes) / (ms / 1000.0) / 1e6 : 0;
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
        std::printf("time to first decoded frame (%d runs each, GStreamer, median ms)\n", FrameRuns);
        const FrameFigures loopback = firstFrames(m_origin, m_plainOrigin);
        printFrames("origin on loopback", loopback);
        const FrameFigures nearby = firstFrames(m_nearbyOrigin, m_nearbyPlainOrigin);
        printFrames("origin 25 ms away", nearby);
    }

private:
    struct FrameFigures
    {
        double cold = 0;
        double direct = 0;
        double warm = 0;
    };

    // The proxy with an empty cache and with a warm one (TLS upstream), and the player straight at
    // the plain-HTTP origin.
    FrameFigures firstFrames(const FixtureServer &origin, const FixtureServer &plainOrigin)
    {
        std::vector<double> cold, direct, warm;
        const QString playlist = origin.url(QStringLiteral("/media/aes/index.m3u8")).toString();
        QString warmLecture;
        for (int run = 0; run < FrameRuns; ++run) {
            const QString lecture = newLecture();
            ProxyTestSession session(m_server, playlist, lecture);
            cold.push_back(firstFrameMs(session.loopbackUrl(), m_server, session.sessionId()));
            session.unregister();
            warmLecture = lecture;
        }
        for (int run = 0; run < FrameRuns; ++run)
            direct.push_back(firstFrameMs(plainOrigin.url(QStringLiteral("/media/aes/index.m3u8"))));
        for (int run = 0; run < FrameRuns; ++run) {
            // The same lecture again: every playlist, key and segment is in the cache.
            ProxyTestSession session(m_server, playlist, warmLecture);
            warm.push_back(firstFrameMs(session.loopbackUrl(), m_server, session.sessionId()));
        }
        return {quorin::bench::median(cold), quorin::bench::median(direct), quorin::bench::median(warm)};
    }

    static void printFrames(const char *origin, const FrameFigures &figures)
    {
        std::printf("  %s\n", origin);
        std::printf("    proxy, empty cache (TLS upstream)   %8.1f ms\n", figures.cold);
        std::printf("    direct from the origin (plain HTTP) %8.1f ms\n", figures.direct);
        std::printf("    proxy / direct                      %8.2f   (target: at most 1.2)\n",
                    figures.direct > 0 ? figures.cold / figures.direct : 0.0);
        std::printf("    proxy, warm cache                   %8.1f ms\n", figures.warm);
    }

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
    // minute. With a proxy session, the player's playing state reaches the proxy as playback
    // control reports it, which is what lets the proxy prefetch.
    static double firstFrameMs(const QUrl &source, HlsProxyServer *proxy = nullptr,
                               const QString &sessionId = QString())
    {
        QMediaPlayer player;
        QVideoSink sink;
        player.setVideoSink(&sink);
        QElapsedTimer timer;
        double firstMs = -1;
        QEventLoop loop;
        QObject::connect(&sink, &QVideoSink::videoFrameChanged, &loop, [&](const QVideoFrame &frame) {
            if (frame.isValid() && firstMs < 0) {
                firstMs = double(timer.nsecsElapsed()) / 1e6;
                loop.quit();
            }
        });
        QObject::connect(&player, &QMediaPlayer::errorOccurred, &loop, &QEventLoop::quit);
        if (proxy) {
            QObject::connect(&player, &QMediaPlayer::playbackStateChanged, proxy,
                             [proxy, sessionId](QMediaPlayer::PlaybackState state) {
                                 proxy->updatePlaybackState(sessionId, state == QMediaPlayer::PlayingState,
                                                            1.0);
                             });
        }
        QTimer::singleShot(60000, &loop, &QEventLoop::quit);
        // The GStreamer backend starts fetching and decoding at setSource, so the clock starts there,
        // with play() right after it.
        timer.start();
        player.setSource(source);
        player.play();
        if (firstMs < 0)
            loop.exec();
        player.stop();
        player.setSource(QUrl());
        return firstMs;
    }

    HlsProxyServer *m_server;
    FixtureServer m_origin;
    FixtureServer m_plainOrigin{FixtureServer::Transport::PlainHttp};
    FixtureServer m_nearbyOrigin;
    FixtureServer m_nearbyPlainOrigin{FixtureServer::Transport::PlainHttp};
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
    const QStringList parts = application.arguments().mid(1);
    const auto runs = [&parts](const char *part) {
        return parts.isEmpty() || parts.contains(QLatin1String(part));
    };
    if (runs("throughput"))
        bench.cacheHitThroughput();
    if (runs("ttfb"))
        bench.timeToFirstByte();
    if (runs("frames"))
        bench.timeToFirstFrame();
    return 0;
}
