#include "hlsproxy/PrefetchAllowance.h"

#include <algorithm>

namespace quorin {

PrefetchAllowance PrefetchAllowance::count(const QMap<quint64, TokenInfo> &segments, quint64 afterSequence,
                                           qint64 normalWindowMs, qint64 horizonMs)
{
    PrefetchAllowance result;
    if (horizonMs < 1)
        return result;
    qint64 totalMs = 0;
    qint64 allowedMs = 0; // the total as it stood after the last segment put into the allowance
    for (auto segment = segments.upperBound(afterSequence); segment != segments.cend(); ++segment) {
        if (!segment->byteRange.isEmpty())
            continue;
        totalMs += std::max<qint64>(segment->durationMs, 1);
        if (allowedMs < normalWindowMs) {
            ++result.allowance;
            allowedMs = totalMs;
        } else {
            ++result.extraAllowance;
        }
        if (totalMs >= horizonMs)
            break;
    }
    return result;
}

} // namespace quorin
