// Leaves the process-wide proxy busy when main returns: player connections still open, one of
// them holding a request permit of a registered session, and work queued on the global thread
// pool. tst_HlsProxyShutdown runs it and reads what Qt printed on the way out.

#include "HlsProxySessionProbe.h"
#include "hlsproxy/HlsProxyServer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>
#include <arpa/inet.h>
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

    QThreadPool *pool = QThreadPool::globalInstance();
    for (int job = 0; job < pool->maxThreadCount() + 4; ++job)
        pool->start([] { QThread::msleep(20); });
    return 0;
}
