#pragma once

#include <QList>
#include <QtGlobal>

// The client's choice of HLS rendition in the "Auto" quality mode: a cautious start rendition
// from the master playlist's variants, then, from the size and duration of each segment
// transfer, a step down when playback is starved or a step up when the network has had ample
// room for a while. It only computes; the owner switches, and every index it returns is taken
// as switched to at once.
//
// A plain value owned by playback control; no lock, no timer and no clock: the caller passes the
// time on its monotonic clock.
class HlsAdaptivePolicy
{
public:
    enum class SwitchOpportunity : int {
        None = 0,
        StartRendition = 1, // switch to the start rendition now
        Observe = 2,        // consult observe()
    };

    static constexpr qsizetype SamplesKept = 6;
    static constexpr double SafetyFactor = 0.7;
    static constexpr double SmallestRate = 0.25;
    static constexpr double KeepHeadroom = 1.1;
    static constexpr double StepUpHeadroom = 1.3;
    static constexpr int ConfirmationsToStepUp = 3;
    static constexpr qint64 LowBufferMs = 6000;
    static constexpr qint64 SwitchGraceMs = 3000;
    static constexpr qint64 StepUpBufferMs = 20000;
    static constexpr qint64 StepUpSinceBufferingMs = 20000;
    static constexpr qint64 StepUpSinceSwitchMs = 15000;
    static constexpr int DefaultStartHeightLimit = 720;
    static constexpr int DefaultStartHeightCap = 1080;
    static constexpr qint64 StartBandwidthLimit = 2500000;

    // The highest rendition no taller than min(heightLimit, heightCap) and no faster than
    // StartBandwidthLimit, among the first min(bandwidths, heights) entries; 0 when none
    // qualifies, -1 without bandwidths. A limit or cap of 0 or less takes its default.
    [[nodiscard]] static int conservativeStartIndex(const QList<qint64> &bandwidths,
                                                    const QList<int> &heights, int heightLimit,
                                                    int heightCap);
    // The caller asks for each network-served segment transfer of its stream, then calls observe()
    // when the answer is Observe. Off the master playlist every transfer is observed while no switch
    // is in progress; whether playback is buffering is observe()'s to weigh, not a gate here.
    [[nodiscard]] static SwitchOpportunity switchOpportunity(bool onMaster, bool initialSwitchPending,
                                                             bool switching, bool buffering);

    // bandwidths in bits per second, lowest quality first. Starts over: no samples, and now
    // counts as both the last switch and the last buffering.
    void configure(const QList<qint64> &bandwidths, int startIndex, qint64 nowMs);
    // Feeds one segment transfer; the new rendition index to switch to, or -1 for no change.
    [[nodiscard]] int observe(qint64 bytes, qint64 durationMs, qint64 aheadMs, bool buffering, qint64 nowMs,
                              double playbackRate);

    // -1 until configured with at least one bandwidth.
    [[nodiscard]] int currentIndex() const { return m_currentIndex; }
    // 70 % of the harmonic mean of the samples held, per unit of playback speed, in bits per
    // second; 0 without samples. A rate below SmallestRate, or not a number, counts as that.
    [[nodiscard]] double throughputEstimate(double playbackRate) const;

private:
    [[nodiscard]] bool sustains(qsizetype index, double estimate) const;
    int stepDown(double estimate, qint64 nowMs);
    int checkStepUp(double estimate, qint64 aheadMs, qint64 nowMs);

    QList<qint64> m_bandwidths;
    QList<double> m_samples; // bits per second, oldest first
    int m_currentIndex = -1;
    int m_confirmations = 0;
    qint64 m_lastSwitchMs = 0;
    qint64 m_lastBufferingMs = 0;
};
