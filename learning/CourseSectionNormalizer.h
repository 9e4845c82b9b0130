#pragma once

#include <QVariantMap>

namespace quorin {

// Brings one section of a course's outline into the shape the course page reads: "content" and
// "children" always present as lists, and each content item with the flags "requireHeadphones",
// "isShareable" and, when the server reported progress, "isCompleted". Recurses through
// "children" only. Every other key passes as it came, JSON null included; nothing is removed,
// renamed, sorted or deduplicated. A pure function.
class CourseSectionNormalizer
{
public:
    [[nodiscard]] static QVariantMap normalize(const QVariantMap &section);

private:
    [[nodiscard]] static QVariantMap normalizeContentItem(const QVariantMap &item);
};

} // namespace quorin
