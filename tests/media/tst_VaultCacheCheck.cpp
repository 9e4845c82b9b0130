#include "app/DiagnosticLogger.h"
#include "media/CryptoManager.h"
#include "media/ResourceCache.h"
#include "media/VaultCacheCheck.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/LogRecorder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <openssl/rand.h>

using Outcome = VaultCacheCheck::Outcome;
using quorin::test::InMemoryKeychain;
using quorin::test::LogRecorder;

namespace {

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, Qt::Uninitialized);
    if (RAND_bytes(reinterpret_cast<unsigned char *>(bytes.data()), count) != 1)
        return {};
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes = QByteArrayLiteral("stored"))
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// What a cache folder holds while it is used: a permanent and a temporary copy with its marker,
// and a staging file of every writer, in the middle of its work.
bool fillCache(const ResourceCache &cache)
{
    const QString temporary = cache.getTempPath(QStringLiteral("https://media.example/b.ts"));
    return writeFile(cache.getPermanentPath(QStringLiteral("https://media.example/a.ts"))) &&
           writeFile(temporary) && writeFile(temporary + QStringLiteral(".complete")) &&
           writeFile(temporary + QStringLiteral(".0e7c6a3c-2f1e-4a4e-9d7e-6a1f0c2b9d11.part")) &&
           writeFile(temporary + QStringLiteral(".prefetch-5b0f")) &&
           writeFile(temporary + QStringLiteral(".playlist-7d2e")) &&
           writeFile(temporary + QStringLiteral(".download-1c9a"));
}

QStringList filesIn(const QString &folder)
{
    QStringList files;
    QDirIterator found(folder, QDir::Files | QDir::Hidden | QDir::System);
    while (found.hasNext())
        files.append(QFileInfo(found.next()).fileName());
    files.sort();
    return files;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

enum class StoredCheck { Absent, Same, Other, CutShort, Unreadable };

} // namespace

Q_DECLARE_METATYPE(StoredCheck)
Q_DECLARE_METATYPE(Outcome)

class tst_VaultCacheCheck : public QObject
{
    Q_OBJECT

private:
    InMemoryKeychain m_keychain;

    static CryptoManager *vault() { return CryptoManager::instance(); }

    [[nodiscard]] static ResourceCache::Settings settingsIn(const QString &folder)
    {
        ResourceCache::Settings settings = ResourceCache::Settings::production();
        settings.root = folder + QStringLiteral("/downloads/cache");
        settings.firstCleanupDelayMs = 3600000;
        return settings;
    }

    // The check of the production cache, as the vault keeps it.
    [[nodiscard]] static QByteArray storedCheck()
    {
        return readFile(VaultCacheCheck::checkPath(*ResourceCache::instance()));
    }

    void startWithKey(const QByteArray &key)
    {
        if (key.isEmpty())
            m_keychain.clear();
        else
            m_keychain.setValue(CryptoManager::masterKeyItem(), QString::fromLatin1(key.toBase64()));
        vault()->init();
        QCOMPARE(vault()->vaultState(), CryptoManager::ReadySecretService);
    }

private Q_SLOTS:
    void initTestCase()
    {
        DiagnosticLogger::initialize();
        m_keychain.installAsNative();
    }
    void init() { m_keychain.clear(); }

    // The cache against the check beside it, for a key the keychain held and for one made now.
    void reconcile_data()
    {
        QTest::addColumn<StoredCheck>("stored");
        QTest::addColumn<bool>("keyIsNew");
        QTest::addColumn<Outcome>("outcome");
        QTest::addColumn<bool>("filesKept");
        QTest::addColumn<bool>("checkWritten");

        QTest::newRow("no check yet") << StoredCheck::Absent << false << Outcome::Recorded << true << true;
        QTest::newRow("the same key") << StoredCheck::Same << false << Outcome::Kept << true << true;
        QTest::newRow("another key") << StoredCheck::Other << false << Outcome::Emptied << false << true;
        QTest::newRow("a check cut short")
            << StoredCheck::CutShort << false << Outcome::Emptied << false << true;
        // A failed read is not a mismatch: the files stay and the check is not replaced.
        QTest::newRow("an unreadable check")
            << StoredCheck::Unreadable << false << Outcome::Unverified << true << false;
        QTest::newRow("a new key, no check")
            << StoredCheck::Absent << true << Outcome::Emptied << false << true;
        // Nothing can have been written under a key made in this start, whatever the check says.
        QTest::newRow("a new key, a matching check")
            << StoredCheck::Same << true << Outcome::Emptied << false << true;
        QTest::newRow("a new key, an unreadable check")
            << StoredCheck::Unreadable << true << Outcome::Emptied << false << false;
    }

    void reconcile()
    {
        QFETCH(StoredCheck, stored);
        QFETCH(bool, keyIsNew);
        QFETCH(bool, filesKept);
        QFETCH(bool, checkWritten);
        const QTemporaryDir folder;
        QVERIFY(folder.isValid());
        ResourceCache cache(settingsIn(folder.path()));
        QVERIFY(fillCache(cache));
        const QStringList filled = filesIn(cache.root());
        const QByteArray value = randomBytes(VaultCacheCheck::CheckBytes);
        const QString checkPath = VaultCacheCheck::checkPath(cache);
        QVERIFY(!checkPath.startsWith(cache.root() + u'/'));
        switch (stored) {
        case StoredCheck::Absent:
            break;
        case StoredCheck::Same:
            QVERIFY(writeFile(checkPath, value));
            break;
        case StoredCheck::Other:
            QVERIFY(writeFile(checkPath, randomBytes(VaultCacheCheck::CheckBytes)));
            break;
        case StoredCheck::CutShort:
            QVERIFY(writeFile(checkPath, value.left(VaultCacheCheck::CheckBytes - 1)));
            break;
        case StoredCheck::Unreadable:
            QVERIFY(QDir().mkpath(checkPath));
            break;
        }
        const LogRecorder recorder;

        QTEST(VaultCacheCheck::reconcile(cache, value, keyIsNew), "outcome");
        QCOMPARE(filesIn(cache.root()), filesKept ? filled : QStringList());
        QCOMPARE(recorder.withEvent(QStringLiteral("cache_emptied")).size(), filesKept ? 0 : 1);
        if (checkWritten)
            QCOMPARE(readFile(checkPath), value);
        if (stored == StoredCheck::Unreadable)
            QVERIFY(QFileInfo(checkPath).isDir());
        if (stored == StoredCheck::Absent && !keyIsNew)
            QVERIFY(recorder.withEvent(QStringLiteral("cache_emptied")).isEmpty());
    }

    // Without a value from the cipher there is nothing to compare: nothing is touched.
    void noValueTouchesNothing()
    {
        const QTemporaryDir folder;
        QVERIFY(folder.isValid());
        ResourceCache cache(settingsIn(folder.path()));
        QVERIFY(fillCache(cache));
        const QStringList filled = filesIn(cache.root());

        QCOMPARE(VaultCacheCheck::reconcile(cache, QByteArray(), true), Outcome::Unverified);
        QCOMPARE(filesIn(cache.root()), filled);
        QVERIFY(!QFileInfo::exists(VaultCacheCheck::checkPath(cache)));
    }

    // The vault's own start: a cache written under one key meets the next start's key, and is
    // gone before the vault reports ready when that key is another one.
    void vaultStartReconcilesTheCache_data()
    {
        QTest::addColumn<QString>("next");
        QTest::addColumn<Outcome>("outcome");
        QTest::newRow("the same key") << QStringLiteral("same") << Outcome::Kept;
        QTest::newRow("another key in the keychain") << QStringLiteral("other") << Outcome::Emptied;
        QTest::newRow("the keychain item gone") << QStringLiteral("absent") << Outcome::Emptied;
    }

    void vaultStartReconcilesTheCache()
    {
        QFETCH(QString, next);
        QFETCH(Outcome, outcome);
        ResourceCache *cache = ResourceCache::instance();
        const QByteArray first = randomBytes(CryptoManager::KeyBytes);
        startWithKey(first);
        QVERIFY(fillCache(*cache));
        const QStringList filled = filesIn(cache->root());
        const QByteArray firstCheck = storedCheck();
        QCOMPARE(firstCheck.size(), VaultCacheCheck::CheckBytes);

        // What the cache holds at the moment the vault says it is ready, on the starting thread.
        QStringList atReady{QStringLiteral("never ready")};
        const QMetaObject::Connection watch = connect(
            vault(), &CryptoManager::vaultStateChanged, this,
            [&atReady, cache] {
                if (vault()->hasSecureVault())
                    atReady = filesIn(cache->root());
            },
            Qt::DirectConnection);
        const QByteArray second = next == QLatin1String("same")    ? first
                                  : next == QLatin1String("other") ? randomBytes(CryptoManager::KeyBytes)
                                                                   : QByteArray();
        startWithKey(second);
        disconnect(watch);

        QCOMPARE(vault()->cacheCheck(), std::optional<Outcome>(outcome));
        QCOMPARE(atReady, outcome == Outcome::Kept ? filled : QStringList());
        QCOMPARE(filesIn(cache->root()), atReady);
        const QByteArray check = storedCheck();
        QCOMPARE(check == firstCheck, outcome == Outcome::Kept);
        // The check is no key, nor part of one, in any form the vault keeps a key.
        const QString stored = m_keychain.value(CryptoManager::masterKeyItem()).value_or(QString());
        const QByteArray key = QByteArray::fromBase64(stored.toLatin1());
        QCOMPARE(key.size(), CryptoManager::KeyBytes);
        for (const QByteArray &keyBytes : {key, first}) {
            QVERIFY(!check.contains(keyBytes.left(16)));
            QVERIFY(!check.contains(keyBytes.mid(16)));
            QVERIFY(!check.contains(keyBytes.toBase64().left(16)));
        }
    }
};

QTEST_GUILESS_MAIN(tst_VaultCacheCheck)
#include "tst_VaultCacheCheck.moc"
