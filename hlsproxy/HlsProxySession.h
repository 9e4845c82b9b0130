#pragma once

#include "hlsproxy/ProxyFailureRecord.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QtGlobal>

class HlsProxyServer;
class QNetworkAccessManager;
class QNetworkReply;
class QTcpSocket;

// One accepted player connection of the proxy, on the proxy thread, a child of the server. It
// serves one request and ends. It holds at most one of its playback session's request permits,
// from routing until it is destroyed, so a slow player still counts against the session's limit.
class HlsProxySession : public QObject
{
    Q_OBJECT

public:
    // Takes the accepted socket over; when that fails the object only schedules its own deletion.
    HlsProxySession(qintptr socketDescriptor, HlsProxyServer *server);
    ~HlsProxySession() override;

    // Stops the connection at once: aborts the upstream reply and the player's socket. The object
    // is then deleted through the socket's disconnected signal.
    void cancel();

    // The playback session of the request; empty until the request is routed.
    [[nodiscard]] QString sessionId() const { return m_sessionId; }
    [[nodiscard]] quint64 generation() const { return m_generation; }
    [[nodiscard]] ProxyResourceType resourceType() const { return m_resourceType; }

private Q_SLOTS:
    void onClientDisconnected();

private:
    friend class HlsProxySessionProbe; // tests: the permit a routed request takes

    // Takes the session's request permit; false when the server refuses (limit or unknown).
    [[nodiscard]] bool acquireRequestPermit();
    void releaseRequestPermit();
    void stop();

    // Null once the server is being destroyed; the server closes its connections before that.
    QPointer<HlsProxyServer> m_server;
    QTcpSocket *m_socket = nullptr;             // the player's connection, a child
    QNetworkAccessManager *m_network = nullptr; // the server's, not owned
    QNetworkReply *m_reply = nullptr;           // the one upstream request in flight
    QString m_sessionId;
    quint64 m_generation = 0;
    ProxyResourceType m_resourceType = ProxyResourceType::Unknown;
    bool m_requestPermitHeld = false;
    bool m_closed = false; // cancelled or disconnected: no further work
};
