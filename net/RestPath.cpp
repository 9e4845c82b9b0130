#include "net/RestPath.h"

#include <QUrl>

namespace quorin {

QString RestPath::segment(const QString &id)
{
    // "." and ".." would be resolved away as dot segments before the request leaves.
    if (id.isEmpty() || id == QLatin1String(".") || id == QLatin1String(".."))
        return {};
    return QString::fromLatin1(QUrl::toPercentEncoding(id));
}

} // namespace quorin
