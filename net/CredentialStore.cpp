#include "net/CredentialStore.h"

#include "net/KeychainCredentialStore.h"

#include <QDebug>
#include <QSettings>

namespace {

QString loadAndMigrateToken(CredentialStore &store, QSettings &settings, const QString &key)
{
    const QString stored = store.read(key);
    if (!stored.isEmpty()) {
        settings.remove(key);
        return stored;
    }
    const QString legacy = settings.value(key).toString();
    if (legacy.isEmpty())
        return {};
    if (!store.write(key, legacy)) {
        qWarning() << "Secure credential migration failed for" << key << store.errorString();
        return {};
    }
    settings.remove(key);
    return legacy;
}

} // namespace

CredentialStore::~CredentialStore() = default;

std::unique_ptr<CredentialStore> CredentialStore::createNative()
{
    return std::make_unique<quorin::internal::KeychainCredentialStore>(
        quorin::internal::KeychainCredentialStore::createNativeAdapter());
}

void CredentialStore::loadAndMigrate(CredentialStore &store, QSettings &settings, QString &accessToken,
                                     QString &refreshToken)
{
    accessToken = loadAndMigrateToken(store, settings, QStringLiteral("accessToken"));
    refreshToken = loadAndMigrateToken(store, settings, QStringLiteral("refreshToken"));
}
