#pragma once

#include <QUrl>

namespace quorin {

// The first test every endpoint and media URL passes: the build's endpoints, the telemetry
// collector and the media destinations all refuse anything that is not an absolute https URL
// naming a host. Pure; safe from any thread.
class HttpsUrl
{
public:
    // Valid, with the scheme "https" (in any letter case) and a host that is not empty once fully
    // decoded. User information and address literals are the caller's to judge.
    [[nodiscard]] static bool isAbsoluteWithHost(const QUrl &url);
};

} // namespace quorin
