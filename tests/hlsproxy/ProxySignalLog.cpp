#include "ProxySignalLog.h"

#include "HlsProxySessionProbe.h"
#include "app/Endpoints.h"
#include "hlsproxy/HlsProxyServer.h"
#include "testsupport/FixtureServer.h"

#include <QCoreApplication>
#include <QProcessEnvironment>
#include <QTest>

HlsProxyServer *ProxySignalLog::trustingServer()
{
    static HlsProxyServer *const server = [] {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("QUORIN_CA_FILE"),
                           quorin::test::FixtureServer::certificateAuthorityFile());
        quorin::Endpoints::resolve(environment, quorin::Endpoints::buildDefaults())
            .installCertificateAuthority();
        return HlsProxyServer::instance();
    }();
    return server;
}

bool ProxySignalLog::waitUntilIdle(HlsProxyServer *server, int timeoutMs)
{
    if (!QTest::qWaitFor([server] { return HlsProxySessionProbe::connections(server).isEmpty(); }, timeoutMs))
        return false;
    // Everything they emitted was posted before they were deleted.
    QCoreApplication::sendPostedEvents();
    return true;
}

ProxySignalLog::ProxySignalLog(HlsProxyServer *server)
{
    connect(server, &HlsProxyServer::proxyFailure, this, [this](const ProxyFailureRecord &failure) {
        failures.append(failure);
        events.append(QStringLiteral("proxyFailure"));
    });
    connect(server, &HlsProxyServer::sourceReached, this,
            [this](const QString &sessionId, qulonglong generation, ProxyResourceType type) {
                sources.append({sessionId, generation, type});
                events.append(QStringLiteral("sourceReached"));
            });
    connect(server, &HlsProxyServer::segmentDelivered, this,
            [this](const QString &sessionId, const QString &renditionId, qlonglong startMs, qlonglong endMs) {
                deliveries.append({sessionId, renditionId, startMs, endMs});
                events.append(QStringLiteral("segmentDelivered"));
            });
    connect(server, &HlsProxyServer::segmentDemanded, this,
            [this](const QString &sessionId, const QString &renditionId) {
                demands.append({sessionId, renditionId});
                events.append(QStringLiteral("segmentDemanded"));
            });
    connect(server, &HlsProxyServer::segmentReached, this,
            [this](const QString &sessionId, qulonglong generation, const QString &renditionId,
                   qlonglong startMs, qlonglong endMs) {
                reached.append({sessionId, generation, renditionId, startMs, endMs});
                events.append(QStringLiteral("segmentReached"));
            });
    connect(server, &HlsProxyServer::segmentTransfer, this,
            [this](const QString &sessionId, qlonglong bytes, qlonglong elapsedMs, bool cacheHit) {
                transfers.append({sessionId, bytes, elapsedMs, cacheHit});
                events.append(QStringLiteral("segmentTransfer"));
            });
    connect(server, &HlsProxyServer::sessionStopped, this, [this](const QString &sessionId) {
        stoppedSessions.append(sessionId);
        events.append(QStringLiteral("sessionStopped"));
    });
}

void ProxySignalLog::clear()
{
    failures.clear();
    sources.clear();
    deliveries.clear();
    demands.clear();
    reached.clear();
    transfers.clear();
    stoppedSessions.clear();
    events.clear();
}
