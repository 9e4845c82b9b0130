#pragma once

#include <QUrl>

namespace quorin {

// Which URLs a media or document request may reach, and which redirects it may follow. Shared by
// the media request rules and the document fetch so both refuse the same destinations. Pure
// functions of their arguments; safe from any thread.
class MediaUrlRules
{
public:
    // An https URL with a host, no user information, and no loopback, private, link-local or
    // unspecified address literal (IPv4-mapped IPv6 forms included). Host names are not resolved.
    [[nodiscard]] static bool validHttpsDestination(const QUrl &url);
    // Whether a redirect to target (possibly relative) may be followed from requested. A request
    // that carries a bearer may only stay on its own origin.
    [[nodiscard]] static bool allowRedirect(const QUrl &requested, const QUrl &target, bool carriesBearer);
    // The target is a valid destination with the scheme, host and port of requested (no explicit
    // port counts as 443).
    [[nodiscard]] static bool mayForwardBearer(const QUrl &requested, const QUrl &target);
    // Both absolute URLs name the same scheme, host and port (no explicit port counts as the
    // scheme's own), and the target carries no user information.
    [[nodiscard]] static bool sameOrigin(const QUrl &origin, const QUrl &target);
    // "scheme://host:port" of an absolute URL, lower-case, with the port always written.
    [[nodiscard]] static QString origin(const QUrl &url);
};

} // namespace quorin
