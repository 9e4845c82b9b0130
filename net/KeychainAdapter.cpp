#include "net/KeychainAdapter.h"

#include <QMutex>
#include <QMutexLocker>

namespace quorin::internal {
namespace {

// Guarded by testFactoryMutex(): the identity's keychain copy asks for a store on its own thread.
QMutex &testFactoryMutex()
{
    static QMutex mutex;
    return mutex;
}

KeychainAdapter::Factory &testFactory()
{
    static KeychainAdapter::Factory factory;
    return factory;
}

} // namespace

KeychainAdapter::~KeychainAdapter() = default;

void KeychainAdapter::installTestFactory(Factory factory)
{
    const QMutexLocker locker(&testFactoryMutex());
    testFactory() = std::move(factory);
}

std::unique_ptr<KeychainAdapter> KeychainAdapter::createFromTestFactory()
{
    Factory factory;
    {
        const QMutexLocker locker(&testFactoryMutex());
        factory = testFactory();
    }
    return factory ? factory() : nullptr;
}

} // namespace quorin::internal
