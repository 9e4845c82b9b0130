#include "ProxySignalLog.h"
#include "ProxyTestSession.h"
#include "SegmentTestSupport.h"
#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/LogRecorder.h"
#include "testsupport/LoopbackHttpClient.h"

#include <QDateTime>
#include <QNetworkReply>
#include <QTest>
#include <QUuid>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::LogRecorder;
using quorin::test::LoopbackHttpClient;

namespace {

const QByteArray MediaPlaylist =
    "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\nsegment0.ts\n#EXT-X-ENDLIST\n";

QByteArray errorAnswer(int status, const QByteArray &reason)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nConnection: close\r\n\r\n";
}

QString newLecture()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// A media playlist of exactly the given size: one segment, then comment lines as padding.
QByteArray playlistOfSize(qsizetype size)
{
    QByteArray body = MediaPlaylist;
    while (body.size() < size) {
        const qsizetype line = std::min<qsizetype>(size - body.size(), 1000);
        body += '#' + QByteArray(std::max<qsizetype>(line - 2, 0), 'x') + '\n';
        if (body.size() > size)
            body.chop(body.size() - size);
    }
    return body;
}

enum class Upstream { Http403WithCodeHeader, Http500WithCodeInBody, Http404, ClosedPort, DroppedBody };
enum class Redirect { SameOrigin, OtherPortWithBearer, OtherPortWithoutBearer, PlainHttp };

} // namespace

Q_DECLARE_METATYPE(Upstream)
Q_DECLARE_METATYPE(Redirect)

class tst_HlsProxyUpstream : public QObject
{
    Q_OBJECT

private:
    HlsProxyServer *server = nullptr;
    std::unique_ptr<FixtureServer> origin;
    std::unique_ptr<ProxySignalLog> proxyLog;
    std::unique_ptr<LogRecorder> recorder;

    [[nodiscard]] QString originUrl(const QString &path) const { return origin->url(path).toString(); }

    [[nodiscard]] LoopbackHttpClient::Answer fetchTopPlaylist(const ProxyTestSession &session) const
    {
        return LoopbackHttpClient::get(
            server->port(), session.target(QStringLiteral("/playlist.m3u8"), session.playlistToken()));
    }

    // The one failure record of the last request, once its connection is gone.
    [[nodiscard]] bool oneFailure(ProxyFailureRecord &record) const
    {
        if (!ProxySignalLog::waitUntilIdle(server) || proxyLog->failures.size() != 1)
            return false;
        record = proxyLog->failures.constFirst();
        return true;
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
        recorder.reset();
        proxyLog.reset();
        origin.reset();
    }

    void upstreamFailures_data()
    {
        QTest::addColumn<Upstream>("upstream");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<ProxyFailureOrigin>("failureOrigin");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("code");
        QTest::addColumn<bool>("networkError");

        QTest::newRow("403 with a code header")
            << Upstream::Http403WithCodeHeader << errorAnswer(403, "Upstream unavailable")
            << ProxyFailureOrigin::UpstreamHttp << 403 << "COURSE_ACCESS_DENIED" << true;
        QTest::newRow("500 with a code in the body")
            << Upstream::Http500WithCodeInBody << errorAnswer(500, "Upstream unavailable")
            << ProxyFailureOrigin::UpstreamHttp << 500 << "USER_BLOCKED" << true;
        QTest::newRow("404 without a code") << Upstream::Http404 << errorAnswer(404, "Upstream unavailable")
                                            << ProxyFailureOrigin::UpstreamHttp << 404 << QString() << true;
        QTest::newRow("closed port") << Upstream::ClosedPort << errorAnswer(502, "Upstream unavailable")
                                     << ProxyFailureOrigin::NetworkTransport << 0 << QString() << true;
        // A 200 head whose body breaks off must not reach the player as a 200.
        QTest::newRow("body dropped after its head")
            << Upstream::DroppedBody << errorAnswer(502, "Upstream unavailable")
            << ProxyFailureOrigin::UpstreamHttp << 200 << QString() << true;
    }

    void upstreamFailures()
    {
        QFETCH(Upstream, upstream);
        QFETCH(int, status);
        QFETCH(bool, networkError);

        QString playlistUrl = originUrl(QStringLiteral("/failing.m3u8"));
        switch (upstream) {
        case Upstream::Http403WithCodeHeader:
            origin->setResponse(
                QStringLiteral("/failing.m3u8"),
                FixtureServer::Response(403).withHeader("X-Quorin-Error-Code", "course_access_denied"));
            break;
        case Upstream::Http500WithCodeInBody:
            origin->setResponse(QStringLiteral("/failing.m3u8"),
                                FixtureServer::Response::json(R"({"error":{"code":"user_blocked"}})", 500));
            break;
        case Upstream::Http404:
            origin->setResponse(QStringLiteral("/failing.m3u8"), FixtureServer::Response(404));
            break;
        case Upstream::ClosedPort:
            playlistUrl =
                QStringLiteral("https://localhost:%1/failing.m3u8").arg(SegmentTestSupport::closedPort());
            break;
        case Upstream::DroppedBody: {
            FixtureServer::Response dropped(200,
                                            MediaPlaylist + QByteArray(1000 - MediaPlaylist.size(), '#'));
            dropped.dropAfterBodyBytes = 100;
            origin->setResponse(QStringLiteral("/failing.m3u8"), dropped);
            break;
        }
        }
        const ProxyTestSession session(server, playlistUrl, newLecture());
        QVERIFY(session.isRegistered());

        const LoopbackHttpClient::Answer answer = fetchTopPlaylist(session);
        QTEST(answer.raw, "answer");

        ProxyFailureRecord record;
        QVERIFY(oneFailure(record));
        QTEST(record.origin, "failureOrigin");
        QCOMPARE(record.reason, ProxyFailureReason::UpstreamPlaylist);
        QCOMPARE(int(record.reason), 6);
        QCOMPARE(record.resourceType, ProxyResourceType::Playlist);
        QCOMPARE(record.httpStatus, status);
        QCOMPARE(record.networkError != 0, networkError);
        QTEST(record.upstreamCode, "code");
        QCOMPARE(record.sessionId, session.sessionId());
        QCOMPARE(record.generation, session.info().generation);

        const QList<LogRecorder::Record> failed = recorder->withEvent(QStringLiteral("upstream_failed"));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.constFirst().level, QStringLiteral("warning"));
        QCOMPARE(failed.constFirst().field(QStringLiteral("source")), QStringLiteral("cdn"));
        QCOMPARE(failed.constFirst().fields.value(QStringLiteral("status")).toInt(), status);
        QCOMPARE(failed.constFirst().fields.value(QStringLiteral("network_error")).toInt(),
                 record.networkError);
        QCOMPARE(failed.constFirst().field(QStringLiteral("resource_type")), QStringLiteral("playlist"));
        QCOMPARE(failed.constFirst().field(QStringLiteral("session_fp")),
                 DiagnosticLogger::fingerprint(session.sessionId()));
        // A failed body is never rewritten, announced or cached.
        QVERIFY(proxyLog->sources.isEmpty());
    }

    void redirects_data()
    {
        QTest::addColumn<Redirect>("redirect");
        QTest::addColumn<bool>("followed");

        QTest::newRow("same host and port") << Redirect::SameOrigin << true;
        QTest::newRow("another port with a bearer") << Redirect::OtherPortWithBearer << false;
        QTest::newRow("another port without a bearer") << Redirect::OtherPortWithoutBearer << true;
        QTest::newRow("plain http") << Redirect::PlainHttp << false;
    }

    void redirects()
    {
        QFETCH(Redirect, redirect);
        QFETCH(bool, followed);

        FixtureServer elsewhere(redirect == Redirect::PlainHttp ? FixtureServer::Transport::PlainHttp
                                                                : FixtureServer::Transport::Https);
        QVERIFY(elsewhere.listen());
        elsewhere.setResponse(QStringLiteral("/moved.m3u8"),
                              FixtureServer::Response(200, MediaPlaylist, "application/vnd.apple.mpegurl"));
        origin->setResponse(QStringLiteral("/moved.m3u8"),
                            FixtureServer::Response(200, MediaPlaylist, "application/vnd.apple.mpegurl"));
        const bool sameOrigin = redirect == Redirect::SameOrigin;
        const QByteArray location =
            sameOrigin ? QByteArray("/moved.m3u8") : elsewhere.url(QStringLiteral("/moved.m3u8")).toEncoded();
        origin->setResponse(QStringLiteral("/start.m3u8"), FixtureServer::Response::redirect(location));

        MediaAuthSnapshot authentication;
        authentication.generation = 1;
        if (redirect != Redirect::OtherPortWithoutBearer)
            authentication.authorization = "Bearer t";
        const ProxyTestSession session(server, originUrl(QStringLiteral("/start.m3u8")), newLecture(), 1,
                                       authentication);
        QVERIFY(session.isRegistered());

        const LoopbackHttpClient::Answer answer = fetchTopPlaylist(session);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(origin->requestCount(QStringLiteral("/start.m3u8")), 1);
        if (followed) {
            QCOMPARE(answer.status(), 200);
            QVERIFY(answer.body.startsWith("#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"http://127.0.0.1:"));
            QVERIFY(proxyLog->failures.isEmpty());
            FixtureServer &target = sameOrigin ? *origin : elsewhere;
            QCOMPARE(target.requestCount(QStringLiteral("/moved.m3u8")), 1);
            return;
        }
        QCOMPARE(answer.raw, errorAnswer(502, "Upstream unavailable"));
        // The refused target was never asked, not even connected to.
        QCOMPARE(elsewhere.totalRequestCount(), 0);
        QCOMPARE(elsewhere.connectionCount(), 0);
        QCOMPARE(proxyLog->failures.size(), 1);
        const ProxyFailureRecord record = proxyLog->failures.constFirst();
        QCOMPARE(record.origin, ProxyFailureOrigin::UpstreamHttp);
        QCOMPARE(record.reason, ProxyFailureReason::UpstreamPlaylist);
        QCOMPARE(record.httpStatus, 302);
        QVERIFY(record.networkError != 0);
    }

    // Connections read the credentials from the session, so a token made before a sign-in
    // refresh fetches with the new ones.
    void newCredentialsReachEarlierTokens()
    {
        origin->setResponse(QStringLiteral("/signed.m3u8"),
                            FixtureServer::Response(200, MediaPlaylist, "application/vnd.apple.mpegurl"));
        MediaAuthSnapshot before;
        before.authorization = "Bearer before";
        before.acceptLanguage = "en";
        before.generation = 4;
        const ProxyTestSession session(server, originUrl(QStringLiteral("/signed.m3u8")), newLecture(), 1,
                                       before);
        QVERIFY(session.isRegistered());

        MediaAuthSnapshot after;
        after.authorization = "Bearer after";
        after.acceptLanguage = "ar-EG";
        after.generation = 5;
        QMetaObject::invokeMethod(
            server, [this, after] { server->updateAuthenticationSnapshot(after); },
            Qt::BlockingQueuedConnection);

        const LoopbackHttpClient::Answer answer = fetchTopPlaylist(session);
        QCOMPARE(answer.status(), 200);
        const QList<FixtureServer::Request> requests = origin->requests(QStringLiteral("/signed.m3u8"));
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.constFirst().header("Authorization"), QByteArray("Bearer after"));
        QCOMPARE(requests.constFirst().header("Accept-Language"), QByteArray("ar-EG"));
        QCOMPARE(requests.constFirst().header("Accept"),
                 QByteArray("application/vnd.apple.mpegurl, application/x-mpegURL;q=0.9, */*;q=0.5"));
        QCOMPARE(requests.constFirst().header("Accept-Encoding"), QByteArray("identity"));
    }

    void playlistMilestones()
    {
        origin->setResponse(QStringLiteral("/timed.m3u8"),
                            FixtureServer::Response(200, MediaPlaylist, "application/vnd.apple.mpegurl"));
        const ProxyTestSession session(server, originUrl(QStringLiteral("/timed.m3u8")), newLecture());
        QVERIFY(session.isRegistered());

        QCOMPARE(fetchTopPlaylist(session).status(), 200);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QStringList milestones;
        for (const LogRecorder::Record &record :
             recorder->withEvent(QStringLiteral("cold_start_milestone"))) {
            milestones.append(record.field(QStringLiteral("milestone")));
            QVERIFY(record.detailedOnly);
            QVERIFY(record.fields.value(QStringLiteral("elapsed_ms")).toLongLong() >= 0);
        }
        QCOMPARE(milestones,
                 QStringList({QStringLiteral("playlist_first_byte"), QStringLiteral("playlist_parse")}));
        const QList<LogRecorder::Record> parsed = recorder->withEvent(QStringLiteral("playlist_parsed"));
        QCOMPARE(parsed.size(), 1);
        QVERIFY(parsed.constFirst().detailedOnly);
        QCOMPARE(parsed.constFirst().field(QStringLiteral("kind")), QStringLiteral("media"));
        QCOMPARE(parsed.constFirst().fields.value(QStringLiteral("bytes")).toLongLong(),
                 MediaPlaylist.size());
        QCOMPARE(parsed.constFirst().field(QStringLiteral("playlist_fp")),
                 DiagnosticLogger::fingerprint(originUrl(QStringLiteral("/timed.m3u8"))));
    }

    void upstreamPlaylistSize_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<int>("status");
        QTest::newRow("exactly 2 MiB") << qsizetype(2097152) << 200;
        QTest::newRow("one byte more") << qsizetype(2097153) << 413;
    }

    void upstreamPlaylistSize()
    {
        QFETCH(qsizetype, size);
        QFETCH(int, status);
        const QByteArray body = playlistOfSize(size);
        QCOMPARE(body.size(), size);
        origin->setResponse(QStringLiteral("/large.m3u8"),
                            FixtureServer::Response(200, body, "application/vnd.apple.mpegurl"));
        const ProxyTestSession session(server, originUrl(QStringLiteral("/large.m3u8")), newLecture());
        QVERIFY(session.isRegistered());

        const LoopbackHttpClient::Answer answer = fetchTopPlaylist(session);
        QCOMPARE(answer.status(), status);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        if (status == 200) {
            QCOMPARE(answer.header("Content-Length").toLongLong(), answer.body.size());
            QVERIFY(proxyLog->failures.isEmpty());
            return;
        }
        QCOMPARE(answer.raw, errorAnswer(413, "Playlist too large"));
        QCOMPARE(proxyLog->failures.size(), 1);
        QCOMPARE(proxyLog->failures.constFirst().origin, ProxyFailureOrigin::LocalProxy);
        QCOMPARE(proxyLog->failures.constFirst().reason, ProxyFailureReason::LocalRefusal);
        QCOMPARE(proxyLog->failures.constFirst().resourceType, ProxyResourceType::Playlist);
        QCOMPARE(proxyLog->failures.constFirst().httpStatus, 413);
        const QList<LogRecorder::Record> failed = recorder->withEvent(QStringLiteral("upstream_failed"));
        QCOMPARE(failed.size(), 1);
        QCOMPARE(failed.constFirst().fields.value(QStringLiteral("status")).toInt(), 200);
        QCOMPARE(failed.constFirst().field(QStringLiteral("resource_type")), QStringLiteral("playlist"));
    }
};

QTEST_GUILESS_MAIN(tst_HlsProxyUpstream)
#include "tst_HlsProxyUpstream.moc"
