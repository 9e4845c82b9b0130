#include "media/HlsBufferTracker.h"

#include <QTest>
#include <limits>

using Interval = HlsBufferTracker::Interval;
using Spans = QList<QPair<qint64, qint64>>;

namespace {

// The interval found at the position, as (start, end), or (-1, -1) when none is.
QPair<qint64, qint64> found(const HlsBufferTracker &tracker, const QString &sessionId, qint64 positionMs)
{
    const Interval interval = tracker.bufferedInterval(sessionId, positionMs);
    return interval.found ? qMakePair(interval.startMs, interval.endMs) : qMakePair(qint64(-1), qint64(-1));
}

const QPair<qint64, qint64> None{-1, -1};

} // namespace

class tst_HlsBufferTracker : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void sessionsOfOneTimelineShareIntervals()
    {
        HlsBufferTracker tracker;
        tracker.startSession("a", "timeline");
        tracker.activateRendition("a", "r1", 10);
        tracker.markCompleted("a", "r1", 0, 4000, 10);

        tracker.startSession("b", "timeline");
        QCOMPARE(found(tracker, "b", 1000), qMakePair(qint64(0), qint64(4000)));

        // Starting a session again on the existing timeline keeps what was delivered.
        tracker.startSession("a", "timeline");
        QCOMPARE(found(tracker, "a", 1000), qMakePair(qint64(0), qint64(4000)));
    }

    void emptyIdsStartNothing()
    {
        HlsBufferTracker tracker;
        tracker.startSession("", "timeline");
        tracker.startSession("a", "");
        tracker.activateRendition("a", "r1", 10);
        tracker.markCompleted("a", "r1", 0, 4000, 10);
        QCOMPARE(found(tracker, "a", 1000), None);

        tracker.activateRendition("", "r1", 10);
        tracker.markCompleted("", "r1", 0, 4000, 10);
        QCOMPARE(found(tracker, "", 1000), None);
    }

    void removingSessionsAndTimelines()
    {
        HlsBufferTracker tracker;
        tracker.startSession("a", "timeline");
        tracker.startSession("b", "timeline");
        tracker.startSession("other", "other timeline");
        for (const char *session : {"a", "other"}) {
            tracker.activateRendition(session, "r1", 10);
            tracker.markCompleted(session, "r1", 0, 4000, 10);
        }

        tracker.removeSession("a");
        QCOMPARE(found(tracker, "a", 1000), None);
        QCOMPARE(found(tracker, "b", 1000), qMakePair(qint64(0), qint64(4000)));
        tracker.startSession("c", "timeline");
        QCOMPARE(found(tracker, "c", 1000), qMakePair(qint64(0), qint64(4000)));

        tracker.removeTimeline("timeline");
        QCOMPARE(found(tracker, "b", 1000), None);
        QCOMPARE(found(tracker, "c", 1000), None);
        QCOMPARE(found(tracker, "other", 1000), qMakePair(qint64(0), qint64(4000)));
        // The removed sessions no longer lead anywhere: a delivery for them is dropped, and
        // the timeline starts empty when a session brings it back.
        tracker.markCompleted("b", "r1", 0, 4000, 20);
        tracker.startSession("d", "timeline");
        tracker.activateRendition("d", "r1", 30);
        QCOMPARE(found(tracker, "d", 1000), None);
    }

    void merging_data()
    {
        QTest::addColumn<Spans>("delivered");
        QTest::addColumn<QList<qint64>>("positions");
        QTest::addColumn<Spans>("expected");

        QTest::newRow("gap of 400 merges")
            << Spans{{0, 4000}, {4400, 8000}} << QList<qint64>{0, 4200} << Spans{{0, 8000}, {0, 8000}};
        QTest::newRow("gap of 500 merges")
            << Spans{{0, 4000}, {4500, 8000}} << QList<qint64>{4200} << Spans{{0, 8000}};
        QTest::newRow("gap of 501 stays") << Spans{{0, 4000}, {4501, 8000}} << QList<qint64>{0, 4200, 4001}
                                          << Spans{{0, 4000}, {4501, 8000}, {4501, 8000}};
        QTest::newRow("out of order")
            << Spans{{4000, 8000}, {0, 4000}} << QList<qint64>{0} << Spans{{0, 8000}};
        QTest::newRow("contained") << Spans{{0, 8000}, {1000, 2000}} << QList<qint64>{7000}
                                   << Spans{{0, 8000}};
        QTest::newRow("bridging three")
            << Spans{{0, 1000}, {8000, 9000}, {1200, 7800}} << QList<qint64>{8500} << Spans{{0, 9000}};
        QTest::newRow("start equals end") << Spans{{1000, 1000}} << QList<qint64>{1000} << Spans{{-1, -1}};
        QTest::newRow("reversed") << Spans{{2000, 1000}} << QList<qint64>{1500} << Spans{{-1, -1}};
        QTest::newRow("negative start") << Spans{{-1000, 4000}} << QList<qint64>{1000} << Spans{{-1, -1}};
    }

    void merging()
    {
        QFETCH(Spans, delivered);
        QFETCH(QList<qint64>, positions);
        QFETCH(Spans, expected);
        HlsBufferTracker tracker;
        tracker.startSession("a", "timeline");
        tracker.activateRendition("a", "r1", 10);
        for (const auto &[start, end] : std::as_const(delivered))
            tracker.markCompleted("a", "r1", start, end, 20);

        for (qsizetype index = 0; index < positions.size(); ++index)
            QCOMPARE(found(tracker, "a", positions[index]), expected[index]);
    }

    void refusedDeliveriesCreateNoRendition()
    {
        // A refused delivery must not create the rendition, or it would count when pruning.
        HlsBufferTracker tracker;
        tracker.startSession("a", "timeline");
        tracker.activateRendition("a", "active", 100);
        tracker.markCompleted("a", "old", 0, 4000, 1);
        tracker.markCompleted("a", "", 0, 4000, 2);
        tracker.markCompleted("a", "refused", 4000, 4000, 3);
        tracker.markCompleted("a", "refused", -1, 4000, 3);

        tracker.pruneInactiveRenditions("a", 2);
        tracker.activateRendition("a", "old", 200);
        QCOMPARE(found(tracker, "a", 1000), qMakePair(qint64(0), qint64(4000)));
    }

    void lookAhead_data()
    {
        QTest::addColumn<qint64>("position");
        QTest::addColumn<bool>("isFound");

        QTest::newRow("500 before the start") << qint64(500) << true;
        QTest::newRow("501 before the start") << qint64(499) << false;
        QTest::newRow("at the start") << qint64(1000) << true;
        QTest::newRow("at the end") << qint64(5000) << true;
        QTest::newRow("past the end") << qint64(5001) << false;
        QTest::newRow("far past") << std::numeric_limits<qint64>::max() << false;
        QTest::newRow("far before") << std::numeric_limits<qint64>::min() << false;
    }

    void lookAhead()
    {
        QFETCH(qint64, position);
        QFETCH(bool, isFound);
        HlsBufferTracker tracker;
        tracker.startSession("a", "timeline");
        tracker.activateRendition("a", "r1", 10);
        tracker.markCompleted("a", "r1", 1000, 5000, 10);

        const Interval interval = tracker.bufferedInterval("a", position);
        QCOMPARE(interval.found, isFound);
        if (isFound) {
            QCOMPARE(interval.startMs, 1000);
            QCOMPARE(interval.endMs, 5000);
        }
    }

    void onlyTheActiveRenditionCounts()
    {
        HlsBufferTracker tracker;
        tracker.startSession("a", "timeline");
        tracker.markCompleted("a", "low", 0, 4000, 10);
        // Nothing is active yet.
        QCOMPARE(found(tracker, "a", 1000), None);

        tracker.activateRendition("a", "low", 10);
        tracker.markCompleted("a", "high", 8000, 12000, 20);
        QCOMPARE(found(tracker, "a", 1000), qMakePair(qint64(0), qint64(4000)));
        QCOMPARE(found(tracker, "a", 9000), None);

        tracker.activateRendition("a", "high", 30);
        QCOMPARE(found(tracker, "a", 1000), None);
        QCOMPARE(found(tracker, "a", 9000), qMakePair(qint64(8000), qint64(12000)));
    }

    void pruning_data()
    {
        QTest::addColumn<QString>("active");
        QTest::addColumn<int>("keep");
        QTest::addColumn<QStringList>("kept");

        // Renditions r10 … r50 were last used at 10 … 50.
        QTest::newRow("keep 4, oldest active") << "r10" << 4 << QStringList{"r10", "r30", "r40", "r50"};
        QTest::newRow("keep 4, newest active") << "r50" << 4 << QStringList{"r20", "r30", "r40", "r50"};
        QTest::newRow("keep 5") << "r10" << 5 << QStringList{"r10", "r20", "r30", "r40", "r50"};
        QTest::newRow("keep 0, active") << "r10" << 0 << QStringList{"r10"};
        QTest::newRow("keep 1, active") << "r30" << 1 << QStringList{"r30"};
        QTest::newRow("keep 0, none active") << "" << 0 << QStringList{"r50"};
        QTest::newRow("keep -3, none active") << "" << -3 << QStringList{"r50"};
        QTest::newRow("keep 2, none active") << "" << 2 << QStringList{"r40", "r50"};
    }

    void pruning()
    {
        QFETCH(QString, active);
        QFETCH(int, keep);
        QFETCH(QStringList, kept);
        HlsBufferTracker tracker;
        tracker.startSession("a", "timeline");
        const QStringList renditions{"r30", "r10", "r50", "r20", "r40"};
        for (const QString &rendition : renditions) {
            const qint64 used = rendition.mid(1).toLongLong();
            // Each rendition holds one interval of its own, so what survives can be told apart.
            tracker.markCompleted("a", rendition, used * 1000, used * 1000 + 500, used);
        }
        if (!active.isEmpty())
            tracker.activateRendition("a", active, active.mid(1).toLongLong());

        tracker.pruneInactiveRenditions("a", keep);

        for (const QString &rendition : renditions) {
            const qint64 used = rendition.mid(1).toLongLong();
            tracker.activateRendition("a", rendition, 1000);
            QCOMPARE(tracker.bufferedInterval("a", used * 1000).found, kept.contains(rendition));
        }
    }

    void pruningTiesDoNotDependOnTheOrderOfUse()
    {
        // Each rendition holds one interval at its own start; all were last used at 5.
        const QMap<QString, qint64> starts{{"x", 10000}, {"y", 20000}, {"z", 30000}};
        const auto survivors = [&starts](const QStringList &order) {
            HlsBufferTracker tracker;
            tracker.startSession("a", "timeline");
            for (const QString &rendition : order)
                tracker.markCompleted("a", rendition, starts[rendition], starts[rendition] + 1000, 5);
            tracker.pruneInactiveRenditions("a", 2);
            QStringList kept;
            for (auto start = starts.cbegin(); start != starts.cend(); ++start) {
                tracker.activateRendition("a", start.key(), 100);
                if (tracker.bufferedInterval("a", start.value()).found)
                    kept.append(start.key());
            }
            return kept;
        };

        const QStringList forwards = survivors({"x", "y", "z"});
        QCOMPARE(forwards.size(), 2);
        QCOMPARE(survivors({"z", "y", "x"}), forwards);
        QCOMPARE(survivors({"y", "z", "x"}), forwards);
    }
};

QTEST_APPLESS_MAIN(tst_HlsBufferTracker)
#include "tst_HlsBufferTracker.moc"
