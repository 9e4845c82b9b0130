#include "media/PlaybackStallDetector.h"

bool PlaybackStallDetector::update(qint64 nowMs, bool advanced, bool shortWindow, bool intended, bool atEnd,
                                   bool stopped)
{
    if (atEnd || !intended || stopped) {
        const bool wasStalled = m_stalled;
        reset(nowMs);
        return wasStalled;
    }
    if (!advanced) {
        m_recoveryStreak = 0;
        if (m_lastProgressMs == 0)
            m_lastProgressMs = nowMs;
        const qint64 threshold = shortWindow ? ShortWindowStallAfterMs : StallAfterMs;
        if (nowMs - m_lastProgressMs < threshold)
            return false;
        const bool changed = !m_stalled;
        m_stalled = true;
        return changed;
    }
    m_lastProgressMs = nowMs;
    if (!m_stalled)
        return false;
    if (m_recoveryStreak == 0) {
        m_recoveryStreak = 1;
        return false;
    }
    m_stalled = false;
    m_recoveryStreak = 0;
    return true;
}

void PlaybackStallDetector::reset(qint64 nowMs)
{
    m_lastProgressMs = nowMs;
    m_stalled = false;
    m_recoveryStreak = 0;
}
