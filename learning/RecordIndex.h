#pragma once

#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace quorin {

// The position of the first record whose "r_id", read as text, equals the id exactly, or -1.
// A record without "r_id" (or an element that is no record) matches the empty id.
[[nodiscard]] inline qsizetype indexOfResource(const QVariantList &records, const QString &resourceId)
{
    static const QString key = QStringLiteral("r_id");
    for (qsizetype index = 0; index < records.size(); ++index) {
        if (records.at(index).toMap().value(key).toString() == resourceId)
            return index;
    }
    return -1;
}

} // namespace quorin
