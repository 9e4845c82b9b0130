#include "net/VaultStartHook.h"

#include "net/GuardedValue.h"

namespace quorin {
namespace {

GuardedValue<VaultStartHook::Start> &hook()
{
    static GuardedValue<VaultStartHook::Start> start;
    return start;
}

} // namespace

void VaultStartHook::install(Start start)
{
    hook().set(std::move(start));
}

VaultStartHook::Start VaultStartHook::installed()
{
    return hook().get();
}

} // namespace quorin
