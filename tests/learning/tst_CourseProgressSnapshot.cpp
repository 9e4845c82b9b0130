#include "learning/CourseProgressSnapshot.h"
#include "tests/learning/LearningProgressHarness.h"

#include <QSignalSpy>
#include <QTest>

using quorin::test::LearningProgressHarness;

namespace {

const QString kUser = QStringLiteral("u1");
const QString kCourse = QStringLiteral("c1");
const QString kSnapshotsKey = QStringLiteral("courseProgressSnapshots/u1");

QVariantMap entry(const QVariant &id, bool completed)
{
    return {{QStringLiteral("id"), id}, {QStringLiteral("completed"), completed}};
}

// A recent-item record that states a completion, or none when completed is invalid.
QVariantMap localRecord(const QString &id, const QVariant &completed = QVariant())
{
    QVariantMap record = LearningProgressHarness::openedRecord(
        id, QStringLiteral("VIDEO"), QStringLiteral("https://m/v"), QStringLiteral("2024-05-01T09:00:00Z"));
    record.remove(QStringLiteral("completed"));
    if (completed.isValid())
        record.insert(QStringLiteral("completed"), completed);
    return record;
}

QVariantList fourResources(const QString &serverComplete)
{
    QVariantList entries;
    for (const char *id : {"r1", "r2", "r3", "r4"})
        entries.append(entry(QLatin1String(id), serverComplete == QLatin1String(id)));
    return entries;
}

} // namespace

class tst_CourseProgressSnapshot : public QObject
{
    Q_OBJECT

private:
    LearningProgressHarness m_harness;

    std::unique_ptr<LearningProgressController> signedIn() { return m_harness.makeSignedInController(kUser); }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    void normalize_data()
    {
        QTest::addColumn<QVariantList>("items");
        QTest::addColumn<QVariantList>("entries");

        QTest::newRow("completed false outweighs isCompleted true")
            << QVariantList{QVariantMap{{QStringLiteral("id"), QStringLiteral("r1")},
                                        {QStringLiteral("completed"), false},
                                        {QStringLiteral("isCompleted"), true}}}
            << QVariantList{entry(QStringLiteral("r1"), false)};
        QTest::newRow("padded resourceId with isCompleted")
            << QVariantList{QVariantMap{{QStringLiteral("resourceId"), QStringLiteral(" r1 ")},
                                        {QStringLiteral("isCompleted"), true}}}
            << QVariantList{entry(QStringLiteral("r1"), true)};
        QTest::newRow("blank id falls back to resourceId")
            << QVariantList{QVariantMap{{QStringLiteral("id"), QStringLiteral("  ")},
                                        {QStringLiteral("resourceId"), QStringLiteral("r2")}}}
            << QVariantList{entry(QStringLiteral("r2"), false)};
        QTest::newRow("elements without an id dropped")
            << QVariantList{QVariantMap{{QStringLiteral("completed"), true}},
                            QVariantMap{{QStringLiteral("id"), QString()},
                                        {QStringLiteral("resourceId"), QString()}},
                            QVariantMap{{QStringLiteral("id"), QStringLiteral("r1")}}}
            << QVariantList{entry(QStringLiteral("r1"), false)};
        QTest::newRow("a repeated id keeps the first")
            << QVariantList{entry(QStringLiteral("r1"), true), entry(QStringLiteral("r2"), false),
                            entry(QStringLiteral(" r1"), false)}
            << QVariantList{entry(QStringLiteral("r1"), true), entry(QStringLiteral("r2"), false)};
        QTest::newRow("a number as id")
            << QVariantList{entry(42, true)} << QVariantList{entry(QStringLiteral("42"), true)};
        QTest::newRow("non-map elements skipped")
            << QVariantList{QStringLiteral("r1"), 7, QVariantList{}, entry(QStringLiteral("r2"), true)}
            << QVariantList{entry(QStringLiteral("r2"), true)};
        QTest::newRow("order kept") << QVariantList{entry(QStringLiteral("b"), false),
                                                    entry(QStringLiteral("a"), true)}
                                    << QVariantList{entry(QStringLiteral("b"), false),
                                                    entry(QStringLiteral("a"), true)};
        QTest::newRow("nothing") << QVariantList() << QVariantList();
    }

    void normalize()
    {
        QFETCH(QVariantList, items);
        QFETCH(QVariantList, entries);

        const QVariantList normalized = CourseProgressSnapshot::normalize(items);

        QCOMPARE(normalized, entries);
        for (const QVariant &item : normalized) {
            QCOMPARE(item.toMap().value(QStringLiteral("id")).typeId(), int(QMetaType::QString));
            QCOMPARE(item.toMap().value(QStringLiteral("completed")).typeId(), int(QMetaType::Bool));
        }
    }

    // Each row is checked twice: by the pure rule, and through a signed-in store holding the
    // snapshot and the records, as a restart would load them.
    void progress_data()
    {
        QTest::addColumn<QVariantList>("snapshot");
        QTest::addColumn<QVariantList>("records");
        QTest::addColumn<double>("fallback");
        QTest::addColumn<double>("expected");

        QTest::newRow("one server-complete, another complete locally")
            << fourResources(QStringLiteral("r1")) << QVariantList{localRecord(QStringLiteral("r3"), true)}
            << 0.9 << 0.5;
        QTest::newRow("server-complete, locally incomplete")
            << fourResources(QStringLiteral("r1")) << QVariantList{localRecord(QStringLiteral("r1"), false)}
            << 0.9 << 0.0;
        QTest::newRow("a record without completion keeps the snapshot's")
            << fourResources(QStringLiteral("r1")) << QVariantList{localRecord(QStringLiteral("r1"))} << 0.9
            << 0.25;
        QTest::newRow("a padded record id still overrides")
            << fourResources(QString()) << QVariantList{localRecord(QStringLiteral(" r2 "), true)} << 0.0
            << 0.25;
        QTest::newRow("records of other resources change nothing")
            << fourResources(QStringLiteral("r4")) << QVariantList{localRecord(QStringLiteral("x"), true)}
            << 0.0 << 0.25;
        QTest::newRow("not rounded") << QVariantList{entry(QStringLiteral("a"), true),
                                                     entry(QStringLiteral("b"), false),
                                                     entry(QStringLiteral("c"), false)}
                                     << QVariantList() << 0.0 << 1.0 / 3.0;
        QTest::newRow("no snapshot, fallback above 1") << QVariantList() << QVariantList() << 1.4 << 1.0;
        QTest::newRow("no snapshot, negative fallback") << QVariantList() << QVariantList() << -0.2 << 0.0;
        QTest::newRow("no snapshot, fallback kept") << QVariantList() << QVariantList() << 0.35 << 0.35;
        QTest::newRow("only elements without an id")
            << QVariantList{QVariantMap{{QStringLiteral("completed"), true}}}
            << QVariantList{localRecord(QStringLiteral("r1"), true)} << 0.6 << 0.6;
    }

    void progress()
    {
        QFETCH(QVariantList, snapshot);
        QFETCH(QVariantList, records);
        QFETCH(double, fallback);
        QFETCH(double, expected);

        QCOMPARE(CourseProgressSnapshot::calculate(snapshot, records, fallback), expected);

        LearningProgressHarness::seed(QStringLiteral("learningActivity/u1"), records);
        if (!snapshot.isEmpty())
            LearningProgressHarness::seed(kSnapshotsKey, QVariantMap{{kCourse, snapshot}});
        auto controller = signedIn();
        QCOMPARE(controller->courseProgress(kCourse, fallback), expected);
        QCOMPARE(controller->courseProgress(QStringLiteral(" c1 "), fallback), expected);
    }

    void localMarksCountAtOnce()
    {
        auto controller = signedIn();
        controller->updateCourseSnapshot(kCourse, fourResources(QStringLiteral("r1")));
        QCOMPARE(controller->courseProgress(kCourse), 0.25);

        LearningProgressHarness::open(*controller, QStringLiteral("r2"), QStringLiteral("VIDEO"),
                                      QStringLiteral("https://m/v"), true);
        QCOMPARE(controller->courseProgress(kCourse), 0.5);

        // Opened without completion: the record's false outweighs the server's true.
        LearningProgressHarness::open(*controller, QStringLiteral("r1"));
        QCOMPARE(controller->courseProgress(kCourse), 0.25);
    }

    void withoutAUserTheFallbackStands()
    {
        LearningProgressHarness::seed(kSnapshotsKey,
                                      QVariantMap{{kCourse, fourResources(QStringLiteral("r1"))}});
        auto controller = m_harness.makeController();

        QCOMPARE(controller->courseProgress(kCourse, 1.4), 1.0);
        QCOMPARE(controller->courseProgress(kCourse, -0.2), 0.0);
        QCOMPARE(controller->courseProgress(kCourse), 0.0);

        controller->updateCourseSnapshot(QStringLiteral("c2"), fourResources(QStringLiteral("r1")));
        QCOMPARE(LearningProgressHarness::stored(kSnapshotsKey).toMap().keys(), QStringList({kCourse}));
    }

    void anEmptySnapshotKeepsTheStoredOne_data()
    {
        QTest::addColumn<QVariantList>("items");

        QTest::newRow("empty list") << QVariantList();
        QTest::newRow("no element with an id")
            << QVariantList{QVariantMap{{QStringLiteral("completed"), true}}, QStringLiteral("r1")};
    }

    void anEmptySnapshotKeepsTheStoredOne()
    {
        QFETCH(QVariantList, items);
        auto controller = signedIn();
        controller->updateCourseSnapshot(kCourse, fourResources(QStringLiteral("r1")));
        const QByteArray before = LearningProgressHarness::storeBytes();
        QSignalSpy revisions(controller.get(), &LearningProgressController::revisionChanged);

        controller->updateCourseSnapshot(kCourse, items);

        QCOMPARE(revisions.count(), 0);
        QCOMPARE(LearningProgressHarness::storeBytes(), before);
        QCOMPARE(controller->courseProgress(kCourse), 0.25);
    }

    void onlyAChangedSnapshotIsWrittenAndAnnounced()
    {
        auto controller = signedIn();
        QSignalSpy revisions(controller.get(), &LearningProgressController::revisionChanged);
        QSignalSpy items(controller.get(), &LearningProgressController::recentItemsChanged);

        controller->updateCourseSnapshot(QStringLiteral(" c1 "), fourResources(QStringLiteral("r1")));
        QCOMPARE(revisions.count(), 1);
        QCOMPARE(items.count(), 1);
        QCOMPARE(LearningProgressHarness::stored(kSnapshotsKey),
                 QVariant(QVariantMap{{kCourse, fourResources(QStringLiteral("r1"))}}));

        // A marker in the store shows whether the same snapshot is written again.
        LearningProgressHarness::seed(kSnapshotsKey, QStringLiteral("marker"));
        QVariantList sameInAnotherForm;
        for (const char *id : {"r1", "r2", "r3", "r4"})
            sameInAnotherForm.append(QVariantMap{{QStringLiteral("resourceId"), QLatin1String(id)},
                                                 {QStringLiteral("isCompleted"), qstrcmp(id, "r1") == 0}});
        controller->updateCourseSnapshot(kCourse, sameInAnotherForm);
        QCOMPARE(revisions.count(), 1);
        QCOMPARE(LearningProgressHarness::stored(kSnapshotsKey), QVariant(QStringLiteral("marker")));

        controller->updateCourseSnapshot(kCourse, fourResources(QStringLiteral("r2")));
        QCOMPARE(revisions.count(), 2);
        QCOMPARE(items.count(), 2);
        QCOMPARE(LearningProgressHarness::stored(kSnapshotsKey),
                 QVariant(QVariantMap{{kCourse, fourResources(QStringLiteral("r2"))}}));
    }

    void snapshotsSurviveARestart()
    {
        {
            auto controller = signedIn();
            controller->updateCourseSnapshot(kCourse, fourResources(QStringLiteral("r4")));
            controller->updateCourseSnapshot(QStringLiteral("c2"), {entry(QStringLiteral("x"), true)});
        }
        auto restarted = signedIn();

        QCOMPARE(restarted->courseProgress(kCourse), 0.25);
        QCOMPARE(restarted->courseProgress(QStringLiteral("c2")), 1.0);
        // Another user sees none of them.
        restarted->setUserId(QStringLiteral("u2"));
        QCOMPARE(restarted->courseProgress(kCourse, 0.7), 0.7);
    }
};

QTEST_GUILESS_MAIN(tst_CourseProgressSnapshot)
#include "tst_CourseProgressSnapshot.moc"
