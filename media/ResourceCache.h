#pragma once

#include "media/HlsPrefetchPolicy.h"

#include <QDateTime>
#include <QFileInfo>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <mutex>

class QTimer;

// The one folder in which media is kept on disk, and every rule about what lies in it. A key (a
// resource URL, or a vault key for files encrypted per lecture) names a temporary copy, evicted
// by age when the size budget or the volume's free-space floor breaks, and a permanent copy, kept
// for offline use until deleted. A temporary copy counts only while its empty completion marker
// exists, so a half-written file is never visible. The cache never encrypts: files are opaque.
//
// Every operation that touches the folder or the lease table holds `m_mutex` for its whole
// duration and is safe from any thread. The clean-up timers run on the application's thread.
class ResourceCache : public QObject
{
    Q_OBJECT

public:
    // The production values stand as defaults; tests change what they need.
    struct Settings
    {
        QString root;
        qint64 temporaryBudgetBytes = HlsPrefetchPolicy::TemporaryBudgetBytes;
        qint64 minimumFreeBytes = HlsPrefetchPolicy::MinimumFreeBytes;
        // Bytes available to the user on the volume of the given folder; 0 when unreadable. Empty:
        // the volume's figure from QStorageInfo.
        std::function<qint64(const QString &root)> availableBytes;
        int firstCleanupDelayMs = 5000;
        int cleanupPeriodMs = 3600000;
        // "Now" for the age of staging files. Empty: the system clock.
        std::function<QDateTime()> now;

        [[nodiscard]] static Settings production();
    };

    // Keeps one key's temporary copy from eviction while it lives. Move-only; a lease must end
    // before the cache that granted it is destroyed.
    class TemporaryLease
    {
    public:
        TemporaryLease() = default;
        TemporaryLease(TemporaryLease &&other) noexcept;
        TemporaryLease &operator=(TemporaryLease &&other) noexcept;
        TemporaryLease(const TemporaryLease &) = delete;
        TemporaryLease &operator=(const TemporaryLease &) = delete;
        ~TemporaryLease();

        [[nodiscard]] bool isActive() const { return m_cache != nullptr; }
        [[nodiscard]] QString path() const { return m_path; }

    private:
        friend class ResourceCache;
        TemporaryLease(ResourceCache *cache, QString path);
        void release();

        ResourceCache *m_cache = nullptr;
        QString m_path;
    };

    // What removeAll() did: files removed, and files that could not be.
    struct Removal
    {
        int removed = 0;
        int failed = 0;
    };

    explicit ResourceCache(Settings settings);
    ~ResourceCache() override;

    [[nodiscard]] static ResourceCache *instance();

    // The key of a file encrypted under one lecture's IV: two lectures that share a URL (one
    // AES key for a whole course) must never share, overwrite or delete each other's file.
    [[nodiscard]] static QString vaultKey(const QString &lectureId, const QString &url);
    [[nodiscard]] static QString hashUrl(const QString &url);

    [[nodiscard]] QString root() const { return m_root; }
    [[nodiscard]] QString getPermanentPath(const QString &url) const;
    [[nodiscard]] QString getTempPath(const QString &url) const;
    [[nodiscard]] QString getActivePath(const QString &url) const;
    [[nodiscard]] bool isPermanent(const QString &url) const;
    [[nodiscard]] bool exists(const QString &url) const;

    [[nodiscard]] qint64 temporaryBytes() const;
    [[nodiscard]] qint64 availableBytes() const;
    [[nodiscard]] bool canAcceptTemporary(qint64 incomingBytes) const;

    [[nodiscard]] TemporaryLease leaseTemporary(const QString &url);
    // Consumes the staging file in every case: afterwards it was moved into the cache or deleted.
    // True when a complete copy is in place.
    [[nodiscard]] bool publishTempFile(const QString &url, const QString &stagingPath);
    // The listed keys that have no permanent copy afterwards; empty when all went well.
    [[nodiscard]] QStringList commitToPermanent(const QStringList &urls);
    void invalidateTemp(const QString &url);
    void deleteResources(const QStringList &urls);
    // Every file of the folder: copies, markers and staging files of every writer, permanent
    // copies included, leased or not. For a cache that no longer decrypts (a new vault key).
    [[nodiscard]] Removal removeAll();
    void runCleanup();

private:
    struct CachedCopy
    {
        QString path;
        qint64 size = 0;
        QFileInfo info;
        qint64 modifiedMs = 0; // read only when the copies must be sorted by age
    };

    struct FolderListing
    {
        QList<CachedCopy> copies;
        qint64 temporaryBytes = 0;
        QList<QFileInfo> staleStagingCandidates;
    };

    struct Room
    {
        qint64 temporaryBytes = 0;
        qint64 freeBytes = 0;
    };

    [[nodiscard]] FolderListing listFolder() const;
    [[nodiscard]] bool fits(qint64 temporaryBytes, qint64 freeBytes, qint64 incomingBytes) const;
    Room cleanupLocked(qint64 incomingBytes, const QString &protectedPath);
    [[nodiscard]] int evictLocked(QList<CachedCopy> &copies, Room &room, qint64 incomingBytes,
                                  const QString &protectedPath);
    [[nodiscard]] int removeStaleStagingLocked(const QList<QFileInfo> &candidates,
                                               const QString &protectedPath);
    [[nodiscard]] bool existsLocked(const QString &url) const;
    void endLease(const QString &path);
    void startTimers();
    void stopTimers();

    const QString m_root;
    const Settings m_settings;
    QTimer *const m_cleanupTimer;
    QTimer *const m_firstCleanupTimer;
    // A standard mutex rather than Qt's: ThreadSanitizer sees the order this one gives, but not
    // that of Qt's recursive mutex, which locks inside Qt's uninstrumented code.
    mutable std::recursive_mutex m_mutex;
    QHash<QString, int> m_leases; // temporary path to live leases on it; guarded by m_mutex
};
