#include "media/CryptoManager.h"
#include "net/CredentialStore.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

// The vault against a real Secret Service (a private gnome-keyring-daemon). The wrapper runs this
// program twice, restarting the daemon in between (QUORIN_SECRET_SERVICE_PHASE): the first run
// makes the device key and encrypts a file, the second finds the same key and decrypts it.

namespace {

const char *const PhaseVariable = "QUORIN_SECRET_SERVICE_PHASE";
const QString LectureId = QStringLiteral("lecture-42");
const QString ResourceUrl = QStringLiteral("https://media.example/lectures/42/notes.pdf");
constexpr qsizetype FileBytes = 300 * 1000 + 7;
constexpr qsizetype ChunkBytes = 64 * 1024;

QByteArray plainData()
{
    QByteArray data(FileBytes, Qt::Uninitialized);
    for (qsizetype index = 0; index < data.size(); ++index)
        data[index] = char((index * 131 + index / 997) & 0xff);
    return data;
}

QString folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/vault-integration");
}

QString encryptedFile()
{
    return folder() + QStringLiteral("/notes.enc");
}

// Where the first run notes a digest of the key item it found, for the second run to compare.
QString keyDigestFile()
{
    return folder() + QStringLiteral("/key.sha256");
}

QString storedKeyItem()
{
    const auto store = CredentialStore::createNative();
    const QString value = store->read(CryptoManager::masterKeyItem());
    if (!store->errorString().isEmpty())
        qWarning() << "keychain read failed:" << store->errorString();
    return value;
}

QByteArray digest(const QString &value)
{
    return QCryptographicHash::hash(value.toUtf8(), QCryptographicHash::Sha256).toHex();
}

// The item IV of the file, as every writer and reader of an encrypted file derives it.
QByteArray itemIv()
{
    const QByteArray masterIv = CryptoManager::instance()->getOrCreateMasterIv(LectureId);
    return QCryptographicHash::hash(masterIv + ResourceUrl.toUtf8(), QCryptographicHash::Sha256).left(16);
}

// Transforms the data chunk by chunk at each chunk's offset, as downloads and readers do.
QByteArray transformInChunks(const QByteArray &data)
{
    const QByteArray iv = itemIv();
    QByteArray result;
    for (qsizetype offset = 0; offset < data.size(); offset += ChunkBytes) {
        const QByteArray chunk = data.mid(offset, ChunkBytes);
        const QByteArray transformed = CryptoManager::instance()->processChunk(chunk, offset, iv);
        if (transformed.size() != chunk.size())
            return {};
        result += transformed;
    }
    return result;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class tst_VaultKeychainIntegration : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void firstRunMakesTheKeyAndEncrypts()
    {
        QCOMPARE(storedKeyItem(), QString());
        CryptoManager::instance()->init();
        QCOMPARE(CryptoManager::instance()->vaultState(), CryptoManager::ReadySecretService);

        const QString stored = storedKeyItem();
        QCOMPARE(stored.size(), 44);
        QCOMPARE(QByteArray::fromBase64(stored.toLatin1(), QByteArray::AbortOnBase64DecodingErrors).size(),
                 32);

        const QByteArray plain = plainData();
        const QByteArray encrypted = transformInChunks(plain);
        QCOMPARE(encrypted.size(), plain.size());
        QVERIFY(encrypted != plain);
        QVERIFY(QDir().mkpath(folder()));
        QVERIFY(writeFile(encryptedFile(), encrypted));
        QVERIFY(writeFile(keyDigestFile(), digest(stored)));
    }
};

class tst_VaultKeychainIntegrationSecondRun : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void secondRunFindsTheKeyAndDecrypts()
    {
        const QString before = storedKeyItem();
        QCOMPARE(digest(before), readFile(keyDigestFile()));

        CryptoManager::instance()->init();
        QCOMPARE(CryptoManager::instance()->vaultState(), CryptoManager::ReadySecretService);
        // The key found was used; no new one replaced it.
        QCOMPARE(storedKeyItem(), before);

        const QByteArray encrypted = readFile(encryptedFile());
        QCOMPARE(encrypted.size(), FileBytes);
        QVERIFY(transformInChunks(encrypted) == plainData());
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QByteArray phase = qgetenv(PhaseVariable);
    if (phase == "before-restart") {
        tst_VaultKeychainIntegration test;
        return QTest::qExec(&test, argc, argv);
    }
    if (phase == "after-restart") {
        tst_VaultKeychainIntegrationSecondRun test;
        return QTest::qExec(&test, argc, argv);
    }
    qCritical("Run this test through testsupport/with-secret-service; it needs a private Secret Service.");
    return 1;
}

#include "tst_VaultKeychainIntegration.moc"
