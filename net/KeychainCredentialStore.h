#pragma once

#include "net/CredentialStore.h"
#include "net/KeychainAdapter.h"

#include <memory>

namespace quorin::internal {

// The credential store over a keychain: every value is one item under the service
// "quorin-desktop", the key being the item's account name and the value its UTF-8 bytes.
class KeychainCredentialStore : public CredentialStore
{
public:
    explicit KeychainCredentialStore(std::unique_ptr<KeychainAdapter> adapter);
    ~KeychainCredentialStore() override;

    [[nodiscard]] QString read(const QString &key) override;
    [[nodiscard]] bool write(const QString &key, const QString &value) override;
    bool remove(const QString &key) override;
    [[nodiscard]] QString errorString() const override { return lastError; }

    // The keychain service every item of the client is stored under.
    [[nodiscard]] static QString serviceName();

    // The platform's adapter (the Secret Service on Linux), or a test's when one is installed.
    [[nodiscard]] static std::unique_ptr<KeychainAdapter> createNativeAdapter();

private:
    const KeychainResult &remember(const KeychainResult &result);

    std::unique_ptr<KeychainAdapter> adapter;
    QString lastError;
};

} // namespace quorin::internal
