#include "testsupport/Ed25519Signer.h"
#include "testsupport/FixturePaths.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using quorin::test::Ed25519Signer;

namespace {

QByteArray embeddedKeyring()
{
    QFile file(QStringLiteral(":/qt/qml/Quorin/config/update-keyring.json"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray keyringOf(const QJsonArray &keys)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("keys"), keys}}).toJson();
}

QJsonObject entryWith(const QString &member, const QJsonValue &value)
{
    QJsonObject entry = Ed25519Signer::generate().keyringEntry();
    entry.insert(member, value);
    return entry;
}

} // namespace

// The signing keys the client embeds: the demo pair a build makes for itself, and the check a
// release build's keyring passes at configure time.
class tst_UpdateKeyring : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void demoBuildEmbedsThePublicHalf()
    {
        if (!QUORIN_UPDATE_DEMO_KEYRING)
            QSKIP("This build embeds a release keyring");
        const QByteArray keyring = embeddedKeyring();
        QVERIFY(!keyring.isEmpty());
        QVERIFY(!keyring.contains("PRIVATE"));
        QVERIFY(!keyring.contains("-----BEGIN"));

        const QString keyFile = quorin::test::FixturePaths::updateSigningKeyFile();
        const QFileDevice::Permissions mode = QFile::permissions(keyFile);
        QVERIFY(mode.testFlags(QFile::ReadOwner | QFile::WriteOwner));
        QCOMPARE(int(mode & 0x00FF), 0); // nothing for the group or others
        const std::optional<Ed25519Signer> demo = Ed25519Signer::fromPemFile(keyFile);
        QVERIFY(demo);
        const QJsonArray keys =
            QJsonDocument::fromJson(keyring).object().value(QStringLiteral("keys")).toArray();
        QCOMPARE(keys.size(), 1);
        QCOMPARE(keys.first().toObject(), demo->keyringEntry());
        QCOMPARE(Ed25519Signer::keyringPublicKey(keyring, demo->keyId()), demo->publicKey());
    }

    void configureCheck_data()
    {
        QTest::addColumn<QByteArray>("keyring");
        QTest::addColumn<QString>("problem"); // empty: the keyring passes

        const Ed25519Signer first = Ed25519Signer::generate();
        const Ed25519Signer second = Ed25519Signer::generate();
        QTest::newRow("two keys") << Ed25519Signer::keyring({first, second}) << QString();
        QTest::newRow("PEM private key") << first.privatePem() << QStringLiteral("PEM");
        QTest::newRow("PEM as the public key")
            << keyringOf({entryWith(QStringLiteral("publicKey"),
                                    QStringLiteral("-----BEGIN PUBLIC KEY-----\nMCowBQYDK2VwAyEA\n"))})
            << QStringLiteral("PEM");
        QTest::newRow("31-byte key") << keyringOf({entryWith(
                                            QStringLiteral("publicKey"),
                                            QString::fromLatin1(first.publicKey().left(31).toBase64()))})
                                     << QStringLiteral("publicKey");
        QTest::newRow("33-byte key") << keyringOf({entryWith(
                                            QStringLiteral("publicKey"),
                                            QString::fromLatin1((first.publicKey() + 'x').toBase64()))})
                                     << QStringLiteral("publicKey");
        QTest::newRow("upper-case id")
            << keyringOf(
                   {entryWith(QStringLiteral("signingKeyID"), QStringLiteral("ed25519-0123456789ABCDEF"))})
            << QStringLiteral("signingKeyID");
        QTest::newRow("empty keys") << keyringOf({}) << QStringLiteral("\"keys\" is empty");
        QTest::newRow("no keys") << QByteArray("{}") << QStringLiteral("no \"keys\" array");
        QTest::newRow("not JSON") << QByteArray("keys") << QStringLiteral("not a JSON object");
        QTest::newRow("other signature type")
            << keyringOf({entryWith(QStringLiteral("signatureType"), QStringLiteral("ed25519"))})
            << QStringLiteral("signatureType");
        QTest::newRow("extra member")
            << keyringOf({entryWith(QStringLiteral("comment"), QStringLiteral("x"))})
            << QStringLiteral("members besides");
        QTest::newRow("same id twice") << keyringOf({first.keyringEntry(), first.keyringEntry()})
                                       << QStringLiteral("repeats the signingKeyID");
    }

    void configureCheck()
    {
        QFETCH(QByteArray, keyring);
        QFETCH(QString, problem);
        QTemporaryDir folder;
        QVERIFY(folder.isValid());
        QFile file(folder.filePath(QStringLiteral("keyring.json")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(keyring);
        file.close();

        QProcess cmake;
        cmake.start(QStringLiteral(QUORIN_CMAKE_COMMAND),
                    {QStringLiteral("-DQUORIN_UPDATE_KEYRING=") + file.fileName(), QStringLiteral("-P"),
                     QStringLiteral(QUORIN_KEYRING_CHECK_SCRIPT)});
        QVERIFY(cmake.waitForFinished(60000));
        const QString output = QString::fromUtf8(cmake.readAllStandardError()).simplified();
        if (problem.isEmpty()) {
            QVERIFY2(cmake.exitCode() == 0, qPrintable(output));
            return;
        }
        QVERIFY(cmake.exitCode() != 0);
        QVERIFY2(output.contains(problem), qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("QUORIN_UPDATE_KEYRING")), qPrintable(output));
    }
};

QTEST_APPLESS_MAIN(tst_UpdateKeyring)
#include "tst_UpdateKeyring.moc"
