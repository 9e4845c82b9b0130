#pragma once

#include "hlsproxy/ProxyFailureRecord.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <tuple>

class HlsProxyServer;

// What the proxy tells playback control, received on the test's thread the way playback control
// receives it (queued), typed and in the order it was emitted.
class ProxySignalLog : public QObject
{
    Q_OBJECT

public:
    using Source = std::tuple<QString, qulonglong, ProxyResourceType>;   // session, generation, type
    using Delivery = std::tuple<QString, QString, qlonglong, qlonglong>; // session, rendition, start, end
    using Demand = std::pair<QString, QString>;                          // session, rendition
    // session, generation, rendition, start, end
    using Reach = std::tuple<QString, qulonglong, QString, qlonglong, qlonglong>;
    using Transfer = std::tuple<QString, qlonglong, qlonglong, bool>; // session, bytes, elapsed, cache hit

    // The process-wide proxy of a test program. The fixtures' certificate authority is trusted
    // first, the way start-up trusts QUORIN_CA_FILE, since the first call makes the proxy's network
    // manager on its own thread.
    [[nodiscard]] static HlsProxyServer *trustingServer();
    // Waits until the server has no connection left, then takes what they emitted before they went.
    [[nodiscard]] static bool waitUntilIdle(HlsProxyServer *server, int timeoutMs = 20000);

    explicit ProxySignalLog(HlsProxyServer *server);

    QList<ProxyFailureRecord> failures;
    QList<Source> sources;
    QList<Delivery> deliveries;
    QList<Demand> demands;
    QList<Reach> reached;
    QList<Transfer> transfers;
    QStringList stoppedSessions;
    // Signal names, in order.
    QStringList events;

    void clear();
};
