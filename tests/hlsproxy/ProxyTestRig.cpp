#include "ProxyTestRig.h"

#include "ProxyTestSession.h"
#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"

#include <QDateTime>

bool ProxyTestRig::startProxy(Records records)
{
    DiagnosticLogger::initialize();
    if (records == Records::Detailed)
        DiagnosticLogger::setDetailedUntil(QDateTime::currentDateTimeUtc().addSecs(3600));
    server = ProxySignalLog::trustingServer();
    return server && server->port() > 0 && ProxyTestSession::prepareVault();
}

bool ProxyTestRig::openOrigin()
{
    origin = std::make_unique<quorin::test::FixtureServer>();
    if (!origin->listen())
        return false;
    proxyLog = std::make_unique<ProxySignalLog>(server);
    recorder = std::make_unique<quorin::test::LogRecorder>();
    return true;
}

bool ProxyTestRig::closeOrigin(int idleTimeoutMs)
{
    const bool idle = ProxySignalLog::waitUntilIdle(server, idleTimeoutMs);
    recorder.reset();
    proxyLog.reset();
    origin.reset();
    return idle;
}
