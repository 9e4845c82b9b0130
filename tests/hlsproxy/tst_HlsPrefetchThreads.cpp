// Prefetch crosses three threads: requests and completions on the proxy thread, the key check,
// encryption and write on the global pool, registration and unregistration from the GUI thread
// (here the test's). Small and self-contained, so that the thread-checked build runs it as well.
#include "hlsproxy/HlsProxyServer.h"
#include "media/CryptoManager.h"
#include "media/MediaTransferCoordinator.h"
#include "media/ResourceCache.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QSemaphore>
#include <QTest>
#include <QThreadPool>
#include <QUuid>
#include <atomic>
#include <thread>

using quorin::test::FixtureServer;

namespace {

constexpr int Segments = 12;

QByteArray segmentBody(int index)
{
    return QByteArray(3000 + index, char('a' + index));
}

} // namespace

class tst_HlsPrefetchThreads : public QObject
{
    Q_OBJECT

private:
    HlsProxyServer *server = nullptr;
    std::unique_ptr<FixtureServer> origin;
    QString sessionId;
    SessionInfo session;
    QList<TokenInfo> segments;
    std::atomic<int> delivered{0};

    void onProxyThread(const std::function<void()> &work) const
    {
        QMetaObject::invokeMethod(server, work, Qt::BlockingQueuedConnection);
    }

    [[nodiscard]] bool cached(int index) const
    {
        return ResourceCache::instance()->exists(
            ResourceCache::vaultKey(session.lectureId, segments.at(index).url));
    }

    void startPlaying() const
    {
        onProxyThread([this] {
            server->updatePlaybackState(sessionId, true, 1.0, false);
            server->prefetchFollowing(segments.constFirst(), false);
        });
    }

    void settle() const
    {
        QThreadPool::globalInstance()->waitForDone();
        onProxyThread([] {});
        QCoreApplication::sendPostedEvents();
    }

private Q_SLOTS:
    void initTestCase()
    {
        // Installed for the process and never destroyed, as the vault reads through it.
        auto *keychain = new quorin::test::InMemoryKeychain;
        keychain->installAsNative();
        CryptoManager::instance()->init();
        QVERIFY(CryptoManager::instance()->hasSecureVault());
        server = HlsProxyServer::instance();
        QVERIFY(server->port() > 0);
        connect(
            server, &HlsProxyServer::segmentDelivered, this, [this] { ++delivered; }, Qt::QueuedConnection);
    }

    void init()
    {
        origin = std::make_unique<FixtureServer>(FixtureServer::Transport::PlainHttp);
        QVERIFY(origin->listen());
        origin->setPrefixHandler(QStringLiteral("/seg/"), [](const FixtureServer::Request &request) {
            const int index = QString::fromLatin1(request.path)
                                  .section(QLatin1Char('/'), -1)
                                  .section(QLatin1Char('.'), 0, 0)
                                  .toInt();
            return FixtureServer::Response(200, segmentBody(index), "video/mp2t");
        });
        sessionId = QUuid::createUuid().toString(QUuid::WithoutBraces);
        session = SessionInfo();
        session.lectureId = QUuid::createUuid().toString(QUuid::WithoutBraces);
        session.masterIv = CryptoManager::instance()->getOrCreateMasterIv(session.lectureId);
        server->registerSession(sessionId, session);
        segments.clear();
        for (int index = 0; index < Segments; ++index) {
            TokenInfo segment;
            segment.url = origin->url(QStringLiteral("/seg/%1.ts").arg(index)).toString();
            segment.lectureId = session.lectureId;
            segment.sessionId = sessionId;
            segment.cacheIv = CryptoManager::itemIv(session.masterIv, segment.url);
            segment.sequence = quint64(index);
            segment.startMs = index * 6000;
            segment.durationMs = 6000;
            segment.renditionId = QStringLiteral("rendition");
            server->rememberResource(segment);
            segments.append(segment);
        }
        delivered = 0;
    }

    void cleanup()
    {
        server->unregisterSession(sessionId, QStringLiteral("test_end"));
        settle();
        server->setPrefetchSeams({});
        MediaTransferCoordinator *coordinator = MediaTransferCoordinator::instance();
        QVERIFY(coordinator->tryAcquire(MediaTransferCoordinator::Priority::Prefetch));
        coordinator->release(MediaTransferCoordinator::Priority::Prefetch);
        origin.reset();
    }

    // The whole chain while another thread keeps reading the prefetch tables.
    void chainWhileTablesAreRead()
    {
        std::atomic<bool> reading{true};
        std::thread reader([&] {
            while (reading) {
                for (const TokenInfo &segment : std::as_const(segments)) {
                    (void)server->isPrefetching(segment.url);
                    (void)server->prefetchStatus(sessionId, segment.renditionId, segment.url);
                }
            }
        });
        const auto stopReading = qScopeGuard([&] {
            reading = false;
            reader.join();
        });

        startPlaying();
        QTRY_COMPARE_WITH_TIMEOUT(delivered.load(), Segments - 1, 30000);
        settle();
        for (int index = 1; index < Segments; ++index) {
            QVERIFY(cached(index));
            QFile file(ResourceCache::instance()->getActivePath(
                ResourceCache::vaultKey(session.lectureId, segments.at(index).url)));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(CryptoManager::instance()->processChunk(file.readAll(), 0, segments.at(index).cacheIv),
                     segmentBody(index));
        }
    }

    // The GUI thread ends the session while a pool thread holds the body.
    void unregisterWhileStoring()
    {
        QSemaphore reached;
        QSemaphore proceed;
        HlsProxyServer::PrefetchSeams seams;
        seams.beforeStore = [&](const TokenInfo &) {
            reached.release();
            proceed.acquire();
        };
        server->setPrefetchSeams(seams);
        const auto unblock = qScopeGuard([&proceed] { proceed.release(); });

        startPlaying();
        bool storing = false;
        QTRY_VERIFY_WITH_TIMEOUT(storing || (storing = reached.tryAcquire()), 20000);
        server->unregisterSession(sessionId, QStringLiteral("test_end"));
        proceed.release();
        settle();

        QCOMPARE(delivered.load(), 0);
        QVERIFY(!cached(1));
        QVERIFY(!server->isPrefetching(segments.at(1).url));
        QVERIFY(
            QDir(ResourceCache::instance()->root()).entryList({QStringLiteral("*.prefetch-*")}).isEmpty());
    }

    // The teardown on the proxy thread aborts the request the session still has in flight.
    void unregisterWhileRequestInFlight()
    {
        origin->setResponse(QStringLiteral("/seg/1.ts"), FixtureServer::Response::hung());
        startPlaying();
        QTRY_COMPARE_WITH_TIMEOUT(origin->requestsInFlight(), 1, 30000);
        server->unregisterSession(sessionId, QStringLiteral("test_end"));
        QTRY_COMPARE_WITH_TIMEOUT(origin->requestsInFlight(), 0, 30000);
        settle();
        QVERIFY(!server->isPrefetching(segments.at(1).url));
        QCOMPARE(delivered.load(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_HlsPrefetchThreads)
#include "tst_HlsPrefetchThreads.moc"
