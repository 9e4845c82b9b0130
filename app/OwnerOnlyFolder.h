#pragma once

#include <QString>

namespace quorin {

// Private folders of the client (the diagnostics log, the telemetry queue) are created so that
// only the owner may list, read or enter them.
class OwnerOnlyFolder
{
public:
    // Creates the folder with owner-only permissions (0700) when it is missing, and its missing
    // parents with the default ones. A folder that exists keeps its permissions. True when the
    // folder exists afterwards.
    static bool ensure(const QString &path);
};

} // namespace quorin
