#pragma once

#include <QObject>

class QJSEngine;
class QQmlEngine;

// Resets a forgotten password for the sign-in page. Until the password-reset work lands it is an
// empty object.
class ResetPasswordController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "ResetPasswordController")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    [[nodiscard]] static ResetPasswordController *instance();
    // The QML singleton factory: the process-wide object, never owned by the engine.
    [[nodiscard]] static ResetPasswordController *create(QQmlEngine *, QJSEngine *);

private:
    ResetPasswordController() = default;
};
