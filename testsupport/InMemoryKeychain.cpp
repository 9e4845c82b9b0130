#include "testsupport/InMemoryKeychain.h"

#include "net/KeychainCredentialStore.h"

#include <QHash>
#include <QPair>
#include <condition_variable>
#include <mutex>

using quorin::internal::KeychainAdapter;
using quorin::internal::KeychainCredentialStore;
using quorin::internal::KeychainResult;

namespace quorin::test {

struct InMemoryKeychain::State
{
    // Guards everything below. Standard rather than Qt primitives, so that ThreadSanitizer sees
    // the waits of held operations.
    mutable std::mutex mutex;
    QHash<QPair<QString, QString>, QByteArray> items; // (service, account) -> data
    QHash<Operation, KeychainResult> faults;
    QHash<Operation, int> calls;
    bool writesHeld = false;
    int heldWrites = 0;
    std::optional<QString> copiesHeldFor; // the account whose copies wait
    int heldCopies = 0;
    std::condition_variable released;

    using Lock = std::unique_lock<std::mutex>;

    // Waits while held() is true, counted in waiting. The lock holds the mutex; the wait lets it
    // go meanwhile.
    template<typename Held>
    void waitWhile(Lock &lock, Held held, int &waiting)
    {
        ++waiting;
        released.wait(lock, [&held] { return !held(); });
        --waiting;
    }

    void waitUntilWritesMayGo(Lock &lock)
    {
        waitWhile(
            lock, [this] { return writesHeld; }, heldWrites);
    }

    void waitUntilCopyMayGo(Lock &lock, const QString &account)
    {
        waitWhile(
            lock, [this, &account] { return copiesHeldFor == account; }, heldCopies);
    }

    // Counts the call and gives the injected fault, if any. Call with the mutex held.
    std::optional<KeychainResult> enter(Operation operation)
    {
        ++calls[operation];
        const auto fault = faults.constFind(operation);
        if (fault == faults.constEnd())
            return std::nullopt;
        return *fault;
    }
};

class InMemoryKeychain::Adapter : public KeychainAdapter
{
public:
    explicit Adapter(std::shared_ptr<State> state)
        : m_state(std::move(state))
    {
    }

    KeychainResult copyItem(const QString &service, const QString &account) override
    {
        State::Lock lock(m_state->mutex);
        m_state->waitUntilCopyMayGo(lock, account);
        if (auto fault = m_state->enter(Operation::Copy))
            return *fault;
        const auto item = m_state->items.constFind({service, account});
        return item == m_state->items.constEnd() ? KeychainResult::notFound()
                                                 : KeychainResult::success(*item);
    }

    KeychainResult updateItem(const QString &service, const QString &account, const QByteArray &data) override
    {
        State::Lock lock(m_state->mutex);
        m_state->waitUntilWritesMayGo(lock);
        if (auto fault = m_state->enter(Operation::Update))
            return *fault;
        const auto item = m_state->items.find({service, account});
        if (item == m_state->items.end())
            return KeychainResult::notFound();
        *item = data;
        return KeychainResult::success();
    }

    KeychainResult addItem(const QString &service, const QString &account, const QByteArray &data) override
    {
        State::Lock lock(m_state->mutex);
        m_state->waitUntilWritesMayGo(lock);
        if (auto fault = m_state->enter(Operation::Add))
            return *fault;
        // As on a real keychain, adding an item that exists is a duplicate, not a replacement.
        if (m_state->items.contains({service, account}))
            return KeychainResult::failure(QStringLiteral("The item already exists"));
        m_state->items.insert({service, account}, data);
        return KeychainResult::success();
    }

    KeychainResult deleteItem(const QString &service, const QString &account) override
    {
        const std::lock_guard locker(m_state->mutex);
        if (auto fault = m_state->enter(Operation::Delete))
            return *fault;
        return m_state->items.remove({service, account}) ? KeychainResult::success()
                                                         : KeychainResult::notFound();
    }

private:
    std::shared_ptr<State> m_state;
};

InMemoryKeychain::InMemoryKeychain()
    : m_state(std::make_shared<State>())
{
}

InMemoryKeychain::~InMemoryKeychain()
{
    if (m_installed)
        uninstall();
}

std::unique_ptr<KeychainAdapter> InMemoryKeychain::createAdapter() const
{
    return std::make_unique<Adapter>(m_state);
}

std::unique_ptr<CredentialStore> InMemoryKeychain::createStore() const
{
    return std::make_unique<KeychainCredentialStore>(createAdapter());
}

void InMemoryKeychain::installAsNative()
{
    // The factory holds the state, not this object, so a store made on another thread while the
    // keychain is being uninstalled still works.
    KeychainAdapter::installTestFactory(
        [state = m_state]() -> std::unique_ptr<KeychainAdapter> { return std::make_unique<Adapter>(state); });
    m_installed = true;
}

void InMemoryKeychain::uninstall()
{
    KeychainAdapter::installTestFactory({});
    m_installed = false;
}

void InMemoryKeychain::fail(Operation operation, const QString &message)
{
    const std::lock_guard locker(m_state->mutex);
    m_state->faults.insert(operation, KeychainResult::failure(message));
}

void InMemoryKeychain::failCopyWithoutData()
{
    fail(Operation::Copy, QStringLiteral("-26275"));
}

void InMemoryKeychain::clearFaults()
{
    const std::lock_guard locker(m_state->mutex);
    m_state->faults.clear();
}

void InMemoryKeychain::holdWrites()
{
    const std::lock_guard locker(m_state->mutex);
    m_state->writesHeld = true;
}

void InMemoryKeychain::releaseWrites()
{
    const std::lock_guard locker(m_state->mutex);
    m_state->writesHeld = false;
    m_state->released.notify_all();
}

int InMemoryKeychain::heldWrites() const
{
    const std::lock_guard locker(m_state->mutex);
    return m_state->heldWrites;
}

void InMemoryKeychain::holdCopies(const QString &account)
{
    const std::lock_guard locker(m_state->mutex);
    m_state->copiesHeldFor = account;
}

void InMemoryKeychain::releaseCopies()
{
    const std::lock_guard locker(m_state->mutex);
    m_state->copiesHeldFor.reset();
    m_state->released.notify_all();
}

int InMemoryKeychain::heldCopies() const
{
    const std::lock_guard locker(m_state->mutex);
    return m_state->heldCopies;
}

std::optional<QString> InMemoryKeychain::value(const QString &account) const
{
    const std::lock_guard locker(m_state->mutex);
    const auto item = m_state->items.constFind({KeychainCredentialStore::serviceName(), account});
    if (item == m_state->items.constEnd())
        return std::nullopt;
    return QString::fromUtf8(*item);
}

void InMemoryKeychain::setValue(const QString &account, const QString &value)
{
    const std::lock_guard locker(m_state->mutex);
    m_state->items.insert({KeychainCredentialStore::serviceName(), account}, value.toUtf8());
}

QStringList InMemoryKeychain::accounts() const
{
    const std::lock_guard locker(m_state->mutex);
    QStringList accounts;
    for (auto item = m_state->items.constBegin(); item != m_state->items.constEnd(); ++item) {
        if (item.key().first == KeychainCredentialStore::serviceName())
            accounts.append(item.key().second);
    }
    accounts.sort();
    return accounts;
}

int InMemoryKeychain::calls(Operation operation) const
{
    const std::lock_guard locker(m_state->mutex);
    return m_state->calls.value(operation);
}

void InMemoryKeychain::clear()
{
    const std::lock_guard locker(m_state->mutex);
    m_state->items.clear();
    m_state->faults.clear();
    m_state->calls.clear();
    m_state->copiesHeldFor.reset();
    m_state->released.notify_all();
}

} // namespace quorin::test
