#pragma once

#include <QObject>

class QJSEngine;
class QQmlEngine;

// Creates new accounts for the sign-up page. Until the sign-up work lands it is an empty object.
class SignupController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "SignupController")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    [[nodiscard]] static SignupController *instance();
    // The QML singleton factory: the process-wide object, never owned by the engine.
    [[nodiscard]] static SignupController *create(QQmlEngine *, QJSEngine *);

private:
    SignupController() = default;
};
