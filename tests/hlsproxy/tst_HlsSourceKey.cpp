#include "ProxySignalLog.h"
#include "ProxyTestSession.h"
#include "SegmentTestSupport.h"
#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "media/CryptoManager.h"
#include "media/ResourceCache.h"
#include "testsupport/Aes128Cbc.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/LogRecorder.h"
#include "testsupport/LoopbackHttpClient.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QTest>
#include <QUuid>
#include <memory>

using quorin::test::Aes128Cbc;
using quorin::test::FixtureServer;
using quorin::test::LogRecorder;
using quorin::test::LoopbackHttpClient;
using Support = SegmentTestSupport;

namespace {

const QByteArray SourceKey = QByteArray::fromHex("8899aabbccddeeff0011223344556677");
const QByteArray SourceIv = QByteArray::fromHex("0123456789abcdef0123456789abcdef");

QString newLecture()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

enum class KeyUpstream { FifteenBytes, Forbidden, ClosedPort, DroppedAfterEightBytes, SeventyThousandBytes };

} // namespace

Q_DECLARE_METATYPE(KeyUpstream)

class tst_HlsSourceKey : public QObject
{
    Q_OBJECT

private:
    HlsProxyServer *server = nullptr;
    std::unique_ptr<FixtureServer> origin;
    std::unique_ptr<ProxySignalLog> proxyLog;
    std::unique_ptr<LogRecorder> recorder;

    [[nodiscard]] QString originUrl(const QString &path) const { return origin->url(path).toString(); }

    [[nodiscard]] ProxyTestSession::Segment keyed(const QString &keyUrl, qint64 startMs = 0) const
    {
        ProxyTestSession::Segment segment;
        segment.keyUrl = keyUrl;
        segment.sourceIv = SourceIv;
        segment.startMs = startMs;
        return segment;
    }

    // Serves a keyed segment of fresh plaintext at the path and returns the plaintext.
    QByteArray serveKeyedSegment(const QString &path)
    {
        const QByteArray plaintext = Support::sourceBytes(3000);
        origin->setResponse(path, FixtureServer::Response(
                                      200, Aes128Cbc::encrypt(plaintext, SourceKey, SourceIv), "video/MP2T"));
        return plaintext;
    }

    // Puts a file into the cache where the lecture's key would be, encrypted at rest as the
    // proxy's cache files are.
    [[nodiscard]] static bool cacheKeyFile(const ProxyTestSession &session, const QString &keyUrl,
                                           const QByteArray &plaintext)
    {
        return session.cacheAsTheProxyWould(keyUrl, plaintext);
    }

private Q_SLOTS:
    void initTestCase()
    {
        DiagnosticLogger::initialize();
        DiagnosticLogger::setDetailedUntil(QDateTime::currentDateTimeUtc().addSecs(3600));
        server = ProxySignalLog::trustingServer();
        QVERIFY(server && server->port() > 0);
        QVERIFY(ProxyTestSession::prepareVault());
    }

    void init()
    {
        origin = std::make_unique<FixtureServer>();
        QVERIFY(origin->listen());
        proxyLog = std::make_unique<ProxySignalLog>(server);
        recorder = std::make_unique<LogRecorder>();
    }

    void cleanup()
    {
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(Support::stagingFiles(), QStringList());
        recorder.reset();
        proxyLog.reset();
        origin.reset();
    }

    void keyIsFetchedOncePerSession()
    {
        origin->setResponse(QStringLiteral("/source.key"), FixtureServer::Response(200, SourceKey));
        const QByteArray first = serveKeyedSegment(QStringLiteral("/segment0.ts"));
        const QByteArray second = serveKeyedSegment(QStringLiteral("/segment1.ts"));
        ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QString keyUrl = originUrl(QStringLiteral("/source.key"));

        const LoopbackHttpClient::Answer one = Support::fetchSegment(
            server, session,
            session.registerSegment(originUrl(QStringLiteral("/segment0.ts")), keyed(keyUrl)));
        const LoopbackHttpClient::Answer two = Support::fetchSegment(
            server, session,
            session.registerSegment(originUrl(QStringLiteral("/segment1.ts")), keyed(keyUrl, 2000)));
        QCOMPARE(Support::playerPlaintext(server, session, one.body), first);
        QCOMPARE(Support::playerPlaintext(server, session, two.body), second);
        QCOMPARE(origin->requestCount(QStringLiteral("/source.key")), 1);
        // The key goes upstream with the session's credentials and never into the cache.
        QCOMPARE(origin->requests(QStringLiteral("/source.key")).constFirst().header("Authorization"),
                 session.info().authorization);
        QVERIFY(!Support::isCached(session, keyUrl));
    }

    void cachedKeyFiles_data()
    {
        QTest::addColumn<QByteArray>("cachedPlaintext");
        QTest::addColumn<int>("keyRequests");

        QTest::newRow("16 bytes: used") << SourceKey << 0;
        QTest::newRow("32 bytes: fetched") << (SourceKey + SourceKey) << 1;
        // Decrypts to a valid key at its start, but is too large to be read at all.
        QTest::newRow("over 65536 bytes: fetched") << (SourceKey + QByteArray(65536, 'k')) << 1;
    }

    void cachedKeyFiles()
    {
        QFETCH(QByteArray, cachedPlaintext);
        origin->setResponse(QStringLiteral("/source.key"), FixtureServer::Response(200, SourceKey));
        const QByteArray plaintext = serveKeyedSegment(QStringLiteral("/segment.ts"));
        ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QString keyUrl = originUrl(QStringLiteral("/source.key"));
        QVERIFY(cacheKeyFile(session, keyUrl, cachedPlaintext));

        const LoopbackHttpClient::Answer answer = Support::fetchSegment(
            server, session,
            session.registerSegment(originUrl(QStringLiteral("/segment.ts")), keyed(keyUrl)));
        QCOMPARE(answer.status(), 200);
        QCOMPARE(Support::playerPlaintext(server, session, answer.body), plaintext);
        QTEST(origin->requestCount(QStringLiteral("/source.key")), "keyRequests");
    }

    void keyOfAnotherLectureIsNotUsed()
    {
        // Two lectures share one key URI; each one's cached copy is its own.
        origin->setResponse(QStringLiteral("/source.key"), FixtureServer::Response(200, SourceKey));
        const QByteArray plaintext = serveKeyedSegment(QStringLiteral("/segment.ts"));
        ProxyTestSession first(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        ProxyTestSession second(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(first.isRegistered() && second.isRegistered());
        const QString keyUrl = originUrl(QStringLiteral("/source.key"));
        QVERIFY(cacheKeyFile(first, keyUrl, SourceKey));
        QVERIFY(cacheKeyFile(second, keyUrl, SourceKey));

        for (const ProxyTestSession *session : {&first, &second}) {
            const LoopbackHttpClient::Answer answer = Support::fetchSegment(
                server, *session,
                session->registerSegment(originUrl(QStringLiteral("/segment.ts")), keyed(keyUrl)));
            QCOMPARE(Support::playerPlaintext(server, *session, answer.body), plaintext);
        }
        QCOMPARE(origin->requestCount(QStringLiteral("/source.key")), 0);

        // Deleting the first lecture's files leaves the second one's whole.
        ResourceCache::instance()->deleteResources(
            {ResourceCache::vaultKey(first.info().lectureId, keyUrl),
             ResourceCache::vaultKey(first.info().lectureId, originUrl(QStringLiteral("/segment.ts")))});
        QVERIFY(!Support::isCached(first, keyUrl));
        QVERIFY(Support::isCached(second, keyUrl));
        QCOMPARE(
            CryptoManager::instance()->processChunk(Support::storedCopy(second, keyUrl), 0,
                                                    CryptoManager::itemIv(second.info().masterIv, keyUrl)),
            SourceKey);
    }

    void keyFailures_data()
    {
        QTest::addColumn<KeyUpstream>("upstream");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<ProxyFailureOrigin>("failureOrigin");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("code");

        QTest::newRow("200 with 15 bytes")
            << KeyUpstream::FifteenBytes << QByteArray("HTTP/1.1 502 Invalid source key")
            << ProxyFailureOrigin::UpstreamHttp << 200 << QStringLiteral("INVALID_CONTENT_KEY");
        QTest::newRow("403") << KeyUpstream::Forbidden << QByteArray("HTTP/1.1 403 Source key unavailable")
                             << ProxyFailureOrigin::UpstreamHttp << 403 << QStringLiteral("KEY_DENIED");
        QTest::newRow("closed port") << KeyUpstream::ClosedPort
                                     << QByteArray("HTTP/1.1 502 Source key unavailable")
                                     << ProxyFailureOrigin::NetworkTransport << 0 << QString();
        // A failure after a 200 head must not read as a 200.
        QTest::newRow("dropped after 8 of 16 bytes")
            << KeyUpstream::DroppedAfterEightBytes << QByteArray("HTTP/1.1 502 Source key unavailable")
            << ProxyFailureOrigin::UpstreamHttp << 200 << QString();
        QTest::newRow("70,000 bytes")
            << KeyUpstream::SeventyThousandBytes << QByteArray("HTTP/1.1 502 Invalid source key")
            << ProxyFailureOrigin::UpstreamHttp << 200 << QStringLiteral("INVALID_CONTENT_KEY");
    }

    void keyFailures()
    {
        QFETCH(KeyUpstream, upstream);
        QFETCH(QByteArray, answer);
        (void)serveKeyedSegment(QStringLiteral("/segment.ts"));
        QString keyUrl = originUrl(QStringLiteral("/source.key"));
        switch (upstream) {
        case KeyUpstream::FifteenBytes:
            origin->setResponse(QStringLiteral("/source.key"),
                                FixtureServer::Response(200, SourceKey.left(15)));
            break;
        case KeyUpstream::Forbidden:
            origin->setResponse(
                QStringLiteral("/source.key"),
                FixtureServer::Response(403, "denied").withHeader("X-Quorin-Error-Code", "KEY_DENIED"));
            break;
        case KeyUpstream::ClosedPort:
            keyUrl = QStringLiteral("https://localhost:%1/source.key").arg(Support::closedPort());
            break;
        case KeyUpstream::DroppedAfterEightBytes: {
            FixtureServer::Response response(200, SourceKey);
            response.dropAfterBodyBytes = 8;
            origin->setResponse(QStringLiteral("/source.key"), response);
            break;
        }
        case KeyUpstream::SeventyThousandBytes: {
            // The rest of the body never comes: only reading as it arrives ends the request in time.
            FixtureServer::Response response(200, QByteArray(70000, 'k'));
            response.stallAfterBodyBytes = 69000;
            origin->setResponse(QStringLiteral("/source.key"), response);
            break;
        }
        }
        ProxyTestSession session(server, originUrl(QStringLiteral("/index.m3u8")), newLecture());
        QVERIFY(session.isRegistered());

        QElapsedTimer elapsed;
        elapsed.start();
        const LoopbackHttpClient::Answer reply = Support::fetchSegment(
            server, session,
            session.registerSegment(originUrl(QStringLiteral("/segment.ts")), keyed(keyUrl)));
        QVERIFY2(elapsed.elapsed() < 20000, qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(reply.closed);
        QCOMPARE(reply.raw, answer + "\r\nConnection: close\r\n\r\n");
        QVERIFY(ProxySignalLog::waitUntilIdle(server));

        QCOMPARE(proxyLog->failures.size(), 1);
        const ProxyFailureRecord &record = proxyLog->failures.constFirst();
        QTEST(record.origin, "failureOrigin");
        QCOMPARE(record.reason, ProxyFailureReason::UpstreamSegment);
        QCOMPARE(int(record.reason), 8);
        QTEST(record.httpStatus, "status");
        QTEST(record.upstreamCode, "code");
        // Nothing of the segment was asked for, and key failures are no upstream-failure records.
        QCOMPARE(origin->requestCount(QStringLiteral("/segment.ts")), 0);
        QVERIFY(recorder->withEvent(QStringLiteral("upstream_failed")).isEmpty());
        const bool fetchFailed =
            upstream != KeyUpstream::FifteenBytes && upstream != KeyUpstream::SeventyThousandBytes;
        QCOMPARE(Support::warned(*recorder, QStringLiteral("HlsProxyServer: source key request failed:")),
                 fetchFailed);
    }
};

QTEST_GUILESS_MAIN(tst_HlsSourceKey)
#include "tst_HlsSourceKey.moc"
