#include "hlsproxy/HlsProxyServer.h"
#include "media/HlsManifest.h"
#include "tests/hlsproxy/ProxySignalLog.h"
#include "tests/hlsproxy/ProxyTestSession.h"
#include "tests/sample-server/SamplePlatformSession.h"
#include "testsupport/LoopbackHttpClient.h"
#include "testsupport/MediaFixtures.h"
#include "testsupport/TransportStream.h"

#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTest>

using quorin::test::LoopbackHttpClient;
using quorin::test::MediaFixtures;
using quorin::test::TransportStream;

namespace {

struct Answer
{
    int status = -1;
    QByteArray contentType;
    QByteArray body;
};

} // namespace

// The sample platform's media origin, as the demo's player reaches it: the generated HLS
// playlists and everything they list, directly and through the loopback proxy.
class tst_SampleMediaRoutes : public QObject
{
    Q_OBJECT

private:
    quorin::test::SamplePlatformSession m_platform;
    QNetworkAccessManager m_network;

    [[nodiscard]] QUrl mediaUrl(const QString &relativePath) const
    {
        return m_platform.apiBase().resolved(QUrl(QStringLiteral("/media/") + relativePath));
    }

    Answer fetch(const QUrl &url)
    {
        QNetworkRequest request(url);
        QNetworkReply *reply = m_network.get(request);
        Answer answer;
        if (!QTest::qWaitFor([reply] { return reply->isFinished(); }, 20000))
            return answer;
        answer.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        answer.contentType = reply->rawHeader("Content-Type");
        answer.body = reply->readAll();
        reply->deleteLater();
        return answer;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY2(m_platform.start(), qPrintable(m_platform.errorString())); }

    void generatedPlaylists_data()
    {
        QTest::addColumn<QString>("playlist");
        const QJsonObject parameters = MediaFixtures::parameters();
        for (const char *entry : {"clear", "aes", "aesSequence", "master", "fmp4"}) {
            const QString playlist =
                parameters.value(QLatin1String(entry)).toObject().value("playlist").toString();
            QTest::newRow(entry) << playlist;
        }
        for (const QJsonValue &rendition : parameters.value(QStringLiteral("master"))
                                               .toObject()
                                               .value(QStringLiteral("renditions"))
                                               .toArray()) {
            const QString playlist = rendition.toObject().value(QStringLiteral("playlist")).toString();
            QTest::newRow(qPrintable(playlist)) << playlist;
        }
    }

    // Each playlist, and every key, segment, initialisation section and variant it names.
    void generatedPlaylists()
    {
        QFETCH(QString, playlist);
        const QUrl url = mediaUrl(playlist);
        const Answer answer = fetch(url);
        QCOMPARE(answer.status, 200);
        QCOMPARE(answer.contentType, QByteArray("application/vnd.apple.mpegurl"));
        QCOMPARE(answer.body, MediaFixtures::readFile(playlist));

        const HlsManifest::Result parsed = HlsManifest::parse(answer.body, url);
        QVERIFY2(parsed.valid, qPrintable(parsed.error));
        QList<QUrl> listed;
        for (const HlsVariant &variant : parsed.variants)
            listed.append(variant.url);
        for (const HlsResource &resource : parsed.resources)
            listed.append(resource.url);
        QVERIFY(!listed.isEmpty());
        const QString mediaRoot = mediaUrl(QString()).toString();
        for (const QUrl &resource : std::as_const(listed)) {
            const QString relative = resource.toString().mid(mediaRoot.size());
            const Answer listedAnswer = fetch(resource);
            QCOMPARE(listedAnswer.status, 200);
            QCOMPARE(listedAnswer.body, MediaFixtures::readFile(relative));
        }
    }

    // The sample course's HLS lecture, through the proxy: the master, each of its renditions and
    // their first segments, which the player decrypts to MPEG-TS.
    void lectureThroughTheProxy()
    {
        HlsProxyServer *server = ProxySignalLog::trustingServer();
        QVERIFY(server && server->port() > 0);
        const ProxyTestSession session(server, mediaUrl(QStringLiteral("master/master.m3u8")).toString());
        QVERIFY(session.isRegistered());

        const LoopbackHttpClient::Answer master = LoopbackHttpClient::get(
            server->port(), session.target(QStringLiteral("/playlist.m3u8"), session.playlistToken()));
        QCOMPARE(master.status(), 200);
        QStringList variants;
        for (const QString &line : QString::fromUtf8(master.body).split(u'\n', Qt::SkipEmptyParts)) {
            if (!line.startsWith(u'#'))
                variants.append(line);
        }
        QCOMPARE(variants.size(), MediaFixtures::entry(QStringLiteral("master"))
                                      .value(QStringLiteral("renditions"))
                                      .toArray()
                                      .size());
        const int segments =
            MediaFixtures::entry(QStringLiteral("clear")).value(QStringLiteral("segments")).toInt();
        const QByteArray key = LoopbackHttpClient::fetchPlaybackKey(
            server->port(), session.target(QStringLiteral("/key.bin"), QString()));
        QCOMPARE(key.size(), 16);
        for (const QString &variant : std::as_const(variants)) {
            const LoopbackHttpClient::Answer media = LoopbackHttpClient::get(
                server->port(), QUrl(variant).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority));
            QCOMPARE(media.status(), 200);
            QCOMPARE(media.body.count("/chunk.ts?token="), segments);
            QCOMPARE(media.body.count("#EXT-X-KEY:"), 1);

            QString firstChunk;
            for (const QString &line : QString::fromUtf8(media.body).split(u'\n', Qt::SkipEmptyParts)) {
                if (line.contains(QLatin1String("/chunk.ts?token="))) {
                    firstChunk = line;
                    break;
                }
            }
            const LoopbackHttpClient::Answer chunk = LoopbackHttpClient::get(
                server->port(), QUrl(firstChunk).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority));
            QCOMPARE(chunk.status(), 200);
            const QByteArray plain =
                LoopbackHttpClient::decryptBody(chunk.body, key, LoopbackHttpClient::keyLineIv(media.body));
            QVERIFY(TransportStream::hasSyncBytes(plain));
            QCOMPARE(TransportStream::validSectionTableId(
                         plain,
                         TransportStream::firstPacketWithPid(plain, TransportStream::ProgramAssociationPid)),
                     TransportStream::ProgramAssociationTableId);
        }
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
    }
};

QTEST_GUILESS_MAIN(tst_SampleMediaRoutes)
#include "tst_SampleMediaRoutes.moc"
