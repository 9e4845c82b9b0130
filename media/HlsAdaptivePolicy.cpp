#include "media/HlsAdaptivePolicy.h"

#include <algorithm>
#include <cmath>

int HlsAdaptivePolicy::conservativeStartIndex(const QList<qint64> &bandwidths, const QList<int> &heights,
                                              int heightLimit, int heightCap)
{
    if (bandwidths.isEmpty())
        return -1;
    const qsizetype count = std::min(bandwidths.size(), heights.size());
    const int limit = std::min(heightLimit > 0 ? heightLimit : DefaultStartHeightLimit,
                               heightCap > 0 ? heightCap : DefaultStartHeightCap);
    for (qsizetype index = count - 1; index >= 0; --index) {
        const bool heightFits = heights.at(index) >= 1 && heights.at(index) <= limit;
        const bool bandwidthFits = bandwidths.at(index) >= 1 && bandwidths.at(index) <= StartBandwidthLimit;
        if (heightFits && bandwidthFits)
            return int(index);
    }
    return 0;
}

HlsAdaptivePolicy::SwitchOpportunity HlsAdaptivePolicy::switchOpportunity(bool onMaster,
                                                                          bool initialSwitchPending,
                                                                          bool switching, bool /*buffering*/)
{
    if (onMaster)
        return initialSwitchPending ? SwitchOpportunity::StartRendition : SwitchOpportunity::None;
    // Every transfer is observed, buffering or not: the step up needs transfers made while playback
    // ran smoothly, and only observe() can tell how long that has been.
    return switching ? SwitchOpportunity::None : SwitchOpportunity::Observe;
}

void HlsAdaptivePolicy::configure(const QList<qint64> &bandwidths, int startIndex, qint64 nowMs)
{
    m_bandwidths = bandwidths;
    m_currentIndex = bandwidths.isEmpty() ? -1 : std::clamp(startIndex, 0, int(bandwidths.size()) - 1);
    m_samples.clear();
    m_confirmations = 0;
    m_lastSwitchMs = nowMs;
    m_lastBufferingMs = nowMs;
}

int HlsAdaptivePolicy::observe(qint64 bytes, qint64 durationMs, qint64 aheadMs, bool buffering, qint64 nowMs,
                               double playbackRate)
{
    if (m_currentIndex < 0 || m_bandwidths.isEmpty())
        return -1;
    if (buffering)
        m_lastBufferingMs = nowMs;
    if (bytes >= 1 && durationMs >= 1) {
        m_samples.append(double(bytes) * 8.0 * 1000.0 / double(durationMs));
        while (m_samples.size() > SamplesKept)
            m_samples.removeFirst();
    }
    if (m_samples.isEmpty())
        return -1;

    const double estimate = throughputEstimate(playbackRate);
    const bool lowest = m_currentIndex == 0;
    const bool sustainable = sustains(m_currentIndex, estimate);

    if (buffering || aheadMs < LowBufferMs) {
        if (lowest) {
            m_confirmations = 0;
            return -1;
        }
        // Right after a switch the buffer is still filling; give a rendition the network carries
        // a moment before leaving it. The step-up check then fails on its buffer rule.
        const bool settling = !buffering && nowMs - m_lastSwitchMs < SwitchGraceMs && sustainable;
        return settling ? checkStepUp(estimate, aheadMs, nowMs) : stepDown(estimate, nowMs);
    }
    return lowest || sustainable ? checkStepUp(estimate, aheadMs, nowMs) : stepDown(estimate, nowMs);
}

double HlsAdaptivePolicy::throughputEstimate(double playbackRate) const
{
    if (m_samples.isEmpty())
        return 0;
    double inverseSum = 0;
    for (const double sample : m_samples)
        inverseSum += 1.0 / std::max(sample, 1.0);
    const double rate = std::isnan(playbackRate) ? SmallestRate : std::max(playbackRate, SmallestRate);
    return SafetyFactor * double(m_samples.size()) / inverseSum / rate;
}

bool HlsAdaptivePolicy::sustains(qsizetype index, double estimate) const
{
    return estimate >= KeepHeadroom * double(std::max<qint64>(m_bandwidths.at(index), 1));
}

int HlsAdaptivePolicy::stepDown(double estimate, qint64 nowMs)
{
    int target = 0;
    for (int index = m_currentIndex - 1; index >= 1; --index) {
        if (double(m_bandwidths.at(index)) * KeepHeadroom <= estimate) {
            target = index;
            break;
        }
    }
    m_currentIndex = target;
    m_confirmations = 0;
    m_lastSwitchMs = nowMs;
    return target;
}

int HlsAdaptivePolicy::checkStepUp(double estimate, qint64 aheadMs, qint64 nowMs)
{
    const int next = m_currentIndex + 1;
    const bool qualifies = aheadMs >= StepUpBufferMs && nowMs - m_lastBufferingMs >= StepUpSinceBufferingMs &&
                           nowMs - m_lastSwitchMs >= StepUpSinceSwitchMs && next < m_bandwidths.size() &&
                           estimate >= StepUpHeadroom * double(m_bandwidths.at(next));
    if (!qualifies) {
        m_confirmations = 0;
        return -1;
    }
    if (++m_confirmations < ConfirmationsToStepUp)
        return -1;
    m_currentIndex = next;
    m_confirmations = 0;
    m_lastSwitchMs = nowMs;
    return next;
}
