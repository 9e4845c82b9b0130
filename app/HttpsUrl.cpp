#include "app/HttpsUrl.h"

namespace quorin {

bool HttpsUrl::isAbsoluteWithHost(const QUrl &url)
{
    return url.isValid() && url.scheme().compare(QLatin1String("https"), Qt::CaseInsensitive) == 0 &&
           !url.host(QUrl::FullyDecoded).isEmpty();
}

} // namespace quorin
