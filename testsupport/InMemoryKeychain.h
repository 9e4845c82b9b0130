#pragma once

#include "net/CredentialStore.h"
#include "net/KeychainAdapter.h"

#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace quorin::test {

// A keychain held in memory, for tests of everything that keeps secrets. Every adapter and store
// made over one keychain sees the same items; the items are guarded by a mutex because some
// stores are used on threads of their own. Faults are injected per operation. installAsNative()
// makes CredentialStore::createNative() hand out stores over this keychain.
class InMemoryKeychain
{
public:
    enum class Operation { Copy, Update, Add, Delete };

    InMemoryKeychain();
    // Uninstalls the keychain when it is installed. Stores already handed out stay usable.
    ~InMemoryKeychain();
    InMemoryKeychain(const InMemoryKeychain &) = delete;
    InMemoryKeychain &operator=(const InMemoryKeychain &) = delete;

    [[nodiscard]] std::unique_ptr<quorin::internal::KeychainAdapter> createAdapter() const;
    [[nodiscard]] std::unique_ptr<CredentialStore> createStore() const;

    void installAsNative();
    void uninstall();

    // The operation fails with this text until clearFaults().
    void fail(Operation operation, const QString &message);
    // A copy fails as if the keychain returned something other than data: "-26275".
    void failCopyWithoutData();
    void clearFaults();
    // Updates and adds wait until releaseWrites(), so a test can act while another thread is
    // inside a write; heldWrites() counts the writes waiting now.
    void holdWrites();
    void releaseWrites();
    [[nodiscard]] int heldWrites() const;

    // Copies of this account wait inside the keychain, as behind a slow or prompting keychain,
    // until releaseCopies(); heldCopies() counts the copies waiting now.
    void holdCopies(const QString &account);
    void releaseCopies();
    [[nodiscard]] int heldCopies() const;

    // Items of the client's service, by account.
    [[nodiscard]] std::optional<QString> value(const QString &account) const;
    void setValue(const QString &account, const QString &value);
    [[nodiscard]] QStringList accounts() const;
    // Calls of an operation since the keychain was made or cleared, failed ones included.
    [[nodiscard]] int calls(Operation operation) const;
    // Drops every item, fault and call count, and lets held copies go.
    void clear();

private:
    struct State;
    class Adapter;

    std::shared_ptr<State> m_state;
    bool m_installed = false;
};

} // namespace quorin::test
