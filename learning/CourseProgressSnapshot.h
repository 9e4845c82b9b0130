#pragma once

#include <QVariantList>

// The rules of a course's progress: which resources a course holds and which of them the server
// reported complete, as the course page last loaded them, with the student's own marks taking
// precedence. Pure functions without state.
class CourseProgressSnapshot
{
public:
    // The snapshot entries {"id", "completed"} made from a list of maps carrying the resource id
    // under "id" or "resourceId" and its completion under "completed" or "isCompleted": trimmed,
    // without empty ids, each id once (the first occurrence wins), in the order given.
    [[nodiscard]] static QVariantList normalize(const QVariantList &items);

    // The fraction of the snapshot's resources that are completed, where a recent-item record
    // holding "completed" overrides the snapshot's flag; the fallback, clamped to 0 to 1, when the
    // snapshot holds no resource.
    [[nodiscard]] static double calculate(const QVariantList &snapshotItems,
                                          const QVariantList &activityItems, double fallback);

    // The same for entries already in normalised form, as the learning progress store keeps them,
    // without normalising them again on every read.
    [[nodiscard]] static double calculateNormalized(const QVariantList &entries,
                                                    const QVariantList &activityItems, double fallback);
};
