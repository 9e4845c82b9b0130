#include "media/TransportRecoveryBudget.h"

void TransportRecoveryBudget::reset()
{
    m_remainingAttempts = FullAttempts;
    m_healthyStreak = 0;
}

int TransportRecoveryBudget::takeAttempt()
{
    m_healthyStreak = 0;
    if (m_remainingAttempts <= 0)
        return 0;
    return FullAttempts + 1 - m_remainingAttempts--;
}

int TransportRecoveryBudget::delayMsForAttempt(int attempt)
{
    switch (attempt) {
    case 1:
        return 250;
    case 2:
        return 500;
    default:
        return 0;
    }
}

bool TransportRecoveryBudget::observeHealthyDemand(bool servedFromCache)
{
    if (servedFromCache)
        return false;
    if (++m_healthyStreak < HealthyStreakToRefill)
        return false;
    const bool refilled = m_remainingAttempts != FullAttempts;
    m_remainingAttempts = FullAttempts;
    m_healthyStreak = 0;
    return refilled;
}
