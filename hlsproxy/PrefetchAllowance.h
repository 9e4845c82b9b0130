#pragma once

#include "hlsproxy/TokenInfo.h"

#include <QMap>
#include <QtGlobal>

namespace quorin {

// How many of the segments after the one just delivered a rendition may prefetch: those that
// start inside the normal window go into the allowance, the rest up to the horizon into the
// extra allowance a healthy network releases later. Segments with a byte range count toward
// neither; they are never prefetched.
struct PrefetchAllowance
{
    int allowance = 0;
    int extraAllowance = 0;

    // segments: a rendition's remembered segments by sequence number.
    [[nodiscard]] static PrefetchAllowance count(const QMap<quint64, TokenInfo> &segments,
                                                 quint64 afterSequence, qint64 normalWindowMs,
                                                 qint64 horizonMs);

    friend bool operator==(const PrefetchAllowance &, const PrefetchAllowance &) = default;
};

} // namespace quorin
