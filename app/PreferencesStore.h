#pragma once

#include <QSettings>
#include <memory>

namespace quorin {

// The settings store of organisation "quorin", application "desktop": the preferences and the
// keys every subsystem keeps for itself. Opened by these names, never through the application's
// defaults, which are keyed by the organisation domain and are a separate store on some
// platforms. The file is owner-only (0600) in an owner-only folder (0700) from before its first
// write. A store object belongs to the thread that opened it.
class PreferencesStore
{
public:
    [[nodiscard]] static std::unique_ptr<QSettings> open();
};

} // namespace quorin
