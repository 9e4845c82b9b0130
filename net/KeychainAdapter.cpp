#include "net/KeychainAdapter.h"

#include "net/GuardedValue.h"

namespace quorin::internal {
namespace {

// The identity's keychain copy asks for a store on its own thread.
GuardedValue<KeychainAdapter::Factory> &testFactory()
{
    static GuardedValue<KeychainAdapter::Factory> factory;
    return factory;
}

} // namespace

KeychainAdapter::~KeychainAdapter() = default;

void KeychainAdapter::installTestFactory(Factory factory)
{
    testFactory().set(std::move(factory));
}

std::unique_ptr<KeychainAdapter> KeychainAdapter::createFromTestFactory()
{
    const Factory factory = testFactory().get();
    return factory ? factory() : nullptr;
}

} // namespace quorin::internal
