#include "tests/learning/LearningProgressHarness.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <functional>

using quorin::test::LearningProgressHarness;
using Report = std::function<void(LearningProgressController &)>;

Q_DECLARE_METATYPE(Report)

namespace {

const QString kUser = QStringLiteral("u1");
const QString kOtherUser = QStringLiteral("u2");
const QString kResource = QStringLiteral("r1");
const QString kHistoryKey = QStringLiteral("recentHistory");
const QString kActivityKey = QStringLiteral("learningActivity/u1");
const QString kPendingKey = QStringLiteral("learningProgressPending/u1");
const QString kSnapshotsKey = QStringLiteral("courseProgressSnapshots/u1");

const QStringList kChangeSignals{QStringLiteral("recentItemsChanged"), QStringLiteral("revisionChanged")};

QVariantList seededHistory()
{
    return {
        QVariantMap{{QStringLiteral("r_id"), QStringLiteral("h1")}, {QStringLiteral("isShareable"), false}}};
}

// The burst tests report position 1000 of "video" and page 3 of "pdf", both opened before.
bool burstStored()
{
    return LearningProgressHarness::storedField(kUser, QStringLiteral("video"),
                                                QStringLiteral("positionMs")) == QVariant(qint64(1000)) &&
           LearningProgressHarness::storedField(kUser, QStringLiteral("pdf"), QStringLiteral("pageIndex")) ==
               QVariant(3);
}

bool nothingOfTheBurstStored()
{
    return LearningProgressHarness::storedField(kUser, QStringLiteral("video"),
                                                QStringLiteral("positionMs")) == QVariant(qint64(0)) &&
           LearningProgressHarness::storedField(kUser, QStringLiteral("pdf"), QStringLiteral("pageIndex")) ==
               QVariant(-1);
}

} // namespace

class tst_LearningActivityStore : public QObject
{
    Q_OBJECT

private:
    LearningProgressHarness m_harness;

    std::unique_ptr<LearningProgressController>
    signedIn(const LearningProgressHarness::ControllerOptions &options =
                 LearningProgressHarness::ControllerOptions())
    {
        return m_harness.makeSignedInController(kUser, options);
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    void theSameUserWithBlanksChangesNothing()
    {
        auto controller = signedIn();
        QStringList events;
        LearningProgressHarness::recordSignals(*controller, events);
        const int revision = controller->revision();

        controller->setUserId(QStringLiteral(" u1 "));

        QCOMPARE(events, QStringList());
        QCOMPARE(controller->revision(), revision);
        QCOMPARE(controller->userId(), kUser);
    }

    void aSwitchAnnouncesItselfAndDropsTheLegacyHistory_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("historyRemoved");

        QTest::newRow("nobody to a user") << QString() << kUser << true;
        QTest::newRow("one user to another") << kUser << kOtherUser << true;
        QTest::newRow("a user to nobody") << kUser << QString() << false;
    }

    void aSwitchAnnouncesItselfAndDropsTheLegacyHistory()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, historyRemoved);
        auto controller = m_harness.makeController();
        controller->setUserId(from);
        LearningProgressHarness::seed(kHistoryKey, seededHistory());
        QStringList events;
        LearningProgressHarness::recordSignals(*controller, events);
        const int revision = controller->revision();

        controller->setUserId(to);

        QCOMPARE(controller->userId(), to);
        QCOMPARE(events, QStringList({QStringLiteral("userChanged")}) + kChangeSignals);
        QCOMPARE(controller->revision(), revision + 1);
        QCOMPARE(LearningProgressHarness::isStored(kHistoryKey), !historyRemoved);
    }

    void switchingBackRestoresTheFirstUsersRecords()
    {
        auto controller = signedIn();
        LearningProgressHarness::open(*controller, QStringLiteral("a"));
        LearningProgressHarness::open(*controller, QStringLiteral("b"));
        controller->updateVideoPosition(QStringLiteral("a"), 4000, 8000, true);

        controller->setUserId(kOtherUser);
        QCOMPARE(controller->recentItems(), QVariantList());
        QCOMPARE(controller->resumePosition(QStringLiteral("a")), 0);
        LearningProgressHarness::open(*controller, QStringLiteral("c"));

        controller->setUserId(kUser);
        QCOMPARE(LearningProgressHarness::ids(controller->recentItems()),
                 QStringList({QStringLiteral("b"), QStringLiteral("a")}));
        QCOMPARE(controller->resumePosition(QStringLiteral("a")), 4000);
        QCOMPARE(controller->progress(QStringLiteral("a")), 0.5);
        QCOMPARE(LearningProgressHarness::ids(LearningProgressHarness::storedRecords(kOtherUser)),
                 QStringList({QStringLiteral("c")}));
    }

    void anUnsavedPositionIsWrittenUnderThePreviousUser()
    {
        auto controller = signedIn();
        LearningProgressHarness::open(*controller, kResource);
        controller->updateVideoPosition(kResource, 7000, 10000, false);
        QVERIFY(LearningProgressHarness::saveTimer(*controller)->isActive());
        QCOMPARE(LearningProgressHarness::storedField(kUser, kResource, QStringLiteral("positionMs")), 0);

        controller->setUserId(kOtherUser);

        QVERIFY(!LearningProgressHarness::saveTimer(*controller)->isActive());
        QCOMPARE(LearningProgressHarness::storedField(kUser, kResource, QStringLiteral("positionMs")),
                 qint64(7000));
        QVERIFY(!LearningProgressHarness::isStored(QStringLiteral("learningActivity/u2")));
    }

    void theSessionEndingEmptiesTheStore()
    {
        auto &network = m_harness.network();
        m_harness.setManager(
            network.makeSignedInManager(network.tokenExpiringIn(3600), QStringLiteral("refresh-1")));
        auto controller = signedIn();
        LearningProgressHarness::open(*controller, kResource, QStringLiteral("VIDEO"),
                                      QStringLiteral("https://media.example/a.m3u8"), true);
        controller->updateCourseSnapshot(QStringLiteral("c1"),
                                         {QVariantMap{{QStringLiteral("id"), kResource}}});
        controller->updateVideoPosition(kResource, 3000, 6000, false);
        QStringList events;
        LearningProgressHarness::recordSignals(*controller, events);

        m_harness.manager().logout();

        QCOMPARE(controller->userId(), QString());
        QCOMPARE(events, QStringList({QStringLiteral("userChanged")}) + kChangeSignals);
        QCOMPARE(controller->recentItems(), QVariantList());
        QCOMPARE(controller->isCompleted(kResource), false);
        QCOMPARE(controller->progress(kResource, 0.25), 0.25);
        QCOMPARE(controller->resumePosition(kResource), 0);
        QCOMPARE(controller->resumePage(kResource), -1);
        QCOMPARE(controller->courseProgress(QStringLiteral("c1"), 0.4), 0.4);
        QVERIFY(!LearningProgressHarness::saveTimer(*controller)->isActive());
        QVERIFY(!LearningProgressHarness::retryTimer(*controller)->isActive());
        // The signed-out user's data stays, the waiting position included.
        QCOMPARE(LearningProgressHarness::storedField(kUser, kResource, QStringLiteral("positionMs")),
                 qint64(3000));
        QVERIFY(LearningProgressHarness::isStored(kSnapshotsKey));
    }

    void withoutAUserNothingIsReadOrWritten()
    {
        LearningProgressHarness::seed(
            kActivityKey,
            QVariantList{LearningProgressHarness::openedRecord(
                kResource, QStringLiteral("VIDEO"), QStringLiteral("https://m/a"), m_harness.nowStamp())});
        LearningProgressHarness::seed(kHistoryKey, seededHistory());
        const QByteArray seeded = LearningProgressHarness::storeBytes();
        auto controller = m_harness.makeController();
        QStringList events;
        LearningProgressHarness::recordSignals(*controller, events);

        LearningProgressHarness::open(*controller, kResource);
        controller->recordOpened(kResource, QStringLiteral("c1"), QString(), QStringLiteral("t"),
                                 QStringLiteral("c"), QStringLiteral("PDF"), QString(), QStringLiteral("u"),
                                 true, false);
        controller->recordOpened(kResource, QStringLiteral("c1"), QString(), QStringLiteral("t"),
                                 QStringLiteral("c"), QStringLiteral("PDF"), QString(), QStringLiteral("u"),
                                 true);
        controller->removeRecentItem(kResource);
        controller->updateVideoPosition(kResource, 5000, 10000, true);
        controller->updateVideoPosition(kResource, 5000, 10000, false);
        controller->updatePdfPage(kResource, 2, 4);
        controller->updateCourseSnapshot(QStringLiteral("c1"),
                                         {QVariantMap{{QStringLiteral("id"), kResource}}});
        controller->flush();

        QCOMPARE(events, QStringList());
        QCOMPARE(controller->revision(), 0);
        QCOMPARE(controller->recentItems(), QVariantList());
        QCOMPARE(controller->resumePosition(kResource), 0);
        QCOMPARE(controller->resumePage(kResource), -1);
        QCOMPARE(controller->progress(kResource), 0.0);
        QCOMPARE(controller->progress(kResource, 0.6), 0.6);
        QCOMPARE(controller->isCompleted(kResource), false);
        QCOMPARE(controller->isCompleted(kResource, true), true);
        QCOMPARE(controller->courseProgress(QStringLiteral("c1"), 0.3), 0.3);
        QVERIFY(!LearningProgressHarness::saveTimer(*controller)->isActive());
        QCOMPARE(LearningProgressHarness::storeBytes(), seeded);
    }

    void openingFiftyOneResourcesKeepsTheFiftyLatest()
    {
        auto controller = signedIn();
        QStringList expected;
        for (int index = 0; index <= 50; ++index) {
            const QString id = QStringLiteral("r%1").arg(index);
            LearningProgressHarness::open(*controller, id);
            expected.prepend(id);
            // A hidden record is cut like any other.
            if (index == 0)
                controller->removeRecentItem(id);
        }
        expected.removeLast();

        const QVariantList stored = LearningProgressHarness::storedRecords(kUser);
        QCOMPARE(LearningProgressHarness::ids(stored), expected);
        QCOMPARE(controller->resumePage(QStringLiteral("r0")), -1);
        QCOMPARE(controller->isCompleted(QStringLiteral("r0"), true), true);
    }

    void anOpenedRecordHoldsTheEighteenKeys_data()
    {
        QTest::addColumn<int>("arguments");
        QTest::addColumn<bool>("watermarkEnabled");
        QTest::addColumn<bool>("isShareable");

        QTest::newRow("eleven arguments") << 11 << false << true;
        QTest::newRow("ten arguments") << 10 << false << false;
        QTest::newRow("nine arguments") << 9 << true << false;
    }

    void anOpenedRecordHoldsTheEighteenKeys()
    {
        QFETCH(int, arguments);
        QFETCH(bool, watermarkEnabled);
        QFETCH(bool, isShareable);
        auto controller = signedIn();
        const QString type = QStringLiteral("PDF");
        const QString url = QStringLiteral("https://media.example/week3.pdf");
        QVariantMap expected =
            LearningProgressHarness::openedRecord(kResource, type, url, m_harness.nowStamp());
        expected.insert(QStringLiteral("watermarkEnabled"), watermarkEnabled);
        expected.insert(QStringLiteral("isShareable"), isShareable);
        const auto text = [&expected](const char *key) {
            return expected.value(QLatin1String(key)).toString();
        };
        if (arguments == 11)
            controller->recordOpened(kResource, text("c_id"), text("sectionId"), text("title"),
                                     text("course"), type, text("img"), url, false, false, true);
        else if (arguments == 10)
            controller->recordOpened(kResource, text("c_id"), text("sectionId"), text("title"),
                                     text("course"), type, text("img"), url, false, false);
        else
            controller->recordOpened(kResource, text("c_id"), text("sectionId"), text("title"),
                                     text("course"), type, text("img"), url, false);

        const QVariantMap record = LearningProgressHarness::storedRecord(kUser, kResource);
        QCOMPARE(record.size(), 18);
        QCOMPARE(record.keys(), expected.keys());
        for (auto value = expected.constBegin(); value != expected.constEnd(); ++value) {
            QVERIFY2(record.value(value.key()) == value.value(), qPrintable(value.key()));
            QVERIFY2(record.value(value.key()).typeId() == value.value().typeId(), qPrintable(value.key()));
        }
    }

    void reopeningAHiddenItemShowsItAgainUnchanged()
    {
        auto controller = signedIn();
        LearningProgressHarness::open(*controller, QStringLiteral("a"));
        controller->updateVideoPosition(QStringLiteral("a"), 4000, 8000, true);
        m_harness.advanceSeconds(5);
        LearningProgressHarness::open(*controller, QStringLiteral("b"));
        controller->removeRecentItem(QStringLiteral("a"));
        QCOMPARE(LearningProgressHarness::ids(controller->recentItems()), QStringList({QStringLiteral("b")}));
        QCOMPARE(LearningProgressHarness::storedField(kUser, QStringLiteral("a"),
                                                      QStringLiteral("hiddenFromRecent")),
                 true);
        m_harness.advanceSeconds(5);

        controller->recordOpened(QStringLiteral("a"), QStringLiteral("c2"), QStringLiteral("s2"),
                                 QStringLiteral("Renamed"), QStringLiteral("Course two"),
                                 QStringLiteral("VIDEO"), QString(),
                                 QStringLiteral("https://media.example/a2.m3u8"), true);

        const QVariantList stored = LearningProgressHarness::storedRecords(kUser);
        QCOMPARE(LearningProgressHarness::ids(stored),
                 QStringList({QStringLiteral("a"), QStringLiteral("b")}));
        const QVariantMap record = stored.first().toMap();
        QCOMPARE(record.value(QStringLiteral("hiddenFromRecent")), false);
        QCOMPARE(record.value(QStringLiteral("positionMs")), qint64(4000));
        QCOMPARE(record.value(QStringLiteral("prog")), 0.5);
        QCOMPARE(record.value(QStringLiteral("completed")), false);
        QCOMPARE(record.value(QStringLiteral("title")), QStringLiteral("Renamed"));
        QCOMPARE(record.value(QStringLiteral("c_id")), QStringLiteral("c2"));
        QCOMPARE(record.value(QStringLiteral("timestamp")), m_harness.nowStamp());
        QCOMPARE(LearningProgressHarness::ids(controller->recentItems()),
                 QStringList({QStringLiteral("a"), QStringLiteral("b")}));
        QCOMPARE(controller->isCompleted(QStringLiteral("a")), false);
    }

    void openingANewResourceAsCompletedCountsItComplete()
    {
        auto controller = signedIn();
        LearningProgressHarness::open(*controller, kResource, QStringLiteral("PDF"),
                                      QStringLiteral("https://m/p"), true);

        const QVariantMap record = LearningProgressHarness::storedRecord(kUser, kResource);
        QCOMPARE(record.value(QStringLiteral("completed")), true);
        QCOMPARE(record.value(QStringLiteral("prog")), 1.0);
        QVERIFY(controller->isCompleted(kResource));
        QCOMPARE(controller->progress(kResource), 1.0);
    }

    void reports_data()
    {
        QTest::addColumn<Report>("report");
        QTest::addColumn<QString>("resource");
        QTest::addColumn<QVariantMap>("expected");
        QTest::addColumn<bool>("writtenAtOnce");
        QTest::addColumn<bool>("debounced");
        QTest::addColumn<int>("revisionStep");

        const auto values = [](qint64 position, qint64 duration, int page, int count, double progress) {
            return QVariantMap{{QStringLiteral("positionMs"), position},
                               {QStringLiteral("durationMs"), duration},
                               {QStringLiteral("pageIndex"), page},
                               {QStringLiteral("pageCount"), count},
                               {QStringLiteral("prog"), progress}};
        };
        const auto video = [](const QString &id, qlonglong position, qlonglong duration, bool notify) {
            return Report([=](LearningProgressController &c) {
                c.updateVideoPosition(id, position, duration, notify);
            });
        };
        const auto page = [](const QString &id, int index, int count) {
            return Report([=](LearningProgressController &c) { c.updatePdfPage(id, index, count); });
        };
        const QString unknown = QStringLiteral("never-opened");

        QTest::newRow("video of an unknown resource")
            << video(unknown, 5000, 100, true) << unknown << QVariantMap() << false << false << 0;
        QTest::newRow("page of an unknown resource")
            << page(unknown, 3, 10) << unknown << QVariantMap() << false << false << 0;
        QTest::newRow("video with views, no duration") << video(kResource, 5000, 0, true) << kResource
                                                       << values(5000, 0, -1, 0, 0.0) << true << false << 1;
        QTest::newRow("video without views, negative position")
            << video(kResource, -3, 100, false) << kResource << values(0, 100, -1, 0, 0.0) << false << true
            << 0;
        QTest::newRow("video without views, a quarter")
            << video(kResource, 2500, 10000, false) << kResource << values(2500, 10000, -1, 0, 0.25) << false
            << true << 0;
        QTest::newRow("video past its duration") << video(kResource, 12000, 10000, true) << kResource
                                                 << values(12000, 10000, -1, 0, 1.0) << true << false << 1;
        QTest::newRow("negative duration") << video(kResource, 500, -10, true) << kResource
                                           << values(500, 0, -1, 0, 0.0) << true << false << 1;
        QTest::newRow("last page of ten")
            << page(kResource, 9, 10) << kResource << values(0, 0, 9, 10, 1.0) << false << true << 1;
        QTest::newRow("no pages") << page(kResource, 0, 0) << kResource << values(0, 0, 0, 0, 0.0) << false
                                  << true << 1;
        QTest::newRow("negative page")
            << page(kResource, -4, 4) << kResource << values(0, 0, 0, 4, 0.0) << false << true << 1;
    }

    void reports()
    {
        QFETCH(Report, report);
        QFETCH(QString, resource);
        QFETCH(QVariantMap, expected);
        QFETCH(bool, writtenAtOnce);
        QFETCH(bool, debounced);
        QFETCH(int, revisionStep);
        auto controller = signedIn(LearningProgressHarness::ControllerOptions{100, 30000});
        LearningProgressHarness::open(*controller, kResource);
        m_harness.advanceSeconds(30);
        const QByteArray before = LearningProgressHarness::storeBytes();
        QStringList events;
        LearningProgressHarness::recordSignals(*controller, events);
        const int revision = controller->revision();
        QTimer *saveTimer = LearningProgressHarness::saveTimer(*controller);
        QSignalSpy saves(saveTimer, &QTimer::timeout);

        report(*controller);

        QCOMPARE(controller->revision(), revision + revisionStep);
        QCOMPARE(events, revisionStep ? kChangeSignals : QStringList());
        QCOMPARE(saveTimer->isActive(), debounced);
        if (expected.isEmpty()) {
            QCOMPARE(LearningProgressHarness::storeBytes(), before);
            QCOMPARE(LearningProgressHarness::ids(LearningProgressHarness::storedRecords(kUser)),
                     QStringList({kResource}));
            QCOMPARE(controller->resumePosition(resource), 0);
            QCOMPARE(controller->resumePage(resource), -1);
            return;
        }
        QCOMPARE(controller->resumePosition(resource),
                 expected.value(QStringLiteral("positionMs")).toLongLong());
        QCOMPARE(controller->resumePage(resource), expected.value(QStringLiteral("pageIndex")).toInt());
        QCOMPARE(controller->progress(resource, 0.9), expected.value(QStringLiteral("prog")).toDouble());

        expected.insert(QStringLiteral("timestamp"), m_harness.nowStamp());
        const auto storedValues = [&] {
            const QVariantMap record = LearningProgressHarness::storedRecord(kUser, resource);
            QVariantMap values;
            for (auto key = expected.constBegin(); key != expected.constEnd(); ++key)
                values.insert(key.key(), record.value(key.key()));
            return values;
        };
        if (writtenAtOnce) {
            QCOMPARE(storedValues(), expected);
            return;
        }
        QVERIFY(storedValues() != expected);
        QVERIFY(saves.wait());
        QCOMPARE(storedValues(), expected);
        QCOMPARE(events, revisionStep ? kChangeSignals : QStringList());
    }

    void theSaveTimerIsNotExtendedByLaterReports()
    {
        auto controller = signedIn();
        LearningProgressHarness::open(*controller, QStringLiteral("video"));
        LearningProgressHarness::open(*controller, QStringLiteral("pdf"));
        QTimer *saveTimer = LearningProgressHarness::saveTimer(*controller);

        controller->updateVideoPosition(QStringLiteral("video"), 1000, 10000, false);
        const int firstRemaining = saveTimer->remainingTime();
        QVERIFY(firstRemaining > 0);
        // Far enough into the interval that a restart could not pass for the running timer: a
        // coarse timer's remaining time may be rounded by up to 5% of its interval.
        const int elapsedEnough = firstRemaining - 1000;
        QTRY_VERIFY(saveTimer->remainingTime() <= elapsedEnough);
        controller->updatePdfPage(QStringLiteral("pdf"), 3, 10);

        QVERIFY(saveTimer->isActive());
        QVERIFY(saveTimer->remainingTime() <= elapsedEnough);
        QVERIFY(nothingOfTheBurstStored());
        QVERIFY(!LearningProgressHarness::isStored(kPendingKey));
        QVERIFY(!LearningProgressHarness::isStored(kSnapshotsKey));

        controller->flush();

        QVERIFY(!saveTimer->isActive());
        QVERIFY(burstStored());
        QCOMPARE(LearningProgressHarness::stored(kPendingKey), QVariant(QVariantList()));
        QCOMPARE(LearningProgressHarness::stored(kSnapshotsKey), QVariant(QVariantMap()));
    }

    void oneTimedWriteCoversEveryReportOfABurst()
    {
        auto controller = signedIn(LearningProgressHarness::ControllerOptions{100, 30000});
        LearningProgressHarness::open(*controller, QStringLiteral("video"));
        LearningProgressHarness::open(*controller, QStringLiteral("pdf"));
        QTimer *saveTimer = LearningProgressHarness::saveTimer(*controller);
        QSignalSpy saves(saveTimer, &QTimer::timeout);

        // No event loop turn between the reports: the timer cannot fire in between.
        controller->updateVideoPosition(QStringLiteral("video"), 1000, 10000, false);
        controller->updatePdfPage(QStringLiteral("pdf"), 3, 10);
        QVERIFY(nothingOfTheBurstStored());

        QVERIFY(saves.wait());
        QVERIFY(burstStored());
        QVERIFY(!saveTimer->isActive());
        QCOMPARE(saves.count(), 1);
    }

    void reads_data()
    {
        QTest::addColumn<QVariantList>("records");
        QTest::addColumn<QString>("resource");
        QTest::addColumn<double>("fallbackProgress");
        QTest::addColumn<double>("progress");
        QTest::addColumn<bool>("fallbackCompleted");
        QTest::addColumn<bool>("completed");
        QTest::addColumn<qlonglong>("position");
        QTest::addColumn<int>("page");

        const QString stamp = QStringLiteral("2024-05-01T09:00:00Z");
        QVariantMap opened = LearningProgressHarness::openedRecord(kResource, QStringLiteral("PDF"),
                                                                   QStringLiteral("https://m/p"), stamp);
        QVariantMap paged = opened;
        paged.insert(QStringLiteral("pageIndex"), 4);
        paged.insert(QStringLiteral("prog"), 0.5);
        QVariantMap completed = opened;
        completed.insert(QStringLiteral("completed"), true);
        completed.insert(QStringLiteral("prog"), 0.1);
        QVariantMap bare{{QStringLiteral("r_id"), kResource}, {QStringLiteral("title"), QStringLiteral("t")}};
        QVariantMap outOfRange = opened;
        outOfRange.insert(QStringLiteral("prog"), 3.5);

        QTest::newRow("no record, high fallback")
            << QVariantList() << kResource << 1.7 << 1.0 << true << true << qlonglong(0) << -1;
        QTest::newRow("no record, negative fallback")
            << QVariantList() << kResource << -0.2 << 0.0 << false << false << qlonglong(0) << -1;
        QTest::newRow("opened, never paged")
            << QVariantList{opened} << kResource << 0.7 << 0.0 << true << false << qlonglong(0) << -1;
        QTest::newRow("paged") << QVariantList{paged} << kResource << 0.7 << 0.5 << true << false
                               << qlonglong(0) << 4;
        QTest::newRow("completed, whatever its progress")
            << QVariantList{completed} << kResource << 0.0 << 1.0 << false << true << qlonglong(0) << -1;
        QTest::newRow("a record without the values")
            << QVariantList{bare} << kResource << 0.3 << 0.3 << true << true << qlonglong(0) << -1;
        QTest::newRow("stored progress out of range")
            << QVariantList{outOfRange} << kResource << 0.0 << 1.0 << false << false << qlonglong(0) << -1;
        QTest::newRow("another resource's record") << QVariantList{completed} << QStringLiteral("r10") << 0.2
                                                   << 0.2 << false << false << qlonglong(0) << -1;
    }

    void reads()
    {
        QFETCH(QVariantList, records);
        QFETCH(QString, resource);
        QFETCH(double, fallbackProgress);
        QFETCH(double, progress);
        QFETCH(bool, fallbackCompleted);
        QFETCH(bool, completed);
        QFETCH(qlonglong, position);
        QFETCH(int, page);
        LearningProgressHarness::seed(kActivityKey, records);
        auto controller = signedIn();

        QCOMPARE(controller->progress(resource, fallbackProgress), progress);
        QCOMPARE(controller->isCompleted(resource, fallbackCompleted), completed);
        QCOMPARE(controller->resumePosition(resource), position);
        QCOMPARE(controller->resumePage(resource), page);
    }

    void recentItemsAreTheThreeNewestStamps()
    {
        auto controller = signedIn();
        for (const char *id : {"a", "b", "c", "d"}) {
            LearningProgressHarness::open(*controller, QLatin1String(id));
            m_harness.advanceSeconds(60);
        }
        // A report stamps "a" newest but leaves it last in the list.
        controller->updatePdfPage(QStringLiteral("a"), 1, 5);
        QCOMPARE(LearningProgressHarness::ids(LearningProgressHarness::storedRecords(kUser)).last(),
                 QStringLiteral("a"));
        QCOMPARE(LearningProgressHarness::ids(controller->recentItems()),
                 QStringList({QStringLiteral("a"), QStringLiteral("d"), QStringLiteral("c")}));

        // Two openings within the same second keep list order: the later opening first.
        m_harness.advanceSeconds(60);
        LearningProgressHarness::open(*controller, QStringLiteral("e"));
        LearningProgressHarness::open(*controller, QStringLiteral("f"));
        QCOMPARE(LearningProgressHarness::ids(controller->recentItems()),
                 QStringList({QStringLiteral("f"), QStringLiteral("e"), QStringLiteral("a")}));
        const QVariantMap newest = controller->recentItems().first().toMap();
        QCOMPARE(newest, LearningProgressHarness::storedRecord(kUser, QStringLiteral("f")));
    }

    void recentItemsListOnlyWhatCanBeOpenedAgain_data()
    {
        QTest::addColumn<QVariantMap>("record");
        QTest::addColumn<bool>("listed");

        const QString stamp = QStringLiteral("2024-05-01T11:00:00Z");
        const auto opened = [&](const QString &type, const QString &url) {
            return LearningProgressHarness::openedRecord(QStringLiteral("x"), type, url, stamp);
        };
        QVariantMap hidden = opened(QStringLiteral("VIDEO"), QStringLiteral("https://m/v"));
        hidden.insert(QStringLiteral("hiddenFromRecent"), true);
        QVariantMap untitled = opened(QStringLiteral("VIDEO"), QStringLiteral("https://m/v"));
        untitled.insert(QStringLiteral("title"), QString());

        QTest::newRow("video with a url")
            << opened(QStringLiteral("VIDEO"), QStringLiteral("https://m/v")) << true;
        QTest::newRow("quiz without a url") << opened(QStringLiteral("QUIZ"), QString()) << true;
        QTest::newRow("video without a url") << opened(QStringLiteral("VIDEO"), QString()) << false;
        QTest::newRow("lower-case quiz without a url") << opened(QStringLiteral("quiz"), QString()) << false;
        QTest::newRow("without a type") << opened(QString(), QStringLiteral("https://m/v")) << false;
        QTest::newRow("without a title") << untitled << false;
        QTest::newRow("hidden") << hidden << false;
        QTest::newRow("made by a completion")
            << LearningProgressHarness::completionRecord(QStringLiteral("x"), stamp) << false;
    }

    void recentItemsListOnlyWhatCanBeOpenedAgain()
    {
        QFETCH(QVariantMap, record);
        QFETCH(bool, listed);
        const QVariantMap older = LearningProgressHarness::openedRecord(
            QStringLiteral("older"), QStringLiteral("PDF"), QStringLiteral("https://m/p"),
            QStringLiteral("2024-05-01T08:00:00Z"));
        LearningProgressHarness::seed(kActivityKey, QVariantList{record, older});
        auto controller = signedIn();

        QCOMPARE(LearningProgressHarness::ids(controller->recentItems()),
                 listed ? QStringList({QStringLiteral("x"), QStringLiteral("older")})
                        : QStringList({QStringLiteral("older")}));
    }

    void loadingRepairsRecordsAndWritesThemBack()
    {
        QVariantMap withoutWatermark =
            LearningProgressHarness::openedRecord(QStringLiteral("a"), QStringLiteral("VIDEO"),
                                                  QStringLiteral("https://m/a"), m_harness.nowStamp());
        withoutWatermark.remove(QStringLiteral("watermarkEnabled"));
        QVariantMap textShareable = LearningProgressHarness::openedRecord(
            QStringLiteral("b"), QStringLiteral("PDF"), QStringLiteral("https://m/b"), m_harness.nowStamp());
        textShareable.insert(QStringLiteral("isShareable"), QStringLiteral("true"));
        QVariantMap sound = LearningProgressHarness::openedRecord(
            QStringLiteral("c"), QStringLiteral("PDF"), QStringLiteral("https://m/c"), m_harness.nowStamp());
        sound.insert(QStringLiteral("isShareable"), true);
        sound.insert(QStringLiteral("watermarkEnabled"), false);
        LearningProgressHarness::seed(kActivityKey, QVariantList{QStringLiteral("not a record"),
                                                                 withoutWatermark, textShareable, sound});
        auto controller = m_harness.makeController();
        QStringList events;
        LearningProgressHarness::recordSignals(*controller, events);

        controller->setUserId(kUser);

        QCOMPARE(events, QStringList({QStringLiteral("userChanged")}) + kChangeSignals);
        QVERIFY(!LearningProgressHarness::saveTimer(*controller)->isActive());
        const QVariantList stored = LearningProgressHarness::storedRecords(kUser);
        QCOMPARE(stored.size(), 4);
        QCOMPARE(stored.at(0), QVariant(QVariantMap{{QStringLiteral("watermarkEnabled"), true},
                                                    {QStringLiteral("isShareable"), false}}));
        withoutWatermark.insert(QStringLiteral("watermarkEnabled"), true);
        QCOMPARE(stored.at(1), QVariant(withoutWatermark));
        textShareable.insert(QStringLiteral("isShareable"), false);
        QCOMPARE(stored.at(2), QVariant(textShareable));
        QCOMPARE(stored.at(3), QVariant(sound));
    }

    void aRestartKeepsTheStoredTypes()
    {
        {
            auto controller = signedIn();
            LearningProgressHarness::open(*controller, QStringLiteral("long"));
            controller->updateVideoPosition(QStringLiteral("long"), 5000000000LL, 6000000000LL, true);
            controller->recordOpened(QStringLiteral("shared"), QStringLiteral("c1"), QString(),
                                     QStringLiteral("t"), QStringLiteral("c"), QStringLiteral("PDF"),
                                     QString(), QStringLiteral("https://m/p"), true, true, true);
            LearningProgressHarness::open(*controller, QStringLiteral("unpaged"));
        }
        const QByteArray written = LearningProgressHarness::storeBytes();

        auto restarted = signedIn();

        QCOMPARE(restarted->resumePosition(QStringLiteral("long")), 5000000000LL);
        QVERIFY(restarted->isCompleted(QStringLiteral("shared")));
        QCOMPARE(restarted->resumePage(QStringLiteral("unpaged")), -1);
        const QVariantMap longRecord = LearningProgressHarness::storedRecord(kUser, QStringLiteral("long"));
        QCOMPARE(longRecord.value(QStringLiteral("positionMs")).typeId(), int(QMetaType::LongLong));
        QCOMPARE(longRecord.value(QStringLiteral("positionMs")).toLongLong(), 5000000000LL);
        const QVariantMap shared = LearningProgressHarness::storedRecord(kUser, QStringLiteral("shared"));
        QCOMPARE(shared.value(QStringLiteral("completed")).typeId(), int(QMetaType::Bool));
        QCOMPARE(shared.value(QStringLiteral("isShareable")), QVariant(true));
        const QVariantMap unpaged = LearningProgressHarness::storedRecord(kUser, QStringLiteral("unpaged"));
        QCOMPARE(unpaged.value(QStringLiteral("pageIndex")).typeId(), int(QMetaType::Int));
        QCOMPARE(unpaged.value(QStringLiteral("pageIndex")).toInt(), -1);
        // Nothing needed repair, so loading wrote nothing.
        QCOMPARE(LearningProgressHarness::storeBytes(), written);
    }
};

QTEST_GUILESS_MAIN(tst_LearningActivityStore)
#include "tst_LearningActivityStore.moc"
