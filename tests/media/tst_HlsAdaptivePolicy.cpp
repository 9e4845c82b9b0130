#include "media/HlsAdaptivePolicy.h"

#include <QTest>
#include <algorithm>
#include <cmath>
#include <limits>

using Opportunity = HlsAdaptivePolicy::SwitchOpportunity;
using Bandwidths = QList<qint64>;
using Heights = QList<int>;

namespace {

// A segment transfer of one second that measures the given rate.
constexpr qint64 bytesAt(qint64 bitsPerSecond)
{
    return bitsPerSecond / 8;
}

struct Observation
{
    qint64 atMs = 0;
    qint64 aheadMs = 0;
    bool buffering = false;
    qint64 sampleBps = 0; // 0: a transfer of 0 bytes
    int expected = -1;
};

} // namespace

Q_DECLARE_METATYPE(Observation)

class tst_HlsAdaptivePolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void startIndex_data()
    {
        QTest::addColumn<Bandwidths>("bandwidths");
        QTest::addColumn<Heights>("heights");
        QTest::addColumn<int>("limit");
        QTest::addColumn<int>("cap");
        QTest::addColumn<int>("expected");

        const Bandwidths ladder{800000, 1800000, 2800000, 5000000};
        const Bandwidths even{1000000, 1000000, 1000000, 1000000};
        QTest::newRow("720 rendition too fast") << ladder << Heights{360, 540, 720, 1080} << 720 << 2160 << 1;
        QTest::newRow("nothing qualifies")
            << Bandwidths{3000000, 4000000} << Heights{360, 540} << 720 << 1080 << 0;
        QTest::newRow("no bandwidths") << Bandwidths{} << Heights{360} << 720 << 1080 << -1;
        QTest::newRow("no heights") << ladder << Heights{} << 720 << 1080 << 0;
        QTest::newRow("shorter heights") << even << Heights{360, 540} << 720 << 1080 << 1;
        QTest::newRow("limit 0 means 720") << even << Heights{360, 720, 1080} << 0 << 2160 << 1;
        QTest::newRow("negative limit means 720") << even << Heights{360, 720, 1080} << -5 << 2160 << 1;
        QTest::newRow("cap 0 means 1080") << even << Heights{360, 720, 1080, 1440} << 1440 << 0 << 2;
        QTest::newRow("cap below limit") << even << Heights{360, 720, 1080, 1440} << 1440 << 1080 << 2;
        QTest::newRow("bandwidth at the limit")
            << Bandwidths{1000000, 2500000} << Heights{360, 540} << 720 << 1080 << 1;
        QTest::newRow("bandwidth over the limit")
            << Bandwidths{1000000, 2500001} << Heights{360, 540} << 720 << 1080 << 0;
        QTest::newRow("no bandwidth given")
            << Bandwidths{1000000, 1000000, 0} << Heights{360, 540, 720} << 720 << 1080 << 1;
        QTest::newRow("no height given") << even << Heights{360, 540, 0} << 720 << 1080 << 1;
    }

    void startIndex()
    {
        QFETCH(Bandwidths, bandwidths);
        QFETCH(Heights, heights);
        QFETCH(int, limit);
        QFETCH(int, cap);
        QFETCH(int, expected);
        QCOMPARE(HlsAdaptivePolicy::conservativeStartIndex(bandwidths, heights, limit, cap), expected);
    }

    void configure_data()
    {
        QTest::addColumn<Bandwidths>("bandwidths");
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("expected");

        const Bandwidths four{500000, 1000000, 2000000, 4000000};
        QTest::newRow("start 9 of four") << four << 9 << 3;
        QTest::newRow("start -2") << four << -2 << 0;
        QTest::newRow("start 2") << four << 2 << 2;
        QTest::newRow("no bandwidths") << Bandwidths{} << 0 << -1;
    }

    void configure()
    {
        QFETCH(Bandwidths, bandwidths);
        QFETCH(int, start);
        QFETCH(int, expected);
        HlsAdaptivePolicy policy;
        QCOMPARE(policy.currentIndex(), -1);

        policy.configure(bandwidths, start, 1000);
        QCOMPARE(policy.currentIndex(), expected);
    }

    void unconfiguredRecommendsNothing()
    {
        HlsAdaptivePolicy policy;
        QCOMPARE(policy.observe(bytesAt(8000000), 1000, 0, true, 50000, 1.0), -1);
        policy.configure({}, 0, 0);
        QCOMPARE(policy.observe(bytesAt(8000000), 1000, 0, true, 50000, 1.0), -1);
        QCOMPARE(policy.throughputEstimate(1.0), 0.0);
    }

    void estimateFollowsThePlaybackRate_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<double>("factor");

        QTest::newRow("rate 1") << 1.0 << 0.7;
        QTest::newRow("rate 2") << 2.0 << 0.35;
        QTest::newRow("rate 0.25") << 0.25 << 2.8;
        QTest::newRow("rate 0.1") << 0.1 << 2.8;
        QTest::newRow("rate 0") << 0.0 << 2.8;
        QTest::newRow("negative rate") << -1.0 << 2.8;
        QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 2.8;
    }

    void estimateFollowsThePlaybackRate()
    {
        QFETCH(double, rate);
        QFETCH(double, factor);
        HlsAdaptivePolicy policy;
        policy.configure({1000000}, 0, 0);

        (void)policy.observe(bytesAt(8000000), 1000, 30000, false, 1000, rate);
        QCOMPARE(policy.throughputEstimate(rate), factor * 8000000);
    }

    void estimateKeepsTheNewestSixSamples()
    {
        HlsAdaptivePolicy policy;
        policy.configure({1000000}, 0, 0);
        // One bit per second: while counted it dominates the harmonic mean.
        (void)policy.observe(1, 8000, 30000, false, 1000, 1.0);
        QVERIFY(policy.throughputEstimate(1.0) < 1);
        for (int sample = 0; sample < 5; ++sample)
            (void)policy.observe(bytesAt(8000000), 1000, 30000, false, 2000 + sample, 1.0);
        QVERIFY(policy.throughputEstimate(1.0) < 10);

        (void)policy.observe(bytesAt(8000000), 1000, 30000, false, 3000, 1.0);
        QCOMPARE(policy.throughputEstimate(1.0), 0.7 * 8000000);
    }

    void emptyTransfersAddNoSampleButDecide()
    {
        HlsAdaptivePolicy policy;
        policy.configure({500000, 1000000, 2000000}, 2, 0);
        // Without any sample there is nothing to decide from.
        QCOMPARE(policy.observe(0, 1000, 0, true, 1000, 1.0), -1);
        QCOMPARE(policy.currentIndex(), 2);

        QCOMPARE(policy.observe(bytesAt(8000000), 1000, 30000, false, 2000, 1.0), -1);
        const double estimate = policy.throughputEstimate(1.0);
        // 0 bytes or 0 ms: the sample is not taken (it would be 0 or infinite), and the
        // decision, a step down while buffering, is made from the sample held.
        QCOMPARE(policy.observe(bytesAt(8000000), 0, 0, true, 3000, 1.0), 1);
        QCOMPARE(policy.observe(0, 1000, 0, true, 4000, 1.0), 0);
        QCOMPARE(policy.throughputEstimate(1.0), estimate);
    }

    void stepsDown_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<qint64>("sampleBps");
        QTest::addColumn<qint64>("aheadMs");
        QTest::addColumn<bool>("buffering");
        QTest::addColumn<qint64>("atMs");
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("expected");

        // Bandwidths 500000, 1000000, 2000000, configured at 0. The estimate is 0.7 × the
        // sample at rate 1; a rendition is sustained from 1.1 × its bandwidth.
        QTest::newRow("buffering, sustains 1 not 2")
            << 2 << qint64(2000000) << qint64(0) << true << qint64(30000) << 1.0 << 1;
        QTest::newRow("buffering, sustains nothing")
            << 2 << qint64(1000000) << qint64(0) << true << qint64(30000) << 1.0 << 0;
        QTest::newRow("buffering, sustains everything")
            << 2 << qint64(8000000) << qint64(30000) << true << qint64(30000) << 1.0 << 1;
        QTest::newRow("buffering at index 0")
            << 0 << qint64(100000) << qint64(0) << true << qint64(30000) << 1.0 << -1;
        QTest::newRow("low buffer at index 0")
            << 0 << qint64(100000) << qint64(0) << false << qint64(30000) << 1.0 << -1;
        QTest::newRow("low buffer right after a switch")
            << 2 << qint64(8000000) << qint64(5999) << false << qint64(2999) << 1.0 << -1;
        QTest::newRow("low buffer 3000 ms after a switch")
            << 2 << qint64(8000000) << qint64(5999) << false << qint64(3000) << 1.0 << 1;
        QTest::newRow("low buffer after a switch, not sustained")
            << 2 << qint64(2000000) << qint64(0) << false << qint64(1000) << 1.0 << 1;
        QTest::newRow("enough buffer, not sustained")
            << 2 << qint64(2000000) << qint64(6000) << false << qint64(30000) << 1.0 << 1;
        QTest::newRow("enough buffer, sustained")
            << 2 << qint64(8000000) << qint64(6000) << false << qint64(30000) << 1.0 << -1;
        QTest::newRow("sustained at rate 1, not at rate 2")
            << 2 << qint64(4000000) << qint64(6000) << false << qint64(30000) << 2.0 << 1;
        QTest::newRow("sustained at rate 1")
            << 2 << qint64(4000000) << qint64(6000) << false << qint64(30000) << 1.0 << -1;
    }

    void stepsDown()
    {
        QFETCH(int, start);
        QFETCH(qint64, sampleBps);
        QFETCH(qint64, aheadMs);
        QFETCH(bool, buffering);
        QFETCH(qint64, atMs);
        QFETCH(double, rate);
        QFETCH(int, expected);
        HlsAdaptivePolicy policy;
        policy.configure({500000, 1000000, 2000000}, start, 0);

        QCOMPARE(policy.observe(bytesAt(sampleBps), 1000, aheadMs, buffering, atMs, rate), expected);
        QCOMPARE(policy.currentIndex(), expected < 0 ? start : expected);
    }

    void stepsUp_data()
    {
        QTest::addColumn<QList<Observation>>("observations");

        // Bandwidths 1000000, 2000000, 4000000, configured at 0 with index 0. A sample of
        // 8000000 gives an estimate of 5600000, which carries a step to either higher rendition.
        const auto qualifying = [](qint64 atMs, int expected = -1) {
            return Observation{atMs, 20000, false, 8000000, expected};
        };
        QTest::newRow("three in a row")
            << QList<Observation>{qualifying(20000), qualifying(21000), qualifying(22000, 1)};
        QTest::newRow("not before 20000 ms after configure")
            << QList<Observation>{qualifying(17000), qualifying(18000), qualifying(19999),
                                  qualifying(20000), qualifying(21000), qualifying(22000, 1)};
        QTest::newRow("buffer short of 20000 starts over")
            << QList<Observation>{qualifying(20000), qualifying(21000), {22000, 19999, false, 8000000, -1},
                                  qualifying(23000), qualifying(24000), qualifying(25000, 1)};
        // The next rendition needs an estimate of 2600000: a sample of 3760000 gives 2632000, one
        // of 3700000 gives 2590000, and one of 1500000 pulls the mean of two 8000000 below it.
        QTest::newRow("estimate just over 1.3 x") << QList<Observation>{{20000, 20000, false, 3760000, -1},
                                                                        {21000, 20000, false, 3760000, -1},
                                                                        {22000, 20000, false, 3760000, 1}};
        QTest::newRow("estimate just under 1.3 x") << QList<Observation>{{20000, 20000, false, 3700000, -1},
                                                                         {21000, 20000, false, 3700000, -1},
                                                                         {22000, 20000, false, 3700000, -1},
                                                                         {23000, 20000, false, 3700000, -1}};
        QTest::newRow("estimate short of 1.3 x starts over")
            << QList<Observation>{qualifying(20000), qualifying(21000), {22000, 20000, false, 1500000, -1},
                                  qualifying(23000), qualifying(24000), qualifying(25000, 1)};
        QTest::newRow("buffering starts over for 20000 ms")
            << QList<Observation>{qualifying(20000),   qualifying(21000), {22000, 20000, true, 8000000, -1},
                                  qualifying(41999),   qualifying(42000), qualifying(43000),
                                  qualifying(44000, 1)};
        QTest::newRow("15000 ms after a switch, one at a time, up to the top") << QList<Observation>{
            qualifying(20000), qualifying(21000), qualifying(22000, 1), qualifying(36000),
            qualifying(36999), qualifying(37000), qualifying(38000),    qualifying(39000, 2),
            qualifying(60000), qualifying(61000), qualifying(62000)};
        QTest::newRow("an empty transfer still confirms")
            << QList<Observation>{qualifying(20000), qualifying(21000), {22000, 20000, false, 0, 1}};
        QTest::newRow("no sample yet is no confirmation") << QList<Observation>{
            {20000, 20000, false, 0, -1}, qualifying(21000), qualifying(22000), qualifying(23000, 1)};
    }

    void stepsUp()
    {
        QFETCH(QList<Observation>, observations);
        HlsAdaptivePolicy policy;
        policy.configure({1000000, 2000000, 4000000}, 0, 0);

        for (const Observation &observation : std::as_const(observations)) {
            const int answer = policy.observe(bytesAt(observation.sampleBps), 1000, observation.aheadMs,
                                              observation.buffering, observation.atMs, 1.0);
            QVERIFY2(answer == observation.expected,
                     qPrintable(QStringLiteral("at %1 ms: %2").arg(observation.atMs).arg(answer)));
        }
    }

    // Playback control's calling rule over a lecture: one segment transfer a second from the
    // network, each put to switchOpportunity and, when it answers Observe, to observe. A dip of
    // the network makes playback buffer and steps down; once the network recovers, the step up
    // comes at the first transfer that meets every limit, never sooner, one rendition at a time.
    void callingRuleStepsDownThenUp_data()
    {
        QTest::addColumn<qint64>("aheadGrowsFromMs");
        QTest::addColumn<QList<qint64>>("stepUpsAtMs");

        // The dip at 10000 ms steps down to 0. The buffer then refills by 2000 ms a second from
        // 6000 ms ahead. The first step up needs 20000 ms without buffering (30000), 15000 ms since
        // the switch (25000), 20000 ms ahead and three qualifying transfers in a row; the second
        // needs 15000 ms since the first and three more.
        QTest::newRow("buffering is the last limit") << qint64(11000) << QList<qint64>{32000, 49000};
        // The buffer refills later: 20000 ms ahead only at 40000 ms.
        QTest::newRow("the buffer is the last limit") << qint64(33000) << QList<qint64>{42000, 59000};
    }

    void callingRuleStepsDownThenUp()
    {
        QFETCH(qint64, aheadGrowsFromMs);
        QFETCH(QList<qint64>, stepUpsAtMs);
        constexpr qint64 DipAtMs = 10000;
        HlsAdaptivePolicy policy;
        policy.configure({1000000, 2000000, 4000000}, 2, 0);

        QList<qint64> stepUps;
        QList<qint64> stepDowns;
        int current = policy.currentIndex();
        for (qint64 nowMs = 1000; nowMs <= 70000; nowMs += 1000) {
            const bool buffering = nowMs == DipAtMs;
            const qint64 aheadMs =
                buffering ? 0 : std::clamp<qint64>(6000 + 2 * (nowMs - aheadGrowsFromMs), 6000, 30000);
            // 8000000 bits per second carries every rendition; the dip's sample brings the
            // estimate below what rendition 1 needs.
            const qint64 sampleBps = buffering ? 500000 : 8000000;
            if (HlsAdaptivePolicy::switchOpportunity(false, false, false, buffering) != Opportunity::Observe)
                continue;
            const int answer = policy.observe(bytesAt(sampleBps), 1000, aheadMs, buffering, nowMs, 1.0);
            if (answer < 0)
                continue;
            if (answer > current) {
                QCOMPARE(answer, current + 1);
                stepUps.append(nowMs);
            } else {
                stepDowns.append(nowMs);
            }
            current = answer;
        }
        QCOMPARE(stepDowns, QList<qint64>{DipAtMs});
        QCOMPARE(stepUps, stepUpsAtMs);
        QCOMPARE(current, 2);
    }

    void switchOpportunity_data()
    {
        QTest::addColumn<bool>("onMaster");
        QTest::addColumn<bool>("pending");
        QTest::addColumn<bool>("switching");
        QTest::addColumn<bool>("buffering");
        QTest::addColumn<Opportunity>("expected");

        QTest::newRow("master, pending") << true << true << false << false << Opportunity::StartRendition;
        QTest::newRow("master, pending, buffering")
            << true << true << true << true << Opportunity::StartRendition;
        QTest::newRow("master, done") << true << false << false << false << Opportunity::None;
        QTest::newRow("master, done, buffering") << true << false << false << true << Opportunity::None;
        QTest::newRow("media, buffering") << false << false << false << true << Opportunity::Observe;
        QTest::newRow("media, buffering, pending") << false << true << false << true << Opportunity::Observe;
        QTest::newRow("media, buffering, switching") << false << false << true << true << Opportunity::None;
        // Smooth playback is observed too: without it the step up could never be reached.
        QTest::newRow("media, playing") << false << false << false << false << Opportunity::Observe;
        QTest::newRow("media, pending") << false << true << false << false << Opportunity::Observe;
        QTest::newRow("media, playing, switching") << false << false << true << false << Opportunity::None;
    }

    void switchOpportunity()
    {
        QFETCH(bool, onMaster);
        QFETCH(bool, pending);
        QFETCH(bool, switching);
        QFETCH(bool, buffering);
        QFETCH(Opportunity, expected);
        QCOMPARE(HlsAdaptivePolicy::switchOpportunity(onMaster, pending, switching, buffering), expected);
        QCOMPARE(int(expected), expected == Opportunity::None             ? 0
                                : expected == Opportunity::StartRendition ? 1
                                                                          : 2);
    }
};

QTEST_APPLESS_MAIN(tst_HlsAdaptivePolicy)
#include "tst_HlsAdaptivePolicy.moc"
