#include "net/CredentialStore.h"
#include "net/HardwareCrypto.h"
#include "testsupport/InMemoryKeychain.h"

#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

using quorin::test::InMemoryKeychain;
using Operation = quorin::test::InMemoryKeychain::Operation;

class tst_CredentialStore : public QObject
{
    Q_OBJECT

private:
    InMemoryKeychain m_keychain;
    std::unique_ptr<CredentialStore> m_store;
    QTemporaryDir m_folder;

    [[nodiscard]] std::unique_ptr<QSettings> settings() const
    {
        return std::make_unique<QSettings>(m_folder.filePath(QStringLiteral("settings.ini")),
                                           QSettings::IniFormat);
    }

private Q_SLOTS:
    void init()
    {
        m_keychain.clear();
        m_store = m_keychain.createStore();
        QFile::remove(m_folder.filePath(QStringLiteral("settings.ini")));
    }

    void keyNeverWrittenReadsEmpty()
    {
        QCOMPARE(m_store->read(QStringLiteral("accessToken")), QString());
        QCOMPARE(m_store->errorString(), QString());
    }

    void secondWriteUpdatesInPlace()
    {
        QVERIFY(m_store->write(QStringLiteral("accessToken"), QStringLiteral("first")));
        QCOMPARE(m_keychain.calls(Operation::Add), 1);
        QVERIFY(m_store->write(QStringLiteral("accessToken"), QStringLiteral("second")));
        QCOMPARE(m_keychain.calls(Operation::Update), 2);
        QCOMPARE(m_keychain.calls(Operation::Add), 1);
        QCOMPARE(m_keychain.accounts(), QStringList{QStringLiteral("accessToken")});
        QCOMPARE(m_store->read(QStringLiteral("accessToken")), QStringLiteral("second"));
        QCOMPARE(m_store->errorString(), QString());
    }

    void valuesAreSharedBetweenStores()
    {
        QVERIFY(m_store->write(QStringLiteral("refreshToken"), QStringLiteral("shared")));
        QCOMPARE(m_keychain.createStore()->read(QStringLiteral("refreshToken")), QStringLiteral("shared"));
    }

    void failuresCarryTheirText_data()
    {
        QTest::addColumn<Operation>("failing");
        QTest::addColumn<QString>("operation");
        QTest::newRow("read") << Operation::Copy << "read";
        QTest::newRow("write, add") << Operation::Add << "write";
        QTest::newRow("write, update") << Operation::Update << "write";
        QTest::newRow("remove") << Operation::Delete << "remove";
    }

    void failuresCarryTheirText()
    {
        QFETCH(Operation, failing);
        QFETCH(QString, operation);
        m_keychain.setValue(QStringLiteral("accessToken"), QStringLiteral("stored"));
        if (failing == Operation::Add)
            m_keychain.clear(); // only a missing item reaches the add
        m_keychain.fail(failing, QStringLiteral("The keyring is locked"));

        const QString key = QStringLiteral("accessToken");
        if (operation == QLatin1String("read"))
            QCOMPARE(m_store->read(key), QString());
        else if (operation == QLatin1String("write"))
            QVERIFY(!m_store->write(key, QStringLiteral("new")));
        else
            QVERIFY(!m_store->remove(key));
        QCOMPARE(m_store->errorString(), QStringLiteral("The keyring is locked"));

        // A failed update is not "absent": nothing may be added behind its back.
        if (failing == Operation::Update)
            QCOMPARE(m_keychain.calls(Operation::Add), 0);

        m_keychain.clearFaults();
        QVERIFY(m_store->remove(QStringLiteral("other")));
        QCOMPARE(m_store->errorString(), QString());
    }

    void copyWithoutDataReadsEmpty()
    {
        m_keychain.setValue(QStringLiteral("offlineDeviceMasterKey"), QStringLiteral("key"));
        m_keychain.failCopyWithoutData();
        QCOMPARE(m_store->read(QStringLiteral("offlineDeviceMasterKey")), QString());
        QCOMPARE(m_store->errorString(), QStringLiteral("-26275"));
    }

    void removingTwiceSucceedsBothTimes()
    {
        QVERIFY(m_store->write(QStringLiteral("accessToken"), QStringLiteral("value")));
        QVERIFY(m_store->remove(QStringLiteral("accessToken")));
        QVERIFY(!m_keychain.value(QStringLiteral("accessToken")));
        QVERIFY(m_store->remove(QStringLiteral("accessToken")));
        QCOMPARE(m_store->errorString(), QString());
    }

    void nonAsciiValueRoundTrips()
    {
        const QString name = QStringLiteral(u"محمد عبد الرحمن");
        QVERIFY(m_store->write(QStringLiteral("watermarkLastUserId"), name));
        QCOMPARE(m_store->read(QStringLiteral("watermarkLastUserId")), name);
    }

    void createNativeUsesAnInstalledKeychain()
    {
        m_keychain.installAsNative();
        const auto store = CredentialStore::createNative();
        QVERIFY(store->write(QStringLiteral("installationIdentity"), QStringLiteral("identity")));
        m_keychain.uninstall();
        QCOMPARE(m_keychain.value(QStringLiteral("installationIdentity")), QStringLiteral("identity"));
    }

    void migratesTokensFromSettings()
    {
        const auto legacy = settings();
        legacy->setValue(QStringLiteral("accessToken"), QStringLiteral("access-from-settings"));
        legacy->setValue(QStringLiteral("refreshToken"), QStringLiteral("refresh-from-settings"));

        QString access, refresh;
        CredentialStore::loadAndMigrate(*m_store, *legacy, access, refresh);
        QCOMPARE(access, QStringLiteral("access-from-settings"));
        QCOMPARE(refresh, QStringLiteral("refresh-from-settings"));
        QCOMPARE(m_keychain.value(QStringLiteral("accessToken")), QStringLiteral("access-from-settings"));
        QCOMPARE(m_keychain.value(QStringLiteral("refreshToken")), QStringLiteral("refresh-from-settings"));
        QVERIFY(!legacy->contains(QStringLiteral("accessToken")));
        QVERIFY(!legacy->contains(QStringLiteral("refreshToken")));
    }

    void storeValuesWinOverStaleSettings()
    {
        m_keychain.setValue(QStringLiteral("accessToken"), QStringLiteral("access-from-store"));
        m_keychain.setValue(QStringLiteral("refreshToken"), QStringLiteral("refresh-from-store"));
        const auto legacy = settings();
        legacy->setValue(QStringLiteral("accessToken"), QStringLiteral("stale-access"));
        legacy->setValue(QStringLiteral("refreshToken"), QStringLiteral("stale-refresh"));

        QString access, refresh;
        CredentialStore::loadAndMigrate(*m_store, *legacy, access, refresh);
        QCOMPARE(access, QStringLiteral("access-from-store"));
        QCOMPARE(refresh, QStringLiteral("refresh-from-store"));
        QVERIFY(!legacy->contains(QStringLiteral("accessToken")));
        QVERIFY(!legacy->contains(QStringLiteral("refreshToken")));
        QCOMPARE(m_keychain.calls(Operation::Update) + m_keychain.calls(Operation::Add), 0);
    }

    void refusedMigrationLeavesSettingsInPlace()
    {
        m_keychain.fail(Operation::Update, QStringLiteral("Cannot reach the keyring"));
        m_keychain.fail(Operation::Add, QStringLiteral("Cannot reach the keyring"));
        const auto legacy = settings();
        legacy->setValue(QStringLiteral("accessToken"), QStringLiteral("access-from-settings"));
        legacy->setValue(QStringLiteral("refreshToken"), QStringLiteral("refresh-from-settings"));

        for (const char *key : {"accessToken", "refreshToken"}) {
            QTest::ignoreMessage(
                QtWarningMsg,
                QRegularExpression(QStringLiteral("^Secure credential migration failed for .*%1.*"
                                                  "Cannot reach the keyring")
                                       .arg(QLatin1String(key))));
        }
        QString access = QStringLiteral("previous"), refresh = QStringLiteral("previous");
        CredentialStore::loadAndMigrate(*m_store, *legacy, access, refresh);
        QCOMPARE(access, QString());
        QCOMPARE(refresh, QString());
        QCOMPARE(legacy->value(QStringLiteral("accessToken")).toString(),
                 QStringLiteral("access-from-settings"));
        QCOMPARE(legacy->value(QStringLiteral("refreshToken")).toString(),
                 QStringLiteral("refresh-from-settings"));
    }

    void nothingAnywhereGivesEmptyTokens()
    {
        const auto legacy = settings();
        QString access = QStringLiteral("previous"), refresh = QStringLiteral("previous");
        CredentialStore::loadAndMigrate(*m_store, *legacy, access, refresh);
        QCOMPARE(access, QString());
        QCOMPARE(refresh, QString());
        QVERIFY(m_keychain.accounts().isEmpty());
    }

    void unavailableReasonByPlatform_data()
    {
        const QString vault =
            QStringLiteral("Offline downloads require the operating system secure vault to be "
                           "available. Online streaming remains available.");
        const QString keyring =
            QStringLiteral("Offline downloads require TPM 2.0 or an unlocked Secret Service "
                           "keyring.");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("reason");
        QTest::newRow("macos") << "macos" << vault;
        QTest::newRow("windows") << "windows" << vault;
        QTest::newRow("linux") << "linux" << keyring;
        QTest::newRow("no name") << "" << keyring;
    }

    void unavailableReasonByPlatform()
    {
        QFETCH(QString, platform);
        QFETCH(QString, reason);
        QCOMPARE(HardwareCrypto::unavailableReasonForPlatform(platform), reason);
    }

    void thisPlatformUsesTheSecretService()
    {
        QVERIFY(HardwareCrypto::platformSupported());
        QCOMPARE(HardwareCrypto::unavailableReason(), HardwareCrypto::unavailableReasonForPlatform("linux"));
    }
};

QTEST_GUILESS_MAIN(tst_CredentialStore)
#include "tst_CredentialStore.moc"
