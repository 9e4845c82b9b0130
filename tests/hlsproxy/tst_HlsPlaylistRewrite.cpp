#include "ProxySignalLog.h"
#include "ProxyTestRig.h"
#include "ProxyTestSession.h"
#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/HlsProxySession.h"
#include "hlsproxy/PlaylistRewriter.h"
#include "media/CryptoManager.h"
#include "media/ResourceCache.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/LoopbackHttpClient.h"
#include "testsupport/MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>
#include <QUuid>
#include <memory>

using quorin::PlaylistRewriter;
using quorin::test::FixtureServer;
using quorin::test::LoopbackHttpClient;
using quorin::test::MediaFixtures;

namespace {

const QString PlaylistUrl = QStringLiteral("https://media.example/course/v1/index.m3u8");
const QByteArray PlaybackIv = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
const QByteArray KeyLine = "#EXT-X-KEY:METHOD=AES-128,URI=\"http://127.0.0.1:1234/key.bin?session=S-1&"
                           "generation=7\",IV=0x000102030405060708090a0b0c0d0e0f";

QByteArray errorAnswer(int status, const QByteArray &reason)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nConnection: close\r\n\r\n";
}

QString newLecture()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// Registers nothing: numbers the variants and chunks it is handed and keeps them.
struct RecordingRegistrar
{
    QList<QUrl> variants;
    QList<PlaylistRewriter::Chunk> chunks;

    [[nodiscard]] PlaylistRewriter::Registrar registrar()
    {
        PlaylistRewriter::Registrar registrar;
        registrar.registerPlaylist = [this](const QUrl &url) {
            variants.append(url);
            return QStringLiteral("token-%1").arg(variants.size() - 1);
        };
        registrar.registerChunk = [this](const PlaylistRewriter::Chunk &chunk) {
            chunks.append(chunk);
            return QStringLiteral("chunk-%1").arg(chunks.size() - 1);
        };
        return registrar;
    }

    // "url key iv range start duration sequence" per chunk, the key and range "-" when empty.
    [[nodiscard]] QStringList chunkLines() const
    {
        QStringList lines;
        for (const PlaylistRewriter::Chunk &chunk : chunks) {
            lines.append(QStringLiteral("%1 %2 %3 %4 %5 %6 %7")
                             .arg(chunk.url.toString(),
                                  chunk.keyUrl.isEmpty() ? QStringLiteral("-") : chunk.keyUrl,
                                  hex(chunk.sourceIv),
                                  chunk.byteRange.isEmpty() ? QStringLiteral("-") : chunk.byteRange,
                                  QString::number(chunk.startMs), QString::number(chunk.durationMs),
                                  QString::number(chunk.sequence)));
        }
        return lines;
    }
};

PlaylistRewriter::Result rewrite(const QByteArray &body, RecordingRegistrar &recording)
{
    return PlaylistRewriter::rewrite(body, PlaylistUrl, {1234, QStringLiteral("S-1"), 7, PlaybackIv},
                                     recording.registrar());
}

} // namespace

class tst_HlsPlaylistRewrite : public QObject, protected ProxyTestRig
{
    Q_OBJECT

private:
    [[nodiscard]] QString originUrl(const QString &path) const { return origin->url(path).toString(); }

    [[nodiscard]] LoopbackHttpClient::Answer fetch(const ProxyTestSession &session,
                                                   const QString &token) const
    {
        return LoopbackHttpClient::get(server->port(),
                                       session.target(QStringLiteral("/playlist.m3u8"), token));
    }

    [[nodiscard]] LoopbackHttpClient::Answer fetchTop(const ProxyTestSession &session) const
    {
        return fetch(session, session.playlistToken());
    }

    void serve(const QString &path, const QByteArray &body)
    {
        origin->setResponse(path, FixtureServer::Response(200, body, "application/vnd.apple.mpegurl"));
    }

    // The token record behind a loopback URL the proxy wrote.
    [[nodiscard]] TokenInfo resolved(const QString &loopbackUrl) const
    {
        TokenInfo token;
        const QString text = QUrlQuery(QUrl(loopbackUrl)).queryItemValue(QStringLiteral("token"));
        if (server->resolveToken(text, token) != HlsTokenRegistry::Resolution::Resolved)
            return {};
        return token;
    }

    [[nodiscard]] static QStringList linesOf(const QByteArray &body)
    {
        return QString::fromUtf8(body).split(u'\n', Qt::SkipEmptyParts);
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(startProxy()); }

    void init()
    {
        QVERIFY(openOrigin());
        origin->serveDirectory(QStringLiteral("/media/"), MediaFixtures::path(QString()));
    }

    void cleanup() { QVERIFY(closeOrigin()); }

    // Whole playlists in and out.
    void golden_data()
    {
        QTest::addColumn<QByteArray>("upstream");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("media, CRLF and empty lines")
            << QByteArray("#EXTM3U\r\n#EXT-X-VERSION:3\r\n\r\n#EXT-X-TARGETDURATION:2\r\n"
                          "#EXTINF:2.0,\r\nseg0.ts\r\n  \r\n#EXTINF:2.0,\r\nseg1.ts\r\n#EXT-X-ENDLIST\r\n")
            << "#EXTM3U\n" + KeyLine +
                   "\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\nchunk-0\n"
                   "#EXTINF:2.0,\nchunk-1\n#EXT-X-ENDLIST\n";
        QTest::newRow("media, keys, byte ranges and a map")
            << QByteArray("#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:3\n#EXT-X-KEY:METHOD=AES-128,URI=\"k1.bin\"\n"
                          "#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"500@0\"\n#EXTINF:4,first\n"
                          "#EXT-X-BYTERANGE:1000@500\nall.mp4\n#EXT-X-KEY:METHOD=NONE\n#EXTINF:4,\n"
                          "#EXT-X-BYTERANGE:1000\nall.mp4\n#EXT-X-ENDLIST\n")
            << "#EXTM3U\n" + KeyLine +
                   "\n#EXT-X-MEDIA-SEQUENCE:3\n#EXT-X-MAP:URI=\"chunk-0\"\n#EXTINF:4,first\nchunk-1\n"
                   "#EXTINF:4,\nchunk-2\n#EXT-X-ENDLIST\n";
        QTest::newRow("master")
            << QByteArray(
                   "#EXTM3U\n#EXT-X-VERSION:4\n"
                   "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"en\",URI=\"audio/en.m3u8\"\n\n"
                   "#EXT-X-STREAM-INF:BANDWIDTH=800000,AUDIO=\"a\"\nhigh/index.m3u8\n"
                   "#EXT-X-STREAM-INF:BANDWIDTH=400000,AUDIO=\"a\"\nhttps://cdn.example/low/index.m3u8\n")
            << QByteArray("#EXTM3U\n#EXT-X-VERSION:4\n"
                          "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"en\",URI=\"audio/en.m3u8\"\n"
                          "#EXT-X-STREAM-INF:BANDWIDTH=800000,AUDIO=\"a\"\n"
                          "http://127.0.0.1:1234/playlist.m3u8?token=token-0&session=S-1&generation=7\n"
                          "#EXT-X-STREAM-INF:BANDWIDTH=400000,AUDIO=\"a\"\n"
                          "http://127.0.0.1:1234/playlist.m3u8?token=token-1&session=S-1&generation=7\n");
        // Without "#EXTINF" anywhere, even segment-like lines are variants.
        QTest::newRow("no EXTINF is a master")
            << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:2\nseg0.ts\n")
            << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:2\n"
                          "http://127.0.0.1:1234/playlist.m3u8?token=token-0&session=S-1&generation=7\n");
    }

    void golden()
    {
        QFETCH(QByteArray, upstream);
        RecordingRegistrar recording;
        const PlaylistRewriter::Result result = rewrite(upstream, recording);
        QVERIFY(result.succeeded());
        QTEST(result.body, "expected");
    }

    void masterVariantsInUpstreamOrder()
    {
        RecordingRegistrar recording;
        const PlaylistRewriter::Result result =
            rewrite("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nb/i.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=2\n"
                    "/a/i.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=3\nhttps://other.example/c.m3u8?sig=1\n",
                    recording);
        QCOMPARE(result.kind, PlaylistRewriter::Kind::Master);
        QCOMPARE(recording.variants,
                 QList<QUrl>({QUrl(QStringLiteral("https://media.example/course/v1/b/i.m3u8")),
                              QUrl(QStringLiteral("https://media.example/a/i.m3u8")),
                              QUrl(QStringLiteral("https://other.example/c.m3u8?sig=1"))}));
        QVERIFY(recording.chunks.isEmpty());
    }

    // What each chunk is registered with: "url key sourceIv range start duration sequence".
    void chunks_data()
    {
        QTest::addColumn<QByteArray>("upstream");
        QTest::addColumn<QStringList>("chunks");

        const QString base = QStringLiteral("https://media.example/course/v1/");
        const QString k1 = base + QStringLiteral("k1.bin");
        const QString k2 = QStringLiteral("https://keys.example/k2.bin");
        const QString ivA = QStringLiteral("a0a1a2a3a4a5a6a7a8a9aaabacadaeaf");

        QTest::newRow("key rotation")
            << QByteArray(
                   "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"k1.bin\",IV=0xa0a1a2a3a4a5a6a7a8a9aaabacadaeaf\n"
                   "#EXTINF:2,\ns0.ts\n#EXT-X-KEY:METHOD=NONE\n#EXTINF:2,\ns1.ts\n"
                   "#EXT-X-KEY:METHOD=AES-128,URI=\"https://keys.example/k2.bin\"\n#EXTINF:2,\ns2.ts\n")
            << QStringList({base + "s0.ts " + k1 + ' ' + ivA + " - 0 2000 0",
                            base + "s1.ts - 00000000000000000000000000000001 - 2000 2000 1",
                            base + "s2.ts " + k2 + " 00000000000000000000000000000002 - 4000 2000 2"});
        QTest::newRow("sequence IV from the media sequence")
            << QByteArray("#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:7\n#EXT-X-KEY:METHOD=AES-128,URI=\"k1.bin\"\n"
                          "#EXTINF:2,\ns7.ts\n#EXTINF:2,\ns8.ts\n")
            << QStringList({base + "s7.ts " + k1 + " 00000000000000000000000000000007 - 0 2000 7",
                            base + "s8.ts " + k1 + " 00000000000000000000000000000008 - 2000 2000 8"});
        QTest::newRow("IV with an upper-case prefix")
            << QByteArray(
                   "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"k1.bin\",IV=0XA0A1A2A3A4A5A6A7A8A9AAABACADAEAF\n"
                   "#EXTINF:2,\ns0.ts\n")
            << QStringList({base + "s0.ts " + k1 + ' ' + ivA + " - 0 2000 0"});
        QTest::newRow("byte ranges continue from the last")
            << QByteArray("#EXTM3U\n#EXTINF:2,\n#EXT-X-BYTERANGE:1000@0\nall.ts\n#EXTINF:2,\n"
                          "#EXT-X-BYTERANGE:500\nall.ts\n#EXTINF:2,\nother.ts\n")
            << QStringList({base + "all.ts - 00000000000000000000000000000000 1000@0 0 2000 0",
                            base + "all.ts - 00000000000000000000000000000001 500@1000 2000 2000 1",
                            base + "other.ts - 00000000000000000000000000000002 - 4000 2000 2"});
        QTest::newRow("durations round half away from zero and accumulate")
            << QByteArray("#EXTM3U\n#EXTINF:5.0005,\na.ts\n#EXTINF:4,title\nb.ts\n#EXTINF:0.0004\nc.ts\n"
                          "d.ts\n#EXTINF:1e1,\ne.ts\n")
            << QStringList({base + "a.ts - 00000000000000000000000000000000 - 0 5001 0",
                            base + "b.ts - 00000000000000000000000000000001 - 5001 4000 1",
                            base + "c.ts - 00000000000000000000000000000002 - 9001 0 2",
                            base + "d.ts - 00000000000000000000000000000003 - 9001 0 3",
                            base + "e.ts - 00000000000000000000000000000004 - 9001 10000 4"});
        QTest::newRow("map with a byte range")
            << QByteArray("#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:4\n#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"500\"\n"
                          "#EXTINF:2,\ns.m4s\n")
            << QStringList({base + "init.mp4 - 00000000000000000000000000000004 500@0 -1 0 0",
                            base + "s.m4s - 00000000000000000000000000000004 - 0 2000 4"});
    }

    void chunks()
    {
        QFETCH(QByteArray, upstream);
        RecordingRegistrar recording;
        const PlaylistRewriter::Result result = rewrite(upstream, recording);
        QVERIFY(result.succeeded());
        QCOMPARE(result.kind, PlaylistRewriter::Kind::Media);
        QTEST(recording.chunkLines(), "chunks");
        for (const PlaylistRewriter::Chunk &chunk : std::as_const(recording.chunks))
            QCOMPARE(chunk.renditionId, DiagnosticLogger::fingerprint(PlaylistUrl));
    }

    void durations_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("milliseconds"); // -1: refused

        QTest::newRow("whole seconds") << "4" << qint64(4000);
        QTest::newRow("half a millisecond rounds up") << "5.0005" << qint64(5001);
        QTest::newRow("below half rounds down") << "0.0004" << qint64(0);
        QTest::newRow("digits past the half") << "2.99951" << qint64(3000);
        QTest::newRow("exponent") << "1.5e2" << qint64(150000);
        QTest::newRow("negative zero") << "-0" << qint64(0);
        QTest::newRow("a day") << "86400" << qint64(86400000);
        QTest::newRow("beyond a day") << "86400.001" << qint64(-1);
        QTest::newRow("huge") << "1e300" << qint64(-1);
        QTest::newRow("negative") << "-1" << qint64(-1);
        QTest::newRow("not a number") << "nan" << qint64(-1);
        QTest::newRow("infinite") << "inf" << qint64(-1);
        QTest::newRow("empty") << "" << qint64(-1);
        QTest::newRow("words") << "four" << qint64(-1);
    }

    void durations()
    {
        QFETCH(QString, text);
        QFETCH(qint64, milliseconds);
        const std::optional<qint64> duration = PlaylistRewriter::durationMs(text);
        QCOMPARE(duration.value_or(-1), milliseconds);
    }

    void attributesAndSequenceIvs_data()
    {
        QTest::addColumn<QString>("tagLine");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("value");

        QTest::newRow("quoted") << "#EXT-X-KEY:METHOD=AES-128,URI=\"a,b.bin\""
                                << "URI"
                                << "a,b.bin";
        QTest::newRow("bare, trimmed") << "#EXT-X-KEY:METHOD= AES-128 ,URI=\"k\""
                                       << "METHOD"
                                       << "AES-128";
        QTest::newRow("first occurrence") << "#EXT-X-KEY:IV=0x01,IV=0x02"
                                          << "IV"
                                          << "0x01";
        QTest::newRow("name inside another") << "#EXT-X-KEY:KEYFORMATIV=1,IV=0x03"
                                             << "IV"
                                             << "0x03";
        QTest::newRow("absent") << "#EXT-X-KEY:METHOD=NONE"
                                << "URI" << QString();
        QTest::newRow("no colon") << "METHOD=NONE"
                                  << "METHOD"
                                  << "NONE";
        QTest::newRow("metacharacters in the name") << "#X:A.B=1,AxB=2"
                                                    << "AxB"
                                                    << "2";
    }

    void attributesAndSequenceIvs()
    {
        QFETCH(QString, tagLine);
        QFETCH(QString, name);
        QFETCH(QString, value);
        QCOMPARE(HlsProxySession::attributeValue(tagLine, name), value);
        QCOMPARE(HlsProxySession::attributeValue(tagLine, name).isNull(), value.isNull());
        QCOMPARE(HlsProxySession::sequenceIv(7), QByteArray(15, '\0') + '\x07');
        QCOMPARE(HlsProxySession::sequenceIv(0x0102030405060708),
                 QByteArray(8, '\0') + QByteArray::fromHex("0102030405060708"));
    }

    // Through the proxy: the answer the player reads.
    void mediaPlaylistAnswer()
    {
        const QString playlistUrl = originUrl(QStringLiteral("/media/aes/index.m3u8"));
        const ProxyTestSession session(server, playlistUrl, newLecture(), 5);
        QVERIFY(session.isRegistered());

        const LoopbackHttpClient::Answer answer = fetchTop(session);
        QCOMPARE(answer.statusLine, QByteArray("HTTP/1.1 200 OK"));
        QCOMPARE(answer.headerLines,
                 QList<QByteArray>({"Connection: close", "Access-Control-Allow-Origin: *",
                                    "Content-Type: application/vnd.apple.mpegurl",
                                    "Content-Length: " + QByteArray::number(answer.body.size())}));

        const QStringList lines = QString::fromUtf8(answer.body).split(u'\n');
        QCOMPARE(lines.last(), QString()); // every line ends in "\n"
        QCOMPARE(lines.at(0), QStringLiteral("#EXTM3U"));
        QCOMPARE(
            lines.at(1),
            QStringLiteral("#EXT-X-KEY:METHOD=AES-128,URI=\"http://127.0.0.1:%1/key.bin?session=%2&"
                           "generation=5\",IV=0x%3")
                .arg(QString::number(server->port()), session.sessionId(), hex(session.info().playbackIv)));
        QCOMPARE(answer.body.count("#EXT-X-KEY"), 1);
        QVERIFY(!answer.body.contains("https:"));
        QVERIFY(!answer.body.contains('\r'));
        QVERIFY(!answer.body.contains("\n\n"));

        const QRegularExpression chunkUrl(
            QStringLiteral(
                "^http://127\\.0\\.0\\.1:%1/chunk\\.ts\\?token=[0-9a-f-]{36}&session=%2&generation=5$")
                .arg(server->port())
                .arg(QRegularExpression::escape(session.sessionId())));
        QStringList segmentLines;
        for (const QString &line : lines) {
            if (!line.isEmpty() && !line.startsWith(u'#'))
                segmentLines.append(line);
        }
        QCOMPARE(segmentLines.size(), MediaFixtures::entry(QStringLiteral("aes")).value("segments").toInt());
        for (const QString &line : std::as_const(segmentLines))
            QVERIFY2(chunkUrl.match(line).hasMatch(), qPrintable(line));

        // The tokens behind them carry what each segment needs to be fetched, decrypted and cached.
        const QString base = originUrl(QStringLiteral("/media/aes/"));
        for (qsizetype index = 0; index < segmentLines.size(); ++index) {
            const TokenInfo token = resolved(segmentLines.at(index));
            QCOMPARE(token.url, base + QStringLiteral("segment%1.ts").arg(index, 3, 10, QLatin1Char('0')));
            QCOMPARE(token.sessionId, session.sessionId());
            QCOMPARE(token.lectureId, session.info().lectureId);
            QCOMPARE(token.generation, quint64(5));
            QCOMPARE(token.playbackKey, session.info().playbackKey);
            QCOMPARE(token.playbackIv, session.info().playbackIv);
            QCOMPARE(token.authorization, session.info().authorization);
            QCOMPARE(token.keyUrl, base + QStringLiteral("key.bin"));
            QCOMPARE(token.sourceIv, MediaFixtures::hexBytes(QStringLiteral("aes"), QStringLiteral("ivHex")));
            QCOMPARE(token.cacheIv, CryptoManager::itemIv(session.info().masterIv, token.url));
            QCOMPARE(token.keyCacheIv, CryptoManager::itemIv(session.info().masterIv, token.keyUrl));
            QCOMPARE(token.renditionId, DiagnosticLogger::fingerprint(playlistUrl));
            QCOMPARE(token.startMs, 2000 * index);
            QCOMPARE(token.durationMs, qint64(2000));
            QCOMPARE(token.sequence, quint64(index));
        }
        // Timed segments are remembered for prefetch under their rendition.
        QCOMPARE(server->rememberedResources(session.sessionId(), DiagnosticLogger::fingerprint(playlistUrl))
                     .size(),
                 segmentLines.size());
    }

    void initialisationSectionThroughTheProxy()
    {
        const QString playlistUrl = originUrl(QStringLiteral("/media/fmp4/index.m3u8"));
        const ProxyTestSession session(server, playlistUrl, newLecture());
        QVERIFY(session.isRegistered());

        const LoopbackHttpClient::Answer answer = fetchTop(session);
        QCOMPARE(answer.status(), 200);
        const QStringList maps = linesOf(answer.body).filter(QStringLiteral("#EXT-X-MAP:"));
        QCOMPARE(maps.size(), 1);
        static const QRegularExpression mapLine(QStringLiteral("^#EXT-X-MAP:URI=\"([^\"]+)\"$"));
        const QRegularExpressionMatch match = mapLine.match(maps.constFirst());
        QVERIFY(match.hasMatch());
        const TokenInfo init = resolved(match.captured(1));
        QCOMPARE(init.url, originUrl(QStringLiteral("/media/fmp4/init.mp4")));
        QCOMPARE(init.startMs, -1);
        QCOMPARE(init.durationMs, qint64(0));
        QVERIFY(init.keyUrl.isEmpty());
        QCOMPARE(init.sourceIv, HlsProxySession::sequenceIv(0));
        QCOMPARE(init.renditionId, DiagnosticLogger::fingerprint(playlistUrl));
    }

    void masterPlaylistThroughTheProxy()
    {
        const QString masterUrl = originUrl(QStringLiteral("/media/master/master.m3u8"));
        const ProxyTestSession session(server, masterUrl, newLecture(), 3);
        QVERIFY(session.isRegistered());

        const LoopbackHttpClient::Answer master = fetchTop(session);
        QCOMPARE(master.status(), 200);
        QStringList variantLines;
        for (const QString &line : linesOf(master.body)) {
            if (!line.startsWith(u'#'))
                variantLines.append(line);
        }
        QStringList variantUrls;
        for (const QString &line : std::as_const(variantLines)) {
            const TokenInfo variant = resolved(line);
            variantUrls.append(variant.url);
            QVERIFY(variant.playbackKey.isEmpty() && variant.cacheIv.isEmpty() &&
                    variant.renditionId.isEmpty());
            QCOMPARE(variant.startMs, -1);
            QCOMPARE(variant.generation, quint64(3));
        }
        QCOMPARE(variantUrls, QStringList({originUrl(QStringLiteral("/media/master/240p/index.m3u8")),
                                           originUrl(QStringLiteral("/media/master/360p/index.m3u8")),
                                           originUrl(QStringLiteral("/media/master/480p/index.m3u8"))}));
        QCOMPARE(linesOf(master.body).filter(QStringLiteral("#EXT-X-STREAM-INF")).size(), 3);

        // The player follows a variant through the proxy and gets its media playlist rewritten.
        const QString childTarget =
            QUrl(variantLines.at(1)).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority);
        const LoopbackHttpClient::Answer child = LoopbackHttpClient::get(server->port(), childTarget);
        QCOMPARE(child.status(), 200);
        QVERIFY(child.body.startsWith("#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"http://127.0.0.1:"));
        const TokenInfo segment =
            resolved(linesOf(child.body).filter(QStringLiteral("/chunk.ts?")).constFirst());
        QCOMPARE(segment.url, originUrl(QStringLiteral("/media/master/360p/segment000.ts")));
        QCOMPARE(segment.keyUrl, originUrl(QStringLiteral("/media/master/key.bin")));
        QCOMPARE(segment.renditionId, DiagnosticLogger::fingerprint(variantUrls.at(1)));

        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        const ProxySignalLog::Source reached{session.sessionId(), 3, ProxyResourceType::Playlist};
        QCOMPARE(proxyLog->sources, QList<ProxySignalLog::Source>({reached, reached}));
    }

    void refusals_data()
    {
        QTest::addColumn<QByteArray>("upstream");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("reason");

        const QByteArray segment = "#EXTINF:2,\ns0.ts\n";
        QTest::newRow("SAMPLE-AES") << "#EXTM3U\n#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k.bin\"\n" + segment
                                    << 415 << QByteArray("Unsupported HLS encryption method");
        QTest::newRow("no METHOD") << "#EXTM3U\n#EXT-X-KEY:URI=\"k.bin\"\n" + segment << 415
                                   << QByteArray("Unsupported HLS encryption method");
        QTest::newRow("IV of 8 bytes")
            << "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"k.bin\",IV=0x0001020304050607\n" + segment << 400
            << QByteArray("Invalid HLS source IV");
        QTest::newRow("IV not hexadecimal")
            << "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"k.bin\",IV=0x000102030405060708090a0b0c0d0e0g\n" +
                   segment
            << 400 << QByteArray("Invalid HLS source IV");
        QTest::newRow("EXTINF -1") << QByteArray("#EXTM3U\n#EXTINF:-1,\ns0.ts\n") << 400
                                   << QByteArray("Invalid EXTINF duration");
        QTest::newRow("EXTINF nan") << QByteArray("#EXTM3U\n#EXTINF:nan,\ns0.ts\n") << 400
                                    << QByteArray("Invalid EXTINF duration");
        QTest::newRow("EXTINF inf") << QByteArray("#EXTM3U\n#EXTINF:inf,\ns0.ts\n") << 400
                                    << QByteArray("Invalid EXTINF duration");
        QTest::newRow("http key")
            << "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"http://media.example/k.bin\"\n" + segment << 403
            << QByteArray("Invalid key target");
        QTest::newRow("key without a URI") << "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"\"\n" + segment << 403
                                           << QByteArray("Invalid key target");
        QTest::newRow("http map") << "#EXTM3U\n#EXT-X-MAP:URI=\"http://media.example/init.mp4\"\n" + segment
                                  << 403 << QByteArray("Invalid map target");
        QTest::newRow("private segment address")
            << QByteArray("#EXTM3U\n#EXTINF:2,\nhttps://10.0.0.1/s0.ts\n") << 403
            << QByteArray("Invalid media target");
        QTest::newRow("http variant")
            << QByteArray("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nhttp://media.example/v.m3u8\n") << 403
            << QByteArray("Invalid media target");
    }

    void refusals()
    {
        QFETCH(QByteArray, upstream);
        QFETCH(int, status);
        QFETCH(QByteArray, reason);

        serve(QStringLiteral("/refused.m3u8"), upstream);
        const ProxyTestSession session(server, originUrl(QStringLiteral("/refused.m3u8")), newLecture());
        QVERIFY(session.isRegistered());

        const LoopbackHttpClient::Answer answer = fetchTop(session);
        QCOMPARE(answer.raw, errorAnswer(status, reason));
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(proxyLog->failures.size(), 1);
        const ProxyFailureRecord record = proxyLog->failures.constFirst();
        QCOMPARE(record.origin, ProxyFailureOrigin::LocalProxy);
        QCOMPARE(record.reason, ProxyFailureReason::LocalRefusal);
        QCOMPARE(record.resourceType, ProxyResourceType::Playlist);
        QCOMPARE(record.httpStatus, status);
        QVERIFY(proxyLog->sources.isEmpty());

        // The plain rewriter gives the same answer.
        RecordingRegistrar recording;
        const PlaylistRewriter::Result result = rewrite(upstream, recording);
        QCOMPARE(result.status, status);
        QCOMPARE(result.reason.toUtf8(), reason);
        QVERIFY(result.body.isEmpty());
    }

    void refusalKeepsEarlierRegistrations()
    {
        RecordingRegistrar recording;
        const PlaylistRewriter::Result result =
            rewrite("#EXTM3U\n#EXTINF:2,\ns0.ts\n#EXTINF:2,\ns1.ts\n#EXTINF:nan,\ns2.ts\n", recording);
        QCOMPARE(result.status, 400);
        QCOMPARE(recording.chunks.size(), 2);
    }

    // Every upstream playlist the parser accepts is kept, encrypted; the next request for its URL
    // in the same lecture is answered from the cache.
    void cachedPlaylists_data()
    {
        QTest::addColumn<QByteArray>("upstream");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("cached");

        QTest::newRow("media") << MediaFixtures::readFile(QStringLiteral("aes/index.m3u8")) << 200 << true;
        QTest::newRow("accepted by the parser, refused by the rewrite")
            << QByteArray("#EXTM3U\n#EXTINF:2,\nhttps://10.0.0.1/s0.ts\n") << 403 << true;
        QTest::newRow("refused by the parser")
            << QByteArray("#EXTM3U\n#EXT-X-TARGETDURATION:2\n") << 200 << false;
    }

    void cachedPlaylists()
    {
        QFETCH(QByteArray, upstream);
        QFETCH(int, status);
        QFETCH(bool, cached);

        const QString url = originUrl(QStringLiteral("/media/aes/cached.m3u8"));
        serve(QStringLiteral("/media/aes/cached.m3u8"), upstream);
        const QString lecture = newLecture();
        const ProxyTestSession first(server, url, lecture);
        const ProxyTestSession second(server, url, lecture);
        QVERIFY(first.isRegistered() && second.isRegistered());

        const LoopbackHttpClient::Answer fromUpstream = fetchTop(first);
        QCOMPARE(fromUpstream.status(), status);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        const QString key = ResourceCache::vaultKey(lecture, url);
        QCOMPARE(ResourceCache::instance()->exists(key), cached);

        const LoopbackHttpClient::Answer again = fetchTop(second);
        QCOMPARE(again.status(), status);
        QCOMPARE(origin->requestCount(QStringLiteral("/media/aes/cached.m3u8")), cached ? 1 : 2);
        QCOMPARE(linesOf(again.body).size(), linesOf(fromUpstream.body).size());
        if (!cached)
            return;
        if (status == 200) {
            // The same playlist, with the second session's own values.
            QVERIFY(again.body.contains(second.sessionId().toUtf8()));
            QVERIFY(!again.body.contains(first.sessionId().toUtf8()));
        }

        QFile file(ResourceCache::instance()->getActivePath(key));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray stored = file.readAll();
        QCOMPARE(stored.size(), upstream.size());
        QVERIFY(!stored.contains("#EXTM3U"));
        QCOMPARE(CryptoManager::instance()->processChunk(stored, 0,
                                                         CryptoManager::itemIv(first.info().masterIv, url)),
                 upstream);
        // No staging file is left beside it.
        const QStringList leftovers =
            QDir(ResourceCache::instance()->root())
                .entryList({ResourceCache::hashUrl(key) + QStringLiteral("*.playlist-*")});
        QVERIFY(leftovers.isEmpty());
    }

    // A cached copy that no longer decrypts to a playlist (written under another key, or damaged)
    // never reaches the player: the upstream playlist is served and replaces the copy.
    void unreadableCachedPlaylistIsReplaced_data()
    {
        QTest::addColumn<bool>("decryptsToNoise");
        QTest::newRow("noise after decryption") << true;
        QTest::newRow("decrypts, but is no playlist") << false;
    }

    void unreadableCachedPlaylistIsReplaced()
    {
        QFETCH(bool, decryptsToNoise);
        const QString path = QStringLiteral("/media/aes/index.m3u8");
        const QString url = originUrl(path);
        const QByteArray upstream = MediaFixtures::readFile(QStringLiteral("aes/index.m3u8"));
        const QString lecture = newLecture();
        const ProxyTestSession session(server, url, lecture);
        QVERIFY(session.isRegistered());
        const QString key = ResourceCache::vaultKey(lecture, url);
        // Noise of a playlist's length, or text the parser refuses, stored as the proxy stores.
        QByteArray noise(upstream.size(), Qt::Uninitialized);
        for (qsizetype index = 0; index < noise.size(); ++index)
            noise[index] = char((index * 131 + 7) & 0xff);
        QVERIFY(decryptsToNoise ? ProxyTestSession::placeInCache(key, noise)
                                : session.cacheAsTheProxyWould(url, "#EXTM3U\n#EXT-X-TARGETDURATION:2\n"));

        const LoopbackHttpClient::Answer answer = fetchTop(session);
        QCOMPARE(answer.status(), 200);
        QCOMPARE(origin->requestCount(path), 1);
        QCOMPARE(answer.body.count("http://127.0.0.1:"), 4); // the key line and three segments
        QVERIFY(answer.body.startsWith("#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"http://127.0.0.1:"));
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        QCOMPARE(recorder->withEvent(QStringLiteral("cached_copy_damaged")).size(), 1);

        // The upstream copy took the unreadable one's place.
        QVERIFY(ResourceCache::instance()->exists(key));
        QFile file(ResourceCache::instance()->getActivePath(key));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(CryptoManager::instance()->processChunk(file.readAll(), 0,
                                                         CryptoManager::itemIv(session.info().masterIv, url)),
                 upstream);
        const ProxyTestSession next(server, url, lecture);
        QCOMPARE(fetchTop(next).status(), 200);
        QCOMPARE(origin->requestCount(path), 1);
    }

    // Another lecture sharing the URL does not read this lecture's copy.
    void cachedCopiesBelongToTheirLecture()
    {
        const QString url = originUrl(QStringLiteral("/media/aes/index.m3u8"));
        const ProxyTestSession first(server, url, newLecture());
        const ProxyTestSession other(server, url, newLecture());
        QVERIFY(first.isRegistered() && other.isRegistered());

        QCOMPARE(fetchTop(first).status(), 200);
        QCOMPARE(fetchTop(other).status(), 200);
        QCOMPARE(origin->requestCount(QStringLiteral("/media/aes/index.m3u8")), 2);
    }

    void cachedPlaylistSize_data()
    {
        QTest::addColumn<qsizetype>("size");
        QTest::addColumn<int>("status");
        QTest::newRow("exactly 2 MiB") << qsizetype(2097152) << 200;
        QTest::newRow("one byte more") << qsizetype(2097153) << 413;
    }

    void cachedPlaylistSize()
    {
        QFETCH(qsizetype, size);
        QFETCH(int, status);
        const QString url = originUrl(QStringLiteral("/large.m3u8"));
        const ProxyTestSession session(server, url, newLecture());
        QVERIFY(session.isRegistered());
        QByteArray body = "#EXTM3U\n#EXTINF:2,\ns0.ts\n";
        body += '#' + QByteArray(size - body.size() - 2, 'x') + '\n';
        QCOMPARE(body.size(), size);
        QVERIFY(session.cacheAsTheProxyWould(url, body));

        const LoopbackHttpClient::Answer answer = fetchTop(session);
        QCOMPARE(answer.status(), status);
        if (status != 200)
            QCOMPARE(answer.raw, errorAnswer(413, "Playlist too large"));
        QCOMPARE(origin->totalRequestCount(), 0);
    }

    void cachedSegmentsAreAnnouncedWhileRewriting()
    {
        const QString url = originUrl(QStringLiteral("/media/clear/index.m3u8"));
        const ProxyTestSession session(server, url, newLecture());
        QVERIFY(session.isRegistered());
        const QString second = originUrl(QStringLiteral("/media/clear/segment001.ts"));
        QVERIFY(session.cacheAsTheProxyWould(second, QByteArray(188, 'G')));

        QCOMPARE(fetchTop(session).status(), 200);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        const QString rendition = DiagnosticLogger::fingerprint(url);
        QCOMPARE(proxyLog->deliveries,
                 QList<ProxySignalLog::Delivery>({{session.sessionId(), rendition, 2000, 4000}}));
        // Announced during the rewrite, before the playlist's answer was reported.
        QCOMPARE(proxyLog->events,
                 QStringList({QStringLiteral("segmentDelivered"), QStringLiteral("sourceReached")}));
    }
};

QTEST_GUILESS_MAIN(tst_HlsPlaylistRewrite)
#include "tst_HlsPlaylistRewrite.moc"
