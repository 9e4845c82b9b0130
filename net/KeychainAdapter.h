#pragma once

#include "net/KeychainResult.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace quorin::internal {

// The four platform calls behind the keychain credential store, one item per service and
// account. An adapter is used by one thread at a time.
class KeychainAdapter
{
public:
    using Factory = std::function<std::unique_ptr<KeychainAdapter>()>;

    virtual ~KeychainAdapter();

    [[nodiscard]] virtual KeychainResult copyItem(const QString &service, const QString &account) = 0;
    [[nodiscard]] virtual KeychainResult updateItem(const QString &service, const QString &account,
                                                    const QByteArray &data) = 0;
    [[nodiscard]] virtual KeychainResult addItem(const QString &service, const QString &account,
                                                 const QByteArray &data) = 0;
    [[nodiscard]] virtual KeychainResult deleteItem(const QString &service, const QString &account) = 0;

    // Tests put their own keychain behind CredentialStore::createNative(); an empty factory
    // restores the platform's. Production never installs one. Callable from any thread.
    static void installTestFactory(Factory factory);
    // An adapter from the installed test factory, or null when none is installed.
    [[nodiscard]] static std::unique_ptr<KeychainAdapter> createFromTestFactory();
};

} // namespace quorin::internal
