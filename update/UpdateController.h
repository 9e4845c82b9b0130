#pragma once

#include "update/InstallerVerifier.h"
#include "update/LinuxPackageInstaller.h"
#include "update/UpdateCandidate.h"
#include "update/UpdateControllerStates.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <optional>

namespace quorin {
class MediaFetch;
class Sha256Hasher;
} // namespace quorin

class QNetworkAccessManager;
class QSaveFile;
class QSettings;
class QTimer;

// The client's one self-update controller: asks the release service for the newest release,
// applies its offer, and enforces a required release, for 72 hours without a connection and
// then by blocking the client. Its clock never runs backwards: it keeps the latest time it ever
// observed, so setting the system clock back cannot lengthen the grace period, and the grace
// period counts from the first answer that required a release. An offered installer is downloaded
// into the cache folder while it is hashed, committed only once its size, digest and signature
// match, remembered across restarts, and handed to the desktop's package installer. A file already
// on disk is verified again on a worker, never on the GUI thread; the controller itself lives on
// the GUI thread only.
class UpdateController : public UpdateControllerStates
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "UpdateController")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(State state READ state NOTIFY stateChanged)
    Q_PROPERTY(QString availableVersion READ availableVersion NOTIFY candidateChanged)
    Q_PROPERTY(qint64 availableBuildNumber READ availableBuildNumber NOTIFY candidateChanged)
    Q_PROPERTY(QString releaseNotes READ releaseNotes NOTIFY candidateChanged)
    Q_PROPERTY(QString errorMessage READ errorMessage NOTIFY stateChanged)
    Q_PROPERTY(double progress READ progress NOTIFY progressChanged)
    Q_PROPERTY(bool required READ required NOTIFY candidateChanged)
    Q_PROPERTY(bool storeBuild READ storeBuild CONSTANT)
    Q_PROPERTY(bool dismissed READ dismissed NOTIFY dismissedChanged)
    Q_PROPERTY(qint64 graceRemainingSeconds READ graceRemainingSeconds NOTIFY graceChanged)
    Q_PROPERTY(QString verifiedPath READ verifiedPath NOTIFY candidateChanged)
    Q_PROPERTY(QString currentTarget READ currentTarget CONSTANT)

public:
    // What a controller is built from. instance() uses production(); tests point their own
    // controllers at a fixture server, with their own clock and short intervals.
    struct Configuration
    {
        // The release service's origin; the request goes to its "/v2/releases/latest".
        QUrl releaseBaseUrl;
        // The current time; empty means the system clock.
        std::function<QDateTime()> currentTime;
        int discoveryTimeoutMs = 15000;
        int transferTimeoutMs = 15000;
        int stallTimeoutMs = 30000;
        int graceTickMs = 60000;
        // The bytes free on the volume of a folder; nothing when the volume cannot be read.
        // Empty means QStorageInfo.
        std::function<std::optional<qint64>(const QString &folder)> freeSpace;
        // The signing keys installers are verified against.
        QString keyringPath = QStringLiteral(":/qt/qml/Quorin/config/update-keyring.json");
        // Ends the application, after an installer was opened and for the required-update
        // dialog's exit. Empty means QCoreApplication::quit.
        std::function<void()> quit;
        // Runs the desktop's programs that install a package. Empty means real processes.
        quorin::LinuxPackageInstaller::CommandRunner commandRunner;
        // Called on the worker thread that verifies a file on disk, before it reads the file.
        std::function<void()> verificationStarted;

        [[nodiscard]] static Configuration production();
    };

    // Seconds a recorded required release may wait without a confirming answer.
    static constexpr qint64 GracePeriodSeconds = 259200;
    // Free bytes an installer download must leave on its volume.
    static constexpr qint64 FreeSpaceMarginBytes = 33554432;

    explicit UpdateController(Configuration configuration, QObject *parent = nullptr);
    ~UpdateController() override;

    [[nodiscard]] static UpdateController *instance();

    [[nodiscard]] State state() const { return m_state; }
    [[nodiscard]] QString availableVersion() const { return m_candidate.version; }
    [[nodiscard]] qint64 availableBuildNumber() const { return m_candidate.buildNumber; }
    [[nodiscard]] QString releaseNotes() const { return m_candidate.releaseNotes; }
    [[nodiscard]] QString errorMessage() const { return m_errorMessage; }
    [[nodiscard]] double progress() const { return m_progress; }
    [[nodiscard]] bool required() const;
    [[nodiscard]] bool storeBuild() const;
    [[nodiscard]] bool dismissed() const { return m_dismissed; }
    // Whole seconds from observed now to the recorded deadline, never below 0; 0 without one.
    // Each read observes (and stores) the clock.
    [[nodiscard]] qint64 graceRemainingSeconds();
    [[nodiscard]] QString verifiedPath() const { return m_verifiedPath; }
    // "platform/architecture/distribution/packageType" of this build.
    [[nodiscard]] QString currentTarget() const;

    // The automatic check that start-up queues for the first turn of the event loop.
    Q_INVOKABLE void startupCheck();
    // The about pane's button.
    Q_INVOKABLE void checkForUpdates();
    // The required-update dialog's Retry.
    Q_INVOKABLE void retry();
    // Opens the store page of a store release, or downloads the installer of a download release.
    // Does nothing while a download or a check runs.
    Q_INVOKABLE void download();
    // Verifies the downloaded installer again, on a worker, then hands it to the desktop's package
    // installer and quits once that has started. Without an installer application the file is
    // shown in its folder, the client stays open, and errorMessage says what to do with the file.
    // Does nothing while an installation starts.
    Q_INVOKABLE void install();
    Q_INVOKABLE void dismiss();
    Q_INVOKABLE void exitApplication();

    // The applied offer behind the candidate properties.
    [[nodiscard]] const UpdateCandidate &candidate() const { return m_candidate; }
    [[nodiscard]] QDateTime requiredDeadline() const { return m_requiredDeadline; }
    // The rollback-guarded clock: the latest of the current time, serverTime and every time
    // observed before, stored as the new latest.
    QDateTime observeTime(const QDateTime &serverTime);

    // The keyring's public key of that id, empty when it has none.
    [[nodiscard]] QByteArray publicKey(const QString &signingKeyId) const;
    // Where the candidate's installer goes: "updates/<version>-<build>/<filename>" in the cache
    // folder. Creates the folders (owner-only).
    [[nodiscard]] static QString cachePath(const UpdateCandidate &offer);

Q_SIGNALS:
    void stateChanged();
    void candidateChanged();
    void progressChanged();
    void dismissedChanged();
    void graceChanged();
    // download() or install() ended in Error with this message, once per failure. The banner
    // hides in Error, so this is how a user who is not blocked by the dialog learns of it;
    // downloading again is the way on from each of them.
    void downloadFailed(const QString &message);

private:
    using Verdict = quorin::InstallerVerifier::Verdict;

    static void closeConnections();

    void beginCheck();
    void requestChannel(const QString &channel);
    [[nodiscard]] QUrl discoveryUrl(const QString &channel) const;
    void finishRequest(quorin::MediaFetch *fetch, const QString &channel);
    [[nodiscard]] static QString failureText(const quorin::MediaFetch &fetch);
    static void logCheckFailure(const QString &reason, const QVariantMap &fields);
    void discoveryFailed(const QString &text);
    void discoveryTimedOut();
    void finishDiscovery();
    void applyCandidate(const UpdateCandidate &offer);
    void persistRequired(const UpdateCandidate &offer, const QDateTime &now);
    void clearRequired();
    void applyOfflineEnforcement(const QString &text);
    void graceTick();
    void startDownload();
    void readDownloadData();
    void noteDownloadProgress(qint64 receivedBytes);
    void finishDownload();
    void cancelDownload(const QString &text, const QString &reason, const QVariantMap &fields = {});
    void failDownload(const QString &text, const QString &reason, const QVariantMap &fields = {});
    // Whether the bytes fit beside the margin; an unknown volume (nothing available) never does.
    [[nodiscard]] static bool hasFreeSpaceFor(const std::optional<qint64> &available, qint64 bytes);
    // Runs the installer checks on a worker and hands the verdict to done on the GUI thread,
    // unless the controller is gone by then.
    void verifyInBackground(const QString &path, const UpdateCandidate &offer,
                            std::function<void(Verdict)> done);
    [[nodiscard]] static QString verdictText(Verdict verdict);
    void handOverInstaller(const QString &path, quint64 generation);
    void failInstall(const QString &text, const QString &reason, const QVariantMap &fields);
    void changeState(State state, const QString &text);
    [[nodiscard]] QDateTime observedNow() { return observeTime(QDateTime()); }
    [[nodiscard]] bool recordIsNewerThanClient(const QString &version, qint64 build) const;
    [[nodiscard]] static std::unique_ptr<QSettings> openSettings();

    State m_state = Idle;
    QString m_errorMessage;
    double m_progress = 0;
    bool m_dismissed = false;
    // A required release is enforced without a confirming answer (offline, grace over).
    bool m_requiredEnforced = false;
    // 1 while a discovery runs, 0 otherwise; a completion that finds 0 belongs to a discovery
    // that already ended.
    int m_pendingRequests = 0;
    UpdateCandidate m_discoveredCandidate;
    UpdateCandidate m_candidate;
    QString m_verifiedPath;
    QDateTime m_requiredDeadline; // UTC; invalid when no required release is recorded
    QNetworkAccessManager *m_updateNetwork = nullptr;
    // The installer download fills these.
    QPointer<quorin::MediaFetch> m_downloadReply;
    std::unique_ptr<QSaveFile> m_saveFile;
    std::unique_ptr<quorin::Sha256Hasher> m_downloadHash;
    qint64 m_receivedBytes = 0;
    // Moves on with every applied offer and every download: a verdict on a file reached under an
    // older value is about a file or an offer that has been replaced since.
    quint64 m_verificationGeneration = 0;
    // From install() until the installer is handed over or refused.
    bool m_installing = false;
    quorin::LinuxPackageInstaller *m_packageInstaller = nullptr;
    QTimer *m_discoveryTimer = nullptr;
    QTimer *m_stallTimer = nullptr;
    QTimer *m_graceTimer = nullptr;

    QUrl m_releaseBaseUrl;
    std::function<QDateTime()> m_currentTime;
    int m_transferTimeoutMs;
    std::function<std::optional<qint64>(const QString &)> m_freeSpace;
    QString m_keyringPath;
    std::function<void()> m_quit;
    std::function<void()> m_verificationStarted;
    // The discovery requests in flight, cancelled together when the discovery times out.
    QList<QPointer<quorin::MediaFetch>> m_discoveryFetches;
};
