#pragma once

#include <QtGlobal>

// Counts how long the player's reads of an online stream had to wait for data. A value owned
// and serialised by one caller, which calls reset() when it starts over.
class StreamReadWaitTracker
{
public:
    static constexpr qint64 SlowReadMs = 250;

    // True when the read was slow. A negative wait counts as 0.
    bool observe(qint64 waitMs);
    void reset();

    [[nodiscard]] qint64 reads() const { return m_reads; }
    [[nodiscard]] qint64 slowReads() const { return m_slowReads; }
    [[nodiscard]] qint64 totalWaitMs() const { return m_totalWaitMs; }
    [[nodiscard]] qint64 longestWaitMs() const { return m_longestWaitMs; }

private:
    qint64 m_reads = 0;
    qint64 m_slowReads = 0;
    qint64 m_totalWaitMs = 0;
    qint64 m_longestWaitMs = 0;
};
