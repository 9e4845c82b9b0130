// Leaves the process-wide proxy busy when main returns: player connections still open, one of
// them holding a request permit of a registered session, and work queued on the global thread
// pool. With "prefetch-in-flight" a prefetch request also waits for an origin that never answers;
// with "prefetch-storing" a prefetch worker is still busy with its body. tst_HlsProxyShutdown runs
// it and reads what Qt printed on the way out.

#include "HlsProxySessionProbe.h"
#include "hlsproxy/HlsProxyServer.h"
#include "media/CryptoManager.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>
#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kConnections = 3;

// A plain descriptor, so the player's side stays open until the process is gone.
bool openPlayerConnection(quint16 port)
{
    const int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    if (descriptor < 0)
        return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::connect(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
}

bool waitFor(const std::function<bool()> &condition)
{
    QElapsedTimer waiting;
    waiting.start();
    while (!condition()) {
        if (waiting.elapsed() > 60000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Starts a prefetch of a segment whose origin either never answers or answers at once while the
// worker that stores it is held up. Returns once the request is in flight or the worker runs.
bool leavePrefetchBusy(HlsProxyServer *server, quorin::test::FixtureServer &origin, bool storing)
{
    // Never destroyed: at exit it would uninstall itself from a registry already gone.
    auto *keychain = new quorin::test::InMemoryKeychain;
    keychain->installAsNative();
    CryptoManager::instance()->init();
    if (!CryptoManager::instance()->hasSecureVault() || !origin.listen())
        return false;
    static std::atomic<bool> workerStarted{false};
    if (storing) {
        origin.setResponse(QStringLiteral("/1.ts"),
                           quorin::test::FixtureServer::Response(200, QByteArray(4096, 's')));
        HlsProxyServer::PrefetchSeams seams;
        seams.beforeStore = [](const TokenInfo &) {
            workerStarted = true;
            QThread::msleep(300);
        };
        server->setPrefetchSeams(seams);
    } else {
        origin.setResponse(QStringLiteral("/1.ts"), quorin::test::FixtureServer::Response::hung());
    }

    const QString sessionId = QStringLiteral("prefetch-session");
    SessionInfo session;
    session.lectureId = QStringLiteral("exit-lecture");
    session.masterIv = CryptoManager::instance()->getOrCreateMasterIv(session.lectureId);
    server->registerSession(sessionId, session);
    TokenInfo segments[2];
    for (int index = 0; index < 2; ++index) {
        TokenInfo &segment = segments[index];
        segment.url = origin.url(QStringLiteral("/%1.ts").arg(index)).toString();
        segment.lectureId = session.lectureId;
        segment.sessionId = sessionId;
        segment.cacheIv = CryptoManager::itemIv(session.masterIv, segment.url);
        segment.sequence = quint64(index);
        segment.startMs = index * 6000;
        segment.durationMs = 6000;
        segment.renditionId = QStringLiteral("exit-rendition");
        server->rememberResource(segment);
    }
    QMetaObject::invokeMethod(
        server,
        [server, sessionId, first = segments[0]] {
            server->updatePlaybackState(sessionId, true, 1.0, false);
            server->prefetchFollowing(first, false);
        },
        Qt::BlockingQueuedConnection);
    if (storing)
        return waitFor([] { return workerStarted.load(); });
    return waitFor([&origin] { return origin.requestsInFlight() == 1; });
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    HlsProxyServer *server = HlsProxyServer::instance();
    if (server->port() == 0)
        return 2;
    for (int connection = 0; connection < kConnections; ++connection) {
        if (!openPlayerConnection(server->port()))
            return 3;
    }

    QElapsedTimer waiting;
    waiting.start();
    QList<HlsProxySession *> connections;
    while ((connections = HlsProxySessionProbe::connections(server)).size() < kConnections) {
        if (waiting.elapsed() > 60000)
            return 4;
        QThread::msleep(5);
    }

    const QString sessionId = QStringLiteral("exit-session");
    server->registerSession(sessionId, SessionInfo());
    if (!HlsProxySessionProbe::routeTo(server, connections.constFirst(), sessionId))
        return 5;

    const QString mode = argc > 1 ? QString::fromLatin1(argv[1]) : QString();
    // Lives until main returns, like the origin of a process that is going away.
    quorin::test::FixtureServer origin(quorin::test::FixtureServer::Transport::PlainHttp);
    if (!mode.isEmpty() && !leavePrefetchBusy(server, origin, mode == QLatin1String("prefetch-storing")))
        return 6;

    QThreadPool *pool = QThreadPool::globalInstance();
    for (int job = 0; job < pool->maxThreadCount() + 4; ++job)
        pool->start([] { QThread::msleep(20); });
    return 0;
}
