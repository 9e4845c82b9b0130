#pragma once

#include <QObject>
#include <QString>

class QJSEngine;
class QQmlEngine;

// The signed-in user's identity. Until the identity work lands nobody is known: the id stays
// empty and the change signal never fires.
class UserIdentityController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "UserIdentity")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(QString userId READ userId NOTIFY identityChanged)

public:
    [[nodiscard]] static UserIdentityController *instance();
    // The QML singleton factory: the process-wide object, never owned by the engine.
    [[nodiscard]] static UserIdentityController *create(QQmlEngine *, QJSEngine *);

    [[nodiscard]] QString userId() const { return m_userId; }

Q_SIGNALS:
    void identityChanged();

private:
    UserIdentityController() = default;

    QString m_userId;
};
