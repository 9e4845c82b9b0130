#include "net/VaultStartHook.h"

#include <QMutex>
#include <QMutexLocker>

namespace quorin {
namespace {

QMutex &hookMutex()
{
    static QMutex mutex;
    return mutex;
}

// Guarded by hookMutex().
VaultStartHook::Start &hook()
{
    static VaultStartHook::Start start;
    return start;
}

} // namespace

void VaultStartHook::install(Start start)
{
    const QMutexLocker locker(&hookMutex());
    hook() = std::move(start);
}

VaultStartHook::Start VaultStartHook::installed()
{
    const QMutexLocker locker(&hookMutex());
    return hook();
}

} // namespace quorin
