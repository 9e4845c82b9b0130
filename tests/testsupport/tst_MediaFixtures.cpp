#include "testsupport/Aes128Cbc.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/MediaFixtures.h"

#include <QAudioOutput>
#include <QGuiApplication>
#include <QMediaPlayer>
#include <QTest>
#include <QVideoSink>

using quorin::test::Aes128Cbc;
using quorin::test::FixtureServer;
using quorin::test::MediaFixtures;

class tst_MediaFixtures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aesSegmentDecryptsToTransportStream()
    {
        const QByteArray key = MediaFixtures::readFile(
            MediaFixtures::entry(QStringLiteral("aes")).value(QStringLiteral("keyFile")).toString());
        QCOMPARE(key, MediaFixtures::hexBytes(QStringLiteral("aes"), QStringLiteral("keyHex")));
        const QByteArray iv = MediaFixtures::hexBytes(QStringLiteral("aes"), QStringLiteral("ivHex"));
        const QByteArray segment = MediaFixtures::readFile(QStringLiteral("aes/segment000.ts"));

        const QByteArray plain = Aes128Cbc::decrypt(segment, key, iv);
        QVERIFY(!plain.isEmpty());
        QCOMPARE(plain.size() % 188, 0);
        for (qsizetype offset = 0; offset < plain.size(); offset += 188)
            QCOMPARE(quint8(plain.at(offset)), quint8(0x47));
    }

    void sequenceRenditionDecryptsUnderItsSequenceNumber()
    {
        const QJsonObject entry = MediaFixtures::entry(QStringLiteral("aesSequence"));
        const QByteArray key =
            MediaFixtures::hexBytes(QStringLiteral("aesSequence"), QStringLiteral("keyHex"));
        QByteArray iv(16, '\0');
        iv[15] = char(entry.value(QStringLiteral("mediaSequence")).toInt());

        const QByteArray plain = Aes128Cbc::decrypt(
            MediaFixtures::readFile(QStringLiteral("aes-sequence/segment000.ts")), key, iv);
        QCOMPARE(plain, MediaFixtures::readFile(QStringLiteral("clear/segment000.ts")));
    }

    void gstreamerPlaysTheClearPlaylist()
    {
        // The player's HTTP stack cannot be told to trust the test authority: plain HTTP here.
        FixtureServer origin(FixtureServer::Transport::PlainHttp);
        QVERIFY(origin.listen());
        origin.serveDirectory(QStringLiteral("/media/"), MediaFixtures::path(QStringLiteral(".")));

        QMediaPlayer player;
        QAudioOutput audio;
        audio.setVolume(0);
        player.setAudioOutput(&audio);
        QVideoSink sink;
        player.setVideoSink(&sink);
        player.setSource(origin.url(QStringLiteral("/media/clear/index.m3u8")));
        player.play();

        QTRY_VERIFY_WITH_TIMEOUT(player.position() > 1000 || player.error() != QMediaPlayer::NoError, 30000);
        QCOMPARE(player.error(), QMediaPlayer::NoError);
        QVERIFY(origin.requestCount(QStringLiteral("/media/clear/segment000.ts")) >= 1);
    }
};

QTEST_MAIN(tst_MediaFixtures)
#include "tst_MediaFixtures.moc"
