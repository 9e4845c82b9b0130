#include "learning/NotificationsController.h"

#include "learning/NotificationRecords.h"
#include "net/RestPath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>

using quorin::NotificationRecords;

namespace {

const QString kIsRead = QStringLiteral("isRead");

} // namespace

NotificationsController::NotificationsController(QObject *parent)
    : NotificationsController(NetworkManager::instance(), ProductionPollIntervalMs, parent)
{
}

NotificationsController::NotificationsController(NetworkManager *network, int pollIntervalMs, QObject *parent)
    : QObject(parent)
    , m_pollTimer(new QTimer(this))
    , m_network(network)
{
    m_pollTimer->setInterval(pollIntervalMs);
    m_pollTimer->setSingleShot(false);
    connect(m_pollTimer, &QTimer::timeout, this, &NotificationsController::onPollTimer);
    if (m_network)
        connect(m_network, &NetworkManager::isAuthenticatedChanged, this,
                &NotificationsController::onAuthStateChanged);
    onAuthStateChanged();
}

void NotificationsController::fetchNotifications()
{
    if (!isSignedIn())
        return;
    setLoading(true);
    const QString filter = m_isFilterUnread ? QStringLiteral("unread") : QStringLiteral("all");
    send(NetworkManager::HttpMethod::Get,
         QStringLiteral("notifications?filter=%1&page=1&limit=50").arg(filter),
         &NotificationsController::handleListReply);
}

void NotificationsController::fetchUnreadCount()
{
    if (!isSignedIn())
        return;
    send(NetworkManager::HttpMethod::Get, QStringLiteral("notifications/unread-count"),
         &NotificationsController::handleCountReply);
}

void NotificationsController::markAsRead(const QString &id)
{
    const QString segment = quorin::RestPath::segment(id);
    if (!isSignedIn() || segment.isEmpty())
        return;
    for (qsizetype index = 0; index < m_notifications.size(); ++index) {
        QVariantMap record = m_notifications.at(index).toMap();
        if (record.value(QStringLiteral("id")).toString() != id)
            continue;
        if (!NotificationRecords::isRead(record)) {
            if (m_isFilterUnread) {
                m_notifications.removeAt(index);
            } else {
                record.insert(kIsRead, true);
                m_notifications[index] = record;
            }
            Q_EMIT notificationsChanged();
            if (m_unreadCount > 0) {
                --m_unreadCount;
                Q_EMIT unreadCountChanged();
            }
        }
        break;
    }
    send(NetworkManager::HttpMethod::Patch, QStringLiteral("notifications/%1/read").arg(segment),
         &NotificationsController::handleMarkReply);
}

void NotificationsController::markAllAsRead()
{
    if (!isSignedIn())
        return;
    bool changed = false;
    for (QVariant &entry : m_notifications) {
        QVariantMap record = entry.toMap();
        if (NotificationRecords::isRead(record))
            continue;
        record.insert(kIsRead, true);
        entry = record;
        changed = true;
    }
    if (changed)
        Q_EMIT notificationsChanged();
    if (m_unreadCount != 0) {
        m_unreadCount = 0;
        Q_EMIT unreadCountChanged();
    }
    send(NetworkManager::HttpMethod::Post, QStringLiteral("notifications/read-all"),
         &NotificationsController::handleMarkReply);
}

void NotificationsController::setFilterUnread(bool unreadOnly)
{
    if (unreadOnly == m_isFilterUnread)
        return;
    m_isFilterUnread = unreadOnly;
    Q_EMIT filterChanged();
    fetchNotifications();
}

void NotificationsController::onPollTimer()
{
    fetchUnreadCount();
}

void NotificationsController::onAuthStateChanged()
{
    if (isSignedIn()) {
        // Also after every token refresh: one more count and a fresh period.
        fetchUnreadCount();
        m_pollTimer->start();
        return;
    }
    m_pollTimer->stop();
    ++m_sessionGeneration;
    clearForSignedOut();
}

bool NotificationsController::isSignedIn() const
{
    return m_network && m_network->isAuthenticated();
}

void NotificationsController::send(NetworkManager::HttpMethod method, const QString &path,
                                   ReplyHandler handler)
{
    // Only the verbs that carry a body send this empty object.
    m_network->sendRequestDetailed(
        method, path, QJsonObject(),
        [controller = QPointer(this), generation = m_sessionGeneration,
         handler](const QJsonDocument &reply, const NetworkFailure &failure) {
            if (controller)
                (controller->*handler)(reply, failure.failure, generation == controller->m_sessionGeneration);
        });
}

void NotificationsController::setLoading(bool loading)
{
    m_isLoading = loading;
    Q_EMIT loadingStatusChanged();
}

void NotificationsController::reportFailure(const AppFailure &failure)
{
    m_failure = failure;
    Q_EMIT failureChanged();
    Q_EMIT notificationsError(m_failure);
}

void NotificationsController::handleListReply(const QJsonDocument &reply, const AppFailure &failure,
                                              bool currentSession)
{
    // Even a reply for a user who has signed out ends the loading it started.
    setLoading(false);
    if (!currentSession)
        return;
    if (!failure.code.isEmpty()) {
        reportFailure(failure);
        return;
    }
    m_failure = AppFailure();
    Q_EMIT failureChanged();

    QVariantList notifications;
    const QJsonArray list = NotificationRecords::listFromReply(reply);
    notifications.reserve(list.size());
    for (const QJsonValue &notification : list)
        notifications.append(NotificationRecords::recordFrom(notification));
    m_notifications = notifications;
    Q_EMIT notificationsChanged();
    fetchUnreadCount();
}

void NotificationsController::handleCountReply(const QJsonDocument &reply, const AppFailure &failure,
                                               bool currentSession)
{
    if (!currentSession)
        return;
    if (!failure.code.isEmpty()) {
        reportFailure(failure);
        return;
    }
    const int count = NotificationRecords::unreadCountFromReply(reply);
    if (count == m_unreadCount)
        return;
    m_unreadCount = count;
    Q_EMIT unreadCountChanged();
}

void NotificationsController::handleMarkReply(const QJsonDocument &, const AppFailure &failure,
                                              bool currentSession)
{
    if (!currentSession || failure.code.isEmpty())
        return;
    reportFailure(failure);
    // The server's list and count replace the optimistic change.
    fetchNotifications();
}

void NotificationsController::clearForSignedOut()
{
    m_notifications.clear();
    m_unreadCount = 0;
    Q_EMIT notificationsChanged();
    Q_EMIT unreadCountChanged();
}
