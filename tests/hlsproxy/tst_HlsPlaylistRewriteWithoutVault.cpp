#include "ProxySignalLog.h"
#include "ProxyTestSession.h"
#include "SegmentTestSupport.h"
#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "media/CryptoManager.h"
#include "media/ResourceCache.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/LoopbackHttpClient.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::LoopbackHttpClient;

namespace {

const QByteArray Upstream =
    "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2,\nupstream0.ts\n#EXTINF:2,\nupstream1.ts\n";

} // namespace

// The vault is process-wide, so a process whose vault never became ready is a program of its own.
class tst_HlsPlaylistRewriteWithoutVault : public QObject
{
    Q_OBJECT

private:
    HlsProxyServer *server = nullptr;
    std::unique_ptr<FixtureServer> origin;

    [[nodiscard]] LoopbackHttpClient::Answer fetchTop(const ProxyTestSession &session) const
    {
        return LoopbackHttpClient::get(
            server->port(), session.target(QStringLiteral("/playlist.m3u8"), session.playlistToken()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        DiagnosticLogger::initialize();
        server = ProxySignalLog::trustingServer();
        QVERIFY(server && server->port() > 0);
        QVERIFY(!CryptoManager::instance()->hasSecureVault());
    }

    void init()
    {
        origin = std::make_unique<FixtureServer>();
        QVERIFY(origin->listen());
        origin->setResponse(QStringLiteral("/v/index.m3u8"),
                            FixtureServer::Response(200, Upstream, "application/vnd.apple.mpegurl"));
    }

    void cleanup()
    {
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        origin.reset();
    }

    void nothingIsWrittenAndEveryRequestGoesUpstream()
    {
        const QString url = origin->url(QStringLiteral("/v/index.m3u8")).toString();
        const ProxyTestSession first(server, url, QStringLiteral("lecture-a"), 1,
                                     ProxyTestSession::defaultAuthentication(),
                                     ProxyTestSession::Vault::LeftAlone);
        const ProxyTestSession second(server, url, QStringLiteral("lecture-a"), 1,
                                      ProxyTestSession::defaultAuthentication(),
                                      ProxyTestSession::Vault::LeftAlone);
        QVERIFY(first.isRegistered() && second.isRegistered());

        QCOMPARE(fetchTop(first).status(), 200);
        QCOMPARE(fetchTop(second).status(), 200);
        QCOMPARE(origin->requestCount(QStringLiteral("/v/index.m3u8")), 2);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(SegmentTestSupport::filesBelow(ResourceCache::instance()->root()), QStringList());
    }

    void copiesInTheCacheAreNeitherReadNorAnnounced()
    {
        const QString url = origin->url(QStringLiteral("/v/index.m3u8")).toString();
        const ProxyTestSession session(server, url, QStringLiteral("lecture-b"), 1,
                                       ProxyTestSession::defaultAuthentication(),
                                       ProxyTestSession::Vault::LeftAlone);
        QVERIFY(session.isRegistered());
        // Copies placed by something else than this process's vault: they cannot be told from
        // plaintext.
        const QString segmentUrl = origin->url(QStringLiteral("/v/upstream0.ts")).toString();
        QVERIFY(ProxyTestSession::placeInCache(ResourceCache::vaultKey(QStringLiteral("lecture-b"), url),
                                               "#EXTM3U\n#EXTINF:2,\ncached0.ts\n"));
        QVERIFY(ProxyTestSession::placeInCache(
            ResourceCache::vaultKey(QStringLiteral("lecture-b"), segmentUrl), QByteArray(188, 'G')));
        ProxySignalLog proxyLog(server);

        const LoopbackHttpClient::Answer answer = fetchTop(session);
        QCOMPARE(answer.status(), 200);
        QCOMPARE(origin->requestCount(QStringLiteral("/v/index.m3u8")), 1);
        QCOMPARE(answer.body.count("/chunk.ts?"), 2);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QVERIFY(proxyLog.deliveries.isEmpty());
        QCOMPARE(proxyLog.sources.size(), 1);
    }
};

QTEST_GUILESS_MAIN(tst_HlsPlaylistRewriteWithoutVault)
#include "tst_HlsPlaylistRewriteWithoutVault.moc"
