#include "hlsproxy/HlsProxySession.h"

#include "hlsproxy/HlsProxyServer.h"

#include <QNetworkReply>
#include <QTcpSocket>
#include <unistd.h>

HlsProxySession::HlsProxySession(qintptr socketDescriptor, HlsProxyServer *server)
    : QObject(server)
    , m_server(server)
    , m_socket(new QTcpSocket(this))
{
    if (!m_socket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState,
                                       QIODevice::ReadWrite)) {
        // A refused descriptor stays ours; without closing it every such connection would leak one.
        ::close(static_cast<int>(socketDescriptor));
        deleteLater();
        return;
    }
    // Small answers (key, playlist, error) must leave at once.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (server)
        m_network = server->network();
    connect(m_socket, &QTcpSocket::disconnected, this, &HlsProxySession::onClientDisconnected);
}

HlsProxySession::~HlsProxySession()
{
    releaseRequestPermit();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
        m_reply = nullptr;
    }
}

void HlsProxySession::cancel()
{
    stop();
}

void HlsProxySession::onClientDisconnected()
{
    stop();
    deleteLater();
}

bool HlsProxySession::acquireRequestPermit()
{
    // A second request on the same connection must not take a second permit.
    if (m_requestPermitHeld)
        return true;
    if (!m_server || !m_server->acquireRequest(m_sessionId))
        return false;
    m_requestPermitHeld = true;
    return true;
}

void HlsProxySession::releaseRequestPermit()
{
    if (!m_requestPermitHeld)
        return;
    m_requestPermitHeld = false;
    if (m_server)
        m_server->releaseRequest(m_sessionId);
}

void HlsProxySession::stop()
{
    if (m_closed)
        return;
    m_closed = true;
    if (m_reply)
        m_reply->abort();
    // Aborting a connected socket emits disconnected, which schedules the deletion.
    if (m_socket->state() != QAbstractSocket::UnconnectedState)
        m_socket->abort();
}
