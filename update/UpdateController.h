#pragma once

#include <QObject>

// Checks for releases of the client. Until the self-update work lands the start-up check only
// counts that it ran.
class UpdateController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "UpdateController")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    [[nodiscard]] static UpdateController *instance();

    // The automatic release check that start-up queues for the first turn of the event loop.
    Q_INVOKABLE void startupCheck();
    [[nodiscard]] int startupCheckCount() const { return m_startupChecks; }

private:
    UpdateController() = default;

    int m_startupChecks = 0;
};
