#include "media/HlsPrefetchPolicy.h"
#include "media/PlaybackRestorePolicy.h"
#include "media/PlaybackStallDetector.h"
#include "media/StreamReadWaitTracker.h"

#include <QTest>
#include <limits>

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 GiB = 1024 * MiB;

struct Sample
{
    qint64 nowMs = 0;
    bool advanced = false;
    bool shortWindow = false;
    bool intended = true;
    bool atEnd = false;
    bool stopped = false;
    bool changes = false; // what update() must return
};

Sample still(qint64 nowMs, bool changes = false)
{
    return {nowMs, false, false, true, false, false, changes};
}

Sample stillShort(qint64 nowMs, bool changes = false)
{
    return {nowMs, false, true, true, false, false, changes};
}

Sample advancing(qint64 nowMs, bool changes = false)
{
    return {nowMs, true, false, true, false, false, changes};
}

} // namespace

Q_DECLARE_METATYPE(QList<Sample>)

class tst_PlaybackDecisionPolicies : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void stallDetector_data()
    {
        QTest::addColumn<qint64>("resetAtMs"); // 0: a fresh detector
        QTest::addColumn<QList<Sample>>("samples");
        QTest::addColumn<bool>("stalledAfter");

        QTest::newRow("1999 ms still does not stall") << qint64(1000) << QList<Sample>{still(1999)} << false;
        QTest::newRow("2000 ms still stalls, once")
            << qint64(1000) << QList<Sample>{still(2000, true), still(2100), still(5000)} << true;
        QTest::newRow("short window stalls at 1250")
            << qint64(1000) << QList<Sample>{stillShort(1249), stillShort(1250, true)} << true;
        QTest::newRow("one advancing sample keeps the stall")
            << qint64(1000) << QList<Sample>{still(2000, true), advancing(2100)} << true;
        QTest::newRow("two advancing samples in a row clear it")
            << qint64(1000) << QList<Sample>{still(2000, true), advancing(2100), advancing(2200, true)}
            << false;
        QTest::newRow("a still sample restarts the streak")
            << qint64(1000) << QList<Sample>{still(2000, true), advancing(2100), still(2200), advancing(2300)}
            << true;
        QTest::newRow("no longer intended clears at once")
            << qint64(1000)
            << QList<Sample>{still(2000, true), {2050, false, false, false, false, false, true}} << false;
        QTest::newRow("at the end clears at once")
            << qint64(1000) << QList<Sample>{still(2000, true), {2050, false, false, true, true, false, true}}
            << false;
        QTest::newRow("stopped clears at once")
            << qint64(1000) << QList<Sample>{still(2000, true), {2050, false, false, true, false, true, true}}
            << false;
        QTest::newRow("not intended while not stalled changes nothing")
            << qint64(1000) << QList<Sample>{{5000, false, false, false, false, false, false}, still(5999)}
            << false;
        QTest::newRow("first still sample only records its time")
            << qint64(0) << QList<Sample>{still(50000), still(50999), still(51000, true)} << true;
    }

    void stallDetector()
    {
        QFETCH(qint64, resetAtMs);
        QFETCH(QList<Sample>, samples);
        QFETCH(bool, stalledAfter);
        PlaybackStallDetector detector;
        if (resetAtMs != 0)
            detector.reset(resetAtMs);

        for (const Sample &sample : samples) {
            const bool changed = detector.update(sample.nowMs, sample.advanced, sample.shortWindow,
                                                 sample.intended, sample.atEnd, sample.stopped);
            QVERIFY2(changed == sample.changes, qPrintable(QStringLiteral("sample at %1").arg(sample.nowMs)));
        }
        QCOMPARE(detector.stalled(), stalledAfter);
    }

    void stallDetectorResetClears()
    {
        PlaybackStallDetector detector;
        detector.reset(1000);
        QVERIFY(detector.update(2000, false, false, true, false, false));
        QVERIFY(!detector.update(2100, true, false, true, false, false));
        detector.reset(3000);
        QVERIFY(!detector.stalled());
        QCOMPARE(detector.recoveryStreak(), 0);
        QCOMPARE(detector.lastProgressMs(), qint64(3000));
    }

    void prefetchBudget_data()
    {
        QTest::addColumn<double>("rate");
        QTest::addColumn<int>("completed");
        QTest::addColumn<bool>("stalledRecently");
        QTest::addColumn<qint64>("deliveryBps");
        QTest::addColumn<qint64>("mediaBps");
        QTest::addColumn<bool>("cacheHasRoom");
        QTest::addColumn<qint64>("normalMs");
        QTest::addColumn<qint64>("targetMs");
        QTest::addColumn<bool>("boosted");

        const qint64 media = 1000000;
        QTest::newRow("1.35 times the media rate boosts") << 1.0 << 3 << false << qint64(1350000) << media
                                                          << true << qint64(90000) << qint64(180000) << true;
        QTest::newRow("one bit per second less does not") << 1.0 << 3 << false << qint64(1349999) << media
                                                          << true << qint64(90000) << qint64(90000) << false;
        QTest::newRow("two completed prefetches do not") << 1.0 << 2 << false << qint64(1350000) << media
                                                         << true << qint64(90000) << qint64(90000) << false;
        QTest::newRow("media rate 0 never boosts") << 1.0 << 3 << false << qint64(1000000000) << qint64(0)
                                                   << true << qint64(90000) << qint64(90000) << false;
        QTest::newRow("a recent stall does not") << 1.0 << 3 << true << qint64(1350000) << media << true
                                                 << qint64(90000) << qint64(90000) << false;
        QTest::newRow("a full cache does not") << 1.0 << 3 << false << qint64(1350000) << media << false
                                               << qint64(90000) << qint64(90000) << false;
        QTest::newRow("rate 2 scales the need and the headroom")
            << 2.0 << 3 << false << qint64(2700000) << media << true << qint64(180000) << qint64(360000)
            << true;
        QTest::newRow("rate 2 below the scaled need") << 2.0 << 3 << false << qint64(2699999) << media << true
                                                      << qint64(180000) << qint64(180000) << false;
        QTest::newRow("rate 8 counts as 4") << 8.0 << 3 << false << qint64(1350000) << media << true
                                            << qint64(360000) << qint64(360000) << false;
        QTest::newRow("rate 0.1 counts as 0.25")
            << 0.1 << 3 << false << qint64(0) << media << true << qint64(22500) << qint64(22500) << false;
        QTest::newRow("rate NaN counts as 0.25")
            << std::numeric_limits<double>::quiet_NaN() << 3 << false << qint64(0) << media << true
            << qint64(22500) << qint64(22500) << false;
        QTest::newRow("a media rate beyond any delivery")
            << 4.0 << 3 << false << std::numeric_limits<qint64>::max() << std::numeric_limits<qint64>::max()
            << true << qint64(360000) << qint64(360000) << false;
    }

    void prefetchBudget()
    {
        QFETCH(double, rate);
        QFETCH(int, completed);
        QFETCH(bool, stalledRecently);
        QFETCH(qint64, deliveryBps);
        QFETCH(qint64, mediaBps);
        QFETCH(bool, cacheHasRoom);
        QFETCH(qint64, normalMs);
        QFETCH(qint64, targetMs);
        QFETCH(bool, boosted);

        const HlsPrefetchPolicy::Budget budget =
            HlsPrefetchPolicy::budget(rate, completed, stalledRecently, deliveryBps, mediaBps, cacheHasRoom);

        QCOMPARE(budget.normalHeadroomMs, normalMs);
        QCOMPARE(budget.targetHeadroomMs, targetMs);
        QCOMPARE(budget.boosted, boosted);
    }

    void retryCooldown_data()
    {
        QTest::addColumn<int>("failures");
        QTest::addColumn<int>("cooldownMs");

        const QList<int> expected{0, 250, 500, 1000, 2000, 4000, 5000, 5000};
        for (int failures = 0; failures < expected.size(); ++failures)
            QTest::addRow("%d failures", failures) << failures << expected.at(failures);
        QTest::newRow("negative") << -3 << 0;
        QTest::newRow("far past the cap") << std::numeric_limits<int>::max() << 5000;
    }

    void retryCooldown()
    {
        QFETCH(int, failures);
        QFETCH(int, cooldownMs);
        QCOMPARE(HlsPrefetchPolicy::retryCooldownMs(failures), cooldownMs);
    }

    void storageAllows_data()
    {
        QTest::addColumn<qint64>("inUse");
        QTest::addColumn<qint64>("available");
        QTest::addColumn<qint64>("incoming");
        QTest::addColumn<qint64>("budget");
        QTest::addColumn<qint64>("minimumFree");
        QTest::addColumn<bool>("allowed");

        QTest::newRow("900 + 124 MiB fit the budget")
            << 900 * MiB << 10 * GiB << 124 * MiB << GiB << GiB << true;
        QTest::newRow("900 + 125 MiB do not") << 900 * MiB << 10 * GiB << 125 * MiB << GiB << GiB << false;
        QTest::newRow("the floor alone: 1 GiB of 2 available")
            << qint64(0) << 2 * GiB << GiB << 10 * GiB << GiB << true;
        QTest::newRow("the floor alone: one byte more")
            << qint64(0) << 2 * GiB << GiB + 1 << 10 * GiB << GiB << false;
        QTest::newRow("a negative size counts as 0, not as room")
            << GiB + 3 << 10 * GiB << qint64(-5) << GiB << GiB << false;
        QTest::newRow("a huge incoming size")
            << qint64(0) << 10 * GiB << std::numeric_limits<qint64>::max() << GiB << GiB << false;
    }

    void storageAllows()
    {
        QFETCH(qint64, inUse);
        QFETCH(qint64, available);
        QFETCH(qint64, incoming);
        QFETCH(qint64, budget);
        QFETCH(qint64, minimumFree);
        QFETCH(bool, allowed);
        QCOMPARE(HlsPrefetchPolicy::storageAllows(inUse, available, incoming, budget, minimumFree), allowed);
    }

    void readWaits()
    {
        StreamReadWaitTracker tracker;
        QVERIFY(!tracker.observe(249));
        QVERIFY(tracker.observe(250));
        QVERIFY(!tracker.observe(-7));

        QCOMPARE(tracker.reads(), qint64(3));
        QCOMPARE(tracker.slowReads(), qint64(1));
        QCOMPARE(tracker.totalWaitMs(), qint64(499));
        QCOMPARE(tracker.longestWaitMs(), qint64(250));

        tracker.reset();
        QCOMPARE(tracker.reads(), qint64(0));
        QCOMPARE(tracker.slowReads(), qint64(0));
        QCOMPARE(tracker.totalWaitMs(), qint64(0));
        QCOMPARE(tracker.longestWaitMs(), qint64(0));
    }

    void preservePosition_data()
    {
        QTest::addColumn<qint64>("pendingTarget");
        QTest::addColumn<qint64>("playerPosition");
        QTest::addColumn<bool>("switchPending");
        QTest::addColumn<qint64>("position");

        QTest::newRow("switch, player at 0") << qint64(30000) << qint64(0) << true << qint64(30000);
        QTest::newRow("switch, player below 0") << qint64(30000) << qint64(-40) << true << qint64(30000);
        QTest::newRow("switch, player already placed")
            << qint64(30000) << qint64(12000) << true << qint64(12000);
        QTest::newRow("no switch takes the player")
            << qint64(30000) << qint64(12000) << false << qint64(12000);
        QTest::newRow("no switch, player at 0") << qint64(30000) << qint64(0) << false << qint64(0);
        QTest::newRow("negative target becomes 0") << qint64(-500) << qint64(0) << true << qint64(0);
        QTest::newRow("negative position becomes 0") << qint64(30000) << qint64(-500) << false << qint64(0);
    }

    void preservePosition()
    {
        QFETCH(qint64, pendingTarget);
        QFETCH(qint64, playerPosition);
        QFETCH(bool, switchPending);
        QFETCH(qint64, position);
        QCOMPARE(PlaybackRestorePolicy::preservePosition(pendingTarget, playerPosition, switchPending),
                 position);
    }

    void seekConfirmed_data()
    {
        QTest::addColumn<qint64>("target");
        QTest::addColumn<qint64>("position");
        QTest::addColumn<qint64>("tolerance");
        QTest::addColumn<bool>("confirmed");

        QTest::newRow("2500 before") << qint64(60000) << qint64(57500) << qint64(2500) << true;
        QTest::newRow("2500 after") << qint64(60000) << qint64(62500) << qint64(2500) << true;
        QTest::newRow("2501 before") << qint64(60000) << qint64(57499) << qint64(2500) << false;
        QTest::newRow("2501 after") << qint64(60000) << qint64(62501) << qint64(2500) << false;
        QTest::newRow("position 0, target above 0") << qint64(1000) << qint64(0) << qint64(2500) << false;
        QTest::newRow("position 1, target 1") << qint64(1) << qint64(1) << qint64(0) << true;
        QTest::newRow("target 0, position 0") << qint64(0) << qint64(0) << qint64(2500) << true;
        QTest::newRow("target 0, position -1") << qint64(0) << qint64(-1) << qint64(2500) << false;
        QTest::newRow("tolerance -1 counts as 0: exact")
            << qint64(60000) << qint64(60000) << qint64(-1) << true;
        QTest::newRow("tolerance -1 counts as 0: one off")
            << qint64(60000) << qint64(60001) << qint64(-1) << false;
    }

    void seekConfirmed()
    {
        QFETCH(qint64, target);
        QFETCH(qint64, position);
        QFETCH(qint64, tolerance);
        QFETCH(bool, confirmed);
        QCOMPARE(PlaybackRestorePolicy::seekConfirmed(target, position, tolerance), confirmed);
    }

    void restorationComplete_data()
    {
        QTest::addColumn<bool>("waiting");
        QTest::addColumn<qint64>("position");
        QTest::addColumn<quint64>("framesNow");
        QTest::addColumn<bool>("complete");

        // Confirmed at 60000 with frame 100.
        QTest::newRow("20 ms on, new frame") << true << qint64(60020) << quint64(101) << false;
        QTest::newRow("21 ms on, new frame") << true << qint64(60021) << quint64(101) << true;
        QTest::newRow("21 ms on, same frame") << true << qint64(60021) << quint64(100) << false;
        QTest::newRow("behind the seek, new frame") << true << qint64(59000) << quint64(101) << false;
        QTest::newRow("not waiting") << false << qint64(0) << quint64(100) << true;
    }

    void restorationComplete()
    {
        QFETCH(bool, waiting);
        QFETCH(qint64, position);
        QFETCH(quint64, framesNow);
        QFETCH(bool, complete);
        QCOMPARE(PlaybackRestorePolicy::restorationComplete(waiting, 60000, position, 100, framesNow),
                 complete);
    }

    void ready_data()
    {
        QTest::addColumn<qint64>("duration");
        QTest::addColumn<bool>("seekable");
        QTest::addColumn<qint64>("target");
        QTest::addColumn<bool>("isReady");

        QTest::newRow("no duration yet") << qint64(0) << true << qint64(5000) << false;
        QTest::newRow("negative duration") << qint64(-1) << true << qint64(0) << false;
        QTest::newRow("nothing to seek to") << qint64(1000) << false << qint64(0) << true;
        QTest::newRow("a target, not seekable") << qint64(1000) << false << qint64(5000) << false;
        QTest::newRow("a target, seekable") << qint64(1000) << true << qint64(5000) << true;
    }

    void ready()
    {
        QFETCH(qint64, duration);
        QFETCH(bool, seekable);
        QFETCH(qint64, target);
        QFETCH(bool, isReady);
        QCOMPARE(PlaybackRestorePolicy::ready(duration, seekable, target), isReady);
    }

    void retryPosition_data()
    {
        QTest::addColumn<qint64>("requested");
        QTest::addColumn<qint64>("fallback");
        QTest::addColumn<qint64>("position");

        QTest::newRow("nothing requested, negative fallback") << qint64(0) << qint64(-5) << qint64(0);
        QTest::newRow("nothing requested, fallback") << qint64(0) << qint64(7000) << qint64(7000);
        QTest::newRow("negative request, fallback") << qint64(-1) << qint64(7000) << qint64(7000);
        QTest::newRow("a request wins") << qint64(1500) << qint64(200) << qint64(1500);
    }

    void retryPosition()
    {
        QFETCH(qint64, requested);
        QFETCH(qint64, fallback);
        QFETCH(qint64, position);
        QCOMPARE(PlaybackRestorePolicy::retryPosition(requested, fallback), position);
    }
};

QTEST_APPLESS_MAIN(tst_PlaybackDecisionPolicies)
#include "tst_PlaybackDecisionPolicies.moc"
