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
    QVariantList entries;
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
        const bool isCompleted =
            completed != map.constEnd() ? completed->toBool() : map.value(kIsCompleted).toBool();
        entries.append(QVariantMap{{kId, id}, {kCompleted, isCompleted}});
    }
    return entries;
}

double CourseProgressSnapshot::calculate(const QVariantList &snapshotItems, const QVariantList &activityItems,
                                         double fallback)
{
    return calculateNormalized(normalize(snapshotItems), activityItems, fallback);
}

double CourseProgressSnapshot::calculateNormalized(const QVariantList &entries,
                                                   const QVariantList &activityItems, double fallback)
{
    if (entries.isEmpty())
        return quorin::clampedFraction(fallback);
    const QHash<QString, bool> local = localCompletions(activityItems);
    qsizetype completedCount = 0;
    for (const QVariant &entry : entries) {
        const QVariantMap map = entry.toMap();
        const auto override = local.constFind(map.value(kId).toString());
        if (override != local.constEnd() ? *override : map.value(kCompleted).toBool())
            ++completedCount;
    }
    return double(completedCount) / double(entries.size());
}
