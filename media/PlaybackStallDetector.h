#pragma once

#include <QtGlobal>

// Decides from the periodic samples of a player whether playback is stalled (buffering). A value
// owned and serialised by one caller; the caller passes every time on its own monotonic clock.
// The stall comes down only after two advancing samples in a row, so one stray frame during a
// stall does not make the buffering indicator flicker.
class PlaybackStallDetector
{
public:
    static constexpr qint64 StallAfterMs = 1000;
    static constexpr qint64 ShortWindowStallAfterMs = 250;

    // True when the stalled flag changed. `advanced` means the position moved on or a new frame
    // arrived since the last sample; `shortWindow` applies while the player reports loading.
    bool update(qint64 nowMs, bool advanced, bool shortWindow, bool intended, bool atEnd, bool stopped);
    void reset(qint64 nowMs);

    [[nodiscard]] bool stalled() const { return m_stalled; }
    // 0 until a time has been recorded.
    [[nodiscard]] qint64 lastProgressMs() const { return m_lastProgressMs; }
    [[nodiscard]] int recoveryStreak() const { return m_recoveryStreak; }

private:
    qint64 m_lastProgressMs = 0;
    bool m_stalled = false;
    int m_recoveryStreak = 0;
};
