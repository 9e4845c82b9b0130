#pragma once

#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/HlsProxySession.h"

#include <QList>
#include <QString>

// Reaches the proxy's connections from a test, always on the proxy thread where they live, and
// gives one the request permit that routing a request would take.
class HlsProxySessionProbe
{
public:
    HlsProxySessionProbe() = delete;

    [[nodiscard]] static QList<HlsProxySession *> connections(HlsProxyServer *server)
    {
        QList<HlsProxySession *> found;
        QMetaObject::invokeMethod(
            server, [&] { found = server->findChildren<HlsProxySession *>(Qt::FindDirectChildrenOnly); },
            Qt::BlockingQueuedConnection);
        return found;
    }

    // Names the connection's playback session and takes a permit for it, as a routed request
    // does. False when the server refuses the permit.
    [[nodiscard]] static bool routeTo(HlsProxyServer *server, HlsProxySession *connection,
                                      const QString &sessionId)
    {
        bool granted = false;
        QMetaObject::invokeMethod(
            server,
            [&] {
                connection->m_sessionId = sessionId;
                granted = connection->acquireRequestPermit();
            },
            Qt::BlockingQueuedConnection);
        return granted;
    }
};
