#pragma once

#include <QString>
#include <memory>

class QSettings;

// The client's small secrets (tokens, installation identity, device keys), kept in the
// operating system's secret store rather than the settings store. An instance is used by one
// thread at a time; every user makes its own with createNative().
class CredentialStore
{
public:
    virtual ~CredentialStore();

    // The stored value; empty when the item is absent or the platform call failed, and then
    // errorString() tells the two apart.
    [[nodiscard]] virtual QString read(const QString &key) = 0;
    // Stores the value, replacing an existing one in place.
    [[nodiscard]] virtual bool write(const QString &key, const QString &value) = 0;
    // True when the item was deleted or did not exist.
    virtual bool remove(const QString &key) = 0;
    // The failure text of the most recent operation; empty when it did not fail.
    [[nodiscard]] virtual QString errorString() const = 0;

    // A new store over the platform keychain, owned by the caller. Never fails.
    [[nodiscard]] static std::unique_ptr<CredentialStore> createNative();

    // Hands out the two tokens from the store, moving copies that earlier versions kept in the
    // settings store into it. A token the store refuses stays in the settings store and is handed
    // out empty, so the client starts signed out and tries the move again at the next start.
    static void loadAndMigrate(CredentialStore &store, QSettings &settings, QString &accessToken,
                               QString &refreshToken);
};
