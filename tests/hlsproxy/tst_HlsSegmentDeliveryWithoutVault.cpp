#include "ProxySignalLog.h"
#include "ProxyTestSession.h"
#include "SegmentTestSupport.h"
#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "media/CryptoManager.h"
#include "media/ResourceCache.h"
#include "testsupport/Aes128Cbc.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/LoopbackHttpClient.h"

#include <QTest>
#include <memory>

using quorin::test::Aes128Cbc;
using quorin::test::FixtureServer;
using quorin::test::LoopbackHttpClient;
using Support = SegmentTestSupport;

namespace {

const QByteArray SourceKey = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
const QByteArray SourceIv = QByteArray::fromHex("f0e0d0c0b0a090807060504030201000");

} // namespace

// The vault is process-wide, so a process whose vault never became ready is a program of its own.
class tst_HlsSegmentDeliveryWithoutVault : public QObject
{
    Q_OBJECT

private:
    HlsProxyServer *server = nullptr;

private Q_SLOTS:
    void initTestCase()
    {
        DiagnosticLogger::initialize();
        server = ProxySignalLog::trustingServer();
        QVERIFY(server && server->port() > 0);
        QVERIFY(!CryptoManager::instance()->hasSecureVault());
    }

    void segmentsAndKeysServedWithoutTheCache_data()
    {
        QTest::addColumn<bool>("keyed");
        QTest::newRow("clear") << false;
        QTest::newRow("keyed") << true;
    }

    void segmentsAndKeysServedWithoutTheCache()
    {
        QFETCH(bool, keyed);
        FixtureServer origin;
        QVERIFY(origin.listen());
        const QByteArray plaintext = Support::sourceBytes(5000);
        origin.setResponse(QStringLiteral("/segment.ts"),
                           FixtureServer::Response(
                               200, keyed ? Aes128Cbc::encrypt(plaintext, SourceKey, SourceIv) : plaintext));
        origin.setResponse(QStringLiteral("/source.key"), FixtureServer::Response(200, SourceKey));
        const QString url = origin.url(QStringLiteral("/segment.ts")).toString();
        const QString keyUrl = origin.url(QStringLiteral("/source.key")).toString();
        ProxyTestSession session(server, origin.url(QStringLiteral("/index.m3u8")).toString(),
                                 QStringLiteral("lecture-a"), 1, ProxyTestSession::defaultAuthentication(),
                                 ProxyTestSession::Vault::LeftAlone);
        QVERIFY(session.isRegistered());
        ProxyTestSession::Segment listed;
        if (keyed) {
            listed.keyUrl = keyUrl;
            listed.sourceIv = SourceIv;
        }
        const QString token = session.registerSegment(url, listed);

        for (int round = 0; round < 2; ++round) {
            const LoopbackHttpClient::Answer answer = Support::fetchSegment(server, session, token);
            QCOMPARE(answer.status(), 200);
            QCOMPARE(Support::playerPlaintext(server, session, answer.body), plaintext);
            QVERIFY(ProxySignalLog::waitUntilIdle(server));
        }
        // Nothing could be read back, so nothing was kept: every request went upstream.
        QCOMPARE(origin.requestCount(QStringLiteral("/segment.ts")), 2);
        QCOMPARE(origin.requestCount(QStringLiteral("/source.key")), keyed ? 1 : 0);
        QCOMPARE(Support::filesBelow(ResourceCache::instance()->root()), QStringList());
    }
};

QTEST_GUILESS_MAIN(tst_HlsSegmentDeliveryWithoutVault)
#include "tst_HlsSegmentDeliveryWithoutVault.moc"
