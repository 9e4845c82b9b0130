#include "ProxySignalLog.h"
#include "ProxyTestRig.h"
#include "ProxyTestSession.h"
#include "SegmentTestSupport.h"
#include "hlsproxy/HlsProxyServer.h"
#include "media/CryptoManager.h"
#include "media/ResourceCache.h"
#include "media/VaultCacheCheck.h"
#include "testsupport/Aes128Cbc.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/LoopbackHttpClient.h"
#include "testsupport/MediaFixtures.h"

#include <QFile>
#include <QTest>
#include <QUuid>
#include <openssl/rand.h>

using quorin::test::Aes128Cbc;
using quorin::test::LoopbackHttpClient;
using quorin::test::MediaFixtures;
using Outcome = VaultCacheCheck::Outcome;

namespace {

const QStringList Segments{QStringLiteral("segment000.ts"), QStringLiteral("segment001.ts"),
                           QStringLiteral("segment002.ts")};

enum class NextKey { Same, Other, Absent };

} // namespace

Q_DECLARE_METATYPE(NextKey)
Q_DECLARE_METATYPE(Outcome)

// The vault starting again with another device key (the keychain was reset) while the cache holds
// a lecture written under the old one: the cache is emptied before anything is served, and the
// lecture plays again from upstream.
class tst_VaultCacheCheckPlayback : public QObject, protected ProxyTestRig
{
    Q_OBJECT

private:
    [[nodiscard]] QString mediaUrl(const QString &file) const
    {
        return origin->url(QStringLiteral("/media/aes/") + file).toString();
    }

    // A player on the lecture's AES stream: the playlist, the key and every segment, each
    // decrypted as the player decrypts it; empty when any of it fails.
    [[nodiscard]] QList<QByteArray> play(const QString &lecture) const
    {
        const ProxyTestSession session(server, mediaUrl(QStringLiteral("index.m3u8")), lecture);
        if (!session.isRegistered())
            return {};
        const LoopbackHttpClient::Answer playlist = LoopbackHttpClient::get(
            server->port(), session.target(QStringLiteral("/playlist.m3u8"), session.playlistToken()));
        const QByteArray key = LoopbackHttpClient::fetchPlaybackKey(
            server->port(), session.target(QStringLiteral("/key.bin"), QString()));
        const QByteArray iv = LoopbackHttpClient::keyLineIv(playlist.body);
        QList<QByteArray> plaintexts;
        for (const QByteArray &line : playlist.body.split('\n')) {
            if (!line.startsWith("http://127.0.0.1") || line.contains("/key.bin"))
                continue;
            const QString target =
                QUrl(QString::fromLatin1(line)).toString(QUrl::RemoveScheme | QUrl::RemoveAuthority);
            plaintexts.append(LoopbackHttpClient::decryptBody(
                LoopbackHttpClient::get(server->port(), target).body, key, iv));
        }
        return plaintexts;
    }

    [[nodiscard]] static QList<QByteArray> fixturePlaintexts()
    {
        const QByteArray key = MediaFixtures::hexBytes(QStringLiteral("aes"), QStringLiteral("keyHex"));
        const QByteArray iv = MediaFixtures::hexBytes(QStringLiteral("aes"), QStringLiteral("ivHex"));
        QList<QByteArray> plaintexts;
        for (const QString &segment : Segments)
            plaintexts.append(
                Aes128Cbc::decrypt(MediaFixtures::readFile(QStringLiteral("aes/") + segment), key, iv));
        return plaintexts;
    }

    [[nodiscard]] int upstreamRequests() const
    {
        int count = origin->requestCount(QStringLiteral("/media/aes/index.m3u8"));
        for (const QString &segment : Segments)
            count += origin->requestCount(QStringLiteral("/media/aes/") + segment);
        return count;
    }

    static void startWith(NextKey next)
    {
        quorin::test::InMemoryKeychain *keychain = ProxyTestSession::keychain();
        QByteArray key(CryptoManager::KeyBytes, Qt::Uninitialized);
        switch (next) {
        case NextKey::Same:
            break;
        case NextKey::Other:
            QVERIFY(RAND_bytes(reinterpret_cast<unsigned char *>(key.data()), int(key.size())) == 1);
            keychain->setValue(CryptoManager::masterKeyItem(), QString::fromLatin1(key.toBase64()));
            break;
        case NextKey::Absent:
            keychain->clear();
            break;
        }
        CryptoManager::instance()->init();
        QVERIFY(CryptoManager::instance()->hasSecureVault());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(startProxy()); }

    void init()
    {
        QVERIFY(openOrigin());
        origin->serveDirectory(QStringLiteral("/media/"), MediaFixtures::path(QString()));
    }

    void cleanup() { QVERIFY(closeOrigin()); }

    void lecturePlaysAfterTheVaultStarts_data()
    {
        QTest::addColumn<NextKey>("next");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<int>("upstreamAgain");

        QTest::newRow("the same key: played from the cache") << NextKey::Same << Outcome::Kept << 0;
        QTest::newRow("another key: played from upstream") << NextKey::Other << Outcome::Emptied << 4;
        QTest::newRow("a new key: played from upstream") << NextKey::Absent << Outcome::Emptied << 4;
    }

    void lecturePlaysAfterTheVaultStarts()
    {
        QFETCH(NextKey, next);
        QFETCH(Outcome, outcome);
        QFETCH(int, upstreamAgain);
        const QString lecture = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QList<QByteArray> expected = fixturePlaintexts();
        QCOMPARE(play(lecture), expected);
        QCOMPARE(upstreamRequests(), 4);
        QVERIFY(ProxySignalLog::waitUntilIdle(server));
        // A staging file left behind by a transfer that never finished.
        ResourceCache *cache = ResourceCache::instance();
        const QString leftover =
            cache->getTempPath(ResourceCache::vaultKey(lecture, mediaUrl(Segments.at(0)))) +
            QStringLiteral(".prefetch-left-behind");
        QFile staging(leftover);
        QVERIFY(staging.open(QIODevice::WriteOnly));
        staging.close();
        const QStringList before = SegmentTestSupport::filesBelow(cache->root());
        QVERIFY(before.size() > 8);

        startWith(next);
        QCOMPARE(CryptoManager::instance()->cacheCheck(), std::optional<Outcome>(outcome));
        // Before the first request of the new start.
        QCOMPARE(SegmentTestSupport::filesBelow(cache->root()).isEmpty(), outcome == Outcome::Emptied);
        QCOMPARE(QFile::exists(leftover), outcome == Outcome::Kept);

        QCOMPARE(play(lecture), expected);
        QCOMPARE(upstreamRequests(), 4 + upstreamAgain);
    }
};

QTEST_GUILESS_MAIN(tst_VaultCacheCheckPlayback)
#include "tst_VaultCacheCheckPlayback.moc"
