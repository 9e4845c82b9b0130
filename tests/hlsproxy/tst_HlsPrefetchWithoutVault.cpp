#include "PrefetchRendition.h"
#include "ProxySignalLog.h"
#include "ProxyTestSession.h"
#include "hlsproxy/HlsProxyServer.h"
#include "media/CryptoManager.h"
#include "media/ResourceCache.h"
#include "testsupport/FixtureServer.h"

#include <QDir>
#include <QDirIterator>
#include <QTest>
#include <QThreadPool>

using quorin::test::FixtureServer;

// The vault of this process never becomes ready, as while the keychain has not answered: the
// cipher would hand the body back unencrypted, so nothing may be fetched to be stored.
class tst_HlsPrefetchWithoutVault : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void deliveredSegmentStartsNoPrefetch()
    {
        HlsProxyServer *server = ProxySignalLog::trustingServer();
        QVERIFY(server && server->port() > 0);
        FixtureServer origin;
        QVERIFY(origin.listen());
        ProxyTestSession session(server, origin.url(QStringLiteral("/index.m3u8")).toString(),
                                 QStringLiteral("lecture-1"), 1, ProxyTestSession::defaultAuthentication(),
                                 ProxyTestSession::Vault::LeftAlone);
        QVERIFY(!CryptoManager::instance()->hasSecureVault());
        const PrefetchRendition rendition(server, session, origin);
        rendition.serveFrom(origin);
        // The same rendition in a second session whose key is known: keyed or clear, nothing starts.
        QMetaObject::invokeMethod(
            server,
            [&] {
                server->updatePlaybackState(session.sessionId(), true, 1.0, false);
                server->prefetchFollowing(rendition.segment(0), false);
            },
            Qt::BlockingQueuedConnection);

        QVERIFY(!server->isPrefetching(rendition.segment(1).url));
        QVERIFY(!server->prefetchStatus(session.sessionId(), rendition.segment(0).renditionId, QString())
                     .allowance.has_value());
        QThreadPool::globalInstance()->waitForDone();
        // Give a request that had been sent every chance to arrive.
        QTest::qWait(200);
        QCOMPARE(origin.totalRequestCount(), 0);
        QCOMPARE(origin.connectionCount(), 0);
        const QString cacheRoot = ResourceCache::instance()->root();
        QVERIFY(cacheRoot.endsWith(QStringLiteral("downloads/cache")));
        QVERIFY(QDir(cacheRoot).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_HlsPrefetchWithoutVault)
#include "tst_HlsPrefetchWithoutVault.moc"
