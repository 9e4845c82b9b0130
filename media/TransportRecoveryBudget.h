#pragma once

#include <QtGlobal>

// Rations the automatic transport recoveries of one stream: two attempts, the second after a
// longer delay, given back once the stream has been fed from the network again for a while. A
// plain value owned by playback control; no lock.
class TransportRecoveryBudget
{
public:
    static constexpr qint32 FullAttempts = 2;
    // Consecutive network-served segment transfers that refill the budget.
    static constexpr qint32 HealthyStreakToRefill = 3;

    void reset();
    // The attempt number, 1 or 2, or 0 when the budget is spent. Breaks the healthy streak.
    [[nodiscard]] int takeAttempt();
    [[nodiscard]] static int delayMsForAttempt(int attempt);
    // Counts one segment transfer of the current stream; one served from the cache neither
    // counts nor breaks the streak. True when this observation refilled a budget that was not
    // full.
    bool observeHealthyDemand(bool servedFromCache);

private:
    qint32 m_remainingAttempts = FullAttempts;
    qint32 m_healthyStreak = 0;
};
