#include "ProxySignalLog.h"
#include "ProxyTestSession.h"
#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/LoopbackHttpClient.h"
#include "testsupport/MediaFixtures.h"

#include <QGuiApplication>
#include <QJsonObject>
#include <QMediaPlayer>
#include <QSignalSpy>
#include <QTest>
#include <QUuid>
#include <QVideoFrame>
#include <QVideoSink>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::LoopbackHttpClient;
using quorin::test::MediaFixtures;

namespace {

// The loopback URLs a rewritten playlist lists (child playlists or chunks).
QList<QUrl> listedUrls(const QByteArray &playlist)
{
    QList<QUrl> urls;
    for (const QByteArray &line : playlist.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (trimmed.startsWith("http://127.0.0.1:"))
            urls.append(QUrl(QString::fromLatin1(trimmed)));
    }
    return urls;
}

QString targetOf(const QUrl &url)
{
    return url.toString(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::FullyEncoded);
}

} // namespace

// A real player plays fixture media that only the proxy may fetch from the HTTPS origin.
class tst_HlsProxyPlayback : public QObject
{
    Q_OBJECT

private:
    HlsProxyServer *server = nullptr;
    std::unique_ptr<FixtureServer> origin;
    std::unique_ptr<ProxySignalLog> proxyLog;

private Q_SLOTS:
    void initTestCase()
    {
        DiagnosticLogger::initialize();
        server = ProxySignalLog::trustingServer();
        QVERIFY(server && server->port() > 0);
        QVERIFY(ProxyTestSession::prepareVault());
    }

    void init()
    {
        origin = std::make_unique<FixtureServer>();
        QVERIFY(origin->listen());
        origin->serveDirectory(QStringLiteral("/media/"), MediaFixtures::path(QStringLiteral(".")));
        proxyLog = std::make_unique<ProxySignalLog>(server);
    }

    void cleanup()
    {
        QVERIFY(ProxySignalLog::waitUntilIdle(server, 30000));
        proxyLog.reset();
        origin.reset();
    }

    void playsThroughTheProxy_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("variantPath");

        QTest::newRow("AES-128 media playlist without IV") << QStringLiteral("aesSequence") << QString();
        QTest::newRow("master of AES-128 renditions")
            << QStringLiteral("master") << QStringLiteral("/index.m3u8");
    }

    void playsThroughTheProxy()
    {
        QFETCH(QString, entry);
        QFETCH(QString, variantPath);
        const QJsonObject fixture = MediaFixtures::entry(QStringLiteral("playback")).value(entry).toObject();
        const QString playlistPath = fixture.value(QStringLiteral("playlist")).toString();
        const QString keyPath = fixture.value(QStringLiteral("keyFile")).toString();
        QVERIFY(!playlistPath.isEmpty() && !keyPath.isEmpty());

        ProxyTestSession session(server, origin->url(QStringLiteral("/media/") + playlistPath).toString(),
                                 QUuid::createUuid().toString(QUuid::WithoutBraces));
        QVERIFY(session.isRegistered());

        QMediaPlayer player;
        QVideoSink sink;
        player.setVideoSink(&sink);
        int validFrames = 0;
        connect(&sink, &QVideoSink::videoFrameChanged, this, [&](const QVideoFrame &frame) {
            if (frame.isValid())
                ++validFrames;
        });
        QSignalSpy errors(&player, &QMediaPlayer::errorOccurred);
        player.setSource(session.loopbackUrl());
        player.play();

        QTRY_VERIFY_WITH_TIMEOUT((player.position() > 3000 && validFrames > 50) || !errors.isEmpty() ||
                                     !proxyLog->failures.isEmpty(),
                                 90000);
        QCOMPARE(errors.size(), 0);
        QCOMPARE(proxyLog->failures.size(), 0);
        QVERIFY(player.position() > 3000);
        QVERIFY(validFrames > 50);
        player.stop();
        player.setSource(QUrl());

        // The playlists at the player's URLs name nothing upstream.
        const LoopbackHttpClient::Answer top =
            LoopbackHttpClient::get(server->port(), targetOf(session.loopbackUrl()));
        QCOMPARE(top.status(), 200);
        QList<QByteArray> playlists{top.body};
        if (!variantPath.isEmpty()) {
            const QList<QUrl> variants = listedUrls(top.body);
            QVERIFY(variants.size() >= 2);
            for (const QUrl &variant : variants) {
                const LoopbackHttpClient::Answer child =
                    LoopbackHttpClient::get(server->port(), targetOf(variant));
                QCOMPARE(child.status(), 200);
                playlists.append(child.body);
            }
        }
        for (const QByteArray &playlist : std::as_const(playlists)) {
            QVERIFY(!playlist.contains("https:"));
            QVERIFY(!playlist.contains("localhost"));
        }

        // The key the player read is the session's, not the source's, which was fetched once.
        const QByteArray playerKey = LoopbackHttpClient::fetchPlaybackKey(
            server->port(), session.target(QStringLiteral("/key.bin"), QString()));
        QCOMPARE(playerKey.size(), 16);
        QVERIFY(playerKey != MediaFixtures::readFile(keyPath));
        QCOMPARE(origin->requestCount(QStringLiteral("/media/") + keyPath), 1);

        // Only the proxy reached the origin: every request carries the session's credentials.
        const QList<FixtureServer::Request> requests = origin->requests();
        QVERIFY(!requests.isEmpty());
        int segments = 0;
        int variantPlaylists = 0;
        for (const FixtureServer::Request &request : requests) {
            QCOMPARE(request.header("Authorization"), session.info().authorization);
            segments += request.path.endsWith(".ts") ? 1 : 0;
            variantPlaylists +=
                !variantPath.isEmpty() && request.path.endsWith(variantPath.toLatin1()) ? 1 : 0;
        }
        QVERIFY(segments >= 2);
        if (!variantPath.isEmpty())
            QVERIFY(variantPlaylists >= 1);
    }
};

int main(int argc, char **argv)
{
    // GStreamer's own debug output would print the loopback URLs, which carry session ids.
    qunsetenv("GST_DEBUG");
    qputenv("QT_MEDIA_BACKEND", "gstreamer");
    QGuiApplication application(argc, argv);
    tst_HlsProxyPlayback test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_HlsProxyPlayback.moc"
