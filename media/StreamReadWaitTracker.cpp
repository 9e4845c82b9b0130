#include "media/StreamReadWaitTracker.h"

#include <algorithm>

bool StreamReadWaitTracker::observe(qint64 waitMs)
{
    const qint64 wait = std::max<qint64>(waitMs, 0);
    ++m_reads;
    m_totalWaitMs += wait;
    m_longestWaitMs = std::max(m_longestWaitMs, wait);
    if (wait < SlowReadMs)
        return false;
    ++m_slowReads;
    return true;
}

void StreamReadWaitTracker::reset()
{
    *this = StreamReadWaitTracker();
}
