#include "learning/LearningProgressController.h"

#include "app/DiagnosticLogger.h"
#include "app/PreferencesStore.h"
#include "app/ProgramOwnership.h"
#include "learning/CourseProgressSnapshot.h"
#include "learning/ProgressFraction.h"
#include "learning/RecordIndex.h"
#include "net/NetworkManager.h"
#include "net/RestPath.h"

#include <QJsonObject>
#include <QTimer>
#include <algorithm>
#include <utility>
#include <vector>

namespace {

const QString kActivityPrefix = QStringLiteral("learningActivity");
const QString kPendingPrefix = QStringLiteral("learningProgressPending");
const QString kSnapshotsPrefix = QStringLiteral("courseProgressSnapshots");
const QString kLegacyHistoryKey = QStringLiteral("recentHistory");

const QString kResourceId = QStringLiteral("r_id");
const QString kCourseId = QStringLiteral("c_id");
const QString kSectionId = QStringLiteral("sectionId");
const QString kTitle = QStringLiteral("title");
const QString kCourseName = QStringLiteral("course");
const QString kType = QStringLiteral("r_type");
const QString kImage = QStringLiteral("img");
const QString kUrl = QStringLiteral("url");
const QString kPosition = QStringLiteral("positionMs");
const QString kDuration = QStringLiteral("durationMs");
const QString kPageIndex = QStringLiteral("pageIndex");
const QString kPageCount = QStringLiteral("pageCount");
const QString kProgress = QStringLiteral("prog");
const QString kCompleted = QStringLiteral("completed");
const QString kWatermark = QStringLiteral("watermarkEnabled");
const QString kShareable = QStringLiteral("isShareable");
const QString kHidden = QStringLiteral("hiddenFromRecent");
const QString kTimestamp = QStringLiteral("timestamp");

const QString kEntryResourceId = QStringLiteral("resourceId");
const QString kEntryCourseId = QStringLiteral("courseId");
const QString kHadPreviousRecord = QStringLiteral("hadPreviousRecord");
const QString kPreviousRecord = QStringLiteral("previousRecord");

const QString kLogCategory = QStringLiteral("progress");
const QString kInfo = QStringLiteral("info");
const QString kWarning = QStringLiteral("warning");

const QString kQuizType = QStringLiteral("QUIZ");
constexpr qsizetype kRecordLimit = 50;
constexpr qsizetype kRecentLimit = 3;

QVariantList storedList(const QVariant &value)
{
    return value.typeId() == QMetaType::QVariantList ? value.toList() : QVariantList();
}

// The stored snapshots in normalised form; courses left without a resource are dropped, since
// they give the fallback either way.
QHash<QString, QList<CourseProgressSnapshot::Entry>> normalizedSnapshots(const QVariant &value)
{
    QHash<QString, QList<CourseProgressSnapshot::Entry>> snapshots;
    if (value.typeId() != QMetaType::QVariantMap)
        return snapshots;
    const QVariantMap stored = value.toMap();
    for (auto course = stored.constBegin(); course != stored.constEnd(); ++course) {
        auto entries = CourseProgressSnapshot::normalizedEntries(storedList(course.value()));
        if (!entries.isEmpty())
            snapshots.insert(course.key(), std::move(entries));
    }
    return snapshots;
}

// Gives a stored record the flags every reader relies on; true when it had to.
bool repairRecord(QVariant &item)
{
    QVariantMap record = item.toMap();
    bool repaired = item.typeId() != QMetaType::QVariantMap;
    if (!record.contains(kWatermark)) {
        record.insert(kWatermark, true);
        repaired = true;
    }
    if (record.value(kShareable).typeId() != QMetaType::Bool) {
        record.insert(kShareable, false);
        repaired = true;
    }
    if (repaired)
        item = record;
    return repaired;
}

bool isListed(const QVariantMap &record)
{
    const QString type = record.value(kType).toString();
    return !record.value(kResourceId).toString().isEmpty() && !record.value(kTitle).toString().isEmpty() &&
           !type.isEmpty() && (type == kQuizType || !record.value(kUrl).toString().isEmpty()) &&
           !record.value(kHidden).toBool();
}

// The resource reaches the log only as its fingerprint.
void logProgress(const QString &level, const QString &event, const QString &resourceId,
                 QVariantMap fields = {})
{
    fields.insert(QStringLiteral("resource_fp"), DiagnosticLogger::fingerprint(resourceId));
    DiagnosticLogger::log(kLogCategory, level, event, fields);
}

void logSaveResult(const QString &resourceId, bool succeeded)
{
    logProgress(
        succeeded ? kInfo : kWarning, QStringLiteral("save_result"), resourceId,
        {{QStringLiteral("result"), succeeded ? QStringLiteral("success") : QStringLiteral("failure")}});
}

} // namespace

LearningProgressController::Configuration LearningProgressController::Configuration::production()
{
    Configuration configuration;
    configuration.networkManager = NetworkManager::instance();
    return configuration;
}

LearningProgressController::LearningProgressController(Configuration configuration, QObject *parent)
    : QObject(parent)
    , m_retryTimer(new QTimer(this))
    , m_saveTimer(new QTimer(this))
    , m_networkManager(configuration.networkManager)
    , m_currentUtc(std::move(configuration.currentUtc))
{
    if (!m_currentUtc)
        m_currentUtc = [] { return QDateTime::currentDateTimeUtc(); };
    m_retryTimer->setObjectName(QStringLiteral("retryTimer"));
    m_retryTimer->setSingleShot(true);
    m_retryTimer->setInterval(configuration.retryIntervalMs);
    connect(m_retryTimer, &QTimer::timeout, this, &LearningProgressController::flushPendingCompletions);
    m_saveTimer->setObjectName(QStringLiteral("saveTimer"));
    m_saveTimer->setSingleShot(true);
    m_saveTimer->setInterval(configuration.saveIntervalMs);
    connect(m_saveTimer, &QTimer::timeout, this, &LearningProgressController::save);
    if (m_networkManager) {
        connect(m_networkManager, &NetworkManager::loginSuccess, this,
                &LearningProgressController::flushPendingCompletions);
        connect(m_networkManager, &NetworkManager::sessionExpired, this, [this] { setUserId(QString()); });
    }
}

LearningProgressController::~LearningProgressController() = default;

LearningProgressController *LearningProgressController::instance()
{
    static LearningProgressController controller(Configuration::production());
    return &controller;
}

LearningProgressController *LearningProgressController::create(QQmlEngine *, QJSEngine *)
{
    return quorin::ownedByProgram(instance());
}

void LearningProgressController::setUserId(const QString &userId)
{
    const QString trimmed = userId.trimmed();
    if (trimmed == m_userId)
        return;
    if (m_saveTimer->isActive()) {
        m_saveTimer->stop();
        save();
    }
    m_userId = trimmed;
    m_activityItems.clear();
    m_pendingCompletions.clear();
    m_courseSnapshots.clear();
    m_incompleteInFlight.clear();
    m_delayNoticeSent.clear();
    m_flushInFlight = false;
    m_retryTimer->stop();
    ++m_userGeneration;
    if (!m_userId.isEmpty()) {
        removeLegacyHistory();
        load();
    }
    Q_EMIT userChanged();
    emitItemsChanged();
    flushPendingCompletions();
}

void LearningProgressController::recordOpened(const QString &resourceId, const QString &courseId,
                                              const QString &sectionId, const QString &title,
                                              const QString &courseName, const QString &type,
                                              const QString &imageUrl, const QString &url,
                                              bool initiallyCompleted, bool watermarkEnabled,
                                              bool isShareable)
{
    if (m_userId.isEmpty() || resourceId.isEmpty())
        return;
    const qsizetype index = itemIndex(resourceId);
    QVariantMap record = itemAt(index);
    if (record.isEmpty()) {
        record.insert(kResourceId, resourceId);
        record.insert(kCompleted, initiallyCompleted);
        record.insert(kPosition, qint64(0));
        record.insert(kDuration, qint64(0));
        record.insert(kPageIndex, -1);
        record.insert(kPageCount, 0);
        record.insert(kProgress, initiallyCompleted ? 1.0 : 0.0);
    }
    record.insert(kCourseId, courseId);
    record.insert(kSectionId, sectionId);
    record.insert(kTitle, title);
    record.insert(kCourseName, courseName);
    record.insert(kType, type);
    record.insert(kImage, imageUrl);
    record.insert(kUrl, url);
    record.insert(kWatermark, watermarkEnabled);
    record.insert(kShareable, isShareable);
    record.insert(kHidden, false);
    record.insert(kTimestamp, currentTimestamp());
    if (index >= 0)
        m_activityItems.removeAt(index);
    m_activityItems.prepend(record);
    // Hidden records count too: the list is cut from its end, oldest opening first.
    if (m_activityItems.size() > kRecordLimit)
        m_activityItems.resize(kRecordLimit);
    save();
    emitItemsChanged();
}

void LearningProgressController::recordOpened(const QString &resourceId, const QString &courseId,
                                              const QString &sectionId, const QString &title,
                                              const QString &courseName, const QString &type,
                                              const QString &imageUrl, const QString &url,
                                              bool initiallyCompleted, bool watermarkEnabled)
{
    recordOpened(resourceId, courseId, sectionId, title, courseName, type, imageUrl, url, initiallyCompleted,
                 watermarkEnabled, false);
}

void LearningProgressController::recordOpened(const QString &resourceId, const QString &courseId,
                                              const QString &sectionId, const QString &title,
                                              const QString &courseName, const QString &type,
                                              const QString &imageUrl, const QString &url,
                                              bool initiallyCompleted)
{
    recordOpened(resourceId, courseId, sectionId, title, courseName, type, imageUrl, url, initiallyCompleted,
                 true, false);
}

void LearningProgressController::removeRecentItem(const QString &resourceId)
{
    const qsizetype index = itemIndex(resourceId);
    if (index < 0)
        return;
    QVariantMap record = itemAt(index);
    record.insert(kHidden, true);
    m_activityItems[index] = record;
    save();
    emitItemsChanged();
}

void LearningProgressController::updateVideoPosition(const QString &resourceId, qlonglong positionMs,
                                                     qlonglong durationMs, bool notifyViews)
{
    const qsizetype index = itemIndex(resourceId);
    if (index < 0)
        return;
    QVariantMap record = itemAt(index);
    record.insert(kPosition, qint64(std::max<qlonglong>(positionMs, 0)));
    record.insert(kDuration, qint64(std::max<qlonglong>(durationMs, 0)));
    record.insert(kProgress,
                  durationMs < 1 ? 0.0 : quorin::clampedFraction(double(positionMs) / double(durationMs)));
    record.insert(kTimestamp, currentTimestamp());
    m_activityItems[index] = record;
    if (!notifyViews) {
        scheduleSave();
        return;
    }
    m_saveTimer->stop();
    save();
    emitItemsChanged();
}

void LearningProgressController::updatePdfPage(const QString &resourceId, int pageIndex, int pageCount)
{
    const qsizetype index = itemIndex(resourceId);
    if (index < 0)
        return;
    QVariantMap record = itemAt(index);
    record.insert(kPageIndex, std::max(pageIndex, 0));
    record.insert(kPageCount, std::max(pageCount, 0));
    // The last page counts as the whole document.
    record.insert(kProgress, pageCount < 1
                                 ? 0.0
                                 : quorin::clampedFraction((double(pageIndex) + 1.0) / double(pageCount)));
    record.insert(kTimestamp, currentTimestamp());
    m_activityItems[index] = record;
    scheduleSave();
    emitItemsChanged();
}

qlonglong LearningProgressController::resumePosition(const QString &resourceId) const
{
    return itemAt(itemIndex(resourceId)).value(kPosition, qint64(0)).toLongLong();
}

int LearningProgressController::resumePage(const QString &resourceId) const
{
    return itemAt(itemIndex(resourceId)).value(kPageIndex, -1).toInt();
}

double LearningProgressController::progress(const QString &resourceId, double fallback) const
{
    const QVariantMap record = itemAt(itemIndex(resourceId));
    if (record.isEmpty())
        return quorin::clampedFraction(fallback);
    if (record.value(kCompleted).toBool())
        return 1.0;
    return quorin::clampedFraction(record.value(kProgress, fallback).toDouble());
}

double LearningProgressController::progress(const QString &resourceId) const
{
    return progress(resourceId, 0.0);
}

void LearningProgressController::updateCourseSnapshot(const QString &courseId, const QVariantList &items)
{
    const QString course = courseId.trimmed();
    if (m_userId.isEmpty() || course.isEmpty())
        return;
    auto entries = CourseProgressSnapshot::normalizedEntries(items);
    if (entries.isEmpty() || m_courseSnapshots.value(course) == entries)
        return;
    m_courseSnapshots.insert(course, std::move(entries));
    saveCourseSnapshots();
    emitItemsChanged();
}

double LearningProgressController::courseProgress(const QString &courseId, double fallback) const
{
    const QString course = courseId.trimmed();
    if (course.isEmpty())
        return quorin::clampedFraction(fallback);
    return CourseProgressSnapshot::calculate(m_courseSnapshots.value(course), m_activityItems, fallback);
}

double LearningProgressController::courseProgress(const QString &courseId) const
{
    return courseProgress(courseId, 0.0);
}

bool LearningProgressController::isCompleted(const QString &resourceId, bool fallback) const
{
    const QVariantMap record = itemAt(itemIndex(resourceId));
    if (record.isEmpty())
        return fallback;
    return record.value(kCompleted, fallback).toBool();
}

bool LearningProgressController::isCompleted(const QString &resourceId) const
{
    return isCompleted(resourceId, false);
}

bool LearningProgressController::isPending(const QString &resourceId) const
{
    return m_incompleteInFlight.contains(resourceId) || pendingIndex(resourceId) >= 0;
}

void LearningProgressController::setCompleted(const QString &resourceId, const QString &courseId,
                                              bool completed)
{
    logProgress(kInfo, QStringLiteral("save_started"), resourceId, {{kCompleted, completed}});
    // An id that cannot be one path segment ("." and ".." would be resolved away) names no
    // resource the server knows: it counts as no id at all.
    if (quorin::RestPath::segment(resourceId).isEmpty())
        return;
    if (m_userId.isEmpty()) {
        Q_EMIT progressError(AppFailure::local(QStringLiteral("ACCOUNT_IDENTITY_UNAVAILABLE"),
                                               tr("Your account identity is not available yet."),
                                               QStringLiteral("validation"), false));
        return;
    }
    if (isPending(resourceId))
        return;
    qsizetype index = itemIndex(resourceId);
    const bool hadPreviousRecord = index >= 0;
    if (!hadPreviousRecord && !completed)
        return;
    const QVariantMap previousRecord = itemAt(index);
    if (!hadPreviousRecord) {
        // Listed among the recent items only once the resource is opened; not counted in the cap.
        m_activityItems.prepend(QVariantMap{{kResourceId, resourceId},
                                            {kCourseId, courseId},
                                            {kCompleted, false},
                                            {kPosition, qint64(0)},
                                            {kDuration, qint64(0)},
                                            {kPageIndex, -1},
                                            {kPageCount, 0},
                                            {kProgress, 0.0},
                                            {kTimestamp, currentTimestamp()}});
        index = 0;
    }
    QVariantMap record = itemAt(index);
    const bool oldCompletion = record.value(kCompleted).toBool();
    record.insert(kCompleted, completed);
    if (completed) {
        record.insert(kPosition, qint64(0));
        record.insert(kPageIndex, -1);
    }
    m_activityItems[index] = record;
    save();
    emitItemsChanged();

    if (completed) {
        m_pendingCompletions.append(QVariantMap{{kEntryResourceId, resourceId},
                                                {kEntryCourseId, courseId},
                                                {kHadPreviousRecord, hadPreviousRecord},
                                                {kPreviousRecord, previousRecord}});
        savePending();
        emitItemsChanged();
        Q_EMIT completionChanged(resourceId, true, true);
        flushPendingCompletions();
        return;
    }
    if (isSignedIn()) {
        markIncompleteOnline(resourceId, previousRecord);
        return;
    }
    restoreCompletion(resourceId, previousRecord);
    save();
    emitItemsChanged();
    Q_EMIT progressError(AppFailure::local(QStringLiteral("INCOMPLETE_REQUIRES_ONLINE"),
                                           tr("Connect to the internet to mark a lesson incomplete."),
                                           QStringLiteral("network"), true));
    Q_EMIT completionChanged(resourceId, oldCompletion, false);
}

QVariantList LearningProgressController::recentItems() const
{
    // Newest first by the stamp's text; a stable sort keeps records stamped within the same
    // second in list order, where the latest opening stands first.
    std::vector<std::pair<QString, QVariantMap>> records;
    records.reserve(std::size_t(m_activityItems.size()));
    for (const QVariant &item : m_activityItems) {
        QVariantMap record = item.toMap();
        QString stamp = record.value(kTimestamp).toString();
        records.emplace_back(std::move(stamp), std::move(record));
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const auto &left, const auto &right) { return left.first > right.first; });
    QVariantList listed;
    for (const auto &entry : records) {
        if (!isListed(entry.second))
            continue;
        listed.append(entry.second);
        if (listed.size() == kRecentLimit)
            break;
    }
    return listed;
}

void LearningProgressController::flush()
{
    m_saveTimer->stop();
    save();
    savePending();
    saveCourseSnapshots();
}

void LearningProgressController::flushPendingCompletions()
{
    if (m_flushInFlight || m_userId.isEmpty() || !isSignedIn())
        return;
    dropUnsendableHeads();
    if (m_pendingCompletions.isEmpty())
        return;
    const QString resourceId = m_pendingCompletions.constFirst().toMap().value(kEntryResourceId).toString();
    // Set before sending: the reply may come inside the call, and clears it.
    m_flushInFlight = true;
    sendProgress(resourceId, true, [this, resourceId](const NetworkFailure &failure) {
        finishQueuedCompletion(resourceId, failure);
    });
}

void LearningProgressController::markIncompleteOnline(const QString &resourceId,
                                                      const QVariantMap &previousRecord)
{
    m_incompleteInFlight.insert(resourceId);
    emitItemsChanged();
    // Announced before the request leaves: when the session ends inside the call, its settled
    // outcome has already been announced, and must stay the last word views hear.
    Q_EMIT completionChanged(resourceId, false, true);
    sendProgress(resourceId, false, [this, resourceId, previousRecord](const NetworkFailure &failure) {
        finishIncompletion(resourceId, previousRecord, failure);
    });
}

// The backend client may call back before it returns (a session that ends on the spot), so no
// caller does anything after this.
void LearningProgressController::sendProgress(const QString &resourceId, bool completed, ReplyHandler handler)
{
    const QString path =
        QStringLiteral("contents/") + quorin::RestPath::segment(resourceId) + QStringLiteral("/progress");
    m_networkManager->sendRequestDetailed(
        NetworkManager::HttpMethod::Post, path, QJsonObject{{QStringLiteral("isCompleted"), completed}},
        [controller = QPointer(this), generation = m_userGeneration,
         handler = std::move(handler)](const QJsonDocument &, const NetworkFailure &failure) {
            if (controller && controller->m_userGeneration == generation)
                handler(failure);
        });
}

void LearningProgressController::finishIncompletion(const QString &resourceId,
                                                    const QVariantMap &previousRecord,
                                                    const NetworkFailure &failure)
{
    m_incompleteInFlight.remove(resourceId);
    const bool succeeded = failure.message.isEmpty();
    if (!succeeded) {
        logProgress(kWarning, QStringLiteral("rollback"), resourceId);
        restoreCompletion(resourceId, previousRecord);
        save();
        Q_EMIT progressError(failure.failure);
    }
    logSaveResult(resourceId, succeeded);
    emitItemsChanged();
    Q_EMIT completionChanged(resourceId, !succeeded && previousRecord.value(kCompleted).toBool(), false);
}

void LearningProgressController::finishQueuedCompletion(const QString &resourceId,
                                                        const NetworkFailure &failure)
{
    const quint64 generation = m_userGeneration;
    const bool succeeded = failure.message.isEmpty();
    if (pendingIndex(resourceId) >= 0) {
        if (succeeded)
            confirmQueuedCompletion(resourceId);
        else if (!isSignedIn())
            // The session ended while the request was out: a refused refresh serves its waiters
            // before it announces the end, so the user is still set and the failure reads as
            // final. The mark is kept for the next sign-in instead of being undone.
            logProgress(kInfo, QStringLiteral("retry_scheduled"), resourceId);
        else if (failure.retryable)
            delayQueuedCompletion(resourceId);
        else
            rollBackQueuedCompletion(resourceId, failure);
    }
    // A receiver of the signals above may have switched the user; the new user's queue is not
    // this reply's to resume.
    if (generation != m_userGeneration)
        return;
    m_flushInFlight = false;
    if (succeeded)
        flushPendingCompletions();
}

void LearningProgressController::confirmQueuedCompletion(const QString &resourceId)
{
    logSaveResult(resourceId, true);
    m_pendingCompletions.removeAt(pendingIndex(resourceId));
    m_delayNoticeSent.remove(resourceId);
    savePending();
    emitItemsChanged();
    Q_EMIT completionChanged(resourceId, true, false);
}

void LearningProgressController::delayQueuedCompletion(const QString &resourceId)
{
    logProgress(kInfo, QStringLiteral("retry_scheduled"), resourceId);
    m_retryTimer->start();
    if (m_delayNoticeSent.contains(resourceId))
        return;
    m_delayNoticeSent.insert(resourceId);
    Q_EMIT progressSyncDelayed(
        AppFailure::local(QStringLiteral("PROGRESS_SYNC_DELAYED"),
                          tr("The server is unavailable. Your change is saved and will sync automatically."),
                          QStringLiteral("network"), true));
}

void LearningProgressController::rollBackQueuedCompletion(const QString &resourceId,
                                                          const NetworkFailure &failure)
{
    logProgress(kWarning, QStringLiteral("rollback"), resourceId);
    // Record and queue are settled before anyone hears of it: a receiver may act on the store.
    const qsizetype position = pendingIndex(resourceId);
    restoreFromQueuedEntry(m_pendingCompletions.at(position).toMap());
    save();
    m_pendingCompletions.removeAt(position);
    m_delayNoticeSent.remove(resourceId);
    savePending();
    emitItemsChanged();
    Q_EMIT progressError(failure.failure);
    Q_EMIT completionChanged(resourceId, false, false);
}

// A queued mark may be refused days after it was made. Only what the mark itself changed is
// undone, so openings, positions, pages and hidden flags reported since are kept.
void LearningProgressController::restoreFromQueuedEntry(const QVariantMap &entry)
{
    const QString resourceId = entry.value(kEntryResourceId).toString();
    const QVariant hadPreviousRecord = entry.value(kHadPreviousRecord);
    if (hadPreviousRecord.toBool()) {
        const QVariantMap previousRecord = entry.value(kPreviousRecord).toMap();
        restoreCompletion(resourceId, previousRecord);
        restoreResumePoint(resourceId, previousRecord);
        return;
    }
    const qsizetype index = itemIndex(resourceId);
    if (index < 0)
        return;
    QVariantMap record = itemAt(index);
    // The record the mark made goes with it, unless the resource has been opened since.
    if (hadPreviousRecord.isValid() && !record.contains(kTitle)) {
        m_activityItems.removeAt(index);
        return;
    }
    record.insert(kCompleted, false);
    m_activityItems[index] = record;
}

// Puts the completion flag back as the previous record had it, or the whole previous record at
// the front when the resource has none now. Nothing else of the record is touched: a change
// refused late must not undo what was reported while it waited.
void LearningProgressController::restoreCompletion(const QString &resourceId,
                                                   const QVariantMap &previousRecord)
{
    const qsizetype index = itemIndex(resourceId);
    if (index < 0) {
        if (!previousRecord.isEmpty())
            m_activityItems.prepend(previousRecord);
        return;
    }
    QVariantMap record = itemAt(index);
    if (previousRecord.contains(kCompleted))
        record.insert(kCompleted, previousRecord.value(kCompleted));
    else
        record.remove(kCompleted);
    m_activityItems[index] = record;
}

// The mark cleared the position and the page; a value reported since then is newer and stays.
void LearningProgressController::restoreResumePoint(const QString &resourceId,
                                                    const QVariantMap &previousRecord)
{
    const qsizetype index = itemIndex(resourceId);
    if (index < 0)
        return;
    QVariantMap record = itemAt(index);
    if (record.value(kPosition).toLongLong() == 0 && previousRecord.contains(kPosition))
        record.insert(kPosition, previousRecord.value(kPosition));
    if (record.value(kPageIndex, -1).toInt() == -1 && previousRecord.contains(kPageIndex))
        record.insert(kPageIndex, previousRecord.value(kPageIndex));
    m_activityItems[index] = record;
}

// A stored entry whose id cannot be put in a request path would hold the queue for ever.
void LearningProgressController::dropUnsendableHeads()
{
    bool dropped = false;
    while (!m_pendingCompletions.isEmpty() &&
           quorin::RestPath::segment(
               m_pendingCompletions.constFirst().toMap().value(kEntryResourceId).toString())
               .isEmpty()) {
        m_pendingCompletions.removeFirst();
        dropped = true;
    }
    if (dropped)
        savePending();
}

qsizetype LearningProgressController::itemIndex(const QString &resourceId) const
{
    return quorin::indexOfResource(m_activityItems, resourceId);
}

qsizetype LearningProgressController::pendingIndex(const QString &resourceId) const
{
    return quorin::indexOfRecord(m_pendingCompletions, kEntryResourceId, resourceId);
}

QVariantMap LearningProgressController::itemAt(qsizetype index) const
{
    return index < 0 ? QVariantMap() : m_activityItems.at(index).toMap();
}

void LearningProgressController::save()
{
    writeUserValue(kActivityPrefix, m_activityItems);
}

void LearningProgressController::savePending()
{
    writeUserValue(kPendingPrefix, m_pendingCompletions);
}

void LearningProgressController::saveCourseSnapshots()
{
    QVariantMap stored;
    for (auto course = m_courseSnapshots.constBegin(); course != m_courseSnapshots.constEnd(); ++course)
        stored.insert(course.key(), CourseProgressSnapshot::toVariantList(course.value()));
    writeUserValue(kSnapshotsPrefix, stored);
}

void LearningProgressController::load()
{
    const auto store = quorin::PreferencesStore::open();
    m_activityItems = storedList(store->value(kActivityPrefix + QLatin1Char('/') + m_userId));
    m_pendingCompletions = storedList(store->value(kPendingPrefix + QLatin1Char('/') + m_userId));
    m_courseSnapshots = normalizedSnapshots(store->value(kSnapshotsPrefix + QLatin1Char('/') + m_userId));
    bool repaired = false;
    for (QVariant &item : m_activityItems)
        repaired = repairRecord(item) || repaired;
    if (repaired)
        save();
}

void LearningProgressController::scheduleSave()
{
    // A running timer is left alone, so a burst of reports is written at most one interval after
    // its first report.
    if (!m_saveTimer->isActive())
        m_saveTimer->start();
}

void LearningProgressController::emitItemsChanged()
{
    ++m_revision;
    Q_EMIT recentItemsChanged();
    Q_EMIT revisionChanged();
}

void LearningProgressController::removeLegacyHistory()
{
    quorin::PreferencesStore::open()->remove(kLegacyHistoryKey);
}

void LearningProgressController::writeUserValue(const QString &prefix, const QVariant &value)
{
    if (m_userId.isEmpty())
        return;
    quorin::PreferencesStore::open()->setValue(prefix + QLatin1Char('/') + m_userId, value);
}

bool LearningProgressController::isSignedIn() const
{
    return m_networkManager && m_networkManager->isAuthenticated();
}

QString LearningProgressController::currentTimestamp() const
{
    return m_currentUtc().toUTC().toString(Qt::ISODate);
}
