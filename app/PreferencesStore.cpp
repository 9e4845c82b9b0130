#include "app/PreferencesStore.h"

namespace quorin {

std::unique_ptr<QSettings> PreferencesStore::open()
{
    return std::make_unique<QSettings>(QStringLiteral("quorin"), QStringLiteral("desktop"));
}

} // namespace quorin
