#include "learning/CourseProgressSnapshot.h"

#include "learning/ProgressFraction.h"

#include <QHash>
#include <QSet>
#include <QVariantMap>

namespace {

const QString kId = QStringLiteral("id");
const QString kResourceId = QStringLiteral("resourceId");
const QString kCompleted = QStringLiteral("completed");
const QString kIsCompleted = QStringLiteral("isCompleted");
const QString kRecordId = QStringLiteral("r_id");

QString trimmedText(const QVariantMap &map, const QString &key)
{
    return map.value(key).toString().trimmed();
}

// The completion each recent-item record states; a later record of the same id wins.
QHash<QString, bool> localCompletions(const QVariantList &activityItems)
{
    QHash<QString, bool> completions;
    completions.reserve(activityItems.size());
    for (const QVariant &item : activityItems) {
        const QVariantMap record = item.toMap();
        const auto completed = record.constFind(kCompleted);
        if (completed == record.constEnd())
            continue;
        const QString id = trimmedText(record, kRecordId);
        if (!id.isEmpty())
            completions.insert(id, completed->toBool());
    }
    return completions;
}

} // namespace

QVariantList CourseProgressSnapshot::normalize(const QVariantList &items)
{
    return toVariantList(normalizedEntries(items));
}

double CourseProgressSnapshot::calculate(const QVariantList &snapshotItems, const QVariantList &activityItems,
                                         double fallback)
{
    return calculate(normalizedEntries(snapshotItems), activityItems, fallback);
}

QList<CourseProgressSnapshot::Entry> CourseProgressSnapshot::normalizedEntries(const QVariantList &items)
{
    QList<Entry> entries;
    entries.reserve(items.size());
    QSet<QString> taken;
    for (const QVariant &item : items) {
        const QVariantMap map = item.toMap();
        QString id = trimmedText(map, kId);
        if (id.isEmpty())
            id = trimmedText(map, kResourceId);
        if (id.isEmpty() || taken.contains(id))
            continue;
        taken.insert(id);
        const auto completed = map.constFind(kCompleted);
        entries.append(
            {id, completed != map.constEnd() ? completed->toBool() : map.value(kIsCompleted).toBool()});
    }
    return entries;
}

double CourseProgressSnapshot::calculate(const QList<Entry> &entries, const QVariantList &activityItems,
                                         double fallback)
{
    if (entries.isEmpty())
        return quorin::clampedFraction(fallback);
    const QHash<QString, bool> local = localCompletions(activityItems);
    qsizetype completedCount = 0;
    for (const Entry &entry : entries) {
        const auto override = local.constFind(entry.id);
        if (override != local.constEnd() ? *override : entry.completed)
            ++completedCount;
    }
    return double(completedCount) / double(entries.size());
}

QVariantList CourseProgressSnapshot::toVariantList(const QList<Entry> &entries)
{
    QVariantList list;
    list.reserve(entries.size());
    for (const Entry &entry : entries)
        list.append(QVariantMap{{kId, entry.id}, {kCompleted, entry.completed}});
    return list;
}
