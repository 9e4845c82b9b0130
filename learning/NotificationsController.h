#pragma once

#include <QObject>

// The signed-in user's notifications and their unread count; each QML engine has its own. Until
// the notifications work lands it is an empty object.
class NotificationsController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "NotificationsController")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    explicit NotificationsController(QObject *parent = nullptr);
};
