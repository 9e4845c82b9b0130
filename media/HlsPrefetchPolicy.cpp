#include "media/HlsPrefetchPolicy.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr double MinimumRate = 0.25;
constexpr double MaximumRate = 4.0;
constexpr double HealthyDeliveryFactor = 1.35;
constexpr double NormalHeadroomMs = 90000.0;
constexpr double BoostedHeadroomMs = 180000.0;
constexpr int BoostAfterCompletedPrefetches = 2;
constexpr int FirstCooldownMs = 250;
constexpr int MaximumCooldownMs = 5000;

[[nodiscard]] double boundedRate(double rate)
{
    if (std::isnan(rate))
        return MinimumRate;
    return std::clamp(rate, MinimumRate, MaximumRate);
}

// The integer part of value + 0.5, for the non-negative values used here.
[[nodiscard]] qint64 rounded(double value)
{
    return static_cast<qint64>(std::floor(value + 0.5));
}

[[nodiscard]] bool deliveryIsHealthy(double rate, qint64 deliveryBitsPerSecond, qint64 mediaBitsPerSecond)
{
    if (mediaBitsPerSecond < 1)
        return false;
    const double needed =
        std::floor(rate * static_cast<double>(mediaBitsPerSecond) * HealthyDeliveryFactor + 0.5);
    // A need beyond any 64-bit rate is never met (and converting it would be undefined).
    if (needed >= static_cast<double>(std::numeric_limits<qint64>::max()))
        return false;
    return deliveryBitsPerSecond >= static_cast<qint64>(needed);
}

} // namespace

HlsPrefetchPolicy::Budget HlsPrefetchPolicy::budget(double playbackRate, int completedPrefetches,
                                                    bool stalledRecently, qint64 deliveryBitsPerSecond,
                                                    qint64 mediaBitsPerSecond, bool cacheHasRoom)
{
    const double rate = boundedRate(playbackRate);
    const bool boosted = cacheHasRoom && !stalledRecently &&
                         completedPrefetches > BoostAfterCompletedPrefetches &&
                         deliveryIsHealthy(rate, deliveryBitsPerSecond, mediaBitsPerSecond);
    Budget result;
    result.normalHeadroomMs = rounded(NormalHeadroomMs * rate);
    result.targetHeadroomMs = boosted ? rounded(BoostedHeadroomMs * rate) : result.normalHeadroomMs;
    result.boosted = boosted;
    return result;
}

int HlsPrefetchPolicy::retryCooldownMs(int consecutiveFailures)
{
    if (consecutiveFailures <= 0)
        return 0;
    int cooldown = FirstCooldownMs;
    for (int failure = 1; failure < consecutiveFailures && cooldown < MaximumCooldownMs; ++failure)
        cooldown *= 2;
    return std::min(cooldown, MaximumCooldownMs);
}

bool HlsPrefetchPolicy::storageAllows(qint64 bytesInUse, qint64 bytesAvailable, qint64 incomingBytes,
                                      qint64 budgetBytes, qint64 minimumFreeBytes)
{
    const qint64 incoming = std::max<qint64>(incomingBytes, 0);
    // Written as differences of the limits so that a huge incoming size cannot overflow the sums.
    return incoming <= budgetBytes - bytesInUse && bytesAvailable - incoming >= minimumFreeBytes;
}
