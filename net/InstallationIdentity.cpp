#include "net/InstallationIdentity.h"

#include "app/DiagnosticLogger.h"
#include "app/PreferencesStore.h"
#include "net/CredentialStore.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QSettings>
#include <QThread>
#include <QUuid>
#include <QVariantMap>
#include <atomic>
#include <optional>

namespace {

const QString IdentitySetting = QStringLiteral("installationUuid");
const QString BindingSetting = QStringLiteral("installationHardwareBinding");
const QString VaultMigratedSetting = QStringLiteral("installationIdentityVaultMigrated");
const QString IdentityItem = QStringLiteral("installationIdentity");
const QString BindingItem = QStringLiteral("installationHardwareBinding");
const QString MachineIdSource = QStringLiteral("linux-machine-id");
const QString UnavailableSource = QStringLiteral("unavailable");
const QString LogCategory = QStringLiteral("identity");

// Each label is hashed with its terminating zero byte.
constexpr char IdentityLabel[] = "quorin-installation-identity-v1";
constexpr char BindingLabel[] = "quorin-hardware-binding-v1";

constexpr qsizetype MinimumAnchorLength = 12;
// A machine-id file holds 32 hexadecimal digits and a line feed; anything far longer is not one.
constexpr qint64 MachineIdReadLimit = 1024;

// Set once per process by an atomic exchange, so at most one keychain copy starts.
std::atomic_bool vaultMigrationScheduled{false};

// A random identity made while the keychain could not be read is kept nowhere but here: the
// keychain may hold the real one, and a stored replacement would later be copied over it. It
// serves the rest of the process; the next process asks the keychain again. Guarded by
// unstoredResolutionMutex().
std::optional<InstallationIdentityResolution> &unstoredResolution()
{
    static std::optional<InstallationIdentityResolution> resolution;
    return resolution;
}

QMutex &unstoredResolutionMutex()
{
    static QMutex mutex;
    return mutex;
}

// Guarded by machineIdFilesMutex().
QStringList &machineIdFiles()
{
    static QStringList files;
    return files;
}

QMutex &machineIdFilesMutex()
{
    static QMutex mutex;
    return mutex;
}

QStringList currentMachineIdFiles()
{
    const QMutexLocker locker(&machineIdFilesMutex());
    if (!machineIdFiles().isEmpty())
        return machineIdFiles();
    return {QStringLiteral("/etc/machine-id"), QStringLiteral("/var/lib/dbus/machine-id")};
}

// A stored identity in its one written form; a text that is no UUID, or the all-zero UUID,
// counts as absent.
QString canonicalUuid(const QString &text)
{
    const QUuid uuid = QUuid::fromString(text.trimmed());
    return uuid.isNull() ? QString() : uuid.toString(QUuid::WithoutBraces);
}

QString normalizedAnchorValue(const QString &value)
{
    static const QRegularExpression separators(QStringLiteral("[^a-z0-9]+"));
    return value.trimmed().toLower().remove(separators);
}

QByteArray derivationMessage(const char *label, const HardwareIdentityAnchor &anchor)
{
    QByteArray message(label);
    message.append('\0');
    message.append(anchor.source.trimmed().toLower().toUtf8());
    message.append('\0');
    message.append(normalizedAnchorValue(anchor.value).toUtf8());
    return message;
}

QString hardwareBindingFor(const HardwareIdentityAnchor &anchor)
{
    if (!InstallationIdentity::isUsableAnchor(anchor.value))
        return {};
    const QByteArray digest =
        QCryptographicHash::hash(derivationMessage(BindingLabel, anchor), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.toHex());
}

void logResolution(const InstallationIdentityResolution &resolution)
{
    const bool fallback = !resolution.fallbackReason.isEmpty();
    DiagnosticLogger::log(
        LogCategory, fallback ? QStringLiteral("warning") : QStringLiteral("info"),
        fallback ? QStringLiteral("device_identity_fallback") : QStringLiteral("device_identity_resolved"),
        {{QStringLiteral("source"), resolution.source},
         {QStringLiteral("migration"), resolution.migration},
         {QStringLiteral("hardware_binding_match"), resolution.hardwareBindingMatch},
         {QStringLiteral("vault_persisted"), resolution.vaultPersisted},
         {QStringLiteral("fallback_reason"), resolution.fallbackReason},
         {QStringLiteral("identity_fp"), DiagnosticLogger::fingerprint(resolution.identity)}},
        false);
}

// Writes the identity (and the binding, when there is one) to the keychain; true when every
// attempted write succeeded.
bool writeToVault(CredentialStore &store, const QString &identity, const QString &binding)
{
    bool persisted = store.write(IdentityItem, identity);
    if (!binding.isEmpty())
        persisted = store.write(BindingItem, binding) && persisted;
    return persisted;
}

// Runs on the copy's own thread, with its own store and settings objects.
void copyToVault(const QString &identity, const QString &binding)
{
    bool persisted = false;
    {
        const auto store = CredentialStore::createNative();
        persisted = writeToVault(*store, identity, binding);
    }
    const auto settings = quorin::PreferencesStore::open();
    settings->setValue(VaultMigratedSetting, persisted);
    if (!binding.isEmpty())
        settings->setValue(BindingSetting, binding);
    settings->sync();

    DiagnosticLogger::log(LogCategory, persisted ? QStringLiteral("info") : QStringLiteral("warning"),
                          persisted ? QStringLiteral("device_identity_migrated")
                                    : QStringLiteral("device_identity_fallback"),
                          {{QStringLiteral("source"), QStringLiteral("settings-mirror")},
                           {QStringLiteral("migration"), QStringLiteral("asynchronous-vault-write")},
                           {QStringLiteral("vault_persisted"), persisted},
                           {QStringLiteral("fallback_reason"),
                            persisted ? QString() : QStringLiteral("credential-vault-unavailable")},
                           {QStringLiteral("identity_fp"), DiagnosticLogger::fingerprint(identity)}},
                          false);
}

void scheduleVaultMigration(const QString &identity, const QString &binding)
{
    QThread *thread = QThread::create(copyToVault, identity, binding);
    QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(); // inherits the calling thread's priority
}

// An item of the keychain; a failed read marks the keychain unreadable, which is not "absent".
QString readVaultItem(CredentialStore &store, const QString &key, bool &unreadable)
{
    const QString value = store.read(key);
    const QString failure = store.errorString();
    if (!failure.isEmpty()) {
        unreadable = true;
        qWarning().noquote() << "Could not read the installation identity from the keychain:" << failure;
    }
    return value;
}

// Resolves against the keychain and the machine, stores the outcome and logs it. Within one
// process an identity that could not be stored is resolved only once.
InstallationIdentityResolution resolveAndStore(QSettings &settings)
{
    const QMutexLocker locker(&unstoredResolutionMutex());
    if (const auto &unstored = unstoredResolution()) {
        logResolution(*unstored);
        return *unstored;
    }
    InstallationIdentityResolution resolution;
    {
        const auto store = CredentialStore::createNative();
        resolution =
            InstallationIdentity::resolve(settings, store.get(), InstallationIdentity::platformAnchor());
    }
    if (canonicalUuid(settings.value(IdentitySetting).toString()).isEmpty())
        unstoredResolution() = resolution;
    logResolution(resolution);
    return resolution;
}

} // namespace

QString InstallationIdentity::id()
{
    const auto settings = quorin::PreferencesStore::open();
    const QString settingsId = canonicalUuid(settings->value(IdentitySetting).toString());
    if (settingsId.isEmpty())
        return resolveAndStore(*settings).identity;

    const QString binding = hardwareBindingFor(platformAnchor());
    const bool migrated = settings->value(VaultMigratedSetting, false).toBool();
    InstallationIdentityResolution mirror;
    mirror.identity = settingsId;
    mirror.source = QStringLiteral("settings-mirror");
    mirror.migration =
        migrated ? QStringLiteral("vault-migration-complete") : QStringLiteral("vault-migration-scheduled");
    mirror.hardwareBindingMatch = !binding.isEmpty() && binding == settings->value(BindingSetting).toString();
    mirror.vaultPersisted = migrated;
    logResolution(mirror);

    if (!migrated && !vaultMigrationScheduled.exchange(true))
        scheduleVaultMigration(settingsId, binding);
    return settingsId;
}

bool InstallationIdentity::isFirstInstallation()
{
    const auto settings = quorin::PreferencesStore::open();
    if (!canonicalUuid(settings->value(IdentitySetting).toString()).isEmpty())
        return false;
    const QString migration = resolveAndStore(*settings).migration;
    return migration == QLatin1String("hardware-derived") || migration == QLatin1String("fresh-random");
}

InstallationIdentityResolution InstallationIdentity::resolve(QSettings &settings, CredentialStore *store,
                                                             const HardwareIdentityAnchor &anchor)
{
    const QString binding = hardwareBindingFor(anchor);
    const QString settingsId = canonicalUuid(settings.value(IdentitySetting).toString());
    bool vaultUnreadable = false;
    QString vaultId;
    QString storedBinding;
    if (store) {
        vaultId = canonicalUuid(readVaultItem(*store, IdentityItem, vaultUnreadable));
        storedBinding = readVaultItem(*store, BindingItem, vaultUnreadable);
    }
    if (storedBinding.isEmpty())
        storedBinding = settings.value(BindingSetting).toString();

    InstallationIdentityResolution resolution;
    if (!settingsId.isEmpty()) {
        resolution.identity = settingsId;
        resolution.source = QStringLiteral("existing-settings");
        resolution.migration =
            vaultId.isEmpty() ? QStringLiteral("settings-to-vault") : QStringLiteral("settings-preserved");
    } else if (!vaultId.isEmpty()) {
        resolution.identity = vaultId;
        resolution.source = QStringLiteral("credential-vault");
        resolution.migration = QStringLiteral("vault-to-settings");
    } else if (!binding.isEmpty()) {
        resolution.identity = deriveFromAnchor(anchor);
        resolution.source = anchor.source;
        resolution.migration = QStringLiteral("hardware-derived");
    } else {
        resolution.identity = QUuid::createUuid().toString(QUuid::WithoutBraces);
        resolution.source = QStringLiteral("random-fallback");
        resolution.migration = QStringLiteral("fresh-random");
        resolution.fallbackReason = QStringLiteral("hardware-anchor-unavailable");
    }
    resolution.hardwareBindingMatch = !binding.isEmpty() && binding == storedBinding;

    if (vaultUnreadable) {
        // The keychain may hold the identity this one replaces: nothing is written to it. A random
        // identity is not stored at all, or it would later be copied over the keychain's; one
        // derived from the machine is what this machine derives every time, and is stored.
        resolution.fallbackReason = QStringLiteral("credential-vault-unavailable");
        if (resolution.source == QLatin1String("random-fallback"))
            return resolution;
    }

    settings.setValue(IdentitySetting, resolution.identity);
    if (!binding.isEmpty())
        settings.setValue(BindingSetting, binding);
    settings.sync();

    if (store) {
        resolution.vaultPersisted = !vaultUnreadable && writeToVault(*store, resolution.identity, binding);
        settings.setValue(VaultMigratedSetting, resolution.vaultPersisted);
        settings.sync();
        if (!resolution.vaultPersisted && resolution.fallbackReason.isEmpty())
            resolution.fallbackReason = QStringLiteral("credential-vault-unavailable");
    }
    return resolution;
}

HardwareIdentityAnchor InstallationIdentity::platformAnchor()
{
    for (const QString &path : currentMachineIdFiles()) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString value = QString::fromUtf8(file.read(MachineIdReadLimit)).trimmed();
        if (isUsableAnchor(value))
            return {value, MachineIdSource};
    }
    return {QString(), UnavailableSource};
}

QString InstallationIdentity::deriveFromAnchor(const HardwareIdentityAnchor &anchor)
{
    if (!isUsableAnchor(anchor.value))
        return {};
    QByteArray bytes =
        QCryptographicHash::hash(derivationMessage(IdentityLabel, anchor), QCryptographicHash::Sha256)
            .left(16);
    bytes[6] = char(0x50 | (quint8(bytes[6]) & 0x0F)); // version 5
    bytes[8] = char(0x80 | (quint8(bytes[8]) & 0x3F)); // RFC 4122 variant
    return QUuid::fromRfc4122(bytes).toString(QUuid::WithoutBraces);
}

bool InstallationIdentity::isUsableAnchor(const QString &value)
{
    const QString normalized = normalizedAnchorValue(value);
    if (normalized.size() < MinimumAnchorLength)
        return false;
    static const QRegularExpression filler(QStringLiteral("^(0+|f+)$"));
    if (filler.match(normalized).hasMatch())
        return false;
    for (const char *placeholder : {"tobefilledbyoem", "defaultstring", "systemserialnumber", "notapplicable",
                                    "unknown", "placeholder"}) {
        if (normalized.contains(QLatin1String(placeholder)))
            return false;
    }
    return true;
}

void InstallationIdentity::setMachineIdFilesForTesting(const QStringList &paths)
{
    const QMutexLocker locker(&machineIdFilesMutex());
    machineIdFiles() = paths;
}
