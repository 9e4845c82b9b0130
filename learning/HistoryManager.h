#pragma once

#include <QDateTime>
#include <QObject>
#include <QVariantList>
#include <functional>

// A short list of recently opened resources, newest first and at most three, kept under
// "recentHistory" in the settings store and not tied to a user. No screen shows it: the
// per-user recent list is the learning progress store's, which removes this key whenever it
// switches to a signed-in user. GUI thread only.
class HistoryManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "HistoryManager")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(QVariantList recentItems READ recentItems NOTIFY recentItemsChanged)

public:
    // The current time, for the records' "timestamp"; empty means the system clock. Tests build
    // their own lists over the test's store with a clock they set; the application uses
    // instance().
    explicit HistoryManager(std::function<QDateTime()> currentUtc = {}, QObject *parent = nullptr);
    // Saves the list once more. The process-wide list is destroyed after the application object,
    // so this reaches the store by its names alone.
    ~HistoryManager() override;

    [[nodiscard]] static HistoryManager *instance();

    [[nodiscard]] QVariantList recentItems() const { return m_recentItems; }

    // Not shareable.
    Q_INVOKABLE void addRecentItem(const QString &resourceId, const QString &courseId, const QString &title,
                                   const QString &courseName, const QString &type, const QString &imageUrl,
                                   float progress);
    Q_INVOKABLE void addRecentItem(const QString &resourceId, const QString &courseId, const QString &title,
                                   const QString &courseName, const QString &type, const QString &imageUrl,
                                   float progress, bool isShareable);
    Q_INVOKABLE void removeRecentItem(const QString &resourceId);

Q_SIGNALS:
    void recentItemsChanged();

private:
    void loadHistory();
    void saveHistory() const;

    QVariantList m_recentItems;
    qint32 m_historyCapacity = 3;

    std::function<QDateTime()> m_currentUtc;
};
