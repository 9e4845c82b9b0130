#include "HlsProxySessionProbe.h"
#include "ProxySignalLog.h"
#include "ProxyTestSession.h"
#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/ProxyRequestHead.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/LogRecorder.h"
#include "testsupport/LoopbackHttpClient.h"

#include <QTest>
#include <QUuid>
#include <memory>
#include <vector>

using quorin::ProxyRequestHead;
using quorin::test::FixtureServer;
using quorin::test::LogRecorder;
using quorin::test::LoopbackHttpClient;

namespace {

QByteArray errorAnswer(int status, const QByteArray &reason)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nConnection: close\r\n\r\n";
}

QString newLecture()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString newToken()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// How a refused request is made, for the table of refusals.
enum class Refusal {
    UnknownPlaylistToken,
    AnotherSessionsToken,
    OlderGenerationToken,
    KeyWithoutSession,
    KeyOfUnknownSession,
    PlaylistAfterUnregister,
    KeyAfterUnregister,
    SegmentTokenNeverIssued,
    SegmentTokenOfRetiredSession,
    PlaylistTokenAsSegment,
};

} // namespace

Q_DECLARE_METATYPE(Refusal)

class tst_HlsProxyRouting : public QObject
{
    Q_OBJECT

private:
    HlsProxyServer *server = nullptr;
    std::unique_ptr<FixtureServer> origin;
    std::unique_ptr<ProxySignalLog> proxyLog;
    std::unique_ptr<LogRecorder> recorder;

    [[nodiscard]] quint16 port() const { return server->port(); }

    [[nodiscard]] QString originUrl(const QString &path) const { return origin->url(path).toString(); }

    // Unknown tokens of one resource type share one rejection window; a test that expects their
    // warning waits until no window is open.
    [[nodiscard]] bool rejectionWindowsClosed() const
    {
        return QTest::qWaitFor([this] { return server->openRejectionWindowCount() == 0; }, 10000);
    }

    [[nodiscard]] QList<LogRecorder::Record> rejections() const
    {
        return recorder->withEvent(QStringLiteral("request_rejected"));
    }

private Q_SLOTS:
    void initTestCase()
    {
        DiagnosticLogger::initialize();
        server = ProxySignalLog::trustingServer();
        QVERIFY(server);
        QVERIFY(server->port() > 0);
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
        recorder.reset();
        proxyLog.reset();
        origin.reset();
    }

    void headParser_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<bool>("hasTarget");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("token");
        QTest::addColumn<QString>("sessionId");
        QTest::addColumn<quint64>("generation");
        QTest::addColumn<QByteArray>("rangeHeader");
        QTest::addColumn<qint64>("rangeStart");
        QTest::addColumn<qint64>("rangeLength");

        const QByteArray chunk = "GET /chunk.ts?token=t-1&session=s-1&generation=3 HTTP/1.1\r\n";
        const QString chunkTarget = QStringLiteral("/chunk.ts?token=t-1&session=s-1&generation=3");
        QTest::newRow("no range") << chunk + "Host: a\r\n\r\n"
                                  << true << chunkTarget << "t-1"
                                  << "s-1" << quint64(3) << QByteArray() << qint64(-1) << qint64(-1);
        QTest::newRow("closed range")
            << chunk + "Range: bytes=100-199\r\n\r\n"
            << true << chunkTarget << "t-1"
            << "s-1" << quint64(3) << QByteArray("bytes=100-199") << qint64(100) << qint64(100);
        QTest::newRow("open range") << chunk + "Range: bytes=500-\r\n\r\n"
                                    << true << chunkTarget << "t-1"
                                    << "s-1" << quint64(3) << QByteArray("bytes=500-") << qint64(500)
                                    << qint64(-1);
        QTest::newRow("end before start")
            << chunk + "Range: bytes=9-3\r\n\r\n"
            << true << chunkTarget << "t-1"
            << "s-1" << quint64(3) << QByteArray("bytes=9-3") << qint64(9) << qint64(-1);
        QTest::newRow("suffix range kept raw")
            << chunk + "Range:  bytes=-500 \r\n\r\n"
            << true << chunkTarget << "t-1"
            << "s-1" << quint64(3) << QByteArray("bytes=-500") << qint64(-1) << qint64(-1);
        QTest::newRow("first of two range lines")
            << chunk + "RANGE: bytes=0-99\r\nRange: bytes=500-\r\n\r\n"
            << true << chunkTarget << "t-1"
            << "s-1" << quint64(3) << QByteArray("bytes=0-99") << qint64(0) << qint64(100);
        QTest::newRow("start beyond 64 bits")
            << chunk + "range: bytes=99999999999999999999-\r\n\r\n"
            << true << chunkTarget << "t-1"
            << "s-1" << quint64(3) << QByteArray("bytes=99999999999999999999-") << qint64(-1) << qint64(-1);
        QTest::newRow("length beyond 64 bits")
            << chunk + "Range: bytes=0-9223372036854775807\r\n\r\n"
            << true << chunkTarget << "t-1"
            << "s-1" << quint64(3) << QByteArray("bytes=0-9223372036854775807") << qint64(0) << qint64(-1);
        QTest::newRow("range after the empty line is not read")
            << chunk + "Host: a\r\n\r\nRange: bytes=5-9\r\n"
            << true << chunkTarget << "t-1"
            << "s-1" << quint64(3) << QByteArray() << qint64(-1) << qint64(-1);
        QTest::newRow("generation not a number")
            << QByteArray("GET /playlist.m3u8?token=t-2&session=s-2&generation=abc HTTP/1.1\r\n\r\n") << true
            << "/playlist.m3u8?token=t-2&session=s-2&generation=abc"
            << "t-2"
            << "s-2" << quint64(0) << QByteArray() << qint64(-1) << qint64(-1);
        QTest::newRow("missing keys")
            << QByteArray("POST /key.bin?generation=12 HTTP/1.0\r\n\r\n") << true << "/key.bin?generation=12"
            << QString() << QString() << quint64(12) << QByteArray() << qint64(-1) << qint64(-1);
        QTest::newRow("only a method") << QByteArray("GET\r\n\r\n") << false << QString() << QString()
                                       << QString() << quint64(0) << QByteArray() << qint64(-1) << qint64(-1);
    }

    void headParser()
    {
        QFETCH(QByteArray, head);
        const ProxyRequestHead request = ProxyRequestHead::parse(head);
        QTEST(request.hasTarget(), "hasTarget");
        QTEST(request.target(), "target");
        QTEST(request.token(), "token");
        QTEST(request.sessionId(), "sessionId");
        QTEST(request.generation(), "generation");
        QTEST(request.rangeHeader(), "rangeHeader");
        QTEST(request.rangeStart(), "rangeStart");
        QTEST(request.rangeLength(), "rangeLength");
    }

    void headArrivingInPiecesIsAnsweredOnce()
    {
        const ProxyTestSession session(server, originUrl(QStringLiteral("/a.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QByteArray head = LoopbackHttpClient::getHead(
            QStringLiteral("/key.bin?session=%1&generation=1").arg(session.sessionId()));
        // The empty line's "\r\n\r\n" is split across the last two pieces.
        const QList<QByteArray> pieces = {head.left(20), head.mid(20, head.size() - 22), head.right(2)};
        QVERIFY(pieces.at(1).endsWith("\r\n"));

        LoopbackHttpClient client(port());
        QVERIFY(client.connectToServer());
        client.sendInPieces(pieces, 50);
        const LoopbackHttpClient::Answer answer = client.waitForClose();

        QVERIFY(answer.closed);
        QCOMPARE(answer.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(answer.body, session.info().playbackKey);
        QCOMPARE(answer.raw.count("HTTP/1.1 "), 1);
    }

    void headOfExactlyTheLimitIsRouted()
    {
        const ProxyTestSession session(server, originUrl(QStringLiteral("/a.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QByteArray start = "GET /key.bin?session=" + session.sessionId().toLatin1() +
                                 "&generation=1 HTTP/1.1\r\nX-Padding: ";
        const QByteArray end = "\r\n\r\n";
        const QByteArray head = start + QByteArray(32768 - start.size() - end.size(), 'p') + end;
        QCOMPARE(head.size(), 32768);

        const LoopbackHttpClient::Answer answer = LoopbackHttpClient::exchange(port(), head);
        QCOMPARE(answer.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(answer.body, session.info().playbackKey);
    }

    void headOverTheLimitIsRefused()
    {
        const QByteArray start = "GET /key.bin?session=s&generation=1 HTTP/1.1\r\nX-Padding: ";
        const QByteArray bytes = start + QByteArray(32769 - start.size(), 'p');

        const LoopbackHttpClient::Answer answer = LoopbackHttpClient::exchange(port(), bytes);
        QVERIFY(answer.closed);
        QCOMPARE(answer.raw,
                 QByteArray("HTTP/1.1 431 Request headers too large\r\nConnection: close\r\n\r\n"));

        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(proxyLog->failures.size(), 1);
        const ProxyFailureRecord record = proxyLog->failures.constFirst();
        QCOMPARE(record.origin, ProxyFailureOrigin::LocalProxy);
        QCOMPARE(record.reason, ProxyFailureReason::LocalRefusal);
        QCOMPARE(int(record.reason), 4);
        QCOMPARE(record.resourceType, ProxyResourceType::Unknown);
        QCOMPARE(int(record.resourceType), 0);
        QCOMPARE(record.httpStatus, 431);
        QCOMPARE(record.sessionId, QString());
        QCOMPARE(record.generation, quint64(0));
    }

    // Bytes after a routed head are not a second request: no second answer, no second permit.
    void bytesAfterTheHeadAreIgnored_data()
    {
        QTest::addColumn<bool>("inOneWrite");
        QTest::newRow("two requests in one write") << true;
        QTest::newRow("the second after the first") << false;
    }

    void bytesAfterTheHeadAreIgnored()
    {
        QFETCH(bool, inOneWrite);
        const ProxyTestSession session(server, originUrl(QStringLiteral("/a.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QByteArray request = "POST /key.bin?session=" + session.sessionId().toLatin1() +
                                   "&generation=999 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n";

        LoopbackHttpClient client(port());
        QVERIFY(client.connectToServer());
        if (inOneWrite) {
            client.send(request + request);
        } else {
            client.send(request);
            client.send(request);
        }
        const LoopbackHttpClient::Answer answer = client.waitForClose();

        QCOMPARE(answer.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(answer.headerLines,
                 QList<QByteArray>({"Connection: close", "Access-Control-Allow-Origin: *",
                                    "Content-Type: application/octet-stream", "Content-Length: 16"}));
        QCOMPARE(answer.body, session.info().playbackKey);
        QCOMPARE(answer.raw.count("HTTP/1.1 "), 1);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(server->activeRequestCount(session.sessionId()), 0);
        QVERIFY(proxyLog->failures.isEmpty());
    }

    void requestLineWithoutTargetClosesSilently()
    {
        const LoopbackHttpClient::Answer silent = LoopbackHttpClient::exchange(port(), "GET\r\n\r\n");
        QVERIFY(silent.closed);
        QCOMPARE(silent.raw, QByteArray());

        // A request that does report: had the first one reported too, its record would come first.
        const LoopbackHttpClient::Answer sentinel =
            LoopbackHttpClient::get(port(), QStringLiteral("/sentinel"));
        QCOMPARE(sentinel.status(), 404);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(proxyLog->failures.size(), 1);
        QCOMPARE(proxyLog->failures.constFirst().httpStatus, 404);
        QCOMPARE(proxyLog->failures.constFirst().reason, ProxyFailureReason::LocalRefusal);
    }

    void unroutedTargets_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<ProxyFailureReason>("reason");
        QTest::addColumn<ProxyResourceType>("resourceType");
        QTest::addColumn<QString>("rejectedWord");

        QTest::newRow("root") << "/" << ProxyFailureReason::LocalRefusal << ProxyResourceType::Unknown
                              << QString();
        QTest::newRow("other path") << "/index.html?token=x" << ProxyFailureReason::LocalRefusal
                                    << ProxyResourceType::Unknown << QString();
        QTest::newRow("case differs") << "/Playlist.m3u8" << ProxyFailureReason::LocalRefusal
                                      << ProxyResourceType::Unknown << QString();
        QTest::newRow("chunk without a query")
            << "/chunk" << ProxyFailureReason::UnknownToken << ProxyResourceType::Segment << "unknown_token";
    }

    void unroutedTargets()
    {
        QFETCH(QString, target);
        QFETCH(QString, rejectedWord);
        QVERIFY(rejectionWindowsClosed());

        const LoopbackHttpClient::Answer answer = LoopbackHttpClient::get(port(), target);
        QCOMPARE(answer.raw, errorAnswer(404, "Not Found"));

        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(proxyLog->failures.size(), 1);
        QTEST(proxyLog->failures.constFirst().reason, "reason");
        QTEST(proxyLog->failures.constFirst().resourceType, "resourceType");
        QCOMPARE(proxyLog->failures.constFirst().httpStatus, 404);
        if (rejectedWord.isEmpty()) {
            QVERIFY(rejections().isEmpty());
        } else {
            QCOMPARE(rejections().size(), 1);
            QCOMPARE(rejections().constFirst().field(QStringLiteral("reason")), rejectedWord);
            QCOMPARE(rejections().constFirst().field(QStringLiteral("sample_fp")), QStringLiteral("none"));
        }
    }

    void refusals_data()
    {
        QTest::addColumn<Refusal>("refusal");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<ProxyFailureReason>("reason");
        QTest::addColumn<ProxyResourceType>("resourceType");
        QTest::addColumn<QString>("rejectedWord");
        QTest::addColumn<QString>("resourceWord");

        const QByteArray notFound = errorAnswer(404, "Not Found");
        const QByteArray gone = errorAnswer(410, "Gone");
        QTest::newRow("unknown playlist token")
            << Refusal::UnknownPlaylistToken << notFound << ProxyFailureReason::UnknownSession
            << ProxyResourceType::Playlist << "unknown_session"
            << "playlist";
        QTest::newRow("another session's playlist token")
            << Refusal::AnotherSessionsToken << notFound << ProxyFailureReason::UnknownSession
            << ProxyResourceType::Playlist << "unknown_session"
            << "playlist";
        QTest::newRow("playlist token of an older generation")
            << Refusal::OlderGenerationToken << notFound << ProxyFailureReason::UnknownSession
            << ProxyResourceType::Playlist << "unknown_session"
            << "playlist";
        QTest::newRow("key without a session")
            << Refusal::KeyWithoutSession << notFound << ProxyFailureReason::UnknownSession
            << ProxyResourceType::Key << "unknown_session"
            << "key";
        QTest::newRow("key of an unknown session")
            << Refusal::KeyOfUnknownSession << notFound << ProxyFailureReason::UnknownSession
            << ProxyResourceType::Key << "unknown_session"
            << "key";
        QTest::newRow("playlist after unregistering")
            << Refusal::PlaylistAfterUnregister << gone << ProxyFailureReason::RetiredSession
            << ProxyResourceType::Playlist << "retired_session"
            << "playlist";
        QTest::newRow("key after unregistering")
            << Refusal::KeyAfterUnregister << gone << ProxyFailureReason::RetiredSession
            << ProxyResourceType::Key << "retired_session"
            << "key";
        QTest::newRow("segment token never issued")
            << Refusal::SegmentTokenNeverIssued << notFound << ProxyFailureReason::UnknownToken
            << ProxyResourceType::Segment << "unknown_token"
            << "segment";
        QTest::newRow("segment token of a retired session")
            << Refusal::SegmentTokenOfRetiredSession << gone << ProxyFailureReason::RetiredSession
            << ProxyResourceType::Segment << "retired_session"
            << "segment";
        QTest::newRow("playlist token as a segment")
            << Refusal::PlaylistTokenAsSegment << notFound << ProxyFailureReason::UnknownToken
            << ProxyResourceType::Segment << "unknown_token"
            << "segment";
    }

    void refusals()
    {
        QFETCH(Refusal, refusal);
        QFETCH(QString, rejectedWord);
        QVERIFY(rejectionWindowsClosed());

        const QString playlistUrl = originUrl(QStringLiteral("/refused.m3u8"));
        ProxyTestSession session(server, playlistUrl, newLecture());
        ProxyTestSession other(server, originUrl(QStringLiteral("/other.m3u8")), newLecture());
        QVERIFY(session.isRegistered() && other.isRegistered());
        const QString sessionId = session.sessionId();

        QString target;
        QString sample = DiagnosticLogger::fingerprint(sessionId);
        switch (refusal) {
        case Refusal::UnknownPlaylistToken:
            target = session.target(QStringLiteral("/playlist.m3u8"), newToken());
            break;
        case Refusal::AnotherSessionsToken:
            target = session.target(QStringLiteral("/playlist.m3u8"), other.playlistToken());
            break;
        case Refusal::OlderGenerationToken: {
            // The same session id registered again for the next stream: the first stream's token
            // is still live, but the request names the new generation.
            SessionInfo next = session.info();
            next.generation = 2;
            server->registerSession(sessionId, next);
            target = QStringLiteral("/playlist.m3u8?token=%1&session=%2&generation=2")
                         .arg(session.playlistToken(), sessionId);
            break;
        }
        case Refusal::KeyWithoutSession:
            target = QStringLiteral("/key.bin?session=&generation=1");
            sample = QStringLiteral("none");
            break;
        case Refusal::KeyOfUnknownSession:
            target = QStringLiteral("/key.bin?session=nobody&generation=1");
            sample = DiagnosticLogger::fingerprint(QStringLiteral("nobody"));
            break;
        case Refusal::PlaylistAfterUnregister:
            target = session.target(QStringLiteral("/playlist.m3u8"), session.playlistToken());
            session.unregister();
            break;
        case Refusal::KeyAfterUnregister:
            target = QStringLiteral("/key.bin?session=%1&generation=1").arg(sessionId);
            session.unregister();
            break;
        case Refusal::SegmentTokenNeverIssued: {
            const QString token = newToken();
            target = session.target(QStringLiteral("/chunk.ts"), token);
            sample = DiagnosticLogger::fingerprint(token);
            break;
        }
        case Refusal::SegmentTokenOfRetiredSession:
            target =
                session.target(QStringLiteral("/chunk.ts"), session.registerSegment(originUrl("/s0.ts")));
            session.unregister();
            break;
        case Refusal::PlaylistTokenAsSegment:
            target = session.target(QStringLiteral("/chunk.ts"), session.playlistToken());
            sample = DiagnosticLogger::fingerprint(session.playlistToken());
            break;
        }

        const LoopbackHttpClient::Answer answer = LoopbackHttpClient::get(port(), target);
        QTEST(answer.raw, "answer");
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(proxyLog->failures.size(), 1);
        const ProxyFailureRecord record = proxyLog->failures.constFirst();
        QCOMPARE(record.origin, ProxyFailureOrigin::LocalProxy);
        QTEST(record.reason, "reason");
        QTEST(record.resourceType, "resourceType");
        QCOMPARE(record.httpStatus, answer.status());
        QCOMPARE(rejections().size(), 1);
        QCOMPARE(rejections().constFirst().field(QStringLiteral("reason")), rejectedWord);
        QTEST(rejections().constFirst().field(QStringLiteral("resource_type")), "resourceWord");
        QCOMPARE(rejections().constFirst().field(QStringLiteral("sample_fp")), sample);
        // Nothing of a refused request goes upstream.
        QCOMPARE(origin->connectionCount(), 0);
        QVERIFY(proxyLog->demands.isEmpty());
    }

    // The token alone names the stream: the query's session is not compared.
    void segmentIsDemandedForItsTokensSession()
    {
        const ProxyTestSession owner(server, originUrl(QStringLiteral("/a.m3u8")), newLecture());
        const ProxyTestSession other(server, originUrl(QStringLiteral("/b.m3u8")), newLecture());
        QVERIFY(owner.isRegistered() && other.isRegistered());
        const QString token = owner.registerSegment(originUrl(QStringLiteral("/s0.ts")));
        // The segment stays in flight, so the request holds its permit while the test looks.
        origin->setResponse(QStringLiteral("/s0.ts"), FixtureServer::Response::hung());

        LoopbackHttpClient player(port());
        QVERIFY(player.connectToServer());
        player.send(LoopbackHttpClient::getHead(other.target(QStringLiteral("/chunk.ts"), token)));

        QTRY_COMPARE(proxyLog->demands.size(), 1);
        QCOMPARE(proxyLog->demands.constFirst(), ProxySignalLog::Demand(owner.sessionId(), "rendition-1"));
        QCOMPARE(server->activeRequestCount(owner.sessionId()), 1);
        QCOMPARE(server->activeRequestCount(other.sessionId()), 0);

        player.abort();
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(server->activeRequestCount(owner.sessionId()), 0);
        QVERIFY(proxyLog->failures.isEmpty());
    }

    void invalidTokenByteRange_data()
    {
        QTest::addColumn<QString>("byteRange");
        QTest::newRow("no length at an offset") << "0@100";
        QTest::newRow("negative offset") << "10@-1";
        QTest::newRow("length not a number") << "ten@0";
        QTest::newRow("end beyond 64 bits") << "2@9223372036854775807";
    }

    void invalidTokenByteRange()
    {
        QFETCH(QString, byteRange);
        const ProxyTestSession session(server, originUrl(QStringLiteral("/a.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QString token = session.registerSegment(originUrl(QStringLiteral("/s0.ts")), byteRange);

        const LoopbackHttpClient::Answer answer =
            LoopbackHttpClient::get(port(), session.target(QStringLiteral("/chunk.ts"), token));
        QCOMPARE(answer.raw, errorAnswer(400, "Invalid HLS byte range"));

        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(proxyLog->events,
                 QStringList({QStringLiteral("segmentDemanded"), QStringLiteral("proxyFailure")}));
        QCOMPARE(proxyLog->failures.constFirst().reason, ProxyFailureReason::LocalRefusal);
        QCOMPARE(proxyLog->failures.constFirst().resourceType, ProxyResourceType::Segment);
        QCOMPARE(proxyLog->failures.constFirst().httpStatus, 400);
        QCOMPARE(proxyLog->failures.constFirst().sessionId, session.sessionId());
        QCOMPARE(server->activeRequestCount(session.sessionId()), 0);
        QCOMPARE(origin->connectionCount(), 0);
    }

    void requestLimit()
    {
        origin->setResponse(QStringLiteral("/held.m3u8"), FixtureServer::Response::hung());
        const ProxyTestSession session(server, originUrl(QStringLiteral("/held.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QByteArray head = LoopbackHttpClient::getHead(
            session.target(QStringLiteral("/playlist.m3u8"), session.playlistToken()));

        std::vector<std::unique_ptr<LoopbackHttpClient>> held;
        for (int index = 0; index < HlsProxyServer::MaximumRequestsPerSession; ++index) {
            held.push_back(std::make_unique<LoopbackHttpClient>(port()));
            QVERIFY(held.back()->connectToServer());
            held.back()->send(head);
        }
        QTRY_COMPARE(server->activeRequestCount(session.sessionId()), 8);

        const LoopbackHttpClient::Answer refused = LoopbackHttpClient::exchange(port(), head);
        QCOMPARE(refused.raw, errorAnswer(429, "Too many requests"));
        QTRY_COMPARE(HlsProxySessionProbe::connections(server).size(), 8);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(proxyLog->failures.size(), 1);
        QCOMPARE(proxyLog->failures.constFirst().reason, ProxyFailureReason::RequestLimit);
        QCOMPARE(int(proxyLog->failures.constFirst().reason), 3);
        QCOMPARE(proxyLog->failures.constFirst().httpStatus, 429);
        QCOMPARE(rejections().size(), 1);
        QCOMPARE(rejections().constFirst().field(QStringLiteral("reason")), QStringLiteral("request_limit"));
        QCOMPARE(rejections().constFirst().field(QStringLiteral("sample_fp")),
                 DiagnosticLogger::fingerprint(session.sessionId()));

        // A permit comes back when its connection object is gone, not before.
        held.front()->abort();
        QTRY_COMPARE(HlsProxySessionProbe::connections(server).size(), 7);
        QCOMPARE(server->activeRequestCount(session.sessionId()), 7);

        LoopbackHttpClient next(port());
        QVERIFY(next.connectToServer());
        next.send(head);
        QTRY_COMPARE(server->activeRequestCount(session.sessionId()), 8);
        QCOMPARE(proxyLog->failures.size(), 1);
        QVERIFY(!next.isClosedByServer());

        next.abort();
        for (const auto &client : held)
            client->abort();
    }

    void unregisteringClosesHeldRequests()
    {
        origin->setResponse(QStringLiteral("/held.m3u8"), FixtureServer::Response::hung());
        ProxyTestSession session(server, originUrl(QStringLiteral("/held.m3u8")), newLecture());
        QVERIFY(session.isRegistered());
        const QByteArray head = LoopbackHttpClient::getHead(
            session.target(QStringLiteral("/playlist.m3u8"), session.playlistToken()));

        std::vector<std::unique_ptr<LoopbackHttpClient>> held;
        for (int index = 0; index < 3; ++index) {
            held.push_back(std::make_unique<LoopbackHttpClient>(port()));
            QVERIFY(held.back()->connectToServer());
            held.back()->send(head);
        }
        QTRY_COMPARE(server->activeRequestCount(session.sessionId()), 3);

        session.unregister(QStringLiteral("quality_switch"));
        for (const auto &client : held) {
            const LoopbackHttpClient::Answer answer = client->waitForClose();
            QVERIFY(answer.closed);
            QCOMPARE(answer.raw, QByteArray());
        }
        QTRY_COMPARE(proxyLog->stoppedSessions, QStringList({session.sessionId()}));
        QVERIFY(proxyLog->failures.isEmpty());

        const LoopbackHttpClient::Answer late = LoopbackHttpClient::exchange(port(), head);
        QCOMPARE(late.raw, errorAnswer(410, "Gone"));
    }
};

QTEST_GUILESS_MAIN(tst_HlsProxyRouting)
#include "tst_HlsProxyRouting.moc"
