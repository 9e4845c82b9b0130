#include "learning/HistoryManager.h"
#include "learning/LearningProgressController.h"
#include "testsupport/ChildProcess.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace {

const QString kHistoryKey = QStringLiteral("recentHistory");
const char kExitChildVariable[] = "QUORIN_HISTORY_EXIT_CHILD";

QSettings store()
{
    return QSettings(QStringLiteral("quorin"), QStringLiteral("desktop"));
}

QVariantList storedHistory()
{
    return store().value(kHistoryKey).toList();
}

QByteArray storeBytes()
{
    QFile file(store().fileName());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList ids(const QVariantList &records)
{
    QStringList ids;
    for (const QVariant &record : records)
        ids.append(record.toMap().value(QStringLiteral("r_id")).toString());
    return ids;
}

QVariantMap storedRecord(const QString &id)
{
    return {{QStringLiteral("r_id"), id},
            {QStringLiteral("title"), QStringLiteral("Title of ") + id},
            {QStringLiteral("prog"), 0.5F},
            {QStringLiteral("isShareable"), true}};
}

void add(HistoryManager &history, const QString &id, float progress = 0.5F)
{
    history.addRecentItem(id, QStringLiteral("c1"), QStringLiteral("Title of ") + id,
                          QStringLiteral("Course one"), QStringLiteral("VIDEO"),
                          QStringLiteral("https://media.example/c1.png"), progress, true);
}

// The child of destructorSavesAfterTheApplicationIsGone: the process-wide list outlives the
// application object and saves from its destructor at exit.
int runExitChild(int argc, char *argv[])
{
    auto application = std::make_unique<QCoreApplication>(argc, argv);
    add(*HistoryManager::instance(), QStringLiteral("kept"));
    // As a switch of the signed-in user removes it, so only the exit save can bring it back.
    store().remove(kHistoryKey);
    application.reset();
    return 0;
}

} // namespace

class tst_HistoryManager : public QObject
{
    Q_OBJECT

private:
    QDateTime m_now;

    std::unique_ptr<HistoryManager> makeHistory()
    {
        return std::make_unique<HistoryManager>([this] { return m_now; });
    }

private Q_SLOTS:
    void init()
    {
        store().clear();
        m_now = QDateTime(QDate(2024, 5, 1), QTime(10, 0, 0), Qt::UTC);
    }

    void aFourthResourceDropsTheOldest()
    {
        auto history = makeHistory();
        QSignalSpy changes(history.get(), &HistoryManager::recentItemsChanged);
        for (const char *id : {"a", "b", "c", "d"}) {
            add(*history, QLatin1String(id));
            m_now = m_now.addSecs(60);
        }

        const QStringList newest{QStringLiteral("d"), QStringLiteral("c"), QStringLiteral("b")};
        QCOMPARE(changes.count(), 4);
        QCOMPARE(ids(history->recentItems()), newest);
        QCOMPARE(ids(storedHistory()), newest);
        QCOMPARE(storedHistory(), history->recentItems());
    }

    void addingAListedResourceMovesItToTheFront()
    {
        auto history = makeHistory();
        for (const char *id : {"a", "b", "c"})
            add(*history, QLatin1String(id));
        m_now = m_now.addSecs(90);

        history->addRecentItem(QStringLiteral("a"), QStringLiteral("c2"), QStringLiteral("Renamed"),
                               QStringLiteral("Course two"), QStringLiteral("PDF"), QString(), 0.75F, false);

        QCOMPARE(ids(history->recentItems()),
                 QStringList({QStringLiteral("a"), QStringLiteral("c"), QStringLiteral("b")}));
        const QVariantMap front = storedHistory().first().toMap();
        const QVariantMap expected{
            {QStringLiteral("r_id"), QStringLiteral("a")},
            {QStringLiteral("c_id"), QStringLiteral("c2")},
            {QStringLiteral("title"), QStringLiteral("Renamed")},
            {QStringLiteral("course"), QStringLiteral("Course two")},
            {QStringLiteral("r_type"), QStringLiteral("PDF")},
            {QStringLiteral("img"), QString()},
            {QStringLiteral("prog"), 0.75F},
            {QStringLiteral("isShareable"), false},
            {QStringLiteral("timestamp"), QStringLiteral("2024-05-01T10:01:30Z")},
        };
        QCOMPARE(front, expected);
    }

    void theShortFormIsNotShareableAndProgressStaysAFloat()
    {
        {
            auto history = makeHistory();
            history->addRecentItem(QStringLiteral("a"), QStringLiteral("c1"), QStringLiteral("t"),
                                   QStringLiteral("c"), QStringLiteral("VIDEO"), QString(), 0.25F);
            const QVariantMap stored = storedHistory().first().toMap();
            QCOMPARE(stored.value(QStringLiteral("isShareable")), QVariant(false));
            QCOMPARE(stored.value(QStringLiteral("prog")).typeId(), int(QMetaType::Float));
            QCOMPARE(stored.value(QStringLiteral("prog")).toFloat(), 0.25F);
        }
        auto reloaded = makeHistory();
        const QVariant progress = reloaded->recentItems().first().toMap().value(QStringLiteral("prog"));
        QCOMPARE(progress.typeId(), int(QMetaType::Float));
        QCOMPARE(progress.toFloat(), 0.25F);
    }

    void removingAnUnknownIdNeitherWritesNorAnnounces()
    {
        // Without "isShareable": a write would show the repaired record.
        store().setValue(kHistoryKey,
                         QVariantList{QVariantMap{{QStringLiteral("r_id"), QStringLiteral("a")}}});
        auto history = makeHistory();
        const QByteArray seeded = storeBytes();
        QSignalSpy changes(history.get(), &HistoryManager::recentItemsChanged);

        history->removeRecentItem(QStringLiteral("b"));

        QCOMPARE(changes.count(), 0);
        QCOMPARE(storeBytes(), seeded);
        QCOMPARE(ids(history->recentItems()), QStringList({QStringLiteral("a")}));
    }

    void removingTakesTheFirstMatchOnly_data()
    {
        QTest::addColumn<QVariantList>("stored");
        QTest::addColumn<QString>("id");
        QTest::addColumn<QStringList>("remaining");

        const QVariantMap withoutId{{QStringLiteral("title"), QStringLiteral("no id")}};
        QTest::newRow("a listed id") << QVariantList{storedRecord(QStringLiteral("a")),
                                                     storedRecord(QStringLiteral("b"))}
                                     << QStringLiteral("b") << QStringList({QStringLiteral("a")});
        QTest::newRow("empty id, empty r_id")
            << QVariantList{storedRecord(QStringLiteral("a")), storedRecord(QString())} << QString()
            << QStringList({QStringLiteral("a")});
        QTest::newRow("empty id, no r_id") << QVariantList{withoutId, storedRecord(QStringLiteral("a"))}
                                           << QString() << QStringList({QStringLiteral("a")});
        QTest::newRow("a repeated id")
            << QVariantList{storedRecord(QStringLiteral("a")), storedRecord(QStringLiteral("b")),
                            storedRecord(QStringLiteral("a"))}
            << QStringLiteral("a") << QStringList({QStringLiteral("b"), QStringLiteral("a")});
    }

    void removingTakesTheFirstMatchOnly()
    {
        QFETCH(QVariantList, stored);
        QFETCH(QString, id);
        QFETCH(QStringList, remaining);
        store().setValue(kHistoryKey, stored);
        auto history = makeHistory();
        QSignalSpy changes(history.get(), &HistoryManager::recentItemsChanged);

        history->removeRecentItem(id);

        QCOMPARE(changes.count(), 1);
        QCOMPARE(ids(history->recentItems()), remaining);
        QCOMPARE(ids(storedHistory()), remaining);
    }

    void loadingRepairsOnlyTheShareableFlag_data()
    {
        QTest::addColumn<QVariant>("element");
        QTest::addColumn<QVariantMap>("loaded");

        const QVariantMap bare{{QStringLiteral("r_id"), QStringLiteral("a")}};
        QVariantMap repaired = bare;
        repaired.insert(QStringLiteral("isShareable"), false);
        QVariantMap text = bare;
        text.insert(QStringLiteral("isShareable"), QStringLiteral("true"));
        QVariantMap shareable = bare;
        shareable.insert(QStringLiteral("isShareable"), true);

        QTest::newRow("without isShareable") << QVariant(bare) << repaired;
        QTest::newRow("isShareable as text") << QVariant(text) << repaired;
        QTest::newRow("isShareable true") << QVariant(shareable) << shareable;
        QTest::newRow("not a map") << QVariant(QStringLiteral("a"))
                                   << QVariantMap{{QStringLiteral("isShareable"), false}};
    }

    void loadingRepairsOnlyTheShareableFlag()
    {
        QFETCH(QVariant, element);
        QFETCH(QVariantMap, loaded);
        store().setValue(kHistoryKey, QVariantList{element, storedRecord(QStringLiteral("z"))});
        const QByteArray seeded = storeBytes();

        auto history = makeHistory();

        QCOMPARE(history->recentItems(), QVariantList({loaded, storedRecord(QStringLiteral("z"))}));
        // Repairs wait for the next save.
        QCOMPARE(storeBytes(), seeded);
    }

    void aLongStoredListLoadsWholeAndTheNextAddTrimsIt()
    {
        QVariantList five;
        for (const char *id : {"a", "b", "c", "d", "e"})
            five.append(storedRecord(QLatin1String(id)));
        store().setValue(kHistoryKey, five);
        auto history = makeHistory();
        QCOMPARE(history->recentItems(), five);

        add(*history, QStringLiteral("f"));

        const QStringList kept{QStringLiteral("f"), QStringLiteral("a"), QStringLiteral("b")};
        QCOMPARE(ids(history->recentItems()), kept);
        QCOMPARE(ids(storedHistory()), kept);
    }

    void anAddAfterTheProgressStoreRemovedTheKeyWritesItAgain()
    {
        auto history = makeHistory();
        add(*history, QStringLiteral("a"));
        add(*history, QStringLiteral("b"));
        LearningProgressController progress{LearningProgressController::Configuration()};
        progress.setUserId(QStringLiteral("u1"));
        QVERIFY(!store().contains(kHistoryKey));
        QCOMPARE(ids(history->recentItems()), QStringList({QStringLiteral("b"), QStringLiteral("a")}));

        add(*history, QStringLiteral("c"));

        QCOMPARE(ids(storedHistory()),
                 QStringList({QStringLiteral("c"), QStringLiteral("b"), QStringLiteral("a")}));
        // A list made after the removal starts empty.
        progress.setUserId(QStringLiteral("u2"));
        QCOMPARE(makeHistory()->recentItems(), QVariantList());
    }

    void destructionSavesTheList()
    {
        auto history = makeHistory();
        add(*history, QStringLiteral("a"));
        store().remove(kHistoryKey);

        history.reset();

        QCOMPARE(ids(storedHistory()), QStringList({QStringLiteral("a")}));
    }

    void destructorSavesAfterTheApplicationIsGone()
    {
        const auto child =
            quorin::test::ChildProcess::runSelf({{QLatin1String(kExitChildVariable), QStringLiteral("1")}});

        QVERIFY2(child.succeeded, child.output.constData());
        QCOMPARE(child.output, QByteArray());
        const QVariantList stored = storedHistory();
        QCOMPARE(ids(stored), QStringList({QStringLiteral("kept")}));
        QCOMPARE(stored.first().toMap().value(QStringLiteral("isShareable")), QVariant(true));
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsSet(kExitChildVariable))
        return runExitChild(argc, argv);
    QCoreApplication application(argc, argv);
    tst_HistoryManager test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_HistoryManager.moc"
