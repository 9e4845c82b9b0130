#pragma once

#include <QString>
#include <QVariantList>
#include <QVariantMap>

namespace quorin {

// The position of the first record whose value under the key, read as text, equals the text
// exactly, or -1. A record without the key (or an element that is no record) matches the empty
// text.
[[nodiscard]] inline qsizetype indexOfRecord(const QVariantList &records, const QString &key,
                                             const QString &text)
{
    for (qsizetype index = 0; index < records.size(); ++index) {
        if (records.at(index).toMap().value(key).toString() == text)
            return index;
    }
    return -1;
}

// The position of the first record whose "r_id" equals the id exactly, or -1.
[[nodiscard]] inline qsizetype indexOfResource(const QVariantList &records, const QString &resourceId)
{
    static const QString key = QStringLiteral("r_id");
    return indexOfRecord(records, key, resourceId);
}

} // namespace quorin
