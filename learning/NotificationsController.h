#pragma once

#include "app/AppFailure.h"
#include "net/NetworkManager.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

class QJsonDocument;
class QTimer;

// The signed-in user's notifications for the interface: the list (all, or only the unread ones),
// the unread count, polled while someone is signed in, and marking one or all read, which
// changes the list at once and then tells the server. One object per QML engine, owned by the
// engine. GUI thread only; nothing is kept on disk.
class NotificationsController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "NotificationsController")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(QVariantList notifications READ notifications NOTIFY notificationsChanged)
    Q_PROPERTY(int unreadCount READ unreadCount NOTIFY unreadCountChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY loadingStatusChanged)
    Q_PROPERTY(bool isFilterUnread READ isFilterUnread WRITE setFilterUnread NOTIFY filterChanged)
    Q_PROPERTY(AppFailure failure READ failure NOTIFY failureChanged)

public:
    static constexpr int ProductionPollIntervalMs = 60000;

    // Follows the process-wide REST client and polls once a minute.
    explicit NotificationsController(QObject *parent = nullptr);
    // Follows the given client, which must outlive this object, and polls at the given interval.
    NotificationsController(NetworkManager *network, int pollIntervalMs, QObject *parent = nullptr);

    [[nodiscard]] QVariantList notifications() const { return m_notifications; }
    [[nodiscard]] int unreadCount() const { return m_unreadCount; }
    [[nodiscard]] bool isLoading() const { return m_isLoading; }
    [[nodiscard]] bool isFilterUnread() const { return m_isFilterUnread; }
    [[nodiscard]] AppFailure failure() const { return m_failure; }

    // Each of the four does nothing at all while nobody is signed in.
    Q_INVOKABLE void fetchNotifications();
    Q_INVOKABLE void fetchUnreadCount();
    // An id that cannot be one path segment changes and sends nothing.
    Q_INVOKABLE void markAsRead(const QString &id);
    Q_INVOKABLE void markAllAsRead();
    Q_INVOKABLE void setFilterUnread(bool unreadOnly);

Q_SIGNALS:
    void notificationsChanged();
    void unreadCountChanged();
    void loadingStatusChanged();
    void filterChanged();
    void notificationsError(const AppFailure &failure);
    void failureChanged();

private Q_SLOTS:
    void onPollTimer();
    void onAuthStateChanged();

private:
    // currentSession is false for a reply to a request sent before the last sign-out.
    using ReplyHandler = void (NotificationsController::*)(const QJsonDocument &, const AppFailure &,
                                                           bool currentSession);

    [[nodiscard]] bool isSignedIn() const;
    void send(NetworkManager::HttpMethod method, const QString &path, ReplyHandler handler);
    void setLoading(bool loading);
    void reportFailure(const AppFailure &failure);
    void handleListReply(const QJsonDocument &reply, const AppFailure &failure, bool currentSession);
    void handleCountReply(const QJsonDocument &reply, const AppFailure &failure, bool currentSession);
    void handleMarkReply(const QJsonDocument &reply, const AppFailure &failure, bool currentSession);
    void clearForSignedOut();

    QVariantList m_notifications;
    qint32 m_unreadCount = 0;
    bool m_isLoading = false;
    bool m_isFilterUnread = false;
    QTimer *m_pollTimer = nullptr;
    AppFailure m_failure;

    QPointer<NetworkManager> m_network;
    // Raised on every sign-out, so that replies to the signed-out user's requests are dropped
    // instead of refilling the list for whoever signs in next.
    quint64 m_sessionGeneration = 0;
};
