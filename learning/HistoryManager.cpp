#include "learning/HistoryManager.h"

#include "app/PreferencesStore.h"
#include "learning/RecordIndex.h"

#include <QVariantMap>
#include <utility>

namespace {

const QString kHistoryKey = QStringLiteral("recentHistory");
const QString kShareable = QStringLiteral("isShareable");
const QString kResourceId = QStringLiteral("r_id");

} // namespace

HistoryManager::HistoryManager(std::function<QDateTime()> currentUtc, QObject *parent)
    : QObject(parent)
    , m_currentUtc(std::move(currentUtc))
{
    if (!m_currentUtc)
        m_currentUtc = [] { return QDateTime::currentDateTimeUtc(); };
    loadHistory();
}

HistoryManager::~HistoryManager()
{
    saveHistory();
}

HistoryManager *HistoryManager::instance()
{
    static HistoryManager manager;
    return &manager;
}

void HistoryManager::addRecentItem(const QString &resourceId, const QString &courseId, const QString &title,
                                   const QString &courseName, const QString &type, const QString &imageUrl,
                                   float progress)
{
    addRecentItem(resourceId, courseId, title, courseName, type, imageUrl, progress, false);
}

void HistoryManager::addRecentItem(const QString &resourceId, const QString &courseId, const QString &title,
                                   const QString &courseName, const QString &type, const QString &imageUrl,
                                   float progress, bool isShareable)
{
    const qsizetype existing = quorin::indexOfResource(m_recentItems, resourceId);
    if (existing >= 0)
        m_recentItems.removeAt(existing);
    m_recentItems.prepend(QVariantMap{
        {kResourceId, resourceId},
        {QStringLiteral("c_id"), courseId},
        {QStringLiteral("title"), title},
        {QStringLiteral("course"), courseName},
        {QStringLiteral("r_type"), type},
        {QStringLiteral("img"), imageUrl},
        {QStringLiteral("prog"), progress},
        {kShareable, isShareable},
        {QStringLiteral("timestamp"), m_currentUtc().toUTC().toString(Qt::ISODate)},
    });
    if (m_recentItems.size() > m_historyCapacity)
        m_recentItems.resize(m_historyCapacity);
    saveHistory();
    Q_EMIT recentItemsChanged();
}

void HistoryManager::removeRecentItem(const QString &resourceId)
{
    const qsizetype existing = quorin::indexOfResource(m_recentItems, resourceId);
    if (existing < 0)
        return;
    m_recentItems.removeAt(existing);
    saveHistory();
    Q_EMIT recentItemsChanged();
}

void HistoryManager::loadHistory()
{
    const QVariant stored = quorin::PreferencesStore::open()->value(kHistoryKey);
    if (stored.typeId() != QMetaType::QVariantList)
        return;
    // Kept whole, however long; repaired values reach the store with the next save.
    m_recentItems = stored.toList();
    for (QVariant &item : m_recentItems) {
        QVariantMap record = item.toMap();
        if (record.value(kShareable).typeId() != QMetaType::Bool)
            record.insert(kShareable, false);
        item = record;
    }
}

void HistoryManager::saveHistory() const
{
    quorin::PreferencesStore::open()->setValue(kHistoryKey, m_recentItems);
}
