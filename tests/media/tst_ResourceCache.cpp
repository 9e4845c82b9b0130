#include "app/DiagnosticLogger.h"
#include "media/ResourceCache.h"
#include "testsupport/LogLineParser.h"
#include "testsupport/LogRecorder.h"
#include "testsupport/ProcessSandbox.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QUuid>
#include <atomic>
#include <chrono>
#include <memory>
#include <vector>

using quorin::test::LogLineParser;
using quorin::test::LogRecorder;
using quorin::test::ProcessSandbox;

namespace {

constexpr qint64 MiB = 1024 * 1024;
constexpr qint64 GiB = 1024 * MiB;
constexpr QFileDevice::Permissions OwnerOnlyFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

const QString SegmentUrl = QStringLiteral("https://media.example/course/lecture/720p/segment-3.ts");

QString url(int index)
{
    return QStringLiteral("https://media.example/v/segment-%1.ts").arg(index);
}

QString sha256Hex(const QString &text)
{
    return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Sparse: the volume's real limits are tested without writing a gigabyte.
bool makeSparseFile(const QString &path, qint64 size)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.resize(size);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool setModified(const QString &path, const QDateTime &time)
{
    QFile file(path);
    return file.open(QIODevice::ReadWrite) && file.setFileTime(time, QFileDevice::FileModificationTime);
}

QString markerOf(const QString &temporaryPath)
{
    return temporaryPath + QStringLiteral(".complete");
}

QString segmentStagingPath(const ResourceCache &cache, const QString &key)
{
    return cache.getTempPath(key) + QLatin1Char('.') + QUuid::createUuid().toString(QUuid::WithoutBraces) +
           QStringLiteral(".part");
}

// A staging file as the proxy leaves it, ready to publish.
QString stage(const ResourceCache &cache, const QString &key, const QByteArray &bytes)
{
    const QString path = segmentStagingPath(cache, key);
    return writeFile(path, bytes) ? path : QString();
}

QString stageSparse(const ResourceCache &cache, const QString &key, qint64 size)
{
    const QString path = segmentStagingPath(cache, key);
    return makeSparseFile(path, size) ? path : QString();
}

// Every file and folder directly in the root whose name contains the text.
QStringList entriesContaining(const QString &root, const QString &text)
{
    QStringList names;
    for (const QString &name : QDir(root).entryList(QDir::AllEntries | QDir::NoDotAndDotDot)) {
        if (name.contains(text))
            names.append(name);
    }
    return names;
}

qint64 bytesOfFilesIn(const QString &root)
{
    qint64 total = 0;
    QDirIterator files(root, QDir::Files);
    while (files.hasNext()) {
        files.next();
        total += files.fileInfo().size();
    }
    return total;
}

} // namespace

class tst_ResourceCache : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    QDateTime m_now;
    qsizetype m_logStart = 0;

    QString cacheRoot() const { return m_folder->filePath(QStringLiteral("downloads/cache")); }

    // The production limits, a volume reporting the given bytes, a fixed "now" and timers far away.
    ResourceCache::Settings settings(std::function<qint64(const QString &)> availableBytes = {}) const
    {
        ResourceCache::Settings settings = ResourceCache::Settings::production();
        settings.root = cacheRoot();
        settings.availableBytes =
            availableBytes ? std::move(availableBytes) : [](const QString &) { return 5 * GiB; };
        settings.firstCleanupDelayMs = 3600000;
        settings.cleanupPeriodMs = 3600000;
        settings.now = [now = m_now] { return now; };
        return settings;
    }

    // A complete (or, unmarked, an incomplete) temporary copy written at the given age.
    bool placeCopy(const ResourceCache &cache, const QString &key, qint64 size, qint64 ageSecs,
                   bool marked = true) const
    {
        const QString path = cache.getTempPath(key);
        return makeSparseFile(path, size) && setModified(path, m_now.addSecs(-ageSecs)) &&
               (!marked || writeFile(markerOf(path), {}));
    }

    // The "cache" records written since the test began, of one event or, with none, of all.
    QList<LogLineParser::Record> cacheRecords(const QString &event = QString()) const
    {
        if (!DiagnosticLogger::waitUntilWritten(std::chrono::seconds(10)))
            return {};
        QList<LogLineParser::Record> matching;
        const QList<LogLineParser::Record> records =
            LogLineParser::parseFile(DiagnosticLogger::logFilePath()).mid(m_logStart);
        for (const LogLineParser::Record &record : records) {
            if (record.value(QStringLiteral("category")) == QLatin1String("cache") &&
                (event.isEmpty() || record.event() == event))
                matching.append(record);
        }
        return matching;
    }

    // The one record of an event about one key, as it stands in the file.
    void verifyResourceRecord(const QString &event, const QString &key, const QString &level,
                              const QString &stage = QString()) const
    {
        const QList<LogLineParser::Record> records = cacheRecords(event);
        QCOMPARE(records.size(), 1);
        const LogLineParser::Record &record = records.constFirst();
        QCOMPARE(record.value(QStringLiteral("level")), level);
        QCOMPARE(record.value(QStringLiteral("resource_fp")), DiagnosticLogger::fingerprint(key));
        QCOMPARE(record.value(QStringLiteral("stage")), stage);
        if (event != QLatin1String("commit_failed"))
            QVERIFY(record.contains(QStringLiteral("duration_ms")));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        DiagnosticLogger::initialize();
        QVERIFY(DiagnosticLogger::detailed());
    }

    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        QVERIFY(m_folder->isValid());
        m_now = QDateTime::currentDateTime();
        QVERIFY(DiagnosticLogger::waitUntilWritten(std::chrono::seconds(10)));
        m_logStart = LogLineParser::parseFile(DiagnosticLogger::logFilePath()).size();
    }

    void cleanup() { m_folder.reset(); }

    // Names

    void hashUrl_data()
    {
        QTest::addColumn<QString>("key");
        QTest::newRow("segment") << SegmentUrl;
        QTest::newRow("non-ASCII") << QStringLiteral("https://media.example/دورة/ü.ts");
        QTest::newRow("vault key") << ResourceCache::vaultKey(QStringLiteral("lecture-1"), SegmentUrl);
        QTest::newRow("empty") << QString();
    }

    void hashUrl()
    {
        QFETCH(QString, key);
        ResourceCache cache(settings());
        const QString stem = ResourceCache::hashUrl(key);

        QCOMPARE(stem, sha256Hex(key));
        QCOMPARE(stem.size(), 64);
        QCOMPARE(stem, stem.toLower());
        QCOMPARE(cache.getTempPath(key),
                 cacheRoot() + QLatin1Char('/') + stem + QStringLiteral(".cache.enc"));
        QCOMPARE(cache.getPermanentPath(key), cacheRoot() + QLatin1Char('/') + stem + QStringLiteral(".enc"));
        // Stable across objects (and so across runs).
        ResourceCache again(settings());
        QCOMPARE(again.getTempPath(key), cache.getTempPath(key));
    }

    void distinctKeysGiveDistinctFiles_data()
    {
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("second");
        QTest::newRow("letter case") << QStringLiteral("https://media.example/v/X.ts")
                                     << QStringLiteral("https://media.example/v/x.ts");
        QTest::newRow("encoded character") << QStringLiteral("https://media.example/v/%41.ts")
                                           << QStringLiteral("https://media.example/v/A.ts");
        QTest::newRow("two lectures, one URL")
            << ResourceCache::vaultKey(QStringLiteral("lecture-1"), SegmentUrl)
            << ResourceCache::vaultKey(QStringLiteral("lecture-2"), SegmentUrl);
        QTest::newRow("vault key and bare URL")
            << ResourceCache::vaultKey(QStringLiteral("lecture-1"), SegmentUrl) << SegmentUrl;
        QTest::newRow("id and URL do not run together")
            << ResourceCache::vaultKey(QStringLiteral("lecture-1"), QStringLiteral("2https://k"))
            << ResourceCache::vaultKey(QStringLiteral("lecture-12"), QStringLiteral("https://k"));
    }

    void distinctKeysGiveDistinctFiles()
    {
        QFETCH(QString, first);
        QFETCH(QString, second);
        ResourceCache cache(settings());
        QVERIFY(cache.getTempPath(first) != cache.getTempPath(second));
        QVERIFY(cache.getPermanentPath(first) != cache.getPermanentPath(second));
    }

    void vaultKeyIsLectureNulUrl()
    {
        QCOMPARE(ResourceCache::vaultKey(QStringLiteral("lecture-7"), SegmentUrl),
                 QStringLiteral("lecture-7") + QChar(u'\0') + SegmentUrl);
    }

    void activePathIsTemporaryUntilPermanent()
    {
        ResourceCache cache(settings());
        QCOMPARE(cache.getActivePath(SegmentUrl), cache.getTempPath(SegmentUrl));
        QVERIFY(placeCopy(cache, SegmentUrl, 10, 0));
        QCOMPARE(cache.getActivePath(SegmentUrl), cache.getTempPath(SegmentUrl));
        QVERIFY(!cache.isPermanent(SegmentUrl));

        QVERIFY(writeFile(cache.getPermanentPath(SegmentUrl), "offline"));
        QCOMPARE(cache.getActivePath(SegmentUrl), cache.getPermanentPath(SegmentUrl));
        QVERIFY(cache.isPermanent(SegmentUrl));
    }

    void rootIsAbsoluteCleanAndPrivate()
    {
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_folder->path()));
        const QString expected = QDir::currentPath() + QStringLiteral("/app-data/downloads/cache");
        ResourceCache::Settings relative = settings();
        relative.root = QStringLiteral("stray/../app-data//downloads/./cache/");
        ResourceCache cache(relative);
        QVERIFY(QDir::setCurrent(previous));

        QCOMPARE(cache.root(), expected);
        QVERIFY(cache.getTempPath(SegmentUrl).startsWith(expected + QLatin1Char('/')));
        for (const QString &folder : {expected, QFileInfo(expected).absolutePath(),
                                      QFileInfo(QFileInfo(expected).absolutePath()).absolutePath()})
            QCOMPARE(QFileInfo(folder).permissions() & 0x7077, OwnerOnlyFolder);
        QVERIFY(!QFileInfo::exists(m_folder->filePath(QStringLiteral("stray"))));

        // The lease key and the eviction candidate are the same string: the leased copy survives.
        QVERIFY(placeCopy(cache, url(1), GiB, 60));
        const ResourceCache::TemporaryLease lease = cache.leaseTemporary(url(1));
        QVERIFY(!cache.publishTempFile(url(2), stage(cache, url(2), "new")));
        QVERIFY(cache.exists(url(1)));
    }

    void productionSettings()
    {
        const ResourceCache::Settings production = ResourceCache::Settings::production();
        QCOMPARE(production.root, QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                                      QStringLiteral("/downloads/cache"));
        QCOMPARE(production.temporaryBudgetBytes, qint64(1073741824));
        QCOMPARE(production.minimumFreeBytes, qint64(1073741824));
        QCOMPARE(production.firstCleanupDelayMs, 5000);
        QCOMPARE(production.cleanupPeriodMs, 3600000);
        QVERIFY(qAbs(production.now().secsTo(QDateTime::currentDateTime())) < 60);

        QStorageInfo volume(m_folder->path());
        QVERIFY(volume.isValid());
        QVERIFY(production.availableBytes(m_folder->path()) > 0);
        QVERIFY(qAbs(production.availableBytes(m_folder->path()) - volume.bytesAvailable()) < GiB);
        QCOMPARE(production.availableBytes(m_folder->filePath(QStringLiteral("missing/folder"))), qint64(0));
    }

    // Publishing

    void publishMakesACompleteCopy()
    {
        ResourceCache cache(settings());
        const QString staging = stage(cache, SegmentUrl, "segment bytes");

        QVERIFY(cache.publishTempFile(SegmentUrl, staging));

        QCOMPARE(readFile(cache.getTempPath(SegmentUrl)), QByteArray("segment bytes"));
        QVERIFY(QFileInfo(markerOf(cache.getTempPath(SegmentUrl))).isFile());
        QCOMPARE(QFileInfo(markerOf(cache.getTempPath(SegmentUrl))).size(), qint64(0));
        QVERIFY(!QFileInfo::exists(staging));
        QVERIFY(cache.exists(SegmentUrl));
        QVERIFY(!cache.isPermanent(SegmentUrl));
        verifyResourceRecord(QStringLiteral("publish_complete"), SegmentUrl, QStringLiteral("info"));
    }

    void publishOverAnExistingCopyKeepsIt_data()
    {
        QTest::addColumn<bool>("permanent");
        QTest::newRow("complete temporary copy") << false;
        QTest::newRow("permanent copy") << true;
    }

    void publishOverAnExistingCopyKeepsIt()
    {
        QFETCH(bool, permanent);
        ResourceCache cache(settings());
        const QString existing =
            permanent ? cache.getPermanentPath(SegmentUrl) : cache.getTempPath(SegmentUrl);
        QVERIFY(writeFile(existing, "first bytes"));
        if (!permanent)
            QVERIFY(writeFile(markerOf(existing), {}));
        const QString staging = stage(cache, SegmentUrl, "second bytes");

        QVERIFY(cache.publishTempFile(SegmentUrl, staging));

        QCOMPARE(readFile(existing), QByteArray("first bytes"));
        QCOMPARE(readFile(cache.getActivePath(SegmentUrl)), QByteArray("first bytes"));
        QVERIFY(!QFileInfo::exists(staging));
        QCOMPARE(entriesContaining(cacheRoot(), QStringLiteral(".part")), QStringList());
        verifyResourceRecord(QStringLiteral("publish_reused"), SegmentUrl, QStringLiteral("info"));
        QVERIFY(cacheRecords(QStringLiteral("publish_complete")).isEmpty());
    }

    void publishingEvictsOldestUnleasedFirst_data()
    {
        QTest::addColumn<bool>("oldestLeased");
        QTest::newRow("nothing leased") << false;
        QTest::newRow("oldest copy leased") << true;
    }

    // 1 GiB of copies; 10 MB incoming must free at least 10,000,000 bytes. The oldest copy is
    // 1 MiB, then two of 12 MiB written at the same time, of which the larger name goes first.
    void publishingEvictsOldestUnleasedFirst()
    {
        QFETCH(bool, oldestLeased);
        const LogRecorder recorder;
        ResourceCache cache(settings());
        const QString oldest = url(1);
        QString tieFirst = url(2);
        QString tieSecond = url(3);
        if (cache.getTempPath(tieFirst) < cache.getTempPath(tieSecond))
            std::swap(tieFirst, tieSecond);
        const QString newer = url(4);
        const QString newest = url(5);
        QVERIFY(placeCopy(cache, oldest, 1 * MiB, 7200));
        QVERIFY(placeCopy(cache, tieFirst, 12 * MiB, 3600));
        QVERIFY(placeCopy(cache, tieSecond, 12 * MiB, 3600));
        QVERIFY(placeCopy(cache, newer, 6 * MiB, 1800));
        QVERIFY(placeCopy(cache, newest, GiB - 31 * MiB, 60));
        QCOMPARE(cache.temporaryBytes(), GiB);
        ResourceCache::TemporaryLease lease;
        if (oldestLeased)
            lease = cache.leaseTemporary(oldest);

        QVERIFY(cache.publishTempFile(url(6), stageSparse(cache, url(6), 10000000)));

        const QStringList evicted = oldestLeased ? QStringList{tieFirst} : QStringList{oldest, tieFirst};
        for (const QString &key : {oldest, tieFirst, tieSecond, newer, newest}) {
            const bool gone = evicted.contains(key);
            QCOMPARE(QFileInfo::exists(cache.getTempPath(key)), !gone);
            QCOMPARE(QFileInfo::exists(markerOf(cache.getTempPath(key))), !gone);
        }
        QVERIFY(cache.exists(url(6)));

        const qint64 freed = oldestLeased ? 12 * MiB : 13 * MiB;
        const QList<LogLineParser::Record> cleanups = cacheRecords(QStringLiteral("cleanup_complete"));
        QCOMPARE(cleanups.size(), 1);
        QCOMPARE(cleanups.constFirst().value(QStringLiteral("deleted")), QString::number(evicted.size()));
        // The file masks long numbers; the byte counts are read as they were handed to the log.
        const QList<LogRecorder::Record> handed = recorder.withEvent(QStringLiteral("cleanup_complete"));
        QCOMPARE(handed.size(), 1);
        QCOMPARE(handed.constFirst().field(QStringLiteral("temporary_bytes")), QString::number(GiB - freed));
        QCOMPARE(handed.constFirst().field(QStringLiteral("free_bytes")), QString::number(5 * GiB + freed));
    }

    void leasedCopiesOnlyMakePublishFail()
    {
        ResourceCache cache(settings());
        QVERIFY(placeCopy(cache, url(1), GiB / 2, 120));
        QVERIFY(placeCopy(cache, url(2), GiB / 2, 60));
        const ResourceCache::TemporaryLease first = cache.leaseTemporary(url(1));
        const ResourceCache::TemporaryLease second = cache.leaseTemporary(url(2));
        const QString staging = stageSparse(cache, url(3), 10000000);

        QVERIFY(!cache.publishTempFile(url(3), staging));

        QVERIFY(!QFileInfo::exists(staging));
        QVERIFY(!QFileInfo::exists(cache.getTempPath(url(3))));
        QVERIFY(!cache.exists(url(3)));
        QVERIFY(cache.exists(url(1)));
        QVERIFY(cache.exists(url(2)));
        verifyResourceRecord(QStringLiteral("publish_failed"), url(3), QStringLiteral("warning"),
                             QStringLiteral("rename"));
    }

    void nestedLeasesProtectUntilBothEnd()
    {
        ResourceCache cache(settings());
        QVERIFY(placeCopy(cache, url(1), GiB, 60));
        auto first = std::make_unique<ResourceCache::TemporaryLease>(cache.leaseTemporary(url(1)));
        auto second = std::make_unique<ResourceCache::TemporaryLease>(cache.leaseTemporary(url(1)));
        QCOMPARE(first->path(), cache.getTempPath(url(1)));

        QVERIFY(!cache.publishTempFile(url(2), stage(cache, url(2), "a")));
        first.reset();
        QVERIFY(!cache.publishTempFile(url(3), stage(cache, url(3), "b")));
        QVERIFY(cache.exists(url(1)));
        second.reset();
        QVERIFY(cache.publishTempFile(url(4), stage(cache, url(4), "c")));
        QVERIFY(!cache.exists(url(1)));
    }

    void movedFromLeaseReleasesNothing()
    {
        ResourceCache cache(settings());
        QVERIFY(placeCopy(cache, url(1), GiB, 60));
        auto movedFrom = std::make_unique<ResourceCache::TemporaryLease>(cache.leaseTemporary(url(1)));
        const auto holder = std::make_unique<ResourceCache::TemporaryLease>(std::move(*movedFrom));
        QVERIFY(!movedFrom->isActive());
        QVERIFY(holder->isActive());

        movedFrom.reset();

        QVERIFY(!cache.publishTempFile(url(2), stage(cache, url(2), "a")));
        QVERIFY(cache.exists(url(1)));
    }

    void assigningIntoALeaseReleasesItsCopy()
    {
        ResourceCache cache(settings());
        QVERIFY(placeCopy(cache, url(1), GiB / 2, 120));
        QVERIFY(placeCopy(cache, url(2), GiB / 2, 60));
        ResourceCache::TemporaryLease target = cache.leaseTemporary(url(1));
        ResourceCache::TemporaryLease source = cache.leaseTemporary(url(2));

        target = std::move(source);

        QVERIFY(!source.isActive());
        QCOMPARE(target.path(), cache.getTempPath(url(2)));
        QVERIFY(cache.publishTempFile(url(3), stage(cache, url(3), "a")));
        QVERIFY(!cache.exists(url(1)));
        QVERIFY(cache.exists(url(2)));
    }

    // Floor

    // A volume of fixed capacity: what the folder's files take is not available.
    void freeSpaceFloorEvictsFarUnderTheBudget()
    {
        const QString root = cacheRoot();
        const qint64 capacity = GiB - 40 * MiB + 100 * MiB;
        ResourceCache cache(
            settings([root, capacity](const QString &) { return capacity - bytesOfFilesIn(root); }));
        for (int index = 0; index < 10; ++index)
            QVERIFY(placeCopy(cache, url(index), 10 * MiB, 1000 - index));
        QCOMPARE(cache.availableBytes(), GiB - 40 * MiB);

        cache.runCleanup();

        for (int index = 0; index < 10; ++index)
            QCOMPARE(cache.exists(url(index)), index >= 4);
        QCOMPARE(cache.temporaryBytes(), 60 * MiB);
        const QList<LogLineParser::Record> cleanups = cacheRecords(QStringLiteral("cleanup_complete"));
        QCOMPARE(cleanups.size(), 1);
        QCOMPARE(cleanups.constFirst().value(QStringLiteral("deleted")), QStringLiteral("4"));
    }

    void unreadableVolumeEvictsEverythingUnleasedAndRefusesPublishing()
    {
        ResourceCache cache(settings([](const QString &) { return qint64(0); }));
        for (int index = 0; index < 3; ++index)
            QVERIFY(placeCopy(cache, url(index), 10 * MiB, 100 - index));
        const ResourceCache::TemporaryLease lease = cache.leaseTemporary(url(1));
        QVERIFY(!cache.canAcceptTemporary(0));

        cache.runCleanup();

        QVERIFY(!cache.exists(url(0)));
        QVERIFY(cache.exists(url(1)));
        QVERIFY(!cache.exists(url(2)));
        const QString staging = stage(cache, url(5), "x");
        QVERIFY(!cache.publishTempFile(url(5), staging));
        QVERIFY(!QFileInfo::exists(staging));
        QVERIFY(!QFileInfo::exists(cache.getTempPath(url(5))));
        verifyResourceRecord(QStringLiteral("publish_failed"), url(5), QStringLiteral("warning"),
                             QStringLiteral("rename"));
    }

    void canAcceptTemporaryUsesTheSettings_data()
    {
        QTest::addColumn<qint64>("available");
        QTest::addColumn<qint64>("incoming");
        QTest::addColumn<bool>("accepted");
        // 600 bytes in use, a budget of 1000 and a floor of 500.
        QTest::newRow("within the budget") << qint64(100000) << qint64(400) << true;
        QTest::newRow("over the budget") << qint64(100000) << qint64(401) << false;
        QTest::newRow("down to the floor") << qint64(800) << qint64(300) << true;
        QTest::newRow("below the floor") << qint64(800) << qint64(301) << false;
    }

    void canAcceptTemporaryUsesTheSettings()
    {
        QFETCH(qint64, available);
        QFETCH(qint64, incoming);
        QFETCH(bool, accepted);
        ResourceCache::Settings small = settings([available](const QString &) { return available; });
        small.temporaryBudgetBytes = 1000;
        small.minimumFreeBytes = 500;
        ResourceCache cache(small);
        QVERIFY(placeCopy(cache, url(1), 600, 0));

        QCOMPARE(cache.canAcceptTemporary(incoming), accepted);
    }

    void temporaryBytesCountsOnlyCopiesDirectlyInTheRoot()
    {
        ResourceCache cache(settings());
        QVERIFY(placeCopy(cache, url(1), 600, 0));
        QVERIFY(makeSparseFile(cache.getPermanentPath(url(2)), 10000));
        QVERIFY(makeSparseFile(segmentStagingPath(cache, url(3)), 10000));
        QVERIFY(QDir(cacheRoot()).mkpath(QStringLiteral("nested")));
        QVERIFY(makeSparseFile(cacheRoot() + QStringLiteral("/nested/x.cache.enc"), 10000));
        QVERIFY(QDir(cacheRoot()).mkdir(QStringLiteral("folder.cache.enc")));

        QCOMPARE(cache.temporaryBytes(), qint64(600));
    }

    // Incomplete copies

    void invalidatedCopyIsReplacedByTheNextPublish()
    {
        ResourceCache cache(settings());
        QVERIFY(cache.publishTempFile(SegmentUrl, stage(cache, SegmentUrl, "old bytes")));

        cache.invalidateTemp(SegmentUrl);

        QVERIFY(!cache.exists(SegmentUrl));
        QVERIFY(QFileInfo::exists(cache.getTempPath(SegmentUrl)));
        QVERIFY(cache.publishTempFile(SegmentUrl, stage(cache, SegmentUrl, "new bytes")));
        QVERIFY(cache.exists(SegmentUrl));
        QCOMPARE(readFile(cache.getTempPath(SegmentUrl)), QByteArray("new bytes"));
        QCOMPARE(cacheRecords(QStringLiteral("publish_complete")).size(), 2);
        QVERIFY(cacheRecords(QStringLiteral("publish_reused")).isEmpty());
    }

    void unmarkedCopyIsStillEvictedByAge()
    {
        ResourceCache cache(settings());
        QVERIFY(placeCopy(cache, url(1), GiB / 2, 120, false));
        QVERIFY(placeCopy(cache, url(2), GiB / 2, 60));

        QVERIFY(cache.publishTempFile(url(3), stage(cache, url(3), "a")));

        QVERIFY(!QFileInfo::exists(cache.getTempPath(url(1))));
        QVERIFY(cache.exists(url(2)));
    }

    // Something in the way (as root, permissions cannot make a write fail)

    void obstacleFailsPublishing_data()
    {
        QTest::addColumn<QString>("obstacleSuffix");
        QTest::addColumn<QString>("failedStage");
        QTest::newRow("folder at the temporary path") << QString() << QStringLiteral("rename");
        QTest::newRow("folder at the marker path") << QStringLiteral(".complete") << QStringLiteral("marker");
    }

    void obstacleFailsPublishing()
    {
        QFETCH(QString, obstacleSuffix);
        QFETCH(QString, failedStage);
        ResourceCache cache(settings());
        const QString temporary = cache.getTempPath(SegmentUrl);
        QVERIFY(QDir().mkdir(temporary + obstacleSuffix));
        const QString staging = stage(cache, SegmentUrl, "bytes");

        QVERIFY(!cache.publishTempFile(SegmentUrl, staging));

        QVERIFY(!QFileInfo::exists(staging));
        QVERIFY(!cache.exists(SegmentUrl));
        if (!obstacleSuffix.isEmpty())
            QVERIFY(!QFileInfo::exists(temporary));
        QCOMPARE(entriesContaining(cacheRoot(), QStringLiteral(".part")), QStringList());
        verifyResourceRecord(QStringLiteral("publish_failed"), SegmentUrl, QStringLiteral("warning"),
                             failedStage);
    }

    // Staging clean-up

    void staleStagingFiles_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<int>("ageHours");
        QTest::addColumn<bool>("removed");
        const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
        const QString part = QLatin1Char('.') + uuid + QStringLiteral(".part");
        QTest::newRow("segment download, 49 h") << part << 49 << true;
        QTest::newRow("segment download, 47 h") << part << 47 << false;
        QTest::newRow("prefetch, 49 h") << QStringLiteral(".prefetch-") + uuid << 49 << true;
        QTest::newRow("prefetch, 47 h") << QStringLiteral(".prefetch-") + uuid << 47 << false;
        QTest::newRow("playlist, 49 h") << QStringLiteral(".playlist-") + uuid << 49 << false;
        QTest::newRow("playlist, a year") << QStringLiteral(".playlist-") + uuid << 24 * 365 << false;
        QTest::newRow("download, 49 h") << QStringLiteral(".download-") + uuid << 49 << false;
        QTest::newRow("download, a year") << QStringLiteral(".download-") + uuid << 24 * 365 << false;
    }

    void staleStagingFiles()
    {
        QFETCH(QString, suffix);
        QFETCH(int, ageHours);
        QFETCH(bool, removed);
        ResourceCache cache(settings());
        const QString path = cache.getTempPath(SegmentUrl) + suffix;
        QVERIFY(writeFile(path, "partial"));
        QVERIFY(setModified(path, m_now.addSecs(-3600 * ageHours)));

        cache.runCleanup();

        QCOMPARE(QFileInfo::exists(path), !removed);
        const QList<LogLineParser::Record> cleanups = cacheRecords(QStringLiteral("cleanup_complete"));
        QCOMPARE(cleanups.size(), 1);
        QCOMPARE(cleanups.constFirst().value(QStringLiteral("deleted")), QString::number(removed ? 1 : 0));
    }

    void stagingFileBeingPublishedIsNotStale()
    {
        ResourceCache cache(settings());
        const QString staging = stage(cache, SegmentUrl, "slow download");
        QVERIFY(setModified(staging, m_now.addSecs(-3600 * 49)));

        QVERIFY(cache.publishTempFile(SegmentUrl, staging));

        QCOMPARE(readFile(cache.getTempPath(SegmentUrl)), QByteArray("slow download"));
    }

    // Timer

    void timerCleansUpWithoutPublishing_data()
    {
        QTest::addColumn<bool>("madeOnAWorkerThread");
        QTest::newRow("made on the application thread") << false;
        QTest::newRow("made on a worker thread that ends") << true;
    }

    void timerCleansUpWithoutPublishing()
    {
        QFETCH(bool, madeOnAWorkerThread);
        ResourceCache::Settings fast = settings();
        fast.firstCleanupDelayMs = 50;
        fast.cleanupPeriodMs = 200;
        fast.now = [] { return QDateTime::currentDateTime(); };
        QVERIFY(QDir().mkpath(cacheRoot()));
        const QString first = cacheRoot() + QStringLiteral("/first.part");
        QVERIFY(writeFile(first, "stale"));
        QVERIFY(setModified(first, m_now.addDays(-3)));

        std::unique_ptr<ResourceCache> cache;
        if (madeOnAWorkerThread) {
            const std::unique_ptr<QThread> worker(
                QThread::create([&cache, fast] { cache = std::make_unique<ResourceCache>(fast); }));
            worker->start();
            QVERIFY(worker->wait(10000));
            QCOMPARE(cache->thread(), QThread::currentThread());
        } else {
            cache = std::make_unique<ResourceCache>(fast);
        }

        QTRY_VERIFY(!QFileInfo::exists(first));
        const QString second = cacheRoot() + QStringLiteral("/second.prefetch-x");
        QVERIFY(writeFile(second, "stale"));
        QVERIFY(setModified(second, m_now.addDays(-3)));
        QTRY_VERIFY(!QFileInfo::exists(second));
        QVERIFY(cacheRecords(QStringLiteral("publish_complete")).isEmpty());
    }

    // Committing

    void commit_data()
    {
        QTest::addColumn<QString>("temporary"); // "file", "folder" or ""
        QTest::addColumn<bool>("marked");
        QTest::addColumn<QString>("permanent");         // "file", "folder" (not empty) or ""
        QTest::addColumn<QByteArray>("permanentAfter"); // empty: no permanent copy
        QTest::addColumn<bool>("temporaryRemains");

        QTest::newRow("marked copy") << "file" << true << "" << QByteArray("new") << false;
        QTest::newRow("replaces an old permanent copy")
            << "file" << true << "file" << QByteArray("new") << false;
        QTest::newRow("unmarked copy of a single-file download")
            << "file" << false << "" << QByteArray("new") << false;
        QTest::newRow("only a permanent copy") << "" << false << "file" << QByteArray("old") << false;
        QTest::newRow("neither copy") << "" << false << "" << QByteArray() << false;
        QTest::newRow("failed move keeps the old permanent copy")
            << "folder" << true << "file" << QByteArray("old") << true;
        QTest::newRow("failed move, no permanent copy") << "folder" << true << "" << QByteArray() << true;
        QTest::newRow("failed move keeps the temporary copy")
            << "file" << true << "folder" << QByteArray() << true;
    }

    void commit()
    {
        QFETCH(QString, temporary);
        QFETCH(bool, marked);
        QFETCH(QString, permanent);
        QFETCH(QByteArray, permanentAfter);
        QFETCH(bool, temporaryRemains);
        ResourceCache cache(settings());
        const QString temporaryPath = cache.getTempPath(SegmentUrl);
        const QString permanentPath = cache.getPermanentPath(SegmentUrl);
        if (temporary == QLatin1String("file"))
            QVERIFY(writeFile(temporaryPath, "new"));
        if (temporary == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(temporaryPath));
        if (marked)
            QVERIFY(writeFile(markerOf(temporaryPath), {}));
        if (permanent == QLatin1String("file"))
            QVERIFY(writeFile(permanentPath, "old"));
        if (permanent == QLatin1String("folder"))
            QVERIFY(QDir().mkpath(permanentPath + QStringLiteral("/inside")));

        const QStringList missing = cache.commitToPermanent({SegmentUrl});

        const bool committed = !permanentAfter.isEmpty();
        QCOMPARE(missing, committed ? QStringList() : QStringList{SegmentUrl});
        QCOMPARE(QFileInfo(permanentPath).isFile(), committed);
        if (committed)
            QCOMPARE(readFile(permanentPath), permanentAfter);
        QCOMPARE(QFileInfo::exists(temporaryPath), temporaryRemains);
        QCOMPARE(QFileInfo::exists(markerOf(temporaryPath)), temporaryRemains && marked);
        if (committed) {
            QVERIFY(cacheRecords(QStringLiteral("commit_failed")).isEmpty());
        } else {
            verifyResourceRecord(QStringLiteral("commit_failed"), SegmentUrl, QStringLiteral("warning"));
        }
        const QList<LogLineParser::Record> completes = cacheRecords(QStringLiteral("commit_complete"));
        QCOMPARE(completes.size(), 1);
        QCOMPARE(completes.constFirst().value(QStringLiteral("resources")), QStringLiteral("1"));
        QCOMPARE(completes.constFirst().value(QStringLiteral("level")), QStringLiteral("info"));
    }

    void commitCountsAndReportsEveryListedUrl()
    {
        ResourceCache cache(settings());
        QVERIFY(cache.publishTempFile(url(1), stage(cache, url(1), "one")));
        QVERIFY(writeFile(cache.getPermanentPath(url(2)), "two"));
        // url(3): its copy was evicted before the commit.

        const QStringList missing = cache.commitToPermanent({url(1), url(2), url(3)});

        QCOMPARE(missing, QStringList{url(3)});
        QVERIFY(cache.isPermanent(url(1)));
        QVERIFY(cache.isPermanent(url(2)));
        verifyResourceRecord(QStringLiteral("commit_failed"), url(3), QStringLiteral("warning"));
        const QList<LogLineParser::Record> completes = cacheRecords(QStringLiteral("commit_complete"));
        QCOMPARE(completes.size(), 1);
        QCOMPARE(completes.constFirst().value(QStringLiteral("resources")), QStringLiteral("3"));
    }

    // Deleting

    void deleteResources_data()
    {
        QTest::addColumn<bool>("withFiles");
        QTest::newRow("no files") << false;
        QTest::newRow("temporary copy, marker and permanent copy") << true;
    }

    void deleteResources()
    {
        QFETCH(bool, withFiles);
        ResourceCache cache(settings());
        if (withFiles) {
            QVERIFY(placeCopy(cache, SegmentUrl, 10, 0));
            QVERIFY(writeFile(cache.getPermanentPath(SegmentUrl), "offline"));
        }
        QVERIFY(cache.publishTempFile(url(1), stage(cache, url(1), "other")));
        const qsizetype recordsBefore = cacheRecords().size();

        cache.deleteResources({SegmentUrl});

        QVERIFY(!QFileInfo::exists(cache.getTempPath(SegmentUrl)));
        QVERIFY(!QFileInfo::exists(markerOf(cache.getTempPath(SegmentUrl))));
        QVERIFY(!QFileInfo::exists(cache.getPermanentPath(SegmentUrl)));
        QCOMPARE(readFile(cache.getTempPath(url(1))), QByteArray("other"));
        QVERIFY(cache.exists(url(1)));
        QCOMPARE(cacheRecords().size(), recordsBefore);
    }

    // Two lectures that share one URL (a course-wide key URI) hold two files under their vault
    // keys; neither can overwrite, reuse or delete the other's.
    void vaultKeysKeepLecturesApart()
    {
        ResourceCache cache(settings());
        const QString keyUri = QStringLiteral("https://media.example/keys/course-9.key");
        const QString first = ResourceCache::vaultKey(QStringLiteral("lecture-1"), keyUri);
        const QString second = ResourceCache::vaultKey(QStringLiteral("lecture-2"), keyUri);

        QVERIFY(cache.publishTempFile(first, stage(cache, first, "under the IV of lecture 1")));
        QVERIFY(cache.publishTempFile(second, stage(cache, second, "under the IV of lecture 2")));
        QVERIFY(cacheRecords(QStringLiteral("publish_reused")).isEmpty());
        QCOMPARE(cache.commitToPermanent({first, second}), QStringList());
        QVERIFY(!cache.exists(keyUri));

        cache.deleteResources({first});

        QVERIFY(!cache.exists(first));
        QVERIFY(cache.isPermanent(second));
        QCOMPARE(readFile(cache.getActivePath(second)), QByteArray("under the IV of lecture 2"));
    }

    // Records

    void recordsCarryTheirLevelAndFlags_data()
    {
        // The row name is the event.
        QTest::addColumn<QString>("level");
        QTest::addColumn<bool>("detailedOnly");
        QTest::addColumn<QStringList>("fields");

        const QStringList publishFields{"duration_ms", "resource_fp"};
        QTest::newRow("publish_complete") << "info" << true << publishFields;
        QTest::newRow("publish_reused") << "info" << true << publishFields;
        QTest::newRow("publish_failed") << "warning" << false << publishFields + QStringList{"stage"};
        QTest::newRow("cleanup_complete")
            << "info" << true << QStringList{"deleted", "duration_ms", "free_bytes", "temporary_bytes"};
        QTest::newRow("commit_complete") << "info" << false << QStringList{"duration_ms", "resources"};
        QTest::newRow("commit_failed") << "warning" << false << QStringList{"resource_fp"};
    }

    void recordsCarryTheirLevelAndFlags()
    {
        const QString event = QString::fromLatin1(QTest::currentDataTag());
        QFETCH(QString, level);
        QFETCH(bool, detailedOnly);
        QFETCH(QStringList, fields);
        const LogRecorder recorder;
        ResourceCache cache(settings());
        QVERIFY(cache.publishTempFile(url(1), stage(cache, url(1), "a")));
        QVERIFY(cache.publishTempFile(url(1), stage(cache, url(1), "b")));
        QVERIFY(!cache.publishTempFile(url(2), cacheRoot() + QStringLiteral("/never-written.part")));
        QCOMPARE(cache.commitToPermanent({url(3)}), QStringList{url(3)});

        const QList<LogRecorder::Record> records = recorder.withEvent(event);
        QVERIFY(!records.isEmpty());
        for (const LogRecorder::Record &record : records) {
            QCOMPARE(record.category, QStringLiteral("cache"));
            QCOMPARE(record.level, level);
            QCOMPARE(record.detailedOnly, detailedOnly);
            QCOMPARE(record.fields.keys(), fields);
        }
    }

    // Threads

    void concurrentPublishersAndCleanup()
    {
        constexpr int Publishers = 4;
        constexpr int UrlsEach = 200;
        ResourceCache cache(settings([](const QString &) { return 100 * GiB; }));
        std::atomic<int> failedPublishes{0};
        std::atomic<int> finishedPublishers{0};
        std::vector<std::unique_ptr<QThread>> threads;
        for (int publisher = 0; publisher < Publishers; ++publisher) {
            threads.emplace_back(QThread::create([&, publisher] {
                for (int index = 0; index < UrlsEach; ++index) {
                    const QString key = url(publisher * UrlsEach + index);
                    if (!cache.publishTempFile(key, stage(cache, key, key.toUtf8())))
                        ++failedPublishes;
                }
                ++finishedPublishers;
            }));
        }
        threads.emplace_back(QThread::create([&] {
            for (int round = 0; finishedPublishers.load() < Publishers; ++round) {
                const ResourceCache::TemporaryLease lease =
                    cache.leaseTemporary(url(round % (Publishers * UrlsEach)));
                cache.runCleanup();
                // The mutex is not fair: without a pause this thread would take it back at once
                // and starve the publishers.
                QThread::msleep(1);
            }
        }));
        for (const auto &thread : threads)
            thread->start();
        for (const auto &thread : threads)
            QVERIFY(thread->wait(240000));

        QCOMPARE(failedPublishes.load(), 0);
        QCOMPARE(entriesContaining(cacheRoot(), QStringLiteral(".part")), QStringList());
        for (int index = 0; index < Publishers * UrlsEach; ++index) {
            QVERIFY2(cache.exists(url(index)), qPrintable(url(index)));
            QCOMPARE(readFile(cache.getTempPath(url(index))), url(index).toUtf8());
        }
    }

    // Leases taken and ended on several threads at once, which meet only in the cache: once all
    // have ended, nothing is left protected.
    void leasesOnManyThreadsAllEnd()
    {
        constexpr int Threads = 4;
        constexpr int Rounds = 2000;
        ResourceCache cache(settings());
        QVERIFY(placeCopy(cache, url(1), GiB, 60));
        std::vector<std::unique_ptr<QThread>> threads;
        for (int thread = 0; thread < Threads; ++thread) {
            threads.emplace_back(QThread::create([&cache, thread] {
                for (int round = 0; round < Rounds; ++round) {
                    const ResourceCache::TemporaryLease shared = cache.leaseTemporary(url(1));
                    const ResourceCache::TemporaryLease own = cache.leaseTemporary(url(2 + thread));
                }
            }));
        }
        for (const auto &thread : threads)
            thread->start();
        for (const auto &thread : threads)
            QVERIFY(thread->wait(60000));

        QVERIFY(cache.publishTempFile(url(9), stage(cache, url(9), "c")));
        QVERIFY(!cache.exists(url(1)));
    }

    // The process-wide object

    void processExitsCleanly_data()
    {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<QString>("firstUse");
        const QString eventLoop = QStringLiteral("event-loop");
        const QString noEventLoop = QStringLiteral("no-event-loop");
        const QString mainThread = QStringLiteral("main-thread");
        const QString workerThread = QStringLiteral("worker-thread");
        QTest::newRow("quits its event loop") << eventLoop << mainThread;
        QTest::newRow("returns without an event loop") << noEventLoop << mainThread;
        QTest::newRow("first used on a worker thread, quits") << eventLoop << workerThread;
        QTest::newRow("first used on a worker thread, returns") << noEventLoop << workerThread;
    }

    void processExitsCleanly()
    {
        QFETCH(QString, ending);
        QFETCH(QString, firstUse);
        const ProcessSandbox sandbox;
        QVERIFY(sandbox.isValid());
        QProcess probe;
        probe.setProcessEnvironment(sandbox.environment());
        probe.start(QStringLiteral(QUORIN_RESOURCE_CACHE_EXIT_PROBE), {ending, firstUse});
        QVERIFY(probe.waitForFinished(60000));

        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.readAllStandardError(), QByteArray());
        QCOMPARE(probe.exitCode(), 0);
        const QString root = sandbox.dataHome() + QStringLiteral("/quorin/desktop/downloads/cache");
        QCOMPARE(QString::fromLocal8Bit(probe.readAllStandardOutput()).trimmed(),
                 QStringLiteral("root=") + root);
        QCOMPARE(QFileInfo(root).permissions() & 0x7077, OwnerOnlyFolder);
        QCOMPARE(QFileInfo(QFileInfo(root).absolutePath()).permissions() & 0x7077, OwnerOnlyFolder);
    }
};

QTEST_GUILESS_MAIN(tst_ResourceCache)
#include "tst_ResourceCache.moc"
