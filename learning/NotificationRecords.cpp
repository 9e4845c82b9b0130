#include "learning/NotificationRecords.h"

#include <QJsonObject>

namespace quorin {

QJsonArray NotificationRecords::listFromReply(const QJsonDocument &reply)
{
    if (reply.isArray())
        return reply.array();
    const QJsonObject object = reply.object();
    for (const QString &key : {QStringLiteral("data"), QStringLiteral("notifications")}) {
        const QJsonValue value = object.value(key);
        if (value.isArray())
            return value.toArray();
    }
    return {};
}

QVariantMap NotificationRecords::recordFrom(const QJsonValue &notification)
{
    const QJsonObject server = notification.toObject();
    QVariantMap record = server.toVariantMap();
    const QJsonValue inner = server.value(QStringLiteral("object"));
    if (!inner.isObject())
        return record;
    const QJsonObject object = inner.toObject();
    for (const QString &key : {QStringLiteral("title"), QStringLiteral("body"), QStringLiteral("entityType"),
                               QStringLiteral("entityId"), QStringLiteral("createdAt")}) {
        // toString() gives empty text for every non-text value, a numeric id included.
        record.insert(key, object.value(key).toString());
    }
    const QJsonValue metadata = object.value(QStringLiteral("metadata"));
    if (metadata.isObject())
        record.insert(QStringLiteral("metadata"), metadata.toObject().toVariantMap());
    return record;
}

int NotificationRecords::unreadCountFromReply(const QJsonDocument &reply)
{
    // toInt gives the default for a fractional or out-of-range number and for any non-number.
    return reply.object().value(QStringLiteral("count")).toInt(0);
}

bool NotificationRecords::isRead(const QVariantMap &record)
{
    return record.value(QStringLiteral("isRead")).toBool();
}

} // namespace quorin
