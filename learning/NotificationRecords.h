#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>
#include <QVariantMap>

namespace quorin {

// How the notification replies of the backend are read. Pure functions: no network, no state.
class NotificationRecords
{
public:
    // The notifications of a list reply: the array under "data", else under "notifications",
    // else a top-level array; anything else gives none.
    [[nodiscard]] static QJsonArray listFromReply(const QJsonDocument &reply);
    // One notification as the interface reads it: the server's object with every key kept, and,
    // when its "object" member is an object, "title", "body", "entityType", "entityId" and
    // "createdAt" taken from there (texts only, else empty) and "metadata" when that is an
    // object. A non-object element gives an empty record.
    [[nodiscard]] static QVariantMap recordFrom(const QJsonValue &notification);
    // The "count" of an unread-count reply as a 32-bit integer: 0 when missing, not a number,
    // fractional or out of range.
    [[nodiscard]] static int unreadCountFromReply(const QJsonDocument &reply);
    // "isRead" read with the usual variant conversion: missing and null are false, "false" and
    // "0" too.
    [[nodiscard]] static bool isRead(const QVariantMap &record);
};

} // namespace quorin
