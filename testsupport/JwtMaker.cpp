#include "testsupport/JwtMaker.h"

#include <QDateTime>
#include <QJsonDocument>

namespace quorin::test {

QByteArray JwtMaker::base64Url(const QByteArray &bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray JwtMaker::make(const QJsonObject &claims)
{
    const QJsonObject header{{QStringLiteral("alg"), QStringLiteral("none")},
                             {QStringLiteral("typ"), QStringLiteral("JWT")}};
    return base64Url(QJsonDocument(header).toJson(QJsonDocument::Compact)) + '.' +
           base64Url(QJsonDocument(claims).toJson(QJsonDocument::Compact)) + '.' + base64Url("unsigned");
}

QByteArray JwtMaker::expiringIn(qint64 seconds, const QString &subject)
{
    const qint64 expiry = QDateTime::currentSecsSinceEpoch() + seconds;
    return make({{QStringLiteral("sub"), subject}, {QStringLiteral("exp"), expiry}});
}

} // namespace quorin::test
