#pragma once

#include <QtGlobal>

// How far ahead the proxy prefetches segments, how long it waits before retrying a failed
// prefetch, and whether the resource cache may take more temporary data. Pure functions.
class HlsPrefetchPolicy
{
public:
    // What the resource cache passes to storageAllows: temporary copies take at most 1 GiB
    // together, and the volume keeps at least 1 GiB free.
    static constexpr qint64 TemporaryBudgetBytes = 1073741824;
    static constexpr qint64 MinimumFreeBytes = 1073741824;

    struct Budget
    {
        qint64 normalHeadroomMs = 0;
        qint64 targetHeadroomMs = 0;
        bool boosted = false;
    };

    HlsPrefetchPolicy() = delete;

    // The headroom doubles once more than two prefetches have shown that the network delivers at
    // least 35 % faster than the media plays, while nothing stalled and the cache has room.
    [[nodiscard]] static Budget budget(double playbackRate, int completedPrefetches, bool stalledRecently,
                                       qint64 deliveryBitsPerSecond, qint64 mediaBitsPerSecond,
                                       bool cacheHasRoom);
    [[nodiscard]] static int retryCooldownMs(int consecutiveFailures);
    // A negative incoming size counts as 0.
    [[nodiscard]] static bool storageAllows(qint64 bytesInUse, qint64 bytesAvailable, qint64 incomingBytes,
                                            qint64 budgetBytes, qint64 minimumFreeBytes);
};
