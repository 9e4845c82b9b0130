#include "app/DiagnosticLogger.h"
#include "app/PreferencesStore.h"
#include "net/InstallationIdentity.h"
#include "testsupport/ChildProcess.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/LogLineParser.h"
#include "testsupport/LogRecorder.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

using quorin::test::InMemoryKeychain;
using quorin::test::LogLineParser;
using quorin::test::LogRecorder;
using Operation = quorin::test::InMemoryKeychain::Operation;

namespace {

const QString MachineId = QStringLiteral("12345678-9abc-def0-1234-56789abcdef0");
const QString MachineIdSource = QStringLiteral("linux-machine-id");
const QString DerivedIdentity = QStringLiteral("45ccb1ed-8059-5f2d-814f-baa37d7bd4b2");
const QString Binding = QStringLiteral("4cb298a3ae1dde337f1175169f101be5d2ab62171b0b72b4f764d4f881f31587");
const QString StoredIdentity = QStringLiteral("0f1e2d3c-4b5a-4678-9a0b-1c2d3e4f5a6b");
const QString VaultIdentity = QStringLiteral("a1b2c3d4-e5f6-4a1b-8c2d-3e4f5a6b7c8d");
const QString Missing = QStringLiteral("<missing>");

// Environment of the child processes that run what holds once per process: the keychain copy
// ("vault-copy") and an identity made while the keychain cannot be read ("unreadable-vault").
const char ChildVariable[] = "QUORIN_IDENTITY_CHILD";
const char MachineIdVariable[] = "QUORIN_IDENTITY_MACHINE_ID";
const char VaultVariable[] = "QUORIN_IDENTITY_VAULT";

// Ends the log so every record is on disk, and reads back the records of the identity.
QList<LogLineParser::Record> identityRecordsInFile()
{
    DiagnosticLogger::shutdown();
    QList<LogLineParser::Record> records;
    for (const auto &record : LogLineParser::parseFile(DiagnosticLogger::logFilePath())) {
        if (record.value(QStringLiteral("category")) == QLatin1String("identity"))
            records.append(record);
    }
    return records;
}

QByteArray logFileContents()
{
    QFile file(DiagnosticLogger::logFilePath());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QString &content)
{
    QFile::remove(path);
    if (content == Missing)
        return;
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content.toUtf8());
}

void setUpApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
    QCoreApplication::setApplicationName(QStringLiteral("desktop"));
}

} // namespace

class tst_InstallationIdentity : public QObject
{
    Q_OBJECT

private:
    InMemoryKeychain m_keychain;
    QTemporaryDir m_folder;
    std::optional<LogRecorder> m_log;

    [[nodiscard]] QList<LogRecorder::Record> identityRecords() const
    {
        return m_log->inCategory(QStringLiteral("identity"));
    }

    [[nodiscard]] QString firstMachineIdFile() const
    {
        return m_folder.filePath(QStringLiteral("etc-machine-id"));
    }
    [[nodiscard]] QString secondMachineIdFile() const
    {
        return m_folder.filePath(QStringLiteral("dbus-machine-id"));
    }
    [[nodiscard]] QString resolveSettingsFile() const
    {
        return m_folder.filePath(QStringLiteral("resolve.ini"));
    }

    // Every record the identity logged carries the fingerprint, in what it handed over and in the
    // file; the identity text itself reaches the file nowhere.
    static void verifyOnlyFingerprints(const QList<LogRecorder::Record> &records, const QString &identity)
    {
        QVERIFY(!records.isEmpty());
        for (const auto &record : records)
            QCOMPARE(record.field(QStringLiteral("identity_fp")), DiagnosticLogger::fingerprint(identity));
        verifyFileHoldsOnlyFingerprints(qsizetype(records.size()), identity);
    }

    static void verifyFileHoldsOnlyFingerprints(qsizetype expectedRecords, const QString &identity)
    {
        const auto inFile = identityRecordsInFile();
        QCOMPARE(inFile.size(), expectedRecords);
        for (const auto &record : inFile)
            QCOMPARE(record.value(QStringLiteral("identity_fp")), DiagnosticLogger::fingerprint(identity));
        const QByteArray contents = logFileContents();
        QVERIFY(!contents.contains(identity.toUtf8()));
        QVERIFY(!contents.contains(identity.toUpper().toUtf8()));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        setUpApplication();
        m_keychain.installAsNative();
        InstallationIdentity::setMachineIdFilesForTesting({firstMachineIdFile(), secondMachineIdFile()});
    }

    void init()
    {
        quorin::PreferencesStore::open()->clear();
        QFile::remove(resolveSettingsFile());
        m_keychain.clear();
        writeFile(firstMachineIdFile(), MachineId + QLatin1Char('\n'));
        writeFile(secondMachineIdFile(), Missing);
        QDir(QFileInfo(DiagnosticLogger::logFilePath()).absolutePath()).removeRecursively();
        m_log.emplace();
        DiagnosticLogger::initialize();
    }

    void cleanup()
    {
        DiagnosticLogger::shutdown();
        m_log.reset();
    }

    void storedIdentityIsReadInCanonicalForm()
    {
        const auto settings = quorin::PreferencesStore::open();
        settings->setValue(QStringLiteral("installationUuid"),
                           QStringLiteral("{ABCDEF12-ABCD-5ABC-8ABC-ABCDEF123456}"));
        settings->setValue(QStringLiteral("installationIdentityVaultMigrated"), true);
        settings->sync();

        QCOMPARE(InstallationIdentity::id(), QStringLiteral("abcdef12-abcd-5abc-8abc-abcdef123456"));
        settings->sync();
        QCOMPARE(settings->value(QStringLiteral("installationUuid")).toString(),
                 QStringLiteral("{ABCDEF12-ABCD-5ABC-8ABC-ABCDEF123456}"));

        const auto records = identityRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].event, QStringLiteral("device_identity_resolved"));
        QCOMPARE(records[0].field(QStringLiteral("source")), QStringLiteral("settings-mirror"));
        QCOMPARE(records[0].field(QStringLiteral("migration")), QStringLiteral("vault-migration-complete"));
        QCOMPARE(records[0].fields.value(QStringLiteral("hardware_binding_match")), QVariant(false));
        verifyOnlyFingerprints(records, QStringLiteral("abcdef12-abcd-5abc-8abc-abcdef123456"));
    }

    void valuesThatAreNoIdentityAreReplaced_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::newRow("all-zero UUID") << "00000000-0000-0000-0000-000000000000";
        QTest::newRow("all-zero UUID in braces") << "{00000000-0000-0000-0000-000000000000}";
        QTest::newRow("not a UUID") << "not-a-uuid";
        QTest::newRow("blank") << "   ";
    }

    void valuesThatAreNoIdentityAreReplaced()
    {
        QFETCH(QString, stored);
        const auto settings = quorin::PreferencesStore::open();
        settings->setValue(QStringLiteral("installationUuid"), stored);
        settings->sync();

        QVERIFY(InstallationIdentity::isFirstInstallation());
        settings->sync();
        QCOMPARE(settings->value(QStringLiteral("installationUuid")).toString(), DerivedIdentity);
        QCOMPARE(InstallationIdentity::id(), DerivedIdentity);
    }

    void usableAnchors_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<bool>("usable");
        QTest::newRow("short after normalising") << "ABCD-1234" << false;
        QTest::newRow("12 characters with separators, 10 after") << "AB-CD-12-34-EF" << false;
        QTest::newRow("11 characters") << "abcdef12345" << false;
        QTest::newRow("12 characters") << "abcdef123456" << true;
        QTest::newRow("12 after normalising") << " ABCD-1234-EF56 " << true;
        QTest::newRow("all zeros") << "000000000000" << false;
        QTest::newRow("all f") << "ffffffffffff" << false;
        QTest::newRow("all F with separators") << "FFFFFFFF-FFFF-FFFF" << false;
        QTest::newRow("firmware filler") << "To Be Filled By O.E.M." << false;
        QTest::newRow("default string") << "Default string 0001" << false;
        QTest::newRow("serial number filler") << "System Serial Number 42" << false;
        QTest::newRow("not applicable") << "Not Applicable 123456" << false;
        QTest::newRow("unknown") << "unknown-0000-1111" << false;
        QTest::newRow("placeholder") << "placeholder-123456" << false;
        QTest::newRow("machine id") << "0123456789abcdef0123456789abcdef" << true;
    }

    void usableAnchors()
    {
        QFETCH(QString, value);
        QFETCH(bool, usable);
        QCOMPARE(InstallationIdentity::isUsableAnchor(value), usable);
        QCOMPARE(InstallationIdentity::deriveFromAnchor({value, MachineIdSource}).isEmpty(), !usable);
    }

    void derivesKnownIdentity_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("identity");
        QTest::newRow("as read") << MachineId << MachineIdSource << DerivedIdentity;
        QTest::newRow("spaced, upper case")
            << "12345678 9ABC DEF0 1234 56789ABCDEF0" << MachineIdSource << DerivedIdentity;
        QTest::newRow("source padded, mixed case") << MachineId << " Linux-Machine-ID " << DerivedIdentity;
        QTest::newRow("another source") << MachineId << "macos-iokit-platform-uuid"
                                        << "8c615122-a70c-5a09-b52e-1efb51b0f8c2";
        QTest::newRow("unusable") << "000000000000" << MachineIdSource << QString();
    }

    void derivesKnownIdentity()
    {
        QFETCH(QString, value);
        QFETCH(QString, source);
        QFETCH(QString, identity);
        const QString derived = InstallationIdentity::deriveFromAnchor({value, source});
        QCOMPARE(derived, identity);
        if (!derived.isEmpty())
            QCOMPARE(QUuid::fromString(derived).version(), QUuid::Sha1);
    }

    void storesKnownBinding()
    {
        QSettings settings(resolveSettingsFile(), QSettings::IniFormat);
        const auto resolution =
            InstallationIdentity::resolve(settings, nullptr, {MachineId, MachineIdSource});
        QCOMPARE(resolution.identity, DerivedIdentity);
        QCOMPARE(settings.value(QStringLiteral("installationHardwareBinding")).toString(), Binding);
    }

    void resolvesStoredState_data()
    {
        QTest::addColumn<QString>("settingsId");
        QTest::addColumn<QString>("vaultId");
        QTest::addColumn<bool>("usableAnchor");
        QTest::addColumn<bool>("withStore");
        QTest::addColumn<bool>("vaultWritesFail");
        QTest::addColumn<bool>("vaultReadsFail");
        QTest::addColumn<QString>("identity"); // empty: a new random one
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("migration");
        QTest::addColumn<QString>("fallbackReason");
        QTest::addColumn<bool>("vaultPersisted");
        QTest::addColumn<bool>("storedInSettings");
        // Once the keychain can be read again: the identity a second resolution gives.
        QTest::addColumn<QString>("recovered");

        QTest::newRow("settings only") << StoredIdentity << QString() << true << true << false << false
                                       << StoredIdentity << "existing-settings"
                                       << "settings-to-vault" << QString() << true << true << QString();
        QTest::newRow("settings and keychain")
            << StoredIdentity << VaultIdentity << true << true << false << false << StoredIdentity
            << "existing-settings"
            << "settings-preserved" << QString() << true << true << QString();
        QTest::newRow("keychain only") << QString() << VaultIdentity.toUpper() << true << true << false
                                       << false << VaultIdentity << "credential-vault"
                                       << "vault-to-settings" << QString() << true << true << QString();
        QTest::newRow("nothing, usable anchor")
            << QString() << QString() << true << true << false << false << DerivedIdentity << MachineIdSource
            << "hardware-derived" << QString() << true << true << QString();
        QTest::newRow("nothing, unusable anchor")
            << QString() << QString() << false << true << false << false << QString() << "random-fallback"
            << "fresh-random"
            << "hardware-anchor-unavailable" << true << true << QString();
        QTest::newRow("keychain writes fail") << StoredIdentity << QString() << true << true << true << false
                                              << StoredIdentity << "existing-settings"
                                              << "settings-to-vault"
                                              << "credential-vault-unavailable" << false << true << QString();
        QTest::newRow("no anchor, keychain writes fail")
            << QString() << QString() << false << true << true << false << QString() << "random-fallback"
            << "fresh-random"
            << "hardware-anchor-unavailable" << false << true << QString();
        QTest::newRow("no store") << QString() << QString() << true << false << false << false
                                  << DerivedIdentity << MachineIdSource << "hardware-derived" << QString()
                                  << false << true << QString();
        QTest::newRow("keychain value that is no identity")
            << QString() << QStringLiteral("damaged") << true << true << false << false << DerivedIdentity
            << MachineIdSource << "hardware-derived" << QString() << true << true << QString();
        // A keychain that cannot be read (a locked keyring) is not an empty one: a random identity
        // made without it is stored nowhere, and the keychain's comes back when it answers.
        QTest::newRow("settings lost, keychain unreadable, no anchor")
            << QString() << VaultIdentity << false << true << false << true << QString() << "random-fallback"
            << "fresh-random"
            << "credential-vault-unavailable" << false << false << VaultIdentity;
        // The machine derives the same identity every time: it is stored, but not in the keychain.
        QTest::newRow("settings lost, keychain unreadable, usable anchor")
            << QString() << VaultIdentity << true << true << false << true << DerivedIdentity
            << MachineIdSource << "hardware-derived"
            << "credential-vault-unavailable" << false << true << DerivedIdentity;
        // The settings store wins over the keychain, as it always does; the copy is still owed.
        QTest::newRow("keychain unreadable, identity in settings")
            << StoredIdentity << VaultIdentity << true << true << false << true << StoredIdentity
            << "existing-settings"
            << "settings-to-vault"
            << "credential-vault-unavailable" << false << true << StoredIdentity;
    }

    void resolvesStoredState()
    {
        QFETCH(QString, settingsId);
        QFETCH(QString, vaultId);
        QFETCH(bool, usableAnchor);
        QFETCH(bool, withStore);
        QFETCH(bool, vaultWritesFail);
        QFETCH(bool, vaultReadsFail);
        QFETCH(QString, identity);
        QFETCH(QString, source);
        QFETCH(QString, migration);
        QFETCH(QString, fallbackReason);
        QFETCH(bool, vaultPersisted);
        QFETCH(bool, storedInSettings);
        QFETCH(QString, recovered);

        QSettings settings(resolveSettingsFile(), QSettings::IniFormat);
        if (!settingsId.isEmpty())
            settings.setValue(QStringLiteral("installationUuid"), settingsId);
        settings.setValue(QStringLiteral("installationHardwareBinding"), QStringLiteral("earlier-binding"));
        if (!vaultId.isEmpty())
            m_keychain.setValue(QStringLiteral("installationIdentity"), vaultId);
        if (vaultWritesFail) {
            m_keychain.fail(Operation::Update, QStringLiteral("The keyring is locked"));
            m_keychain.fail(Operation::Add, QStringLiteral("The keyring is locked"));
        }
        if (vaultReadsFail)
            m_keychain.fail(Operation::Copy, QStringLiteral("The keyring is locked"));
        const auto store = m_keychain.createStore();
        const HardwareIdentityAnchor anchor =
            usableAnchor ? HardwareIdentityAnchor{MachineId, MachineIdSource}
                         : HardwareIdentityAnchor{QString(), QStringLiteral("unavailable")};

        const auto resolution =
            InstallationIdentity::resolve(settings, withStore ? store.get() : nullptr, anchor);
        if (identity.isEmpty()) {
            QCOMPARE(QUuid::fromString(resolution.identity).version(), QUuid::Random);
            QCOMPARE(resolution.identity, resolution.identity.toLower());
        } else {
            QCOMPARE(resolution.identity, identity);
        }
        QCOMPARE(resolution.source, source);
        QCOMPARE(resolution.migration, migration);
        QCOMPARE(resolution.fallbackReason, fallbackReason);
        QCOMPARE(resolution.vaultPersisted, vaultPersisted);

        QCOMPARE(settings.value(QStringLiteral("installationUuid")).toString(),
                 storedInSettings ? resolution.identity : QString());
        QCOMPARE(settings.value(QStringLiteral("installationHardwareBinding")).toString(),
                 storedInSettings && usableAnchor ? Binding : QStringLiteral("earlier-binding"));
        if (withStore && storedInSettings)
            QCOMPARE(settings.value(QStringLiteral("installationIdentityVaultMigrated")).toBool(),
                     vaultPersisted);
        else
            QVERIFY(!settings.contains(QStringLiteral("installationIdentityVaultMigrated")));
        if (vaultPersisted) {
            QCOMPARE(m_keychain.value(QStringLiteral("installationIdentity")), resolution.identity);
            QCOMPARE(m_keychain.value(QStringLiteral("installationHardwareBinding")),
                     usableAnchor ? std::optional(Binding) : std::nullopt);
        }
        if (!vaultReadsFail)
            return;
        QCOMPARE(m_keychain.calls(Operation::Update), 0);
        QCOMPARE(m_keychain.calls(Operation::Add), 0);
        QCOMPARE(m_keychain.value(QStringLiteral("installationIdentity")), std::optional(vaultId));

        m_keychain.clearFaults();
        const auto again = InstallationIdentity::resolve(settings, store.get(), anchor);
        QCOMPARE(again.identity, recovered);
        QCOMPARE(again.fallbackReason, QString());
        QVERIFY(again.vaultPersisted);
        QCOMPARE(m_keychain.value(QStringLiteral("installationIdentity")), std::optional(recovered));
    }

    void comparesTheStoredBinding_data()
    {
        QTest::addColumn<QString>("keychainBinding");
        QTest::addColumn<QString>("settingsBinding");
        QTest::addColumn<bool>("match");
        const QString other(64, QLatin1Char('0'));
        QTest::newRow("same in settings") << QString() << Binding << true;
        QTest::newRow("differs in settings") << QString() << other << false;
        QTest::newRow("keychain first") << Binding << other << true;
        QTest::newRow("differs in keychain") << other << Binding << false;
        QTest::newRow("none stored") << QString() << QString() << false;
    }

    void comparesTheStoredBinding()
    {
        QFETCH(QString, keychainBinding);
        QFETCH(QString, settingsBinding);
        QFETCH(bool, match);
        QSettings settings(resolveSettingsFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("installationUuid"), StoredIdentity);
        if (!settingsBinding.isEmpty())
            settings.setValue(QStringLiteral("installationHardwareBinding"), settingsBinding);
        if (!keychainBinding.isEmpty())
            m_keychain.setValue(QStringLiteral("installationHardwareBinding"), keychainBinding);
        const auto store = m_keychain.createStore();

        const auto resolution =
            InstallationIdentity::resolve(settings, store.get(), {MachineId, MachineIdSource});
        QCOMPARE(resolution.hardwareBindingMatch, match);
        QCOMPARE(resolution.identity, StoredIdentity);
    }

    void identityOnlyInKeychainIsNoFreshInstallation()
    {
        m_keychain.setValue(QStringLiteral("installationIdentity"), VaultIdentity);
        QVERIFY(!InstallationIdentity::isFirstInstallation());
        const auto settings = quorin::PreferencesStore::open();
        QCOMPARE(settings->value(QStringLiteral("installationUuid")).toString(), VaultIdentity);

        const auto records = identityRecords();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records[0].event, QStringLiteral("device_identity_resolved"));
        QCOMPARE(records[0].field(QStringLiteral("source")), QStringLiteral("credential-vault"));
        QCOMPARE(records[0].field(QStringLiteral("migration")), QStringLiteral("vault-to-settings"));
        QCOMPARE(records[0].fields.value(QStringLiteral("vault_persisted")), QVariant(true));
        verifyOnlyFingerprints(records, VaultIdentity);
    }

    void freshInstallationKeepsItsIdentity()
    {
        QVERIFY(InstallationIdentity::isFirstInstallation());
        QCOMPARE(InstallationIdentity::id(), DerivedIdentity);
        QVERIFY(!InstallationIdentity::isFirstInstallation());

        const auto records = identityRecords();
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0].event, QStringLiteral("device_identity_resolved"));
        QCOMPARE(records[0].field(QStringLiteral("source")), MachineIdSource);
        QCOMPARE(records[0].field(QStringLiteral("migration")), QStringLiteral("hardware-derived"));
        QCOMPARE(records[1].field(QStringLiteral("source")), QStringLiteral("settings-mirror"));
        QCOMPARE(records[1].field(QStringLiteral("migration")), QStringLiteral("vault-migration-complete"));
        QCOMPARE(records[1].fields.value(QStringLiteral("hardware_binding_match")), QVariant(true));
        verifyOnlyFingerprints(records, DerivedIdentity);
    }

    void machineWithoutIdentifierGetsARandomIdentity()
    {
        writeFile(firstMachineIdFile(), QStringLiteral("To Be Filled By O.E.M."));
        QVERIFY(InstallationIdentity::isFirstInstallation());
        const QString identity = InstallationIdentity::id();
        QCOMPARE(QUuid::fromString(identity).version(), QUuid::Random);

        const auto records = identityRecords();
        QCOMPARE(records.size(), 2);
        QCOMPARE(records[0].event, QStringLiteral("device_identity_fallback"));
        QCOMPARE(records[0].level, QStringLiteral("warning"));
        QCOMPARE(records[0].field(QStringLiteral("fallback_reason")),
                 QStringLiteral("hardware-anchor-unavailable"));
        QCOMPARE(records[0].field(QStringLiteral("source")), QStringLiteral("random-fallback"));
        verifyOnlyFingerprints(records, identity);
    }

    void readsTheMachineIdFiles_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("source");
        const QString first = QStringLiteral("0123456789abcdef0123456789abcdef");
        const QString second = QStringLiteral("fedcba9876543210fedcba9876543210");
        const QString none = QStringLiteral("unavailable");
        QTest::newRow("first file") << first + QLatin1Char('\n') << second << first << MachineIdSource;
        QTest::newRow("first missing") << Missing << second + QLatin1Char('\n') << second << MachineIdSource;
        QTest::newRow("first empty") << QString() << second << second << MachineIdSource;
        QTest::newRow("first unusable")
            << QString(32, QLatin1Char('0')) << second << second << MachineIdSource;
        QTest::newRow("both missing") << Missing << Missing << QString() << none;
        QTest::newRow("both empty") << QString() << QStringLiteral("\n") << QString() << none;
    }

    void readsTheMachineIdFiles()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        QFETCH(QString, value);
        QFETCH(QString, source);
        writeFile(firstMachineIdFile(), first);
        writeFile(secondMachineIdFile(), second);
        const HardwareIdentityAnchor anchor = InstallationIdentity::platformAnchor();
        QCOMPARE(anchor.value, value);
        QCOMPARE(anchor.source, source);
    }

    void vaultCopyRunsOncePerProcess_data()
    {
        QTest::addColumn<bool>("vaultWritesFail");
        QTest::addColumn<QString>("event");
        QTest::newRow("copy succeeds") << false << "device_identity_migrated";
        QTest::newRow("copy fails") << true << "device_identity_fallback";
    }

    // The copy happens once per process, so each case runs in a child process of its own, which
    // checks what was handed to the log; this side checks the stores and the file.
    void vaultCopyRunsOncePerProcess()
    {
        QFETCH(bool, vaultWritesFail);
        QFETCH(QString, event);

        DiagnosticLogger::shutdown();
        QDir(QFileInfo(DiagnosticLogger::logFilePath()).absolutePath()).removeRecursively();
        {
            const auto settings = quorin::PreferencesStore::open();
            settings->setValue(QStringLiteral("installationUuid"), StoredIdentity);
        }

        const auto child = quorin::test::ChildProcess::runSelf(
            {{QString::fromLatin1(ChildVariable), QStringLiteral("vault-copy")},
             {QString::fromLatin1(MachineIdVariable), firstMachineIdFile()},
             {QString::fromLatin1(VaultVariable),
              vaultWritesFail ? QStringLiteral("fails") : QStringLiteral("works")}});
        QVERIFY2(child.succeeded, child.output.constData());

        const auto settings = quorin::PreferencesStore::open();
        settings->sync();
        QCOMPARE(settings->value(QStringLiteral("installationIdentityVaultMigrated")).toBool(),
                 !vaultWritesFail);
        QCOMPARE(settings->value(QStringLiteral("installationHardwareBinding")).toString(), Binding);

        const auto inFile = identityRecordsInFile();
        QCOMPARE(LogLineParser::withEvent(inFile, QStringLiteral("device_identity_resolved")).size(), 3);
        QCOMPARE(LogLineParser::withEvent(inFile, event).size(), 1);
        verifyFileHoldsOnlyFingerprints(4, StoredIdentity);
    }

    // An identity made while the keychain cannot be read lasts one process and is stored nowhere
    // (the child checks that); the next process finds the keychain's identity again.
    void identityMadeWithoutTheKeychainLastsTheProcess()
    {
        writeFile(firstMachineIdFile(), QStringLiteral("To Be Filled By O.E.M."));
        const auto child = quorin::test::ChildProcess::runSelf(
            {{QString::fromLatin1(ChildVariable), QStringLiteral("unreadable-vault")},
             {QString::fromLatin1(MachineIdVariable), firstMachineIdFile()}});
        QVERIFY2(child.succeeded, child.output.constData());
        QVERIFY(!quorin::PreferencesStore::open()->contains(QStringLiteral("installationUuid")));

        m_keychain.setValue(QStringLiteral("installationIdentity"), VaultIdentity);
        QVERIFY(!InstallationIdentity::isFirstInstallation());
        QCOMPARE(InstallationIdentity::id(), VaultIdentity);
    }
};

// The child side of vaultCopyRunsOncePerProcess: a process whose flag has never been set.
class tst_InstallationIdentityVaultCopy : public QObject
{
    Q_OBJECT

private:
    static int runningThreads()
    {
        return int(
            QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
    }

private Q_SLOTS:
    void repeatedReadsStartOneCopy()
    {
        setUpApplication();
        InstallationIdentity::setMachineIdFilesForTesting({qEnvironmentVariable(MachineIdVariable)});
        InMemoryKeychain keychain;
        keychain.installAsNative();
        const bool failing = qEnvironmentVariable(VaultVariable) == QLatin1String("fails");
        if (failing) {
            keychain.fail(Operation::Update, QStringLiteral("The keyring is locked"));
            keychain.fail(Operation::Add, QStringLiteral("The keyring is locked"));
        }
        LogRecorder log;
        DiagnosticLogger::initialize();
        const int threadsBefore = runningThreads();
        // The copy waits inside its first keychain write, so it cannot set the flag between two
        // reads: every read finds it unset and would start a copy of its own without the guard.
        keychain.holdWrites();

        for (int call = 0; call < 3; ++call)
            QCOMPARE(InstallationIdentity::id(), StoredIdentity);
        QTRY_COMPARE_WITH_TIMEOUT(keychain.heldWrites(), 1, 20000);
        keychain.releaseWrites();

        const QString copyEvent =
            failing ? QStringLiteral("device_identity_fallback") : QStringLiteral("device_identity_migrated");
        QTRY_COMPARE_WITH_TIMEOUT(log.withEvent(copyEvent).size(), 1, 20000);
        // The copy's thread ends on its own; the process must not end before it.
        QTRY_COMPARE_WITH_TIMEOUT(runningThreads(), threadsBefore, 20000);
        DiagnosticLogger::shutdown();

        const auto records = log.inCategory(QStringLiteral("identity"));
        QCOMPARE(records.size(), 4);
        // The copy logs from its own thread, so its record may come before the later reads' records.
        const auto reads = log.withEvent(QStringLiteral("device_identity_resolved"));
        QCOMPARE(reads.size(), 3);
        // The copy was held inside its keychain write until the reads were done, so every read
        // found the flag unset.
        for (const auto &read : reads) {
            QCOMPARE(read.field(QStringLiteral("source")), QStringLiteral("settings-mirror"));
            QCOMPARE(read.field(QStringLiteral("migration")), QStringLiteral("vault-migration-scheduled"));
            QCOMPARE(read.fields.value(QStringLiteral("vault_persisted")), QVariant(false));
        }
        const auto copy = log.withEvent(copyEvent).first();
        QCOMPARE(copy.event, copyEvent);
        QCOMPARE(copy.level, failing ? QStringLiteral("warning") : QStringLiteral("info"));
        QCOMPARE(copy.field(QStringLiteral("source")), QStringLiteral("settings-mirror"));
        QCOMPARE(copy.field(QStringLiteral("migration")), QStringLiteral("asynchronous-vault-write"));
        QCOMPARE(copy.fields.value(QStringLiteral("vault_persisted")), QVariant(!failing));
        QCOMPARE(copy.field(QStringLiteral("fallback_reason")),
                 failing ? QStringLiteral("credential-vault-unavailable") : QString());
        for (const auto &record : records)
            QCOMPARE(record.field(QStringLiteral("identity_fp")),
                     DiagnosticLogger::fingerprint(StoredIdentity));

        // One copy: one write of the identity and one of the binding.
        QCOMPARE(keychain.calls(Operation::Update), 2);
        if (!failing) {
            QCOMPARE(keychain.value(QStringLiteral("installationIdentity")), StoredIdentity);
            QCOMPARE(keychain.value(QStringLiteral("installationHardwareBinding")), Binding);
        }
    }
};

// The child side of identityMadeWithoutTheKeychainLastsTheProcess: a process that has not
// resolved an identity yet, whose keychain holds one but cannot be read.
class tst_InstallationIdentityUnreadableVault : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void oneIdentityForTheProcessAndNothingStored()
    {
        setUpApplication();
        InstallationIdentity::setMachineIdFilesForTesting({qEnvironmentVariable(MachineIdVariable)});
        InMemoryKeychain keychain;
        keychain.installAsNative();
        keychain.setValue(QStringLiteral("installationIdentity"), VaultIdentity);
        keychain.fail(Operation::Copy, QStringLiteral("The keyring is locked"));
        LogRecorder log;
        DiagnosticLogger::initialize();

        QVERIFY(InstallationIdentity::isFirstInstallation());
        const QString identity = InstallationIdentity::id();
        QCOMPARE(QUuid::fromString(identity).version(), QUuid::Random);
        QCOMPARE(InstallationIdentity::id(), identity);
        // The keychain answers again: this process keeps what it already handed out.
        keychain.clearFaults();
        QCOMPARE(InstallationIdentity::id(), identity);
        DiagnosticLogger::shutdown();

        QVERIFY(!quorin::PreferencesStore::open()->contains(QStringLiteral("installationUuid")));
        QCOMPARE(keychain.value(QStringLiteral("installationIdentity")), std::optional(VaultIdentity));
        QCOMPARE(keychain.calls(Operation::Update), 0);
        QCOMPARE(keychain.calls(Operation::Add), 0);
        const auto records = log.inCategory(QStringLiteral("identity"));
        QCOMPARE(records.size(), 4);
        for (const auto &record : records) {
            QCOMPARE(record.event, QStringLiteral("device_identity_fallback"));
            QCOMPARE(record.field(QStringLiteral("fallback_reason")),
                     QStringLiteral("credential-vault-unavailable"));
            QCOMPARE(record.field(QStringLiteral("identity_fp")), DiagnosticLogger::fingerprint(identity));
        }
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QString child = qEnvironmentVariable(ChildVariable);
    if (child == QLatin1String("vault-copy")) {
        tst_InstallationIdentityVaultCopy vaultCopy;
        return QTest::qExec(&vaultCopy, argc, argv);
    }
    if (child == QLatin1String("unreadable-vault")) {
        tst_InstallationIdentityUnreadableVault unreadableVault;
        return QTest::qExec(&unreadableVault, argc, argv);
    }
    tst_InstallationIdentity test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_InstallationIdentity.moc"
