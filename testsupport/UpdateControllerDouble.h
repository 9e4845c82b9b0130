#pragma once

#include "update/UpdateControllerStates.h"

#include <QObject>
#include <QString>
#include <QStringList>

namespace quorin::test {

// Stands in for UpdateController in Qt Quick tests: the state enumeration both inherit, the same
// properties and change signals, all writable by the test, and operations that only record that
// they were called (exitApplication does not quit).
class UpdateControllerDouble : public UpdateControllerStates
{
    Q_OBJECT
    Q_PROPERTY(State state MEMBER m_state NOTIFY stateChanged)
    Q_PROPERTY(bool required MEMBER m_required NOTIFY candidateChanged)
    Q_PROPERTY(bool dismissed MEMBER m_dismissed NOTIFY dismissedChanged)
    Q_PROPERTY(QString availableVersion MEMBER m_availableVersion NOTIFY candidateChanged)
    Q_PROPERTY(QString errorMessage MEMBER m_errorMessage NOTIFY stateChanged)
    Q_PROPERTY(double progress MEMBER m_progress NOTIFY progressChanged)
    Q_PROPERTY(int graceRemainingSeconds MEMBER m_graceRemainingSeconds NOTIFY graceChanged)
    // The operations called so far, by name, oldest first.
    Q_PROPERTY(QStringList calls MEMBER m_calls NOTIFY callsChanged)

public:
    explicit UpdateControllerDouble(QObject *parent = nullptr)
        : UpdateControllerStates(parent)
    {
    }

    Q_INVOKABLE void checkForUpdates() { record(QStringLiteral("checkForUpdates")); }
    Q_INVOKABLE void download() { record(QStringLiteral("download")); }
    Q_INVOKABLE void install() { record(QStringLiteral("install")); }
    Q_INVOKABLE void dismiss() { record(QStringLiteral("dismiss")); }
    Q_INVOKABLE void retry() { record(QStringLiteral("retry")); }
    Q_INVOKABLE void exitApplication() { record(QStringLiteral("exitApplication")); }
    // Back to nothing offered and nothing called, announced as a change of everything.
    Q_INVOKABLE void reset();

Q_SIGNALS:
    void stateChanged();
    void candidateChanged();
    void dismissedChanged();
    void progressChanged();
    void graceChanged();
    // Emitted only when a test calls it.
    void downloadFailed(const QString &message);
    void callsChanged();

private:
    void record(const QString &operation);

    State m_state = Idle;
    bool m_required = false;
    bool m_dismissed = false;
    QString m_availableVersion;
    QString m_errorMessage;
    double m_progress = 0.0;
    int m_graceRemainingSeconds = 0;
    QStringList m_calls;
};

} // namespace quorin::test
