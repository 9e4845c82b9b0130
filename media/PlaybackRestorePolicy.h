#pragma once

#include <QtGlobal>

// The position rules for rebuilding, retrying or switching a stream, and the tests that tell
// when a restored position has really been reached. Pure functions on milliseconds.
class PlaybackRestorePolicy
{
public:
    static constexpr qint64 SeekToleranceMs = 2500;
    // How far past the confirmed seek playback must move before the restore counts as done.
    static constexpr qint64 RestoredAdvanceMs = 20;

    PlaybackRestorePolicy() = delete;

    // During a switch the new player reports no position yet; the pending target is then the truth.
    [[nodiscard]] static qint64 preservePosition(qint64 pendingTargetMs, qint64 playerPositionMs,
                                                 bool switchPending);
    [[nodiscard]] static qint64 retryPosition(qint64 requestedMs, qint64 fallbackMs);
    [[nodiscard]] static bool ready(qint64 durationMs, bool seekable, qint64 targetMs);
    // Position 0 never confirms a target above 0: a player that has not loaded yet reports 0.
    [[nodiscard]] static bool seekConfirmed(qint64 targetMs, qint64 positionMs, qint64 toleranceMs);
    [[nodiscard]] static bool restorationComplete(bool waitingForAdvance, qint64 confirmedAtMs,
                                                  qint64 positionMs, quint64 framesThen, quint64 framesNow);
};
