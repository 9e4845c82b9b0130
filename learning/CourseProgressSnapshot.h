#pragma once

#include <QList>
#include <QString>
#include <QVariantList>

// The rules of a course's progress: which resources a course holds and which of them the server
// reported complete, as the course page last loaded them, with the student's own marks taking
// precedence. Pure functions without state.
class CourseProgressSnapshot
{
public:
    // One resource of a snapshot: its trimmed, non-empty id and the completion reported with it.
    struct Entry
    {
        QString id;
        bool completed = false;

        friend bool operator==(const Entry &, const Entry &) = default;
    };

    // The snapshot entries {"id", "completed"} made from a list of maps carrying the resource id
    // under "id" or "resourceId" and its completion under "completed" or "isCompleted": trimmed,
    // without empty ids, each id once (the first occurrence wins), in the order given.
    [[nodiscard]] static QVariantList normalize(const QVariantList &items);

    // The fraction of the snapshot's resources that are completed, where a recent-item record
    // holding "completed" overrides the snapshot's flag; the fallback, clamped to 0 to 1, when the
    // snapshot holds no resource.
    [[nodiscard]] static double calculate(const QVariantList &snapshotItems,
                                          const QVariantList &activityItems, double fallback);

    // The same rules on entries held in typed form, so that a store keeping its snapshots
    // normalised does not normalise them again on every read.
    [[nodiscard]] static QList<Entry> normalizedEntries(const QVariantList &items);
    [[nodiscard]] static double calculate(const QList<Entry> &entries, const QVariantList &activityItems,
                                          double fallback);
    [[nodiscard]] static QVariantList toVariantList(const QList<Entry> &entries);
};
