#include "media/PlaybackRestorePolicy.h"

#include <algorithm>

qint64 PlaybackRestorePolicy::preservePosition(qint64 pendingTargetMs, qint64 playerPositionMs,
                                               bool switchPending)
{
    const qint64 position = switchPending && playerPositionMs <= 0 ? pendingTargetMs : playerPositionMs;
    return std::max<qint64>(position, 0);
}

qint64 PlaybackRestorePolicy::retryPosition(qint64 requestedMs, qint64 fallbackMs)
{
    if (requestedMs > 0)
        return requestedMs;
    return std::max<qint64>(fallbackMs, 0);
}

bool PlaybackRestorePolicy::ready(qint64 durationMs, bool seekable, qint64 targetMs)
{
    if (durationMs <= 0)
        return false;
    return targetMs <= 0 || seekable;
}

bool PlaybackRestorePolicy::seekConfirmed(qint64 targetMs, qint64 positionMs, qint64 toleranceMs)
{
    if (targetMs <= 0)
        return positionMs >= 0;
    const qint64 tolerance = std::max<qint64>(toleranceMs, 0);
    return positionMs >= 1 && positionMs >= targetMs - tolerance && positionMs - targetMs <= tolerance;
}

bool PlaybackRestorePolicy::restorationComplete(bool waitingForAdvance, qint64 confirmedAtMs,
                                                qint64 positionMs, quint64 framesThen, quint64 framesNow)
{
    if (!waitingForAdvance)
        return true;
    return positionMs - confirmedAtMs > RestoredAdvanceMs && framesNow != framesThen;
}
