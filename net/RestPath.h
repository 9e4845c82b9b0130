#pragma once

#include <QString>

namespace quorin {

// Puts caller-supplied text into a REST path. The REST client joins the API root and the path as
// plain text, so an id taken as it comes could add segments, a query or a fragment, or climb out
// of its collection, and the bearer-authorised request would reach another endpoint.
class RestPath
{
public:
    // The id as exactly one path segment: its UTF-8 bytes percent-encoded, all but A-Z a-z 0-9
    // "-" "." "_" "~". Empty for an id that cannot be one segment ("", "." and ".."); callers
    // send nothing then.
    [[nodiscard]] static QString segment(const QString &id);
};

} // namespace quorin
