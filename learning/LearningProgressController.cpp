#include "learning/LearningProgressController.h"

#include "app/PreferencesStore.h"
#include "app/ProgramOwnership.h"
#include "learning/CourseProgressSnapshot.h"
#include "learning/ProgressFraction.h"
#include "learning/RecordIndex.h"
#include "net/NetworkManager.h"

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

void LearningProgressController::flushPendingCompletions() {}

qsizetype LearningProgressController::itemIndex(const QString &resourceId) const
{
    return quorin::indexOfResource(m_activityItems, resourceId);
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

QString LearningProgressController::currentTimestamp() const
{
    return m_currentUtc().toUTC().toString(Qt::ISODate);
}
