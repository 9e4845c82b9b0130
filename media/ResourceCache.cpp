#include "media/ResourceCache.h"

#include "app/DiagnosticLogger.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <utility>

namespace {

const QString Category = QStringLiteral("cache");
const QString PermanentSuffix = QStringLiteral(".enc");
const QString TemporarySuffix = QStringLiteral(".cache.enc");
const QString MarkerSuffix = QStringLiteral(".complete");
// Staging files of segment downloads and prefetches; a crash can leave them behind. Playlist and
// download staging files are never removed by age: their writers may take longer than that.
const QString SegmentStagingSuffix = QStringLiteral(".part");
const QString PrefetchStagingInfix = QStringLiteral(".prefetch-");
constexpr int StagingLifetimeDays = 2;

[[nodiscard]] QString markerPath(const QString &temporaryPath)
{
    return temporaryPath + MarkerSuffix;
}

[[nodiscard]] QString absoluteClean(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

// A copy or a marker counts only as a regular file: a folder in its place is something in the way.
[[nodiscard]] bool isFile(const QString &path)
{
    return QFileInfo(path).isFile();
}

// rename(2) replaces the destination atomically within one folder, so the old file stays until
// the new one is in place; QFile::rename refuses an existing destination instead.
[[nodiscard]] bool replaceFile(const QString &from, const QString &to)
{
    std::error_code error;
    std::filesystem::rename(std::filesystem::path(QFile::encodeName(from).toStdString()),
                            std::filesystem::path(QFile::encodeName(to).toStdString()), error);
    return !error;
}

// Each missing folder, parents included, is made owner-only: the cache shows what a user watched.
void createPrivateFolder(const QString &path)
{
    const QFileInfo folder(path);
    if (folder.exists())
        return;
    const QString parent = folder.absolutePath();
    if (parent != path)
        createPrivateFolder(parent);
    QDir().mkdir(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

[[nodiscard]] qint64 volumeAvailableBytes(const QString &root)
{
    QStorageInfo storage(root);
    storage.refresh();
    if (!storage.isValid() || !storage.isReady())
        return 0;
    return std::max<qint64>(storage.bytesAvailable(), 0);
}

[[nodiscard]] ResourceCache::Settings completed(ResourceCache::Settings settings)
{
    if (!settings.availableBytes)
        settings.availableBytes = volumeAvailableBytes;
    if (!settings.now)
        settings.now = [] { return QDateTime::currentDateTime(); };
    return settings;
}

void logResource(const QString &level, const QString &event, const QString &url, QVariantMap fields,
                 bool detailedOnly)
{
    fields.insert(QStringLiteral("resource_fp"), DiagnosticLogger::fingerprint(url));
    DiagnosticLogger::log(Category, level, event, fields, detailedOnly);
}

[[nodiscard]] QVariantMap durationOf(const QElapsedTimer &timer)
{
    return {{QStringLiteral("duration_ms"), timer.elapsed()}};
}

[[nodiscard]] QVariantMap failedStage(const QString &stage, const QElapsedTimer &timer)
{
    QVariantMap fields = durationOf(timer);
    fields.insert(QStringLiteral("stage"), stage);
    return fields;
}

} // namespace

// Settings

ResourceCache::Settings ResourceCache::Settings::production()
{
    Settings settings;
    settings.root = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
                    QStringLiteral("/downloads/cache");
    return completed(std::move(settings));
}

// Leases

ResourceCache::TemporaryLease::TemporaryLease(ResourceCache *cache, QString path)
    : m_cache(cache)
    , m_path(std::move(path))
{
}

ResourceCache::TemporaryLease::TemporaryLease(TemporaryLease &&other) noexcept
    : m_cache(std::exchange(other.m_cache, nullptr))
    , m_path(std::exchange(other.m_path, QString()))
{
}

ResourceCache::TemporaryLease &ResourceCache::TemporaryLease::operator=(TemporaryLease &&other) noexcept
{
    if (this != &other) {
        release();
        m_cache = std::exchange(other.m_cache, nullptr);
        m_path = std::exchange(other.m_path, QString());
    }
    return *this;
}

ResourceCache::TemporaryLease::~TemporaryLease()
{
    release();
}

void ResourceCache::TemporaryLease::release()
{
    if (ResourceCache *cache = std::exchange(m_cache, nullptr))
        cache->endLease(m_path);
    m_path.clear();
}

// The cache

ResourceCache::ResourceCache(Settings settings)
    : m_root(absoluteClean(settings.root))
    , m_settings(completed(std::move(settings)))
    , m_cleanupTimer(new QTimer(this))
    , m_firstCleanupTimer(new QTimer(this))
{
    createPrivateFolder(m_root);

    m_firstCleanupTimer->setSingleShot(true);
    m_firstCleanupTimer->setTimerType(Qt::CoarseTimer);
    m_firstCleanupTimer->setInterval(m_settings.firstCleanupDelayMs);
    connect(m_firstCleanupTimer, &QTimer::timeout, this, &ResourceCache::runCleanup);
    m_cleanupTimer->setInterval(m_settings.cleanupPeriodMs);
    connect(m_cleanupTimer, &QTimer::timeout, this, &ResourceCache::runCleanup);

    // Without an application there is no event loop to run the timers; every publish still
    // cleans up first.
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return;
    // The first user may be a pool or proxy thread, which has no event loop or ends before the
    // process does; the timers then never fire, and the process-wide object, destroyed at exit
    // from the main thread, would stop them from a foreign thread. They belong to the
    // application's thread.
    if (thread() != application->thread())
        moveToThread(application->thread());
    // The process-wide cache outlives the application object: its timers stop while the event
    // dispatcher still exists.
    connect(application, &QCoreApplication::aboutToQuit, this, &ResourceCache::stopTimers);
    connect(application, &QObject::destroyed, this, &ResourceCache::stopTimers);
    // Queued when the object was just moved: a timer starts only on its own thread.
    QMetaObject::invokeMethod(this, [this] { startTimers(); });
}

ResourceCache::~ResourceCache() = default;

ResourceCache *ResourceCache::instance()
{
    static ResourceCache cache(Settings::production());
    return &cache;
}

void ResourceCache::startTimers()
{
    m_cleanupTimer->start();
    m_firstCleanupTimer->start();
}

void ResourceCache::stopTimers()
{
    m_cleanupTimer->stop();
    m_firstCleanupTimer->stop();
}

// Names

QString ResourceCache::vaultKey(const QString &lectureId, const QString &url)
{
    return lectureId + QChar(u'\0') + url;
}

QString ResourceCache::hashUrl(const QString &url)
{
    return QString::fromLatin1(QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString ResourceCache::getPermanentPath(const QString &url) const
{
    return m_root + QLatin1Char('/') + hashUrl(url) + PermanentSuffix;
}

QString ResourceCache::getTempPath(const QString &url) const
{
    return m_root + QLatin1Char('/') + hashUrl(url) + TemporarySuffix;
}

QString ResourceCache::getActivePath(const QString &url) const
{
    const std::lock_guard locker(m_mutex);
    return isFile(getPermanentPath(url)) ? getPermanentPath(url) : getTempPath(url);
}

bool ResourceCache::isPermanent(const QString &url) const
{
    const std::lock_guard locker(m_mutex);
    return isFile(getPermanentPath(url));
}

bool ResourceCache::exists(const QString &url) const
{
    const std::lock_guard locker(m_mutex);
    return existsLocked(url);
}

bool ResourceCache::existsLocked(const QString &url) const
{
    const QString temporary = getTempPath(url);
    return isFile(getPermanentPath(url)) || (isFile(temporary) && isFile(markerPath(temporary)));
}

// Room

qint64 ResourceCache::temporaryBytes() const
{
    const std::lock_guard locker(m_mutex);
    return listFolder().temporaryBytes;
}

qint64 ResourceCache::availableBytes() const
{
    const std::lock_guard locker(m_mutex);
    return m_settings.availableBytes(m_root);
}

bool ResourceCache::canAcceptTemporary(qint64 incomingBytes) const
{
    const qint64 inUse = temporaryBytes();
    const qint64 available = availableBytes();
    return HlsPrefetchPolicy::storageAllows(inUse, available, incomingBytes, m_settings.temporaryBudgetBytes,
                                            m_settings.minimumFreeBytes);
}

bool ResourceCache::fits(qint64 temporaryBytes, qint64 freeBytes, qint64 incomingBytes) const
{
    return HlsPrefetchPolicy::storageAllows(temporaryBytes, freeBytes, incomingBytes,
                                            m_settings.temporaryBudgetBytes, m_settings.minimumFreeBytes);
}

// One pass over the folder serves both the budget and the stale staging files: publishing runs
// it every time, so it is the hot path. Only the files that matter are measured.
ResourceCache::FolderListing ResourceCache::listFolder() const
{
    FolderListing listing;
    QDirIterator entries(m_root, QDir::Files);
    while (entries.hasNext()) {
        entries.next();
        const QFileInfo info = entries.fileInfo();
        const QString name = info.fileName();
        if (name.endsWith(TemporarySuffix)) {
            // Built from the root like the lease keys, so the two strings agree.
            CachedCopy copy{m_root + QLatin1Char('/') + name, info.size(), info};
            listing.temporaryBytes += copy.size;
            listing.copies.append(std::move(copy));
        } else if (name.endsWith(SegmentStagingSuffix) || name.contains(PrefetchStagingInfix)) {
            listing.staleStagingCandidates.append(info);
        }
    }
    return listing;
}

void ResourceCache::runCleanup()
{
    const std::lock_guard locker(m_mutex);
    cleanupLocked(0, QString());
}

ResourceCache::Room ResourceCache::cleanupLocked(qint64 incomingBytes, const QString &protectedPath)
{
    QElapsedTimer timer;
    timer.start();
    FolderListing listing = listFolder();
    Room room{listing.temporaryBytes, m_settings.availableBytes(m_root)};
    int deleted = evictLocked(listing.copies, room, incomingBytes, protectedPath);
    deleted += removeStaleStagingLocked(listing.staleStagingCandidates, protectedPath);
    DiagnosticLogger::log(Category, QStringLiteral("info"), QStringLiteral("cleanup_complete"),
                          {{QStringLiteral("deleted"), deleted},
                           {QStringLiteral("temporary_bytes"), room.temporaryBytes},
                           {QStringLiteral("free_bytes"), room.freeBytes},
                           {QStringLiteral("duration_ms"), timer.elapsed()}},
                          true);
    return room;
}

// Oldest write first (equal times: descending name); reading a copy does not make it younger.
int ResourceCache::evictLocked(QList<CachedCopy> &copies, Room &room, qint64 incomingBytes,
                               const QString &protectedPath)
{
    if (fits(room.temporaryBytes, room.freeBytes, incomingBytes))
        return 0;
    // Each time is read once: converting a modification time is dearer than the comparison.
    for (CachedCopy &copy : copies)
        copy.modifiedMs = copy.info.lastModified().toMSecsSinceEpoch();
    std::sort(copies.begin(), copies.end(), [](const CachedCopy &left, const CachedCopy &right) {
        if (left.modifiedMs != right.modifiedMs)
            return left.modifiedMs < right.modifiedMs;
        return left.path > right.path;
    });
    int deleted = 0;
    for (const CachedCopy &copy : std::as_const(copies)) {
        if (fits(room.temporaryBytes, room.freeBytes, incomingBytes))
            break;
        if (copy.path == protectedPath || m_leases.value(copy.path) > 0)
            continue;
        if (!QFile::remove(copy.path))
            continue;
        QFile::remove(markerPath(copy.path));
        room.temporaryBytes -= copy.size;
        room.freeBytes += copy.size;
        ++deleted;
    }
    return deleted;
}

int ResourceCache::removeStaleStagingLocked(const QList<QFileInfo> &candidates, const QString &protectedPath)
{
    if (candidates.isEmpty())
        return 0;
    const QDateTime cutoff = m_settings.now().addDays(-StagingLifetimeDays);
    int deleted = 0;
    for (const QFileInfo &candidate : candidates) {
        const QString path = m_root + QLatin1Char('/') + candidate.fileName();
        if (path == protectedPath || candidate.lastModified() >= cutoff)
            continue;
        if (QFile::remove(path))
            ++deleted;
    }
    return deleted;
}

// Publishing

bool ResourceCache::publishTempFile(const QString &url, const QString &stagingPath)
{
    const std::lock_guard locker(m_mutex);
    QElapsedTimer timer;
    timer.start();
    const QString staging = absoluteClean(stagingPath);
    const qint64 incomingBytes = QFileInfo(staging).size();
    Room room = cleanupLocked(incomingBytes, staging);

    if (existsLocked(url)) {
        QFile::remove(staging);
        logResource(QStringLiteral("info"), QStringLiteral("publish_reused"), url, durationOf(timer), true);
        return true;
    }
    // An unfinished earlier copy: a crash between data and marker, or an invalidated copy.
    const QString temporary = getTempPath(url);
    const QFileInfo unfinished(temporary);
    if (unfinished.isFile() && QFile::remove(temporary))
        room.temporaryBytes -= unfinished.size();

    // The folder changes only under the mutex, so the clean-up's running total is still the
    // folder's; only the volume is measured again.
    if (!fits(room.temporaryBytes, availableBytes(), incomingBytes) || !replaceFile(staging, temporary)) {
        QFile::remove(staging);
        logResource(QStringLiteral("warning"), QStringLiteral("publish_failed"), url,
                    failedStage(QStringLiteral("rename"), timer), false);
        return false;
    }
    // Data first, marker second: the copy becomes visible only once it is complete.
    QFile marker(markerPath(temporary));
    if (!marker.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        QFile::remove(temporary);
        logResource(QStringLiteral("warning"), QStringLiteral("publish_failed"), url,
                    failedStage(QStringLiteral("marker"), timer), false);
        return false;
    }
    marker.close();
    logResource(QStringLiteral("info"), QStringLiteral("publish_complete"), url, durationOf(timer), true);
    return true;
}

// Leases

ResourceCache::TemporaryLease ResourceCache::leaseTemporary(const QString &url)
{
    const std::lock_guard locker(m_mutex);
    QString path = getTempPath(url);
    ++m_leases[path];
    return TemporaryLease(this, std::move(path));
}

void ResourceCache::endLease(const QString &path)
{
    const std::lock_guard locker(m_mutex);
    const auto lease = m_leases.find(path);
    if (lease == m_leases.end())
        return;
    if (--lease.value() <= 0)
        m_leases.erase(lease);
}

// Committing, invalidating, deleting

QStringList ResourceCache::commitToPermanent(const QStringList &urls)
{
    const std::lock_guard locker(m_mutex);
    QElapsedTimer timer;
    timer.start();
    QStringList withoutPermanentCopy;
    for (const QString &url : urls) {
        const QString temporary = getTempPath(url);
        const QString permanent = getPermanentPath(url);
        // An unmarked copy is promoted too: a single-file download writes in place and removes
        // the marker while it writes.
        if (isFile(temporary) && replaceFile(temporary, permanent))
            QFile::remove(markerPath(temporary));
        if (!isFile(permanent)) {
            withoutPermanentCopy.append(url);
            logResource(QStringLiteral("warning"), QStringLiteral("commit_failed"), url, {}, false);
        }
    }
    DiagnosticLogger::log(
        Category, QStringLiteral("info"), QStringLiteral("commit_complete"),
        {{QStringLiteral("resources"), urls.size()}, {QStringLiteral("duration_ms"), timer.elapsed()}});
    return withoutPermanentCopy;
}

void ResourceCache::invalidateTemp(const QString &url)
{
    const std::lock_guard locker(m_mutex);
    QFile::remove(markerPath(getTempPath(url)));
}

void ResourceCache::deleteResources(const QStringList &urls)
{
    const std::lock_guard locker(m_mutex);
    for (const QString &url : urls) {
        const QString temporary = getTempPath(url);
        QFile::remove(temporary);
        QFile::remove(markerPath(temporary));
        QFile::remove(getPermanentPath(url));
    }
}

ResourceCache::Removal ResourceCache::removeAll()
{
    const std::lock_guard locker(m_mutex);
    Removal removal;
    QDirIterator entries(m_root, QDir::Files | QDir::Hidden | QDir::System);
    while (entries.hasNext()) {
        if (QFile::remove(entries.next()))
            ++removal.removed;
        else
            ++removal.failed;
    }
    return removal;
}
