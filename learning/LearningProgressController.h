#pragma once

#include "app/AppFailure.h"
#include "learning/CourseProgressSnapshot.h"
#include "net/NetworkFailure.h"

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QVariantList>
#include <QVariantMap>
#include <functional>

class NetworkManager;
class QJSEngine;
class QQmlEngine;
class QTimer;

// The signed-in student's learning activity: one record per opened resource (video position, PDF
// page, progress, completion and what is needed to show it again), the queue of completions
// waiting for the server and the course progress snapshots, kept per user in the settings store.
// Views bind to revision, which every visible change increments, and read back through the
// invokable reads; the home page's short list is recentItems. GUI thread only.
class LearningProgressController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "LearningProgress")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(QVariantList recentItems READ recentItems NOTIFY recentItemsChanged)
    Q_PROPERTY(QString userId READ userId NOTIFY userChanged)
    Q_PROPERTY(int revision READ revision NOTIFY revisionChanged)

public:
    // What a controller is built from. instance() uses production(); tests build their own over
    // a fresh backend client, short intervals and a clock they set.
    struct Configuration
    {
        // The backend client whose sign-in resumes the completion queue and whose session end
        // clears the user. Null: neither is followed.
        NetworkManager *networkManager = nullptr;
        // How long position and page reports may wait before they are written.
        int saveIntervalMs = 10000;
        // How long a completion that failed for a passing reason waits before it is sent again.
        int retryIntervalMs = 30000;
        // The current time, for the records' "timestamp"; empty means the system clock.
        std::function<QDateTime()> currentUtc;

        [[nodiscard]] static Configuration production();
    };

    explicit LearningProgressController(Configuration configuration, QObject *parent = nullptr);
    ~LearningProgressController() override;

    [[nodiscard]] static LearningProgressController *instance();
    // The QML singleton factory: the process-wide object, never owned by the engine.
    [[nodiscard]] static LearningProgressController *create(QQmlEngine *, QJSEngine *);

    // Makes the store follow the given user (trimmed); the same id again does nothing. Unsaved
    // reports are written under the previous user first.
    Q_INVOKABLE void setUserId(const QString &userId);
    Q_INVOKABLE void recordOpened(const QString &resourceId, const QString &courseId,
                                  const QString &sectionId, const QString &title, const QString &courseName,
                                  const QString &type, const QString &imageUrl, const QString &url,
                                  bool initiallyCompleted, bool watermarkEnabled, bool isShareable);
    // Not shareable.
    Q_INVOKABLE void recordOpened(const QString &resourceId, const QString &courseId,
                                  const QString &sectionId, const QString &title, const QString &courseName,
                                  const QString &type, const QString &imageUrl, const QString &url,
                                  bool initiallyCompleted, bool watermarkEnabled);
    // Watermarked and not shareable.
    Q_INVOKABLE void recordOpened(const QString &resourceId, const QString &courseId,
                                  const QString &sectionId, const QString &title, const QString &courseName,
                                  const QString &type, const QString &imageUrl, const QString &url,
                                  bool initiallyCompleted);
    // Hides the item from the recent list; its position, page and completion stay.
    Q_INVOKABLE void removeRecentItem(const QString &resourceId);
    // Playback checkpoints come with notifyViews false and are written within the save interval;
    // the last one, when the student leaves the player, with true, and is written at once.
    Q_INVOKABLE void updateVideoPosition(const QString &resourceId, qlonglong positionMs,
                                         qlonglong durationMs, bool notifyViews);
    Q_INVOKABLE void updatePdfPage(const QString &resourceId, int pageIndex, int pageCount);
    [[nodiscard]] Q_INVOKABLE qlonglong resumePosition(const QString &resourceId) const;
    // -1 while no page was reported.
    [[nodiscard]] Q_INVOKABLE int resumePage(const QString &resourceId) const;
    [[nodiscard]] Q_INVOKABLE double progress(const QString &resourceId, double fallback) const;
    [[nodiscard]] Q_INVOKABLE double progress(const QString &resourceId) const;
    // Keeps the course's resources with the completion the server reported; an empty snapshot
    // never replaces a stored one.
    Q_INVOKABLE void updateCourseSnapshot(const QString &courseId, const QVariantList &items);
    [[nodiscard]] Q_INVOKABLE double courseProgress(const QString &courseId, double fallback) const;
    [[nodiscard]] Q_INVOKABLE double courseProgress(const QString &courseId) const;
    // The screens pass the server's completion as the fallback, so a local record overrides it.
    [[nodiscard]] Q_INVOKABLE bool isCompleted(const QString &resourceId, bool fallback) const;
    [[nodiscard]] Q_INVOKABLE bool isCompleted(const QString &resourceId) const;
    // True while a change of the resource waits for the server: a queued completion or an
    // incompletion in flight. Further changes of it are ignored meanwhile.
    [[nodiscard]] Q_INVOKABLE bool isPending(const QString &resourceId) const;
    // Applies the change to the local record at once and confirms it with the server. A
    // completion is queued, kept in the store and sent in order whenever the client is signed
    // in; an incompletion needs the server now, and is refused and undone without a session.
    // A refused change is rolled back and reported with progressError.
    Q_INVOKABLE void setCompleted(const QString &resourceId, const QString &courseId, bool completed);

    // At most three visible records, newest first, computed on every read.
    [[nodiscard]] QVariantList recentItems() const;
    [[nodiscard]] QString userId() const { return m_userId; }
    [[nodiscard]] int revision() const { return m_revision; }

    // Writes the records, the queue and the snapshots at once. The application calls it first on
    // quitting: nothing is saved on destruction.
    void flush();

Q_SIGNALS:
    void recentItemsChanged();
    void userChanged();
    void revisionChanged();
    void completionChanged(const QString &resourceId, bool completed, bool pending);
    void progressError(const AppFailure &failure);
    void progressSyncDelayed(const AppFailure &failure);

private Q_SLOTS:
    void flushPendingCompletions();

private:
    using ReplyHandler = std::function<void(const NetworkFailure &)>;

    [[nodiscard]] qsizetype itemIndex(const QString &resourceId) const;
    [[nodiscard]] qsizetype pendingIndex(const QString &resourceId) const;
    [[nodiscard]] QVariantMap itemAt(qsizetype index) const;
    void save();
    void savePending();
    void saveCourseSnapshots();
    void load();
    void scheduleSave();
    void emitItemsChanged();
    void removeLegacyHistory();
    void writeUserValue(const QString &prefix, const QVariant &value);
    [[nodiscard]] QString currentTimestamp() const;
    [[nodiscard]] bool isSignedIn() const;

    void markIncompleteOnline(const QString &resourceId, const QVariantMap &previousRecord);
    void sendProgress(const QString &resourceId, bool completed, ReplyHandler handler);
    void finishIncompletion(const QString &resourceId, const QVariantMap &previousRecord,
                            const NetworkFailure &failure);
    void finishQueuedCompletion(const QString &resourceId, const NetworkFailure &failure);
    void confirmQueuedCompletion(const QString &resourceId);
    void delayQueuedCompletion(const QString &resourceId);
    void rollBackQueuedCompletion(const QString &resourceId, const NetworkFailure &failure);
    void restoreFromQueuedEntry(const QVariantMap &entry);
    void restoreCompletion(const QString &resourceId, const QVariantMap &previousRecord);
    void restoreResumePoint(const QString &resourceId, const QVariantMap &previousRecord);
    void dropUnsendableHeads();

    QString m_userId;
    QVariantList m_activityItems;
    QVariantList m_pendingCompletions;
    // Held normalised, so that the reads bound to revision need not normalise them again.
    QHash<QString, QList<CourseProgressSnapshot::Entry>> m_courseSnapshots;
    QSet<QString> m_incompleteInFlight;
    QSet<QString> m_delayNoticeSent;
    bool m_flushInFlight = false;
    QTimer *m_retryTimer = nullptr;
    QTimer *m_saveTimer = nullptr;
    qint32 m_revision = 0;
    // Raised by every switch of user. A reply carries the value of its sending and is ignored
    // once it differs: after u1 -> u2 -> u1 the user id alone would let a stale reply through.
    quint64 m_userGeneration = 0;

    QPointer<NetworkManager> m_networkManager;
    std::function<QDateTime()> m_currentUtc;
};
