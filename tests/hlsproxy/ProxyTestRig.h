#pragma once

#include "ProxySignalLog.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/LogRecorder.h"

#include <memory>

class HlsProxyServer;

// What every proxy test program sets up the same way: the process-wide proxy, a fresh origin for
// each test, and what the proxy signalled and logged during it. Test classes inherit it beside
// QObject and call the three steps from initTestCase, init and cleanup.
class ProxyTestRig
{
protected:
    HlsProxyServer *server = nullptr;
    std::unique_ptr<quorin::test::FixtureServer> origin;
    std::unique_ptr<ProxySignalLog> proxyLog;
    std::unique_ptr<quorin::test::LogRecorder> recorder;

    enum class Records { Usual, Detailed };

    // Once per program: logging, the proxy trusting the fixtures' authority, a ready vault.
    // Detailed records stay on for an hour, longer than any test program runs.
    [[nodiscard]] bool startProxy(Records records = Records::Usual);
    // Before each test.
    [[nodiscard]] bool openOrigin();
    // After each test: the proxy's connections finish before what watched them goes.
    [[nodiscard]] bool closeOrigin(int idleTimeoutMs = 20000);
};
