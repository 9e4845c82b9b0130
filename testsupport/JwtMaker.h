#pragma once

#include <QByteArray>
#include <QJsonObject>

namespace quorin::test {

// Builds unsigned JWT-shaped tokens: base64url(header).base64url(claims).base64url("unsigned").
// The client never verifies signatures; it only reads the claims.
class JwtMaker
{
public:
    [[nodiscard]] static QByteArray make(const QJsonObject &claims);
    // A token for the subject that expires the given number of seconds from now.
    [[nodiscard]] static QByteArray expiringIn(qint64 seconds,
                                               const QString &subject = QStringLiteral("user-1"));
    [[nodiscard]] static QByteArray base64Url(const QByteArray &bytes);
};

} // namespace quorin::test
