#include "media/MediaTransferCoordinator.h"

#include <QTest>
#include <atomic>
#include <random>
#include <thread>
#include <vector>

using Priority = MediaTransferCoordinator::Priority;
using Held = QList<QPair<Priority, int>>;

namespace {

// Takes count permits of the priority; false when any is refused.
bool acquire(MediaTransferCoordinator &coordinator, Priority priority, int count)
{
    for (int taken = 0; taken < count; ++taken) {
        if (!coordinator.tryAcquire(priority))
            return false;
    }
    return true;
}

void raiseTo(std::atomic<int> &highest, int value)
{
    int seen = highest.load();
    while (value > seen && !highest.compare_exchange_weak(seen, value)) {
    }
}

} // namespace

class tst_MediaTransferCoordinator : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void grants_data()
    {
        // Taken in the order listed, which every row keeps possible.
        QTest::addColumn<Held>("held");
        QTest::addColumn<bool>("buffering");
        QTest::addColumn<Priority>("asked");
        QTest::addColumn<bool>("granted");

        const Priority playback = Priority::Playback;
        const Priority prefetch = Priority::Prefetch;
        const Priority offline = Priority::OfflineDownload;
        QTest::newRow("7 playback, an eighth") << Held{{playback, 7}} << false << playback << true;
        QTest::newRow("8 playback, a ninth") << Held{{playback, 8}} << false << playback << false;
        QTest::newRow("8 mixed, a playback")
            << Held{{offline, 3}, {prefetch, 1}, {playback, 4}} << false << playback << false;
        QTest::newRow("nothing, a prefetch") << Held{} << false << prefetch << true;
        QTest::newRow("1 playback, a prefetch") << Held{{playback, 1}} << false << prefetch << false;
        QTest::newRow("1 prefetch, a second") << Held{{prefetch, 1}} << false << prefetch << false;
        QTest::newRow("3 offline, a prefetch") << Held{{offline, 3}} << false << prefetch << true;
        QTest::newRow("4 offline, a prefetch") << Held{{offline, 4}} << false << prefetch << false;
        QTest::newRow("3 of any kind, an offline")
            << Held{{offline, 2}, {prefetch, 1}} << false << offline << true;
        QTest::newRow("4 of any kind, an offline")
            << Held{{offline, 1}, {prefetch, 1}, {playback, 2}} << false << offline << false;
        QTest::newRow("4 offline, another") << Held{{offline, 4}} << false << offline << false;
        QTest::newRow("buffering, a playback") << Held{{playback, 7}} << true << playback << true;
        QTest::newRow("buffering, a prefetch") << Held{} << true << prefetch << false;
        QTest::newRow("buffering, an offline") << Held{} << true << offline << false;
        QTest::newRow("an unknown priority") << Held{} << false << static_cast<Priority>(7) << false;
        QTest::newRow("a negative priority") << Held{} << false << static_cast<Priority>(-1) << false;
    }

    void grants()
    {
        QFETCH(Held, held);
        QFETCH(bool, buffering);
        QFETCH(Priority, asked);
        QFETCH(bool, granted);
        MediaTransferCoordinator coordinator;
        for (const auto &[priority, count] : std::as_const(held))
            QVERIFY(acquire(coordinator, priority, count));
        coordinator.setPlaybackBuffering(buffering);

        QCOMPARE(coordinator.tryAcquire(asked), granted);
    }

    void bufferingLeavesGrantedPermitsValid()
    {
        MediaTransferCoordinator coordinator;
        QVERIFY(coordinator.tryAcquire(Priority::Prefetch));
        QVERIFY(acquire(coordinator, Priority::OfflineDownload, 2));

        coordinator.setPlaybackBuffering(true);
        QVERIFY(!coordinator.tryAcquire(Priority::OfflineDownload));
        // The three permits still count: five more playback transfers fill the eight.
        QVERIFY(acquire(coordinator, Priority::Playback, 5));
        QVERIFY(!coordinator.tryAcquire(Priority::Playback));

        coordinator.setPlaybackBuffering(false);
        coordinator.release(Priority::OfflineDownload);
        QVERIFY(coordinator.tryAcquire(Priority::Playback));
        QVERIFY(!coordinator.tryAcquire(Priority::Playback));
    }

    void surplusReleasesAreIgnored()
    {
        MediaTransferCoordinator coordinator;
        coordinator.release(Priority::Playback);
        coordinator.release(Priority::Prefetch);
        coordinator.release(static_cast<Priority>(7));
        QVERIFY(!coordinator.tryAcquire(static_cast<Priority>(7)));

        QVERIFY(acquire(coordinator, Priority::Playback, 8));
        QVERIFY(!coordinator.tryAcquire(Priority::Playback));
        QVERIFY(!coordinator.tryAcquire(Priority::Prefetch));
    }

    void releaseFreesItsOwnPriority()
    {
        MediaTransferCoordinator coordinator;
        QVERIFY(coordinator.tryAcquire(Priority::Playback));
        QVERIFY(!coordinator.tryAcquire(Priority::Prefetch));
        // Releasing another priority gives nothing back.
        coordinator.release(Priority::OfflineDownload);
        QVERIFY(!coordinator.tryAcquire(Priority::Prefetch));
        coordinator.release(Priority::Playback);
        QVERIFY(coordinator.tryAcquire(Priority::Prefetch));
    }

    void processWideInstance()
    {
        MediaTransferCoordinator *coordinator = MediaTransferCoordinator::instance();
        QVERIFY(coordinator);
        QCOMPARE(MediaTransferCoordinator::instance(), coordinator);
        QVERIFY(coordinator->tryAcquire(Priority::Playback));
        coordinator->release(Priority::Playback);
    }

    void threadsNeverExceedTheLimits()
    {
        MediaTransferCoordinator coordinator;
        constexpr int threadCount = 8;
        constexpr int rounds = 20000;
        std::atomic<int> active[3] = {0, 0, 0};
        std::atomic<int> activeTotal = 0;
        std::atomic<int> highestTotal = 0;
        std::atomic<int> highestPrefetch = 0;
        std::atomic<int> highestOffline = 0;
        std::atomic<bool> running = true;

        std::thread toggler([&] {
            bool buffering = false;
            while (running.load()) {
                coordinator.setPlaybackBuffering(buffering = !buffering);
                std::this_thread::yield();
            }
        });
        std::vector<std::thread> threads;
        for (int thread = 0; thread < threadCount; ++thread) {
            threads.emplace_back([&, thread] {
                std::minstd_rand random(thread + 1);
                std::uniform_int_distribution<int> pick(0, 2);
                for (int round = 0; round < rounds; ++round) {
                    const int priority = pick(random);
                    if (!coordinator.tryAcquire(Priority(priority)))
                        continue;
                    // Counted after the grant and uncounted before the release, these never
                    // exceed the coordinator's own counts.
                    const int mine = ++active[priority];
                    raiseTo(highestTotal, ++activeTotal);
                    if (priority == int(Priority::Prefetch))
                        raiseTo(highestPrefetch, mine);
                    if (priority == int(Priority::OfflineDownload))
                        raiseTo(highestOffline, mine);
                    std::this_thread::yield();
                    --activeTotal;
                    --active[priority];
                    coordinator.release(Priority(priority));
                }
            });
        }
        for (std::thread &thread : threads)
            thread.join();
        running = false;
        toggler.join();

        QVERIFY2(highestTotal <= 8, qPrintable(QString::number(highestTotal)));
        QVERIFY2(highestPrefetch <= 1, qPrintable(QString::number(highestPrefetch)));
        QVERIFY2(highestOffline <= 4, qPrintable(QString::number(highestOffline)));
        QVERIFY(highestTotal >= 1);

        // Every permit came back: the counts are 0 again.
        coordinator.setPlaybackBuffering(false);
        QVERIFY(acquire(coordinator, Priority::Playback, 8));
        QVERIFY(!coordinator.tryAcquire(Priority::Playback));
    }
};

QTEST_APPLESS_MAIN(tst_MediaTransferCoordinator)
#include "tst_MediaTransferCoordinator.moc"
