#include "media/HlsManifest.h"
#include "testsupport/Aes128Cbc.h"
#include "testsupport/MediaFixtures.h"
#include "testsupport/TransportStream.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTest>
#include <array>
#include <thread>
#include <vector>

using quorin::test::Aes128Cbc;
using quorin::test::MediaFixtures;
using quorin::test::TransportStream;

namespace {

const QUrl Base(QStringLiteral("https://cdn.example/v/720/index.m3u8"));
const QString Aes128 = QStringLiteral("AES-128");
const QString KeyUrl = QStringLiteral("https://cdn.example/v/k/key.bin");
const QString ExplicitIv = QStringLiteral("00112233445566778899aabbccddeeff");

QByteArray playlist(const QStringList &lines)
{
    return (QStringList{QStringLiteral("#EXTM3U")} + lines).join(u'\n').toUtf8();
}

QString segmentUrl(const QString &name)
{
    return QStringLiteral("https://cdn.example/v/720/") + name;
}

// The IV an AES-128 segment without an explicit IV uses: its sequence number, big-endian.
QString sequenceIv(quint64 sequence)
{
    return QStringLiteral("%1").arg(sequence, 32, 16, QLatin1Char('0'));
}

QString typeName(HlsResource::Type type)
{
    switch (type) {
    case HlsResource::Type::Segment:
        return QStringLiteral("Segment");
    case HlsResource::Type::Key:
        return QStringLiteral("Key");
    case HlsResource::Type::InitSegment:
        return QStringLiteral("Init");
    }
    return QStringLiteral("?");
}

// Every field of an entry on one line, so tables compare whole entries and a failure shows them.
QString describe(const HlsResource &resource)
{
    return QStringLiteral("%1 %2 #%3 %4+%5 [%6] %7 %8 iv=%9")
        .arg(typeName(resource.type), resource.url.toString())
        .arg(resource.sequence)
        .arg(resource.startMs)
        .arg(resource.durationMs)
        .arg(resource.byteRange, resource.keyMethod, resource.keyUrl.toString(),
             QString::fromLatin1(resource.iv.toHex()));
}

QStringList describe(const QList<HlsResource> &resources)
{
    QStringList lines;
    for (const HlsResource &resource : resources)
        lines.append(describe(resource));
    return lines;
}

QString segment(const QString &name, quint64 sequence, qint64 startMs, qint64 durationMs,
                const QString &range = {})
{
    return QStringLiteral("Segment %1 #%2 %3+%4 [%5]   iv=%6")
        .arg(segmentUrl(name))
        .arg(sequence)
        .arg(startMs)
        .arg(durationMs)
        .arg(range, sequenceIv(sequence));
}

QString encryptedSegment(const QString &name, quint64 sequence, qint64 startMs, qint64 durationMs,
                         const QString &iv)
{
    return QStringLiteral("Segment %1 #%2 %3+%4 [] %5 %6 iv=%7")
        .arg(segmentUrl(name))
        .arg(sequence)
        .arg(startMs)
        .arg(durationMs)
        .arg(Aes128, KeyUrl, iv);
}

QString keyEntry(const QString &url)
{
    return QStringLiteral("Key %1 #0 -1+0 []   iv=").arg(url);
}

QUrl fixtureUrl(const QString &relativePath)
{
    return QUrl::fromLocalFile(MediaFixtures::path(relativePath));
}

HlsManifest::Result parseFixture(const QString &relativePath)
{
    return HlsManifest::parse(MediaFixtures::readFile(relativePath), fixtureUrl(relativePath));
}

QList<HlsResource> ofType(const QList<HlsResource> &resources, HlsResource::Type type)
{
    QList<HlsResource> matching;
    std::copy_if(resources.cbegin(), resources.cend(), std::back_inserter(matching),
                 [type](const HlsResource &resource) { return resource.type == type; });
    return matching;
}

QByteArray readUrl(const QUrl &url)
{
    QFile file(url.toLocalFile());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_HlsManifest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sizeLimit_data()
    {
        QTest::addColumn<int>("extraBytes");
        QTest::addColumn<bool>("parsed");
        QTest::newRow("exactly 2 MiB") << 0 << true;
        QTest::newRow("one byte more") << 1 << false;
    }

    void sizeLimit()
    {
        QFETCH(int, extraBytes);
        QFETCH(bool, parsed);
        QByteArray data = playlist({QStringLiteral("#EXT-X-STREAM-INF:BANDWIDTH=1000"),
                                    QStringLiteral("a.m3u8"), QStringLiteral("#")});
        data.append(QByteArray(HlsManifest::MaximumPlaylistBytes - data.size() + extraBytes, 'x'));

        const HlsManifest::Result result = HlsManifest::parse(data, Base);

        QCOMPARE(result.valid, parsed);
        QCOMPARE(result.master, parsed);
        QCOMPARE(result.variants.size(), parsed ? 1 : 0);
        QCOMPARE(result.resources.size(), 0);
        QCOMPARE(result.error, parsed ? QString() : QStringLiteral("Playlist exceeds the 2 MiB limit"));
    }

    void failures_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<bool>("master");
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("entriesKept");

        const QString before = QStringLiteral("#EXTINF:1,\nbefore.ts");
        const QString key = QStringLiteral("#EXT-X-KEY:METHOD=AES-128,URI=\"k.bin\"");
        QTest::newRow("lower-case header")
            << QByteArray("#extm3u\n#EXTINF:1,\na.ts") << false << "Missing EXTM3U header" << 0;
        QTest::newRow("empty") << QByteArray() << false << "Missing EXTM3U header" << 0;
        QTest::newRow("stream-inf in a comment")
            << playlist({QStringLiteral("# see #EXT-X-STREAM-INF"), before}) << true
            << "Master playlist has no variants" << 0;
        QTest::newRow("key and map alone") << playlist({key, QStringLiteral("#EXT-X-MAP:URI=\"init.mp4\"")})
                                           << false << "Media playlist has no segments" << 2;
        QTest::newRow("IV of four hex digits")
            << playlist({before, key + QStringLiteral(",IV=0x0102")}) << false << "Invalid AES-128 IV" << 1;
        QTest::newRow("SAMPLE-AES") << playlist(
                                           {before, QStringLiteral("#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k\"")})
                                    << false << "Unsupported encryption method: SAMPLE-AES" << 1;
        QTest::newRow("aes-128 in lower case")
            << playlist({before, QStringLiteral("#EXT-X-KEY:METHOD=aes-128,URI=\"k\"")}) << false
            << "Unsupported encryption method: aes-128" << 1;
        QTest::newRow("no METHOD") << playlist({before, QStringLiteral("#EXT-X-KEY:URI=\"k\"")}) << false
                                   << "Unsupported encryption method: " << 1;
        QTest::newRow("AES-128 without URI")
            << playlist({before, QStringLiteral("#EXT-X-KEY:METHOD=AES-128,IV=0x") + ExplicitIv}) << false
            << "Missing AES-128 key URI" << 1;
        QTest::newRow("AES-128 with an empty URI")
            << playlist({before, QStringLiteral("#EXT-X-KEY:METHOD=AES-128,URI=\"\"")}) << false
            << "Missing AES-128 key URI" << 1;
        const QStringList badDurations = {
            QStringLiteral("-1"),    QStringLiteral("nan"),     QStringLiteral("inf"), QStringLiteral("-inf"),
            QStringLiteral("1e300"), QStringLiteral("86400.5"), QStringLiteral("six"), QString()};
        for (const QString &duration : badDurations) {
            QTest::addRow("EXTINF %s", qPrintable(duration))
                << playlist({before, key, QStringLiteral("#EXTINF:%1,Title").arg(duration),
                             QStringLiteral("a.ts")})
                << false << "Invalid EXTINF duration" << 2;
        }
    }

    void failures()
    {
        QFETCH(QByteArray, data);
        QFETCH(bool, master);
        QFETCH(QString, error);
        QFETCH(int, entriesKept);

        const HlsManifest::Result result = HlsManifest::parse(data, Base);

        QVERIFY(!result.valid);
        QCOMPARE(result.master, master);
        QCOMPARE(result.error, error);
        QCOMPARE(result.resources.size() + result.variants.size(), entriesKept);
    }

    void headerMayFollowBlankLines()
    {
        const QByteArray data = "\n  \r\n \t#EXTM3U\n#EXTINF:1,\na.ts\n";

        const HlsManifest::Result result = HlsManifest::parse(data, Base);

        QVERIFY(result.valid);
        QCOMPARE(describe(result.resources), QStringList{segment(QStringLiteral("a.ts"), 0, 0, 1000)});
    }

    void variants_data()
    {
        QTest::addColumn<QStringList>("streamInfLines");
        QTest::addColumn<QString>("label");
        QTest::addColumn<qint64>("bandwidth");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("height");

        const auto row = [](const char *name, const QStringList &attributeLists) -> QTestData & {
            QStringList tags;
            for (const QString &attributes : attributeLists)
                tags.append(QStringLiteral("#EXT-X-STREAM-INF:") + attributes);
            return QTest::newRow(name) << tags;
        };
        row("resolution", {QStringLiteral("RESOLUTION=1280x720")}) << "720p" << qint64(0) << 1280 << 720;
        row("upper-case X", {QStringLiteral("BANDWIDTH=1500000,RESOLUTION=1920X1080")})
            << "1500 kbps" << qint64(1500000) << 0 << 0;
        row("resolution of non-numbers", {QStringLiteral("RESOLUTION=axb")}) << "0p" << qint64(0) << 0 << 0;
        row("no attributes", {QString()}) << "Variant" << qint64(0) << 0 << 0;
        row("bandwidth below one kbps", {QStringLiteral("BANDWIDTH=999")})
            << "0 kbps" << qint64(999) << 0 << 0;
        row("only AVERAGE-BANDWIDTH", {QStringLiteral("AVERAGE-BANDWIDTH=5000000")})
            << "Variant" << qint64(0) << 0 << 0;
        row("quoted CODECS before RESOLUTION",
            {QStringLiteral("BANDWIDTH=800000,CODECS=\"avc1.64001f,mp4a.40.2\",RESOLUTION=640x360")})
            << "360p" << qint64(800000) << 640 << 360;
        row("second STREAM-INF overwrites the bandwidth",
            {QStringLiteral("BANDWIDTH=100000,RESOLUTION=1280x720"), QStringLiteral("BANDWIDTH=200000")})
            << "720p" << qint64(200000) << 1280 << 720;
        row("bandwidth that is not a number", {QStringLiteral("BANDWIDTH=fast")})
            << "Variant" << qint64(0) << 0 << 0;
    }

    void variants()
    {
        QFETCH(QStringList, streamInfLines);
        QFETCH(QString, label);
        QFETCH(qint64, bandwidth);
        QFETCH(int, width);
        QFETCH(int, height);

        const HlsManifest::Result result = HlsManifest::parse(
            playlist(streamInfLines + QStringList{QStringLiteral("../360/index.m3u8")}), Base);

        QVERIFY2(result.valid, qPrintable(result.error));
        QVERIFY(result.master);
        QCOMPARE(result.variants.size(), 1);
        const HlsVariant &variant = result.variants.constFirst();
        QCOMPARE(variant.url, QUrl(QStringLiteral("https://cdn.example/v/360/index.m3u8")));
        QCOMPARE(variant.label, label);
        QCOMPARE(variant.bandwidth, bandwidth);
        QCOMPARE(variant.width, width);
        QCOMPARE(variant.height, height);
    }

    void eachVariantStartsAfresh()
    {
        const QByteArray data = playlist(
            {QStringLiteral("#EXT-X-STREAM-INF:BANDWIDTH=1500000,RESOLUTION=1280x720"),
             QStringLiteral("720.m3u8"), QStringLiteral("stray.m3u8"),
             QStringLiteral("#EXT-X-STREAM-INF:CODECS=\"mp4a.40.2\""), QStringLiteral("audio.m3u8")});

        const HlsManifest::Result result = HlsManifest::parse(data, Base);

        QVERIFY(result.valid);
        QCOMPARE(result.variants.size(), 2);
        QCOMPARE(result.variants.at(1).url, QUrl(segmentUrl(QStringLiteral("audio.m3u8"))));
        QCOMPARE(result.variants.at(1).label, QStringLiteral("Variant"));
        QCOMPARE(result.variants.at(1).bandwidth, qint64(0));
        QCOMPARE(result.variants.at(1).height, 0);
        QVERIFY(result.resources.isEmpty());
    }

    void mediaEntries_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("entries");

        const QString init = segmentUrl(QStringLiteral("init.mp4"));
        QTest::newRow("media sequence derives the IVs")
            << QByteArray("#EXT-X-MEDIA-SEQUENCE:100\n"
                          "#EXTINF:1,\na.ts\n"
                          "#EXTINF:1,\nb.ts\n"
                          "#EXTINF:1,\nc.ts\n")
            << QStringList{segment(QStringLiteral("a.ts"), 100, 0, 1000),
                           segment(QStringLiteral("b.ts"), 101, 1000, 1000),
                           segment(QStringLiteral("c.ts"), 102, 2000, 1000)};
        QTest::newRow("explicit IV with upper-case 0X")
            << QByteArray(
                   "#EXT-X-MEDIA-SEQUENCE:3\n"
                   "#EXT-X-KEY:METHOD=AES-128,URI=\"../k/key.bin\",IV=0X00112233445566778899AABBCCDDEEFF\n"
                   "#EXTINF:2,\na.ts\n"
                   "#EXTINF:2,\nb.ts\n")
            << QStringList{keyEntry(KeyUrl), encryptedSegment(QStringLiteral("a.ts"), 3, 0, 2000, ExplicitIv),
                           encryptedSegment(QStringLiteral("b.ts"), 4, 2000, 2000, ExplicitIv)};
        QTest::newRow("IV that decodes to nothing counts as absent")
            << QByteArray("#EXT-X-KEY:METHOD=AES-128,URI=\"../k/key.bin\",IV=0xZZ\n"
                          "#EXTINF:2,\na.ts\n")
            << QStringList{keyEntry(KeyUrl),
                           encryptedSegment(QStringLiteral("a.ts"), 0, 0, 2000, sequenceIv(0))};
        QTest::newRow("a later key line without IV drops the explicit one")
            << QByteArray(
                   "#EXT-X-KEY:METHOD=AES-128,URI=\"../k/key.bin\",IV=0x00112233445566778899aabbccddeeff\n"
                   "#EXTINF:2,\na.ts\n"
                   "#EXT-X-KEY:METHOD=AES-128,URI=\"../k/key.bin\"\n"
                   "#EXTINF:2,\nb.ts\n")
            << QStringList{keyEntry(KeyUrl), encryptedSegment(QStringLiteral("a.ts"), 0, 0, 2000, ExplicitIv),
                           keyEntry(KeyUrl),
                           encryptedSegment(QStringLiteral("b.ts"), 1, 2000, 2000, sequenceIv(1))};
        QTest::newRow("METHOD=NONE clears the key")
            << QByteArray(
                   "#EXT-X-KEY:METHOD=AES-128,URI=\"../k/key.bin\",IV=0x00112233445566778899aabbccddeeff\n"
                   "#EXT-X-KEY:METHOD=NONE\n"
                   "#EXTINF:2,\na.ts\n")
            << QStringList{keyEntry(KeyUrl), segment(QStringLiteral("a.ts"), 0, 0, 2000)};
        QTest::newRow("duration with a title, and a URI without EXTINF")
            << QByteArray("#EXTINF:6.006,Intro\na.ts\n"
                          "b.ts\n"
                          "#EXTINF: 4 ,\nc.ts\n")
            << QStringList{segment(QStringLiteral("a.ts"), 0, 0, 6006),
                           segment(QStringLiteral("b.ts"), 1, 6006, 0),
                           segment(QStringLiteral("c.ts"), 2, 6006, 4000)};
        QTest::newRow("durations written other ways")
            << QByteArray("#EXTINF:+2.5e0,\na.ts\n"
                          "#EXTINF:0.0005,\nb.ts\n"
                          "#EXTINF:000.0014999,\nc.ts\n")
            << QStringList{segment(QStringLiteral("a.ts"), 0, 0, 2500),
                           segment(QStringLiteral("b.ts"), 1, 2500, 1),
                           segment(QStringLiteral("c.ts"), 2, 2501, 1)};
        QTest::newRow("a day is the longest segment")
            << QByteArray("#EXTINF:86400,\na.ts\n")
            << QStringList{segment(QStringLiteral("a.ts"), 0, 0, 86400000)};
        QTest::newRow("media sequence resets where it stands")
            << QByteArray("#EXTINF:1,\na.ts\n"
                          "#EXT-X-MEDIA-SEQUENCE:50\n"
                          "#EXTINF:1,\nb.ts\n"
                          "#EXT-X-MEDIA-SEQUENCE:many\n"
                          "c.ts\n")
            << QStringList{segment(QStringLiteral("a.ts"), 0, 0, 1000),
                           segment(QStringLiteral("b.ts"), 50, 1000, 1000),
                           segment(QStringLiteral("c.ts"), 0, 2000, 0)};
        QTest::newRow("byte range applies to the next segment only")
            << QByteArray("#EXT-X-BYTERANGE:1000@0\n"
                          "#EXTINF:1,\na.ts\n"
                          "#EXTINF:1,\nb.ts\n")
            << QStringList{segment(QStringLiteral("a.ts"), 0, 0, 1000, QStringLiteral("1000@0")),
                           segment(QStringLiteral("b.ts"), 1, 1000, 1000)};
        QTest::newRow("map takes its own range and leaves the pending one")
            << QByteArray("#EXT-X-MEDIA-SEQUENCE:5\n"
                          "#EXT-X-BYTERANGE:1000@720\n"
                          "#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"720@0\"\n"
                          "#EXTINF:2,\nmedia.mp4\n")
            << QStringList{QStringLiteral("Init %1 #5 -1+0 [720@0]   iv=%2").arg(init, sequenceIv(5)),
                           segment(QStringLiteral("media.mp4"), 5, 0, 2000, QStringLiteral("1000@720"))};
        QTest::newRow("map under a key carries the key")
            << QByteArray("#EXT-X-KEY:METHOD=AES-128,URI=\"../k/key.bin\"\n"
                          "#EXT-X-MAP:URI=\"init.mp4\"\n"
                          "#EXTINF:2,\na.m4s\n")
            << QStringList{
                   keyEntry(KeyUrl),
                   QStringLiteral("Init %1 #0 -1+0 [] %2 %3 iv=%4").arg(init, Aes128, KeyUrl, sequenceIv(0)),
                   encryptedSegment(QStringLiteral("a.m4s"), 0, 0, 2000, sequenceIv(0))};
        QTest::newRow("relative, rooted and absolute URIs")
            << QByteArray("seg.ts\n"
                          "/abs/x.ts\n"
                          "https://other.example/y.ts?t=1\n"
                          "#EXT-X-KEY:METHOD=AES-128,URI=\"https://keys.example/k\"\n")
            << QStringList{
                   segment(QStringLiteral("seg.ts"), 0, 0, 0),
                   QStringLiteral("Segment https://cdn.example/abs/x.ts #1 0+0 []   iv=") + sequenceIv(1),
                   QStringLiteral("Segment https://other.example/y.ts?t=1 #2 0+0 []   iv=") + sequenceIv(2),
                   keyEntry(QStringLiteral("https://keys.example/k"))};
        QTest::newRow("other tags and comments are skipped")
            << QByteArray("#EXT-X-TARGETDURATION:6\n"
                          "# comment\n"
                          "#EXT-X-I-FRAME-STREAM-INF:URI=\"i.m3u8\"\n"
                          "#EXTINF:1,\na.ts\n"
                          "#EXT-X-ENDLIST\n")
            << QStringList{segment(QStringLiteral("a.ts"), 0, 0, 1000)};
    }

    void mediaEntries()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, entries);

        const HlsManifest::Result result = HlsManifest::parse("#EXTM3U\n" + body, Base);

        QVERIFY2(result.valid, qPrintable(result.error));
        QVERIFY(!result.master);
        QVERIFY(result.error.isEmpty());
        QCOMPARE(describe(result.resources), entries);
    }

    void carriageReturnsParseLikeLineFeeds_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("media") << playlist(
            {QStringLiteral("#EXT-X-MEDIA-SEQUENCE:9"),
             QStringLiteral("#EXT-X-KEY:METHOD=AES-128,URI=\"k.bin\",IV=0x") + ExplicitIv,
             QStringLiteral("#EXT-X-MAP:URI=\"init.mp4\",BYTERANGE=\"720@0\""),
             QStringLiteral("#EXT-X-BYTERANGE:100@720"), QStringLiteral("#EXTINF:2.5,"),
             QStringLiteral("a.m4s"), QStringLiteral("")});
        QTest::newRow("master") << playlist({QStringLiteral("#EXT-X-STREAM-INF:BANDWIDTH=1,RESOLUTION=2x3"),
                                             QStringLiteral("a.m3u8"), QStringLiteral("")});
    }

    void carriageReturnsParseLikeLineFeeds()
    {
        QFETCH(QByteArray, data);
        QByteArray withCarriageReturns = data;
        withCarriageReturns.replace("\n", "\r\n");

        const HlsManifest::Result plain = HlsManifest::parse(data, Base);
        const HlsManifest::Result crlf = HlsManifest::parse(withCarriageReturns, Base);

        QVERIFY(plain.valid);
        QCOMPARE(crlf.valid, plain.valid);
        QCOMPARE(crlf.master, plain.master);
        QCOMPARE(describe(crlf.resources), describe(plain.resources));
        QCOMPARE(crlf.variants.size(), plain.variants.size());
        for (qsizetype i = 0; i < plain.variants.size(); ++i) {
            QCOMPARE(crlf.variants.at(i).url, plain.variants.at(i).url);
            QCOMPARE(crlf.variants.at(i).label, plain.variants.at(i).label);
        }
    }

    void parsesOnSeveralThreadsAtOnce()
    {
        QByteArray data = "#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:40\n";
        for (int index = 0; index < 50; ++index) {
            data +=
                QStringLiteral("#EXT-X-KEY:METHOD=AES-128,URI=\"k%1.bin\",IV=0x%2\n#EXTINF:2.5,\ns%1.ts\n")
                    .arg(index % 3)
                    .arg(index, 32, 16, QLatin1Char('0'))
                    .toLatin1();
        }
        const QStringList expected = describe(HlsManifest::parse(data, Base).resources);

        std::array<QStringList, 4> seen;
        std::vector<std::thread> threads;
        for (QStringList &last : seen) {
            threads.emplace_back([&data, &last] {
                for (int round = 0; round < 50; ++round)
                    last = describe(HlsManifest::parse(data, Base).resources);
            });
        }
        for (std::thread &thread : threads)
            thread.join();

        QCOMPARE(expected.size(), 100);
        for (const QStringList &last : seen)
            QCOMPARE(last, expected);
    }

    void generatedMasterPlaylist()
    {
        const QJsonObject master = MediaFixtures::entry(QStringLiteral("master"));
        const QJsonArray renditions = master.value(QStringLiteral("renditions")).toArray();

        const HlsManifest::Result result = parseFixture(master.value(QStringLiteral("playlist")).toString());

        QVERIFY2(result.valid, qPrintable(result.error));
        QVERIFY(result.master);
        QCOMPARE(result.variants.size(), renditions.size());
        for (qsizetype i = 0; i < renditions.size(); ++i) {
            const QJsonObject rendition = renditions.at(i).toObject();
            const HlsVariant &variant = result.variants.at(i);
            QCOMPARE(variant.label,
                     QStringLiteral("%1p").arg(rendition.value(QStringLiteral("height")).toInt()));
            QCOMPARE(variant.height, rendition.value(QStringLiteral("height")).toInt());
            QVERIFY(variant.bandwidth > 0);
            QCOMPARE(variant.url, fixtureUrl(rendition.value(QStringLiteral("playlist")).toString()));
            QVERIFY(QFileInfo::exists(variant.url.toLocalFile()));
        }
    }

    void generatedAesRenditionDecrypts()
    {
        const QJsonObject aes = MediaFixtures::entry(QStringLiteral("aes"));
        const HlsManifest::Result result = parseFixture(aes.value(QStringLiteral("playlist")).toString());
        QVERIFY2(result.valid, qPrintable(result.error));

        QVERIFY(!result.resources.isEmpty());
        const HlsResource &key = result.resources.constFirst();
        QCOMPARE(key.type, HlsResource::Type::Key);
        QCOMPARE(key.url, fixtureUrl(aes.value(QStringLiteral("keyFile")).toString()));
        const QByteArray keyBytes = readUrl(key.url);
        const QList<HlsResource> segments = ofType(result.resources, HlsResource::Type::Segment);
        QCOMPARE(segments.size(), aes.value(QStringLiteral("segments")).toInt());
        for (const HlsResource &segment : segments) {
            QCOMPARE(segment.keyUrl, key.url);
            const QByteArray plain = Aes128Cbc::decrypt(readUrl(segment.url), keyBytes, segment.iv);
            const QByteArray name = segment.url.fileName().toUtf8();
            QVERIFY2(TransportStream::hasSyncBytes(plain), name);
            // ffmpeg puts its service description before the program association: the section of
            // the first packet covers the bytes a wrong IV spoils, and the association proves TS.
            QVERIFY2(TransportStream::validSectionTableId(plain, 0) >= 0, name);
            const qsizetype association =
                TransportStream::firstPacketWithPid(plain, TransportStream::ProgramAssociationPid);
            QVERIFY2(TransportStream::validSectionTableId(plain, association) ==
                         TransportStream::ProgramAssociationTableId,
                     name);
        }
    }

    void generatedSequenceRenditionDecryptsToClear()
    {
        const QJsonObject entry = MediaFixtures::entry(QStringLiteral("aesSequence"));
        const HlsManifest::Result encrypted =
            parseFixture(entry.value(QStringLiteral("playlist")).toString());
        const HlsManifest::Result clear =
            parseFixture(entry.value(QStringLiteral("clearPlaylist")).toString());
        QVERIFY2(encrypted.valid, qPrintable(encrypted.error));
        QVERIFY2(clear.valid, qPrintable(clear.error));

        const QList<HlsResource> segments = ofType(encrypted.resources, HlsResource::Type::Segment);
        const QList<HlsResource> clearSegments = ofType(clear.resources, HlsResource::Type::Segment);
        QCOMPARE(segments.size(), entry.value(QStringLiteral("segments")).toInt());
        QCOMPARE(clearSegments.size(), segments.size());
        QCOMPARE(segments.constFirst().sequence,
                 quint64(entry.value(QStringLiteral("mediaSequence")).toInt()));
        const QByteArray key = readUrl(segments.constFirst().keyUrl);
        for (qsizetype i = 0; i < segments.size(); ++i) {
            const QByteArray plain = Aes128Cbc::decrypt(readUrl(segments.at(i).url), key, segments.at(i).iv);
            QVERIFY2(plain == readUrl(clearSegments.at(i).url), qPrintable(segments.at(i).url.toString()));
        }
    }

    void generatedFmp4StartsWithItsMap()
    {
        const QJsonObject fmp4 = MediaFixtures::entry(QStringLiteral("fmp4"));
        const HlsManifest::Result result = parseFixture(fmp4.value(QStringLiteral("playlist")).toString());
        QVERIFY2(result.valid, qPrintable(result.error));

        QVERIFY(!result.resources.isEmpty());
        QCOMPARE(result.resources.constFirst().type, HlsResource::Type::InitSegment);
        QCOMPARE(result.resources.constFirst().url,
                 fixtureUrl(fmp4.value(QStringLiteral("initSegment")).toString()));
        QCOMPARE(ofType(result.resources, HlsResource::Type::Segment).size(),
                 fmp4.value(QStringLiteral("segments")).toInt());
    }
};

QTEST_APPLESS_MAIN(tst_HlsManifest)
#include "tst_HlsManifest.moc"
