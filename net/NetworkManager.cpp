#include "net/NetworkManager.h"

#include "app/DiagnosticLogger.h"
#include "app/Endpoints.h"
#include "app/PreferencesStore.h"
#include "net/CredentialStore.h"
#include "net/InstallationIdentity.h"
#include "net/MediaFetch.h"
#include "net/MediaUrlRules.h"
#include "net/PdfTransfer.h"
#include "net/SignedOutMark.h"
#include "net/VaultStartHook.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJSEngine>
#include <QJsonValue>
#include <QLocale>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <array>
#include <utility>

namespace {

const QString kAccessTokenKey = QStringLiteral("accessToken");
const QString kRefreshTokenKey = QStringLiteral("refreshToken");
const QString kRefreshPath = QStringLiteral("auth/refresh");
const QString kLoginPath = QStringLiteral("auth/login");
constexpr qint64 kExpiryMarginSeconds = 60;

// Paths that never get the proactive token check; compared exactly, query included.
bool isPublicPath(const QString &path)
{
    static const std::array<QString, 8> paths = {
        QStringLiteral("auth/login"),          QStringLiteral("auth/refresh"),
        QStringLiteral("auth/signup"),         QStringLiteral("auth/send-otp"),
        QStringLiteral("auth/verify"),         QStringLiteral("auth/forgot-password"),
        QStringLiteral("auth/reset-password"), QStringLiteral("institutions"),
    };
    return std::find(paths.cbegin(), paths.cend(), path) != paths.cend();
}

// The settings store that earlier versions kept the tokens in.
std::unique_ptr<QSettings> legacyTokenSettings()
{
    return quorin::PreferencesStore::open();
}

QByteArray acceptLanguage()
{
    return QLocale().bcp47Name().toUtf8();
}

// The middle part of a JSON Web Token. Missing padding is accepted and characters outside the
// URL-safe alphabet are skipped.
QJsonDocument tokenClaims(const QByteArray &encodedClaims)
{
    return QJsonDocument::fromJson(QByteArray::fromBase64(encodedClaims, QByteArray::Base64UrlEncoding));
}

// A whole number of seconds from a JSON number or numeric text; anything else is 0.
qint64 expirySeconds(const QJsonValue &claim)
{
    double seconds = 0;
    if (claim.isDouble()) {
        seconds = claim.toDouble();
    } else if (claim.isString()) {
        bool numeric = false;
        seconds = claim.toString().trimmed().toDouble(&numeric);
        if (!numeric)
            return 0;
    }
    // Out-of-range values would overflow the conversion; they are unusable either way.
    constexpr double limit = 9.0e18;
    return (seconds > -limit && seconds < limit) ? qint64(seconds) : 0;
}

// The text of a claim that can name the user, or empty when the claim cannot.
QString userIdClaim(const QJsonValue &claim)
{
    if (claim.isString())
        return claim.toString().trimmed();
    if (claim.isDouble())
        return QString::number(claim.toInteger());
    return {};
}

// A token value counts only as a non-empty string: storing anything else would leave the
// client "signed in" without a usable token, refreshing on every call.
QString tokenValue(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

quorin::MediaFetch::Method fetchMethod(NetworkManager::HttpMethod method)
{
    switch (method) {
    case NetworkManager::HttpMethod::Get:
        return quorin::MediaFetch::Method::Get;
    case NetworkManager::HttpMethod::Post:
        return quorin::MediaFetch::Method::Post;
    case NetworkManager::HttpMethod::Put:
        return quorin::MediaFetch::Method::Put;
    case NetworkManager::HttpMethod::Patch:
        return quorin::MediaFetch::Method::Patch;
    case NetworkManager::HttpMethod::Delete:
        return quorin::MediaFetch::Method::Delete;
    }
    return quorin::MediaFetch::Method::Get;
}

QString sessionExpiredText()
{
    return NetworkManager::tr("Your session has expired. Please sign in again.");
}

void logDocumentEvent(const QString &level, const QString &event, const QVariantMap &fields)
{
    DiagnosticLogger::log(QStringLiteral("pdf"), level, event, fields);
}

// How a finished document transfer is described in the log.
QString documentClassification(const NetworkFailure &failure)
{
    if (failure.failure.code.isEmpty())
        return QStringLiteral("success");
    if (failure.authentication)
        return QStringLiteral("authentication");
    return failure.retryable ? QStringLiteral("transient") : QStringLiteral("terminal");
}

bool writeToken(CredentialStore &store, const QString &key, const QString &value, const char *warning)
{
    if (store.write(key, value))
        return true;
    qWarning().noquote() << warning << store.errorString();
    return false;
}

// Both items are always tried; true when both are gone.
bool removeTokens(CredentialStore &store)
{
    bool removed = true;
    for (const QString &key : {kAccessTokenKey, kRefreshTokenKey}) {
        if (!store.remove(key)) {
            qWarning().noquote() << "Failed to remove" << key << "from the keychain:" << store.errorString();
            removed = false;
        }
    }
    return removed;
}

} // namespace

struct NetworkManager::ReplyOutcome
{
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray body;
    QString errorText;
    // A redirect left the API's origin and was not followed; status is the redirect's.
    bool redirectRefused = false;

    [[nodiscard]] bool succeeded() const
    {
        return error == QNetworkReply::NoError && status >= 200 && status <= 299;
    }
};

// What the vault task needs to announce its end: the manager, while it exists. The destructor
// clears it under the mutex, so a task posting the announcement never reaches a dead manager.
struct NetworkManager::VaultNotice
{
    QMutex mutex;
    NetworkManager *manager = nullptr;
};

NetworkManager::Configuration NetworkManager::Configuration::production()
{
    Configuration configuration;
    configuration.baseUrl = quorin::Endpoints::instance().apiBaseUrl().toString();
    configuration.currentSecsSinceEpoch = [] { return QDateTime::currentSecsSinceEpoch(); };
    return configuration;
}

NetworkManager::NetworkManager(Configuration configuration, QObject *parent)
    : QObject(parent)
    , m_installationId(InstallationIdentity::id())
    , m_networkAccess(new QNetworkAccessManager(this))
    , m_credentialStore(configuration.credentialStore ? std::move(configuration.credentialStore)
                                                      : CredentialStore::createNative())
    , m_baseUrl(configuration.baseUrl)
    , m_backgroundRefreshTimer(new QTimer(this))
    , m_currentSecsSinceEpoch(std::move(configuration.currentSecsSinceEpoch))
    , m_backgroundRefreshIntervalMs(configuration.backgroundRefreshIntervalMs)
    , m_transferTimeoutMs(configuration.transferTimeoutMs)
    , m_documentTransferTimeoutMs(configuration.documentTransferTimeoutMs)
    , m_vaultNotice(std::make_shared<VaultNotice>())
{
    if (!m_currentSecsSinceEpoch)
        m_currentSecsSinceEpoch = [] { return QDateTime::currentSecsSinceEpoch(); };
    m_backgroundRefreshTimer->setObjectName(QStringLiteral("backgroundRefreshTimer"));
    qRegisterMetaType<MediaAuthSnapshot>("MediaAuthSnapshot");
    connect(m_backgroundRefreshTimer, &QTimer::timeout, this, &NetworkManager::performBackgroundRefresh);
    loadTokens();
    if (!m_accessToken.isEmpty())
        startBackgroundRefresh();
    startVault();
}

NetworkManager::~NetworkManager()
{
    {
        const QMutexLocker locker(&m_vaultNotice->mutex);
        m_vaultNotice->manager = nullptr;
    }
    // Callers still waiting are dropped unserved: their receivers may be gone by process exit.
    m_refreshWaiters.clear();
}

// The vault's keychain read may block, so it runs on the pool; its outcome is the vault's to
// announce, and the manager only tells its listeners that the attempt has returned.
void NetworkManager::startVault()
{
    const quorin::VaultStartHook::Start start = quorin::VaultStartHook::installed();
    if (!start)
        return;
    m_vaultNotice->manager = this;
    QThreadPool::globalInstance()->start([start, notice = m_vaultNotice] {
        start();
        const QMutexLocker locker(&notice->mutex);
        if (NetworkManager *manager = notice->manager) {
            QMetaObject::invokeMethod(
                manager, [manager] { Q_EMIT manager->hardwareCryptoChanged(); }, Qt::QueuedConnection);
        }
    });
}

NetworkManager *NetworkManager::instance()
{
    static NetworkManager manager(Configuration::production());
    static const bool closesBeforeApplicationExit = [] {
        qAddPostRoutine(&NetworkManager::closeConnections);
        return true;
    }();
    Q_UNUSED(closesBeforeApplicationExit);
    return &manager;
}

// The process-wide manager outlives the application object, but the network layer's worker
// thread and the encrypted connections it caches must be gone while the application still
// exists: closed later, they reach for a TLS backend that has already been torn down.
void NetworkManager::closeConnections()
{
    instance()->m_networkAccess->clearConnectionCache();
}

NetworkManager *NetworkManager::create(QQmlEngine *, QJSEngine *)
{
    NetworkManager *manager = instance();
    QJSEngine::setObjectOwnership(manager, QJSEngine::CppOwnership);
    return manager;
}

quorin::RestRequester NetworkManager::restRequester()
{
    static_assert(int(HttpMethod::Get) == int(quorin::RestMethod::Get) &&
                  int(HttpMethod::Post) == int(quorin::RestMethod::Post) &&
                  int(HttpMethod::Put) == int(quorin::RestMethod::Put) &&
                  int(HttpMethod::Patch) == int(quorin::RestMethod::Patch) &&
                  int(HttpMethod::Delete) == int(quorin::RestMethod::Delete));
    return [manager = QPointer(this)](quorin::RestMethod method, const QString &path, const QJsonObject &body,
                                      quorin::RestReply reply) {
        if (!manager)
            return;
        manager->sendRequestDetailed(
            HttpMethod(int(method)), path, body,
            [reply = std::move(reply)](const QJsonDocument &document, const NetworkFailure &failure) {
                reply(document, failure.failure);
            });
    };
}

// REST pipeline

void NetworkManager::sendRequestDetailed(HttpMethod method, const QString &path, const QJsonObject &body,
                                         RequestCallback callback)
{
    if (isPublicPath(path) || !isTokenExpiringSoon()) {
        executeRequestDetailed(method, path, body, callback, false);
        return;
    }
    refreshTokens([this, method, path, body, callback](const AuthRefreshResult &result) {
        if (result.success) {
            executeRequestDetailed(method, path, body, callback, false);
            return;
        }
        if (!callback)
            return;
        Q_EMIT requestFailed(path, result.failure.failure);
        callback(QJsonDocument(), result.failure);
    });
}

void NetworkManager::applyRequestHeaders(QNetworkRequest &request, bool withAuthorization) const
{
    request.setRawHeader("Accept", "application/json");
    request.setRawHeader("Accept-Language", acceptLanguage());
    if (withAuthorization && !m_accessToken.isEmpty())
        request.setRawHeader("Authorization", "Bearer " + m_accessToken.toUtf8());
}

bool NetworkManager::isTokenExpiringSoon() const
{
    if (m_accessToken.isEmpty())
        return true;
    const QList<QByteArray> parts = m_accessToken.toUtf8().split('.');
    if (parts.size() != 3)
        return true;
    const QJsonDocument claims = tokenClaims(parts.at(1));
    if (!claims.isObject())
        return true;
    const qint64 expiry = expirySeconds(claims.object().value(QStringLiteral("exp")));
    return expiry - m_currentSecsSinceEpoch() < kExpiryMarginSeconds;
}

QNetworkRequest NetworkManager::jsonRequest(const QString &path) const
{
    QNetworkRequest request(QUrl(m_baseUrl + path, QUrl::TolerantMode));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setTransferTimeout(m_transferTimeoutMs);
    return request;
}

// Every call to the backend goes out through here. Its redirects are followed by the fetch, and
// only within the API's own origin: the requests carry the access token, the refresh token or the
// password, and none of them may reach another host. A hop elsewhere is refused before anything
// is sent to it. The caller connects to finished() and then starts the fetch; it is a child of
// the manager, so the manager's end ends it.
quorin::MediaFetch *NetworkManager::backendFetch(HttpMethod method, const QNetworkRequest &request,
                                                 const QByteArray &payload)
{
    auto *fetch = new quorin::MediaFetch(m_networkAccess, request, this);
    fetch->setMethod(fetchMethod(method));
    fetch->setBody(payload);
    fetch->setRedirectRule([apiRoot = QUrl(m_baseUrl)](const QUrl &, const QUrl &target, bool) {
        return quorin::MediaUrlRules::sameOrigin(apiRoot, target);
    });
    fetch->setRefusalRecord(QStringLiteral("api"), QStringLiteral("redirect_refused"));
    return fetch;
}

void NetworkManager::executeRequestDetailed(HttpMethod method, const QString &path, const QJsonObject &body,
                                            const RequestCallback &callback, bool isRetry)
{
    QNetworkRequest request = jsonRequest(path);
    applyRequestHeaders(request, true);
    const bool carriesBody =
        method == HttpMethod::Post || method == HttpMethod::Put || method == HttpMethod::Patch;
    const QByteArray payload =
        carriesBody ? QJsonDocument(body).toJson(QJsonDocument::Compact) : QByteArray();
    QElapsedTimer started;
    started.start();
    quorin::MediaFetch *fetch = backendFetch(method, request, payload);
    connect(fetch, &quorin::MediaFetch::finished, this,
            [=, this] { handleRequestReply(fetch, method, path, body, callback, isRetry, started); });
    fetch->start();
}

void NetworkManager::handleRequestReply(quorin::MediaFetch *fetch, HttpMethod method, const QString &path,
                                        const QJsonObject &body, const RequestCallback &callback,
                                        bool isRetry, const QElapsedTimer &started)
{
    fetch->deleteLater();
    const ReplyOutcome outcome = readReply(*fetch);
    DiagnosticLogger::log(QStringLiteral("api"),
                          outcome.error == QNetworkReply::NoError ? QStringLiteral("info")
                                                                  : QStringLiteral("warning"),
                          QStringLiteral("request_complete"),
                          {{QStringLiteral("endpoint"), path},
                           {QStringLiteral("status"), outcome.status},
                           {QStringLiteral("response_bytes"), qint64(outcome.body.size())},
                           {QStringLiteral("latency_ms"), started.elapsed()},
                           {QStringLiteral("retry"), isRetry},
                           {QStringLiteral("network_error"), int(outcome.error)}});

    if (outcome.succeeded()) {
        if (callback)
            callback(QJsonDocument::fromJson(outcome.body), NetworkFailure());
        return;
    }
    // Public paths included: a signed-out caller then gets the session-expired failure.
    if ((outcome.status == 401 || outcome.status == 403) && !isRetry && path != kRefreshPath) {
        refreshTokens([this, method, path, body, callback](const AuthRefreshResult &result) {
            if (result.success)
                executeRequestDetailed(method, path, body, callback, true);
            else if (callback)
                callback(QJsonDocument(), result.failure);
        });
        return;
    }
    const NetworkFailure failure =
        makeNetworkFailure(outcome.status, outcome.error, outcome.body, outcome.errorText);
    Q_EMIT requestFailed(path, failure.failure);
    if (callback)
        callback(QJsonDocument(), failure);
}

NetworkManager::ReplyOutcome NetworkManager::readReply(quorin::MediaFetch &fetch)
{
    ReplyOutcome outcome;
    outcome.status = fetch.httpStatus();
    outcome.error = fetch.networkError();
    outcome.body = fetch.readAll();
    outcome.errorText = fetch.errorString();
    switch (fetch.ending()) {
    case quorin::MediaFetch::Ending::TimedOut:
        // An answer cut short has no status.
        outcome.status = 0;
        outcome.errorText = tr("The server did not answer in time.");
        break;
    case quorin::MediaFetch::Ending::Cancelled:
        outcome.status = 0;
        outcome.errorText = tr("The request was cancelled.");
        break;
    case quorin::MediaFetch::Ending::RedirectRefused:
        // The status is the redirect's own; its body never reaches the client.
        outcome.redirectRefused = true;
        outcome.errorText = tr("The server redirected the request to a destination that is not allowed.");
        break;
    default:
        break;
    }
    return outcome;
}

NetworkFailure NetworkManager::makeNetworkFailure(int httpStatus, int networkError, const QByteArray &body,
                                                  const QString &fallbackMessage)
{
    NetworkFailure failure;
    failure.failure = AppFailure::fromResponse(httpStatus, QNetworkReply::NetworkError(networkError), body,
                                               fallbackMessage);
    failure.httpStatus = httpStatus;
    failure.networkError = networkError;
    failure.message = failure.failure.userMessage;
    failure.retryable = failure.failure.retryable;
    failure.authentication = failure.failure.category == QLatin1String("authentication");
    return failure;
}

// Token store and single-flight refresh

void NetworkManager::loadTokens()
{
    switch (quorin::SignedOutMark::read()) {
    case quorin::SignedOutMark::State::Absent:
        break;
    case quorin::SignedOutMark::State::Stands:
        finishSignOut();
        return;
    case quorin::SignedOutMark::State::Unreadable:
        // Whether the user signed out cannot be told: start signed out, and change nothing.
        qWarning("The preferences store could not be read; the stored sign-in is not used.");
        return;
    }
    const std::unique_ptr<QSettings> settings = legacyTokenSettings();
    CredentialStore::loadAndMigrate(*m_credentialStore, *settings, m_accessToken, m_refreshToken);
}

// A sign-out that the keychain refused: its tokens are removed now, and the mark goes only with
// them.
void NetworkManager::finishSignOut()
{
    const bool removed = removeTokens(*m_credentialStore);
    removeLegacyTokens();
    if (removed && !quorin::SignedOutMark::clear())
        qWarning("The sign-out is complete, but its mark could not be removed from the preferences store.");
}

bool NetworkManager::saveTokens(const QString &access, const QString &refresh)
{
    m_accessToken = access;
    m_refreshToken = refresh;
    ++m_authGeneration;
    m_sessionExpiredNotified = false;
    const bool accessStored =
        writeToken(*m_credentialStore, kAccessTokenKey, access, "Failed to save access token securely:");
    const bool refreshStored =
        writeToken(*m_credentialStore, kRefreshTokenKey, refresh, "Failed to save refresh token securely:");
    Q_EMIT mediaAuthenticationChanged(mediaAuthenticationSnapshot());
    Q_EMIT isAuthenticatedChanged();
    return accessStored && refreshStored;
}

void NetworkManager::clearTokens()
{
    m_accessToken.clear();
    m_refreshToken.clear();
    ++m_authGeneration;
    // Tokens the keychain keeps would sign the user back in at the next start: the mark stops that.
    if (!removeTokens(*m_credentialStore) && !quorin::SignedOutMark::keep())
        qWarning("The sign-out could not be recorded; the next start may find the old sign-in.");
    removeLegacyTokens();
    Q_EMIT mediaAuthenticationChanged(mediaAuthenticationSnapshot());
    Q_EMIT isAuthenticatedChanged();
}

void NetworkManager::removeLegacyTokens()
{
    const std::unique_ptr<QSettings> settings = legacyTokenSettings();
    settings->remove(kAccessTokenKey);
    settings->remove(kRefreshTokenKey);
}

void NetworkManager::refreshTokens(RefreshCallback callback)
{
    if (callback)
        m_refreshWaiters.append(std::move(callback));
    if (m_refreshInFlight)
        return;
    m_refreshInFlight = true;
    const QString refreshToken = m_refreshToken;
    if (refreshToken.isEmpty()) {
        completeTokenRefresh(sessionExpiredResult());
        return;
    }
    QNetworkRequest request = jsonRequest(kRefreshPath);
    applyRequestHeaders(request, false);
    request.setRawHeader("Authorization", "Bearer " + refreshToken.toUtf8());
    QElapsedTimer started;
    started.start();
    quorin::MediaFetch *fetch = backendFetch(HttpMethod::Post, request, QByteArray());
    m_refreshFetch = fetch;
    connect(fetch, &quorin::MediaFetch::finished, this,
            [this, fetch, started] { handleRefreshReply(fetch, started); });
    fetch->start();
}

void NetworkManager::handleRefreshReply(quorin::MediaFetch *fetch, const QElapsedTimer &started)
{
    fetch->deleteLater();
    m_refreshFetch.clear();
    const ReplyOutcome outcome = readReply(*fetch);
    DiagnosticLogger::log(QStringLiteral("api"),
                          outcome.error == QNetworkReply::NoError ? QStringLiteral("info")
                                                                  : QStringLiteral("warning"),
                          QStringLiteral("token_refresh"),
                          {{QStringLiteral("status"), outcome.status},
                           {QStringLiteral("duration_ms"), started.elapsed()},
                           {QStringLiteral("network_error"), int(outcome.error)}});

    const QJsonObject answer = outcome.error == QNetworkReply::NoError
                                   ? QJsonDocument::fromJson(outcome.body).object()
                                   : QJsonObject();
    const QString access = tokenValue(answer, kAccessTokenKey);
    if (access.isEmpty()) {
        completeTokenRefresh(refreshFailure(outcome));
        return;
    }
    const QString rotated = tokenValue(answer, kRefreshTokenKey);
    saveTokens(access, rotated.isEmpty() ? m_refreshToken : rotated);
    qDebug("Tokens successfully refreshed!");
    startBackgroundRefresh();
    completeTokenRefresh({true, false, NetworkFailure()});
}

AuthRefreshResult NetworkManager::sessionExpiredResult()
{
    return {false, true,
            makeNetworkFailure(401, QNetworkReply::AuthenticationRequiredError, QByteArray(),
                               sessionExpiredText())};
}

AuthRefreshResult NetworkManager::refreshFailure(const ReplyOutcome &outcome)
{
    // Not the backend's answer: the session stands, and asking again would meet the same hop.
    if (outcome.redirectRefused)
        return {false, false,
                makeNetworkFailure(outcome.status, outcome.error, outcome.body, outcome.errorText)};
    const bool expired = outcome.status == 400 || outcome.status == 401 || outcome.status == 403;
    const QString text =
        expired ? sessionExpiredText() : tr("The server is temporarily unavailable. Please try again.");
    NetworkFailure failure;
    failure.httpStatus = outcome.status;
    failure.networkError = outcome.error;
    failure.retryable = !expired;
    failure.authentication = expired;
    failure.message = text;
    failure.failure = AppFailure::fromResponse(outcome.status, outcome.error, outcome.body, text);
    // A refused refresh always reads as the end of the session, whatever the body says.
    if (expired)
        failure.failure.userMessage = text;
    return {false, expired, failure};
}

void NetworkManager::completeTokenRefresh(const AuthRefreshResult &result)
{
    if (result.sessionExpired) {
        clearTokens();
        m_backgroundRefreshTimer->stop();
        Q_EMIT protectedTransfersInvalidated();
    }
    m_refreshInFlight = false;
    serveRefreshWaiters(result);
    if (result.sessionExpired)
        notifySessionExpired();
}

void NetworkManager::serveRefreshWaiters(const AuthRefreshResult &result)
{
    // Taken out first: a waiter that asks for another refresh queues for a new one.
    const QList<RefreshCallback> waiters = std::exchange(m_refreshWaiters, {});
    for (const RefreshCallback &waiter : waiters)
        waiter(result);
}

// Sign-out ends the refresh in flight: its late reply must not sign the user back in, nor
// overwrite the tokens of a sign-in made meanwhile.
void NetworkManager::abandonRefreshInFlight()
{
    if (!m_refreshInFlight)
        return;
    if (quorin::MediaFetch *fetch = m_refreshFetch.data()) {
        disconnect(fetch, nullptr, this, nullptr);
        fetch->abort();
        fetch->deleteLater();
    }
    m_refreshFetch.clear();
    m_refreshInFlight = false;
    serveRefreshWaiters(sessionExpiredResult());
}

void NetworkManager::notifySessionExpired()
{
    if (m_sessionExpiredNotified)
        return;
    m_sessionExpiredNotified = true;
    Q_EMIT sessionExpired();
}

void NetworkManager::startBackgroundRefresh()
{
    m_backgroundRefreshTimer->start(m_backgroundRefreshIntervalMs);
}

void NetworkManager::performBackgroundRefresh()
{
    qDebug("Executing 14-minute background token refresh...");
    refreshTokens({});
}

// Sign-in and sign-out

void NetworkManager::login(const QString &mobileNumber, const QString &password,
                           [[maybe_unused]] const QString &deviceId)
{
    if (mobileNumber != m_loginMobileNumber) {
        m_loginMobileNumber = mobileNumber;
        Q_EMIT loginMobileNumberChanged();
    }
    QNetworkRequest request = jsonRequest(kLoginPath);
    applyRequestHeaders(request, false);
    const QJsonObject body{{QStringLiteral("mobileNumber"), mobileNumber},
                           {QStringLiteral("password"), password},
                           {QStringLiteral("deviceId"), m_installationId},
                           {QStringLiteral("deviceType"), QStringLiteral("DESKTOP")}};
    quorin::MediaFetch *fetch =
        backendFetch(HttpMethod::Post, request, QJsonDocument(body).toJson(QJsonDocument::Indented));
    connect(fetch, &quorin::MediaFetch::finished, this, [this, fetch] { handleLoginReply(fetch); });
    fetch->start();
}

void NetworkManager::handleLoginReply(quorin::MediaFetch *fetch)
{
    fetch->deleteLater();
    const ReplyOutcome outcome = readReply(*fetch);
    if (outcome.error == QNetworkReply::NoError) {
        const QJsonObject tokens = QJsonDocument::fromJson(outcome.body).object();
        const QString access = tokenValue(tokens, kAccessTokenKey);
        const QString refresh = tokenValue(tokens, kRefreshTokenKey);
        if (access.isEmpty() || refresh.isEmpty()) {
            announceLoginFailure(AppFailure::local(QStringLiteral("LOGIN_RESPONSE_INVALID"),
                                                   tr("Invalid response from server."),
                                                   QStringLiteral("server"), true));
            return;
        }
        // Once the keychain holds this sign-in's tokens, an earlier sign-out's leftovers are gone.
        if (saveTokens(access, refresh) && !quorin::SignedOutMark::clear())
            qWarning(
                "The mark of an earlier sign-out could not be removed; the next start will be signed out.");
        startBackgroundRefresh();
        Q_EMIT loginSuccess();
        return;
    }
    DiagnosticLogger::log(QStringLiteral("api"), QStringLiteral("warning"), QStringLiteral("login_failed"),
                          {{QStringLiteral("status"), outcome.status},
                           {QStringLiteral("response_bytes"), qint64(outcome.body.size())},
                           {QStringLiteral("network_error"), int(outcome.error)}});
    AppFailure failure = AppFailure::fromResponse(outcome.status, outcome.error, outcome.body,
                                                  tr("Sign in could not be completed."));
    if (outcome.status == 409 && outcome.body.trimmed().isEmpty())
        failure.userMessage = tr("This account is already active on another device.");
    announceLoginFailure(failure);
}

void NetworkManager::announceLoginFailure(const AppFailure &failure)
{
    Q_EMIT loginFailed(failure);
    Q_EMIT requestFailed(kLoginPath, failure);
    Q_EMIT loginError(failure.userMessage);
}

void NetworkManager::logout()
{
    clearTokens();
    m_loginMobileNumber.clear();
    Q_EMIT loginMobileNumberChanged();
    m_backgroundRefreshTimer->stop();
    Q_EMIT protectedTransfersInvalidated();
    abandonRefreshInFlight();
    notifySessionExpired();
}

QString NetworkManager::authenticatedUserId() const
{
    const QList<QByteArray> parts = m_accessToken.toUtf8().split('.');
    if (parts.size() < 2)
        return {};
    const QJsonObject claims = tokenClaims(parts.at(1)).object();
    for (const char *name : {"sub", "userId", "id"}) {
        const QString id = userIdClaim(claims.value(QLatin1String(name)));
        if (!id.isEmpty())
            return id;
    }
    return {};
}

MediaAuthSnapshot NetworkManager::mediaAuthenticationSnapshot() const
{
    MediaAuthSnapshot snapshot;
    snapshot.acceptLanguage = acceptLanguage();
    snapshot.generation = m_authGeneration;
    if (!m_accessToken.isEmpty())
        snapshot.authorization = "Bearer " + m_accessToken.toUtf8();
    return snapshot;
}

// Lecture documents

PdfTransfer *NetworkManager::fetchPdfData(const QString &url)
{
    auto *transfer = new PdfTransfer(this);
    if (url.isEmpty()) {
        NetworkFailure failure;
        failure.message = tr("Document URL is empty.");
        failure.failure = AppFailure::local(QStringLiteral("PDF_URL_EMPTY"), failure.message,
                                            QStringLiteral("validation"), false);
        finishDocument(transfer, QByteArray(), failure);
        return transfer;
    }
    if (isTokenExpiringSoon()) {
        logDocumentEvent(QStringLiteral("info"), QStringLiteral("authentication_retry"),
                         {{QStringLiteral("reason"), QStringLiteral("proactive_refresh")}});
        refreshTokens(documentRefreshWaiter(url, transfer, false));
        return transfer;
    }
    executeFetchPdfData(url, transfer, false);
    return transfer;
}

// A refresh may serve its waiters before fetchPdfData returns (without a refresh token), so the
// failure it hands over goes through the event loop like every other end of a transfer.
NetworkManager::RefreshCallback NetworkManager::documentRefreshWaiter(const QString &url,
                                                                      PdfTransfer *transfer, bool isRetry)
{
    return [this, url, transfer = QPointer<PdfTransfer>(transfer), isRetry](const AuthRefreshResult &result) {
        if (!transfer || transfer->isCancelled())
            return;
        if (result.success)
            executeFetchPdfData(url, transfer, isRetry);
        else
            finishDocument(transfer, QByteArray(), result.failure);
    };
}

void NetworkManager::executeFetchPdfData(const QString &url, PdfTransfer *transfer, bool isRetry)
{
    if (!transfer || transfer->isCancelled())
        return;
    QNetworkRequest request(QUrl(url, QUrl::TolerantMode));
    // The bearer goes only to an acceptable https destination; redirects keep it on that origin.
    applyRequestHeaders(request, quorin::MediaUrlRules::validHttpsDestination(request.url()));
    request.setRawHeader("Accept", "application/pdf");
    request.setTransferTimeout(m_documentTransferTimeoutMs);

    // A child of the transfer: deleting the transfer ends the request without a word.
    auto *fetch = new quorin::MediaFetch(m_networkAccess, request, transfer);
    transfer->m_request = fetch;
    // Set when the answer is refused for its size before it has all arrived.
    const auto tooLarge = std::make_shared<bool>(false);
    const auto refuseIfTooLarge = [fetch, tooLarge](qint64 bytes) {
        if (bytes <= MaximumDocumentBytes || *tooLarge)
            return false;
        *tooLarge = true;
        fetch->abort();
        return true;
    };
    connect(fetch, &quorin::MediaFetch::headReceived, transfer, [fetch, refuseIfTooLarge] {
        bool declared = false;
        const qint64 length = fetch->rawHeader("Content-Length").trimmed().toLongLong(&declared);
        if (declared)
            refuseIfTooLarge(length);
    });
    // The body stays in the request until the end, so what it holds is what has arrived. Its
    // readyRead is not throttled as downloadProgress is, so the cap cuts in at once.
    connect(fetch, &quorin::MediaFetch::readyRead, transfer,
            [fetch, refuseIfTooLarge] { refuseIfTooLarge(fetch->bytesAvailable()); });
    connect(fetch, &quorin::MediaFetch::downloadProgress, transfer,
            [transfer, refuseIfTooLarge](qint64 received, qint64 total) {
                if (refuseIfTooLarge(received) || transfer->isCancelled())
                    return;
                Q_EMIT transfer->progress(received, total);
            });
    connect(fetch, &quorin::MediaFetch::finished, this,
            [this, fetch, url, guard = QPointer<PdfTransfer>(transfer), isRetry, tooLarge] {
                handlePdfReply(fetch, url, guard, isRetry, *tooLarge);
            });
    fetch->start();
}

void NetworkManager::handlePdfReply(quorin::MediaFetch *fetch, const QString &url,
                                    const QPointer<PdfTransfer> &transfer, bool isRetry, bool tooLarge)
{
    fetch->deleteLater();
    if (!transfer)
        return;
    int status = fetch->httpStatus();
    int error = fetch->networkError();
    QByteArray body = fetch->readAll();
    transfer->m_request.clear();
    if (transfer->isCancelled())
        return;
    if (tooLarge) {
        // Ended by the size cap, not by the server: judged as the answer it was.
        error = QNetworkReply::NoError;
    } else if (error != QNetworkReply::NoError && status >= 200 && status <= 299) {
        // An answer cut short (time-out, dropped connection) has no status of its own.
        status = 0;
    }

    if (status == 401 && !isRetry) {
        logDocumentEvent(QStringLiteral("info"), QStringLiteral("authentication_retry"),
                         {{QStringLiteral("reason"), QStringLiteral("http_401")}});
        refreshTokens(documentRefreshWaiter(url, transfer, true));
        return;
    }

    NetworkFailure failure;
    if (error != QNetworkReply::NoError || status < 200 || status > 299)
        failure = makeNetworkFailure(status, error, body, tr("The document request failed."));
    if (tooLarge || body.size() > MaximumDocumentBytes) {
        body.clear();
        failure.failure = AppFailure::local(QStringLiteral("PDF_TOO_LARGE"),
                                            tr("The document is too large to open safely."),
                                            QStringLiteral("validation"), false);
        failure.message = failure.failure.userMessage;
    }

    logDocumentEvent(failure.failure.code.isEmpty() ? QStringLiteral("info") : QStringLiteral("warning"),
                     QStringLiteral("response_classified"),
                     {{QStringLiteral("status"), status},
                      {QStringLiteral("classification"), documentClassification(failure)},
                      {QStringLiteral("bytes"), qint64(body.size())}});
    if (!failure.failure.code.isEmpty())
        Q_EMIT requestFailed(QStringLiteral("pdf"), failure.failure);
    finishDocument(transfer, body, failure);
}

// Every end of a transfer reaches the caller on a later turn of the event loop, never for a
// transfer that has been cancelled or deleted meanwhile.
void NetworkManager::finishDocument(PdfTransfer *transfer, const QByteArray &data,
                                    const NetworkFailure &failure)
{
    QMetaObject::invokeMethod(
        transfer,
        [transfer, data, failure] {
            if (!transfer->isCancelled())
                Q_EMIT transfer->finished(data, failure);
        },
        Qt::QueuedConnection);
}
