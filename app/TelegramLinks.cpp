#include "app/TelegramLinks.h"

#include <QUrlQuery>

namespace quorin {
namespace {

const QString kDirect = QStringLiteral("direct");

QString supportPath()
{
    return QLatin1Char('/') + QLatin1String(TelegramLinks::kSupportHandle);
}

bool isTelegramLink(const QUrl &url)
{
    const QString host = url.host(QUrl::FullyDecoded).toLower();
    return url.isValid() && url.scheme() == QLatin1String("https") &&
           (host == QLatin1String(TelegramLinks::kShortHost) ||
            host == QLatin1String(TelegramLinks::kLongHost)) &&
           !url.path(QUrl::FullyDecoded).isEmpty() && url.userInfo().isEmpty();
}

} // namespace

QString TelegramLinks::defaultSupportUrl()
{
    return QStringLiteral("https://") + QLatin1String(kShortHost) + supportPath() + QLatin1Char('?') +
           kDirect;
}

QString TelegramLinks::normalizedSupportUrl(const QString &text)
{
    const QUrl url(text, QUrl::TolerantMode);
    if (!isTelegramLink(url))
        return {};
    if (url.path(QUrl::FullyDecoded).compare(supportPath(), Qt::CaseInsensitive) != 0)
        return text;
    QUrl normalized = url;
    // A bare item: QUrlQuery would write "direct=".
    if (!QUrlQuery(url).hasQueryItem(kDirect)) {
        const QString query = url.query(QUrl::FullyEncoded);
        normalized.setQuery(query.isEmpty() ? kDirect : query + QLatin1Char('&') + kDirect);
    }
    return normalized.toString(QUrl::FullyEncoded);
}

QUrl TelegramLinks::botLink(const QString &telegramUserId)
{
    QUrl link(QStringLiteral("https://") + QLatin1String(kShortHost) + QLatin1Char('/') +
              QLatin1String(kBotHandle));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("start"), telegramUserId);
    link.setQuery(query);
    return link;
}

} // namespace quorin
