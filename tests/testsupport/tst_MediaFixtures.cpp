#include "testsupport/FixtureServer.h"
#include "testsupport/MediaFixtures.h"

#include <QAudioOutput>
#include <QGuiApplication>
#include <QMediaPlayer>
#include <QTest>
#include <QVideoSink>

#include <openssl/evp.h>

#include <memory>

using quorin::test::FixtureServer;
using quorin::test::MediaFixtures;

namespace {

QByteArray decryptAes128Cbc(const QByteArray &cipherText, const QByteArray &key, const QByteArray &iv)
{
    std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> context(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    QByteArray plain(cipherText.size() + 16, Qt::Uninitialized);
    int written = 0;
    int finalWritten = 0;
    const auto *keyBytes = reinterpret_cast<const unsigned char *>(key.constData());
    const auto *ivBytes = reinterpret_cast<const unsigned char *>(iv.constData());
    if (EVP_DecryptInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, keyBytes, ivBytes) != 1
        || EVP_DecryptUpdate(context.get(), reinterpret_cast<unsigned char *>(plain.data()), &written,
                             reinterpret_cast<const unsigned char *>(cipherText.constData()), int(cipherText.size()))
               != 1
        || EVP_DecryptFinal_ex(context.get(), reinterpret_cast<unsigned char *>(plain.data()) + written, &finalWritten)
               != 1)
        return {};
    plain.truncate(written + finalWritten);
    return plain;
}

} // namespace

class tst_MediaFixtures : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aesSegmentDecryptsToTransportStream()
    {
        const QByteArray key = MediaFixtures::readFile(MediaFixtures::entry(QStringLiteral("aes")).value(QStringLiteral("keyFile")).toString());
        QCOMPARE(key, MediaFixtures::hexBytes(QStringLiteral("aes"), QStringLiteral("keyHex")));
        const QByteArray iv = MediaFixtures::hexBytes(QStringLiteral("aes"), QStringLiteral("ivHex"));
        const QByteArray segment = MediaFixtures::readFile(QStringLiteral("aes/segment000.ts"));

        const QByteArray plain = decryptAes128Cbc(segment, key, iv);
        QVERIFY(!plain.isEmpty());
        QCOMPARE(plain.size() % 188, 0);
        for (qsizetype offset = 0; offset < plain.size(); offset += 188)
            QCOMPARE(quint8(plain.at(offset)), quint8(0x47));
    }

    void sequenceRenditionDecryptsUnderItsSequenceNumber()
    {
        const QJsonObject entry = MediaFixtures::entry(QStringLiteral("aesSequence"));
        const QByteArray key = MediaFixtures::hexBytes(QStringLiteral("aesSequence"), QStringLiteral("keyHex"));
        QByteArray iv(16, '\0');
        iv[15] = char(entry.value(QStringLiteral("mediaSequence")).toInt());

        const QByteArray plain = decryptAes128Cbc(MediaFixtures::readFile(QStringLiteral("aes-sequence/segment000.ts")), key, iv);
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
