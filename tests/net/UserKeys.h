#pragma once

#include <QCryptographicHash>
#include <QString>

namespace quorin::test {

// The names under which a user's data is stored, worked out here independently of the code under
// test: every name carries the lower-case hex SHA-256 of the user id, never the id.
inline QString userDigest(const QString &userId)
{
    return QString::fromLatin1(QCryptographicHash::hash(userId.toUtf8(), QCryptographicHash::Sha256).toHex());
}

inline QString profileCacheKey(const QString &userId, const QString &field)
{
    return QStringLiteral("profileCache/") + userDigest(userId) + QLatin1Char('/') + field;
}

inline QString watermarkPhoneItem(const QString &userId)
{
    return QStringLiteral("watermarkPhone/") + userDigest(userId);
}

} // namespace quorin::test
