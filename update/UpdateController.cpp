#include "update/UpdateController.h"

#include "app/BuildVersion.h"
#include "app/DiagnosticLogger.h"
#include "app/Endpoints.h"
#include "app/OwnerOnlyFolder.h"
#include "app/PreferencesStore.h"
#include "net/InstallationIdentity.h"
#include "net/MediaFetch.h"
#include "net/MediaUrlRules.h"
#include "update/Sha256Hasher.h"
#include "update/UpdatePolicy.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMetaEnum>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QSettings>
#include <QStandardPaths>
#include <QStorageInfo>
#include <QSysInfo>
#include <QTimer>
#include <QUrlQuery>
#include <QtConcurrent/QtConcurrentRun>
#include <utility>

namespace {

const QString kGroup = QStringLiteral("updates");
const QString kRequiredVersionKey = QStringLiteral("requiredVersion");
const QString kRequiredBuildKey = QStringLiteral("requiredBuild");
const QString kRequiredDeadlineKey = QStringLiteral("requiredDeadline");
const QString kRequiredResponseKey = QStringLiteral("requiredResponse");
const QString kHighestObservedKey = QStringLiteral("highestObservedUtc");
const QString kDismissedReleaseKey = QStringLiteral("dismissedRelease");
const QString kLegacyBetaKey = QStringLiteral("betaEnabled");
const QString kVerifiedPathKey = QStringLiteral("verifiedPath");
const QString kLogCategory = QStringLiteral("update");

// This build's target at the release service.
const QString kProduct = QStringLiteral("quorin-desktop");
const QString kStableChannel = QStringLiteral("stable");
const QString kPlatform = QStringLiteral("linux");
const QString kDistribution = QStringLiteral("direct");
const QString kPackageType = QStringLiteral("deb");
const QString kBuildNumber = QString::fromLatin1(quorin::BuildVersion::buildNumber);

qint64 clientBuild()
{
    return kBuildNumber.toLongLong();
}

QString architecture()
{
    return QSysInfo::currentCpuArchitecture();
}

QString releaseKey(const UpdateCandidate &candidate)
{
    return candidate.version + QLatin1Char('/') + QString::number(candidate.buildNumber);
}

QDateTime storedUtc(const QSettings &settings, const QString &key)
{
    const QDateTime value = settings.value(key).toDateTime();
    return value.isValid() ? value.toUTC() : QDateTime();
}

// The answer's Date header. Qt 6.4's RFC 2822 reader refuses the "GMT" form that HTTP servers
// send, so that form is read first, as UTC; anything else unreadable counts as no time.
QDateTime serverDate(const QByteArray &header)
{
    const QString text = QString::fromLatin1(header).trimmed();
    if (text.isEmpty())
        return {};
    const QDateTime gmt = QLocale::c().toDateTime(text, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"));
    if (gmt.isValid())
        return QDateTime(gmt.date(), gmt.time(), Qt::UTC);
    return QDateTime::fromString(text, Qt::RFC2822Date);
}

// The release check sends no credentials, and a cookie the service set would be one on the next
// check: this jar keeps none.
class DiscardingCookieJar : public QNetworkCookieJar
{
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    bool setCookiesFromUrl(const QList<QNetworkCookie> &, const QUrl &) override { return false; }
};

// Every hop of a release request, the discovery's and the installer's alike: an https target
// that the media redirect rules allow. A refused target is never asked.
quorin::MediaFetch::RedirectRule releaseHopRule()
{
    return [](const QUrl &from, const QUrl &to, bool carriesBearer) {
        return UpdatePolicy::validHttpsUrl(to) &&
               quorin::MediaUrlRules::allowRedirect(from, to, carriesBearer);
    };
}

std::optional<qint64> volumeFreeSpace(const QString &folder)
{
    const QStorageInfo volume(folder);
    if (!volume.isValid())
        return std::nullopt;
    return volume.bytesAvailable();
}

QString insecureServiceText()
{
    return UpdateController::tr("The release service URL is not secure.");
}

QString timedOutText()
{
    return UpdateController::tr("The update service timed out.");
}

QString unreachableText()
{
    return UpdateController::tr("The update service could not be reached.");
}

QString endingName(quorin::MediaFetch::Ending ending)
{
    return QString::fromLatin1(QMetaEnum::fromType<quorin::MediaFetch::Ending>().valueToKey(int(ending)));
}

// A failure's detail goes to the diagnostics log, which masks it (the request's URL carries the
// installation id); the user reads the short sentence of the state instead.
void logFailure(const QString &event, const QString &reason, QVariantMap fields)
{
    fields.insert(QStringLiteral("reason"), reason);
    DiagnosticLogger::log(kLogCategory, QStringLiteral("warning"), event, fields);
}

} // namespace

UpdateController::Configuration UpdateController::Configuration::production()
{
    Configuration configuration;
    configuration.releaseBaseUrl = quorin::Endpoints::instance().releaseUrl();
    return configuration;
}

UpdateController::UpdateController(Configuration configuration, QObject *parent)
    : UpdateControllerStates(parent)
    , m_updateNetwork(new QNetworkAccessManager(this))
    , m_discoveryTimer(new QTimer(this))
    , m_stallTimer(new QTimer(this))
    , m_graceTimer(new QTimer(this))
    , m_releaseBaseUrl(std::move(configuration.releaseBaseUrl))
    , m_currentTime(std::move(configuration.currentTime))
    , m_transferTimeoutMs(configuration.transferTimeoutMs)
    , m_freeSpace(std::move(configuration.freeSpace))
    , m_keyringPath(std::move(configuration.keyringPath))
    , m_quit(std::move(configuration.quit))
    , m_verificationStarted(std::move(configuration.verificationStarted))
{
    m_packageInstaller = new quorin::LinuxPackageInstaller(std::move(configuration.commandRunner), this);
    if (!m_currentTime)
        m_currentTime = [] { return QDateTime::currentDateTimeUtc(); };
    if (!m_freeSpace)
        m_freeSpace = &volumeFreeSpace;
    if (!m_quit)
        m_quit = &QCoreApplication::quit;
    // Requests go through MediaFetch, which follows redirects itself; anything else sent here
    // would still never follow one from HTTPS to plain HTTP.
    m_updateNetwork->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    m_updateNetwork->setCookieJar(new DiscardingCookieJar(m_updateNetwork));

    std::unique_ptr<QSettings> settings = openSettings();
    settings->remove(kLegacyBetaKey);
    m_requiredDeadline = storedUtc(*settings, kRequiredDeadlineKey);
    // Verified again when an offer is applied and before it is installed.
    m_verifiedPath = settings->value(kVerifiedPathKey).toString();

    m_discoveryTimer->setObjectName(QStringLiteral("discoveryTimer"));
    m_stallTimer->setObjectName(QStringLiteral("stallTimer"));
    m_graceTimer->setObjectName(QStringLiteral("graceTimer"));
    m_discoveryTimer->setSingleShot(true);
    m_discoveryTimer->setInterval(configuration.discoveryTimeoutMs);
    connect(m_discoveryTimer, &QTimer::timeout, this, &UpdateController::discoveryTimedOut);
    m_stallTimer->setSingleShot(true);
    m_stallTimer->setInterval(configuration.stallTimeoutMs);
    connect(m_stallTimer, &QTimer::timeout, this,
            [this] { cancelDownload(tr("The download stalled."), QStringLiteral("stalled")); });
    m_graceTimer->setInterval(configuration.graceTickMs);
    connect(m_graceTimer, &QTimer::timeout, this, &UpdateController::graceTick);

    const QString version = settings->value(kRequiredVersionKey).toString();
    const qint64 build = settings->value(kRequiredBuildKey, -1).toLongLong();
    settings.reset();
    if (!recordIsNewerThanClient(version, build) || !m_requiredDeadline.isValid())
        return;
    // No signal: nothing can listen yet. required reads false in grace until a check applies an
    // offer, and true once enforced.
    if (observedNow() < m_requiredDeadline) {
        m_state = OfflineGrace;
        m_graceTimer->start();
    } else {
        m_requiredEnforced = true;
        m_state = Required;
    }
}

UpdateController::~UpdateController()
{
    // The requests go with the controller's children; none may report to it on the way.
    for (const QPointer<quorin::MediaFetch> &fetch : std::as_const(m_discoveryFetches)) {
        if (fetch)
            disconnect(fetch, nullptr, this, nullptr);
    }
    if (m_downloadReply)
        disconnect(m_downloadReply, nullptr, this, nullptr);
}

UpdateController *UpdateController::instance()
{
    static UpdateController controller(Configuration::production());
    static const bool closesBeforeApplicationExit = [] {
        qAddPostRoutine(&UpdateController::closeConnections);
        return true;
    }();
    Q_UNUSED(closesBeforeApplicationExit);
    return &controller;
}

// The process-wide controller outlives the application object; its encrypted connections must be
// closed while the TLS backend still exists.
void UpdateController::closeConnections()
{
    instance()->m_updateNetwork->clearConnectionCache();
}

std::unique_ptr<QSettings> UpdateController::openSettings()
{
    std::unique_ptr<QSettings> settings = quorin::PreferencesStore::open();
    settings->beginGroup(kGroup);
    return settings;
}

bool UpdateController::required() const
{
    return m_candidate.updateRequired || m_requiredEnforced || m_state == Required;
}

bool UpdateController::storeBuild() const
{
    return kDistribution == QLatin1String("store");
}

QString UpdateController::currentTarget() const
{
    return QStringLiteral("%1/%2/%3/%4").arg(kPlatform, architecture(), kDistribution, kPackageType);
}

qint64 UpdateController::graceRemainingSeconds()
{
    if (!m_requiredDeadline.isValid())
        return 0;
    return qMax<qint64>(0, observedNow().secsTo(m_requiredDeadline));
}

QDateTime UpdateController::observeTime(const QDateTime &serverTime)
{
    std::unique_ptr<QSettings> settings = openSettings();
    const QDateTime observed =
        UpdatePolicy::monotonicNow(m_currentTime(), serverTime, storedUtc(*settings, kHighestObservedKey));
    settings->setValue(kHighestObservedKey, observed);
    return observed;
}

bool UpdateController::recordIsNewerThanClient(const QString &version, qint64 build) const
{
    UpdateCandidate recorded;
    recorded.version = version;
    recorded.buildNumber = build;
    return !version.isEmpty() && build >= 0 &&
           UpdatePolicy::isNewer(recorded, QCoreApplication::applicationVersion(), clientBuild());
}

void UpdateController::startupCheck()
{
    beginCheck();
}

void UpdateController::checkForUpdates()
{
    beginCheck();
}

void UpdateController::retry()
{
    beginCheck();
}

void UpdateController::download()
{
    // A second download would swap the save file and the hasher under the running transfer, and
    // the answer of a running check would replace the offer being downloaded.
    if (!m_candidate.updateAvailable || m_state == Downloading || m_pendingRequests > 0)
        return;
    if (m_candidate.actionType == QLatin1String("store")) {
        if (UpdatePolicy::validHttpsUrl(m_candidate.url))
            QDesktopServices::openUrl(m_candidate.url);
        return;
    }
    startDownload();
}

void UpdateController::install()
{
    if (m_installing)
        return;
    if (m_verifiedPath.isEmpty()) {
        failInstall(verdictText(Verdict::NoFile), QStringLiteral("no_verified_installer"), {});
        return;
    }
    m_installing = true;
    const QString path = m_verifiedPath;
    const quint64 generation = m_verificationGeneration;
    verifyInBackground(path, m_candidate, [this, path, generation](Verdict verdict) {
        if (generation != m_verificationGeneration) {
            // Another offer or a new download took the file's place meanwhile; what was checked is
            // not what the user now sees.
            m_installing = false;
            return;
        }
        if (verdict != Verdict::Verified) {
            m_installing = false;
            failInstall(verdictText(verdict), QStringLiteral("installer_changed"),
                        {{QStringLiteral("verdict"), int(verdict)}});
            return;
        }
        handOverInstaller(path, generation);
    });
}

void UpdateController::handOverInstaller(const QString &path, quint64 generation)
{
    m_packageInstaller->open(path, [this, generation](quorin::LinuxPackageInstaller::Outcome outcome) {
        m_installing = false;
        using Outcome = quorin::LinuxPackageInstaller::Outcome;
        if (outcome == Outcome::Opened) {
            m_quit();
            return;
        }
        // A later offer's state is not this installer's to change.
        const bool current = generation == m_verificationGeneration;
        if (outcome == Outcome::Failed) {
            if (current)
                failInstall(tr("The installer could not be opened."), QStringLiteral("open_failed"), {});
            return;
        }
        // The state stays: the verified installer is still there to install. The text is what to
        // do with it, shown where the installation was asked for.
        if (current)
            changeState(m_state, tr("Open the downloaded package with your system's software installer."));
    });
}

void UpdateController::failInstall(const QString &text, const QString &reason, const QVariantMap &fields)
{
    logFailure(QStringLiteral("update_install_failed"), reason, fields);
    changeState(Error, text);
    Q_EMIT downloadFailed(text);
}

void UpdateController::dismiss()
{
    if (m_candidate.updateRequired)
        return;
    openSettings()->setValue(kDismissedReleaseKey, releaseKey(m_candidate));
    m_dismissed = true;
    Q_EMIT dismissedChanged();
}

void UpdateController::exitApplication()
{
    m_quit();
}

void UpdateController::changeState(State state, const QString &text)
{
    m_state = state;
    m_errorMessage = text;
    Q_EMIT stateChanged();
}

// Discovery

void UpdateController::beginCheck()
{
    if (m_pendingRequests > 0 || m_state == Downloading)
        return;
    m_errorMessage.clear(); // announced with the state the discovery ends in
    m_pendingRequests = 1;
    m_discoveredCandidate = UpdateCandidate();
    // In grace or under an enforced requirement the client keeps showing that state meanwhile.
    if (m_state != OfflineGrace && !m_requiredEnforced)
        changeState(Checking, QString());
    m_discoveryTimer->start();
    requestChannel(kStableChannel);
}

QUrl UpdateController::discoveryUrl(const QString &channel) const
{
    QUrl url = m_releaseBaseUrl;
    QString path = url.path();
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    url.setPath(path + QStringLiteral("/v2/releases/latest"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("product"), kProduct);
    query.addQueryItem(QStringLiteral("channel"), channel);
    query.addQueryItem(QStringLiteral("platform"), kPlatform);
    query.addQueryItem(QStringLiteral("architecture"), architecture());
    query.addQueryItem(QStringLiteral("distribution"), kDistribution);
    query.addQueryItem(QStringLiteral("packageType"), kPackageType);
    query.addQueryItem(QStringLiteral("currentVersion"), QCoreApplication::applicationVersion());
    query.addQueryItem(QStringLiteral("currentBuildNumber"), kBuildNumber);
    query.addQueryItem(QStringLiteral("installationId"), InstallationIdentity::id());
    url.setQuery(query);
    return url;
}

void UpdateController::requestChannel(const QString &channel)
{
    const QUrl url = discoveryUrl(channel);
    if (!UpdatePolicy::validHttpsUrl(url)) {
        discoveryFailed(insecureServiceText());
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(m_transferTimeoutMs);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("quorin-desktop/%1").arg(QCoreApplication::applicationVersion()));
    // The helper follows each redirect itself, after checking the target, so a refused target
    // is never asked.
    auto *fetch = new quorin::MediaFetch(m_updateNetwork, request, this);
    fetch->setRedirectRule(releaseHopRule());
    m_discoveryFetches.append(fetch);
    connect(fetch, &quorin::MediaFetch::finished, this,
            [this, fetch, channel] { finishRequest(fetch, channel); });
    fetch->start();
}

// Every ending but an accepted answer has a text: an ending read as "nothing offered" would lift
// a recorded required release. The network layer's own text names the request's URL, query and
// all, so it never reaches the user.
QString UpdateController::failureText(const quorin::MediaFetch &fetch)
{
    switch (fetch.ending()) {
    case quorin::MediaFetch::Ending::RedirectRefused:
        return insecureServiceText();
    case quorin::MediaFetch::Ending::TimedOut:
        return timedOutText();
    default:
        break;
    }
    if (fetch.httpStatus() > 0)
        return tr("The update service answered with an error (status %1).").arg(fetch.httpStatus());
    return unreachableText();
}

void UpdateController::finishRequest(quorin::MediaFetch *fetch, const QString &channel)
{
    fetch->deleteLater();
    m_discoveryFetches.removeAll(fetch);
    if (m_pendingRequests < 1)
        return; // cancelled by the controller after the discovery ended

    const bool accepted =
        fetch->ending() == quorin::MediaFetch::Ending::Completed && fetch->httpStatus() == 200;
    if (!accepted) {
        m_errorMessage = failureText(*fetch);
        logFailure(QStringLiteral("update_check_failed"), endingName(fetch->ending()),
                   {{QStringLiteral("http_status"), fetch->httpStatus()},
                    {QStringLiteral("network_error"), int(fetch->networkError())},
                    {QStringLiteral("detail"), fetch->errorString()}});
    } else {
        UpdateCandidate parsed;
        QString error;
        if (UpdatePolicy::parseResponse(fetch->readAll(), channel == kStableChannel, parsed, &error)) {
            m_discoveredCandidate = parsed;
            observeTime(serverDate(fetch->rawHeader("Date")));
        } else {
            m_errorMessage = tr("The update offer was invalid.");
            logFailure(QStringLiteral("update_check_failed"), QStringLiteral("invalid_offer"),
                       {{QStringLiteral("detail"), error}});
        }
    }
    if (--m_pendingRequests == 0)
        finishDiscovery();
}

void UpdateController::discoveryFailed(const QString &text)
{
    logFailure(QStringLiteral("update_check_failed"), QStringLiteral("insecure_service_url"), {});
    m_pendingRequests = 0;
    m_discoveryTimer->stop();
    applyOfflineEnforcement(text);
}

void UpdateController::discoveryTimedOut()
{
    // Ended first: cancelling a request reports its completion at once, and that completion
    // must find the discovery over.
    m_pendingRequests = 0;
    // Only discovery requests are held here; an installer download in progress goes on.
    const QList<QPointer<quorin::MediaFetch>> running = std::exchange(m_discoveryFetches, {});
    for (const QPointer<quorin::MediaFetch> &fetch : running) {
        if (fetch && fetch != m_downloadReply)
            fetch->abort();
    }
    m_discoveryTimer->stop();
    logFailure(QStringLiteral("update_check_failed"), QStringLiteral("discovery_timed_out"), {});
    applyOfflineEnforcement(timedOutText());
}

void UpdateController::finishDiscovery()
{
    m_discoveryTimer->stop();
    const UpdateCandidate discovered = m_discoveredCandidate;
    if (!m_errorMessage.isEmpty() && !discovered.updateAvailable) {
        applyOfflineEnforcement(QString(m_errorMessage));
        return;
    }
    const bool wasRequired = required();
    if (!discovered.updateAvailable || !discovered.updateRequired)
        clearRequired();

    if (discovered.updateAvailable) {
        applyCandidate(discovered);
        if (discovered.updateRequired) {
            persistRequired(discovered, observedNow());
            changeState(Required, QString());
        } else {
            changeState(Available, QString());
        }
        return;
    }
    // Nothing is offered: the service no longer requires the applied release either, or the
    // blocking dialog would stay up for the rest of the run.
    m_candidate.updateRequired = false;
    changeState(UpToDate, QString());
    if (required() != wasRequired)
        Q_EMIT candidateChanged();
}

void UpdateController::applyCandidate(const UpdateCandidate &offer)
{
    m_candidate = offer;
    const quint64 generation = ++m_verificationGeneration;
    std::unique_ptr<QSettings> settings = openSettings();
    m_dismissed = settings->value(kDismissedReleaseKey).toString() == releaseKey(offer);
    // The installer downloaded before a restart serves again while it still verifies; the setting
    // stays either way. Until the worker's verdict there is no verified installer for this offer.
    const QString remembered = settings->value(kVerifiedPathKey).toString();
    settings.reset();
    m_verifiedPath.clear();
    Q_EMIT candidateChanged();
    Q_EMIT dismissedChanged();
    if (remembered.isEmpty())
        return;
    verifyInBackground(remembered, offer, [this, remembered, generation](Verdict verdict) {
        if (verdict != Verdict::Verified || generation != m_verificationGeneration)
            return;
        m_verifiedPath = remembered;
        Q_EMIT candidateChanged();
    });
}

void UpdateController::persistRequired(const UpdateCandidate &offer, const QDateTime &now)
{
    std::unique_ptr<QSettings> settings = openSettings();
    const bool sameRelease = settings->value(kRequiredVersionKey).toString() == offer.version &&
                             settings->value(kRequiredBuildKey, -1).toLongLong() == offer.buildNumber;
    const QDateTime recordedDeadline = storedUtc(*settings, kRequiredDeadlineKey);
    // The grace period counts from the first answer that required this release. Renewed at every
    // answer, it would let a client that reaches the service now and then, and retries offline
    // in between, put the release off for ever.
    m_requiredDeadline =
        sameRelease && recordedDeadline.isValid() ? recordedDeadline : now.addSecs(GracePeriodSeconds);
    const QJsonObject response{{QStringLiteral("buildNumber"), offer.buildNumber},
                               {QStringLiteral("required"), true},
                               {QStringLiteral("version"), offer.version}};
    settings->setValue(kRequiredVersionKey, offer.version);
    settings->setValue(kRequiredBuildKey, offer.buildNumber);
    settings->setValue(kRequiredDeadlineKey, m_requiredDeadline);
    settings->setValue(kRequiredResponseKey, QJsonDocument(response).toJson(QJsonDocument::Compact));
}

void UpdateController::clearRequired()
{
    std::unique_ptr<QSettings> settings = openSettings();
    for (const QString &key :
         {kRequiredVersionKey, kRequiredBuildKey, kRequiredDeadlineKey, kRequiredResponseKey})
        settings->remove(key);
    m_requiredDeadline = QDateTime();
    m_requiredEnforced = false;
}

void UpdateController::applyOfflineEnforcement(const QString &text)
{
    std::unique_ptr<QSettings> settings = openSettings();
    const QString version = settings->value(kRequiredVersionKey).toString();
    const qint64 build = settings->value(kRequiredBuildKey, -1).toLongLong();
    m_requiredDeadline = storedUtc(*settings, kRequiredDeadlineKey);
    // Verified again when an offer is applied and before it is installed.
    m_verifiedPath = settings->value(kVerifiedPathKey).toString();
    settings.reset();
    // The client already runs the recorded release or a later one: the user installed it.
    if (!version.isEmpty() && build >= 0 && !recordIsNewerThanClient(version, build))
        clearRequired();

    if (!m_requiredDeadline.isValid()) {
        changeState(Error, text);
        return;
    }
    m_candidate.updateRequired = true;
    if (observedNow() < m_requiredDeadline) {
        changeState(OfflineGrace, text);
        m_graceTimer->start();
    } else {
        m_requiredEnforced = true;
        changeState(Required, text);
    }
    Q_EMIT candidateChanged();
}

void UpdateController::graceTick()
{
    if (m_state == OfflineGrace && graceRemainingSeconds() == 0) {
        m_requiredEnforced = true;
        changeState(Required, tr("The required-update grace period has expired."));
        Q_EMIT candidateChanged();
    }
    Q_EMIT graceChanged();
}

// Installer download

QString UpdateController::cachePath(const UpdateCandidate &offer)
{
    const QString updates =
        QStandardPaths::writableLocation(QStandardPaths::CacheLocation) + QStringLiteral("/updates");
    const QString folder =
        updates + QLatin1Char('/') + offer.version + QLatin1Char('-') + QString::number(offer.buildNumber);
    quorin::OwnerOnlyFolder::ensure(updates);
    quorin::OwnerOnlyFolder::ensure(folder);
    return folder + QLatin1Char('/') + offer.filename;
}

// Written so that no sum can overflow: the declared size may be as large as 2^63 - 1.
bool UpdateController::hasFreeSpaceFor(const std::optional<qint64> &available, qint64 bytes)
{
    return available && *available >= FreeSpaceMarginBytes && bytes <= *available - FreeSpaceMarginBytes;
}

void UpdateController::startDownload()
{
    if (!UpdatePolicy::validHttpsUrl(m_candidate.url)) {
        failDownload(tr("The update download URL is not secure."), QStringLiteral("insecure_url"));
        return;
    }
    const QString path = cachePath(m_candidate);
    const QString folder = QFileInfo(path).absolutePath();
    const std::optional<qint64> available = m_freeSpace(folder);
    if (!hasFreeSpaceFor(available, m_candidate.size)) {
        failDownload(tr("There is not enough free disk space for the update."), QStringLiteral("disk_space"),
                     {{QStringLiteral("declared_bytes"), m_candidate.size},
                      {QStringLiteral("available_bytes"), available ? *available : qint64(-1)}});
        return;
    }
    // The file is about to be replaced: a verdict on it still to come speaks of what was there.
    ++m_verificationGeneration;
    if (m_saveFile)
        m_saveFile->cancelWriting();
    m_saveFile = std::make_unique<QSaveFile>(path);
    // Never write the target in place: a half-written installer must not be where one is expected.
    m_saveFile->setDirectWriteFallback(false);
    if (!m_saveFile->open(QIODevice::WriteOnly)) {
        const QString detail = m_saveFile->errorString();
        m_saveFile.reset();
        failDownload(tr("The update could not be saved to disk."), QStringLiteral("save_file"),
                     {{QStringLiteral("detail"), detail}});
        return;
    }
    m_downloadHash = std::make_unique<quorin::Sha256Hasher>();
    m_receivedBytes = 0;
    m_progress = 0;

    // No transfer time-out: a large installer on a slow line may take long; the stall guard ends a
    // transfer that stops moving.
    auto *fetch = new quorin::MediaFetch(m_updateNetwork, QNetworkRequest(m_candidate.url), this);
    fetch->setRedirectRule(releaseHopRule());
    m_downloadReply = fetch;
    connect(fetch, &quorin::MediaFetch::readyRead, this, &UpdateController::readDownloadData);
    connect(fetch, &quorin::MediaFetch::downloadProgress, this,
            [this](qint64 receivedBytes, qint64) { noteDownloadProgress(receivedBytes); });
    connect(fetch, &quorin::MediaFetch::finished, this, &UpdateController::finishDownload);
    fetch->start();
    changeState(Downloading, QString());
    m_stallTimer->start();
}

void UpdateController::readDownloadData()
{
    if (!m_downloadReply || !m_saveFile || !m_downloadHash)
        return;
    const QByteArray chunk = m_downloadReply->readAll();
    m_receivedBytes += chunk.size();
    if (m_receivedBytes > m_candidate.size) {
        cancelDownload(tr("The downloaded update is larger than expected or could not be saved."),
                       QStringLiteral("oversize"),
                       {{QStringLiteral("declared_bytes"), m_candidate.size},
                        {QStringLiteral("received_bytes"), m_receivedBytes}});
        return;
    }
    if (m_saveFile->write(chunk) != chunk.size()) {
        cancelDownload(tr("The downloaded update is larger than expected or could not be saved."),
                       QStringLiteral("write_failed"),
                       {{QStringLiteral("detail"), m_saveFile->errorString()}});
        return;
    }
    m_downloadHash->addData(chunk);
    m_stallTimer->start();
}

// Counted against the declared size, never the transfer's own total, which the server sets.
void UpdateController::noteDownloadProgress(qint64 receivedBytes)
{
    m_progress =
        m_candidate.size > 0 ? qBound(0.0, double(receivedBytes) / double(m_candidate.size), 1.0) : 0.0;
    Q_EMIT progressChanged();
    m_stallTimer->start();
}

void UpdateController::finishDownload()
{
    m_stallTimer->stop();
    if (!m_downloadReply || !m_saveFile || !m_downloadHash)
        return;
    // Whatever arrived with the end goes through the same checks as every chunk before it.
    if (m_downloadReply->bytesAvailable() > 0) {
        readDownloadData();
        if (!m_downloadReply)
            return;
    }
    quorin::MediaFetch *fetch = m_downloadReply.data();
    const bool transferred = fetch->ending() == quorin::MediaFetch::Ending::Completed;
    const QVariantMap transfer{{QStringLiteral("ending"), endingName(fetch->ending())},
                               {QStringLiteral("http_status"), fetch->httpStatus()},
                               {QStringLiteral("network_error"), int(fetch->networkError())},
                               {QStringLiteral("detail"), fetch->errorString()}};
    fetch->deleteLater();
    m_downloadReply.clear();

    if (!transferred) {
        cancelDownload(tr("The update download failed."), QStringLiteral("transfer"), transfer);
        return;
    }
    if (m_receivedBytes != m_candidate.size) {
        cancelDownload(tr("The downloaded update failed verification."), QStringLiteral("size_mismatch"),
                       {{QStringLiteral("declared_bytes"), m_candidate.size},
                        {QStringLiteral("received_bytes"), m_receivedBytes}});
        return;
    }
    if (m_downloadHash->result() != m_candidate.sha256) {
        cancelDownload(tr("The downloaded update failed verification."), QStringLiteral("digest_mismatch"));
        return;
    }
    const QByteArray key = publicKey(m_candidate.signingKeyID);
    if (key.isEmpty()) {
        cancelDownload(tr("The update was signed by an unknown key."), QStringLiteral("unknown_key"));
        return;
    }
    if (!UpdatePolicy::verifyEd25519Digest(key, m_candidate.sha256, m_candidate.signature)) {
        cancelDownload(tr("The update signature is invalid."), QStringLiteral("bad_signature"));
        return;
    }
    if (!m_saveFile->commit()) {
        cancelDownload(tr("The verified update could not be committed to disk."), QStringLiteral("commit"),
                       {{QStringLiteral("detail"), m_saveFile->errorString()}});
        return;
    }
    m_verifiedPath = m_saveFile->fileName();
    m_saveFile.reset();
    m_downloadHash.reset();
    openSettings()->setValue(kVerifiedPathKey, m_verifiedPath);
    m_progress = 1;
    Q_EMIT progressChanged();
    Q_EMIT candidateChanged();
    changeState(Ready, QString());
}

void UpdateController::cancelDownload(const QString &text, const QString &reason, const QVariantMap &fields)
{
    m_stallTimer->stop();
    if (quorin::MediaFetch *fetch = m_downloadReply.data()) {
        // Disconnected first: the abort reports its end at once, and nothing may answer it.
        disconnect(fetch, nullptr, this, nullptr);
        fetch->abort();
        fetch->deleteLater();
        m_downloadReply.clear();
    }
    if (m_saveFile) {
        // The temporary file goes with the save file; nothing reaches the target path.
        m_saveFile->cancelWriting();
        m_saveFile.reset();
    }
    m_downloadHash.reset();
    failDownload(text, reason, fields);
}

void UpdateController::failDownload(const QString &text, const QString &reason, const QVariantMap &fields)
{
    logFailure(QStringLiteral("update_download_failed"), reason, fields);
    changeState(Error, text);
    Q_EMIT downloadFailed(text);
}

void UpdateController::verifyInBackground(const QString &path, const UpdateCandidate &offer,
                                          std::function<void(Verdict)> done)
{
    // The watcher goes with the controller, and its verdict with it; the worker holds copies only.
    auto *watcher = new QFutureWatcher<Verdict>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [watcher, done = std::move(done)] {
        watcher->deleteLater();
        done(watcher->result());
    });
    watcher->setFuture(
        QtConcurrent::run([path, offer, keyringPath = m_keyringPath, started = m_verificationStarted] {
            if (started)
                started();
            return quorin::InstallerVerifier::verify(path, offer, keyringPath);
        }));
}

QString UpdateController::verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Verified:
        break;
    case Verdict::NoFile:
        return tr("The downloaded update could not be verified.");
    case Verdict::WrongSize:
        return tr("The cached update has the wrong size.");
    case Verdict::ChecksumMismatch:
        return tr("The update checksum does not match.");
    case Verdict::UnknownKey:
        return tr("The update was signed by an unknown key.");
    case Verdict::BadSignature:
        return tr("The update signature is invalid.");
    }
    return {};
}

QByteArray UpdateController::publicKey(const QString &signingKeyId) const
{
    return quorin::InstallerVerifier::publicKey(m_keyringPath, signingKeyId);
}
