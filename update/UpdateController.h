#pragma once

#include <QObject>
#include <QString>

// Checks for releases of the client, downloads and installs them and enforces required updates.
// Until the self-update work lands nothing is ever offered: the state stays Idle and the
// operations do nothing, except that the start-up check counts that it ran and
// exitApplication() quits.
class UpdateController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "UpdateController")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(bool required READ required NOTIFY candidateChanged)
    Q_PROPERTY(bool dismissed READ dismissed NOTIFY dismissedChanged)
    Q_PROPERTY(QString availableVersion READ availableVersion NOTIFY candidateChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY stateChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(int graceRemainingSeconds READ graceRemainingSeconds NOTIFY graceChanged)

public:
    enum State {
        Idle = 0,
        Checking = 1,
        UpToDate = 2,
        Available = 3,
        Downloading = 4,
        Ready = 5,
        OfflineGrace = 6,
        Required = 7,
        Error = 8,
    };
    Q_ENUM(State)

    [[nodiscard]] static UpdateController *instance();

    [[nodiscard]] State state() const { return Idle; }
    [[nodiscard]] bool required() const { return false; }
    [[nodiscard]] bool dismissed() const { return false; }
    [[nodiscard]] QString availableVersion() const { return {}; }
    [[nodiscard]] QString errorMessage() const { return {}; }
    [[nodiscard]] double progress() const { return 0.0; }
    [[nodiscard]] int graceRemainingSeconds() const { return 0; }

    // The automatic release check that start-up queues for the first turn of the event loop.
    Q_INVOKABLE void startupCheck();
    [[nodiscard]] int startupCheckCount() const { return m_startupChecks; }

    Q_INVOKABLE void download() {}
    Q_INVOKABLE void install() {}
    Q_INVOKABLE void dismiss() {}
    Q_INVOKABLE void retry() {}
    Q_INVOKABLE void exitApplication();

Q_SIGNALS:
    void stateChanged();
    void candidateChanged();
    void dismissedChanged();
    void progressChanged();
    void graceChanged();

private:
    UpdateController() = default;

    int m_startupChecks = 0;
};
