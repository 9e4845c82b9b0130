#pragma once

#include "app/AppFailure.h"
#include "app/RestRequester.h"
#include "net/AuthRefreshResult.h"
#include "net/MediaAuthSnapshot.h"
#include "net/NetworkFailure.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class CredentialStore;
class PdfTransfer;
class QJSEngine;
class QNetworkAccessManager;
class QNetworkRequest;
class QQmlEngine;
class QTimer;

namespace quorin {
class MediaFetch;
}

// The one client of the backend REST API. It holds the signed-in user's tokens (in memory and in
// the keychain), renews them single-flight at "auth/refresh", carries every REST call with the
// JSON, language and bearer headers, signs the student in and out, and hands media requests the
// credentials they need. GUI thread only.
class NetworkManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "NetworkManager")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(bool isAuthenticated READ isAuthenticated NOTIFY isAuthenticatedChanged)
    Q_PROPERTY(QString loginMobileNumber READ loginMobileNumber NOTIFY loginMobileNumberChanged)
    Q_PROPERTY(QString installationId READ installationId CONSTANT)
    Q_PROPERTY(bool identityReady READ identityReady CONSTANT)

public:
    enum class HttpMethod { Get = 0, Post = 1, Put = 2, Patch = 3, Delete = 4 };

    // Called once, on the GUI thread, with the parsed reply (null on failure or when the body is
    // not JSON) and a failure that is empty on success.
    using RequestCallback = std::function<void(const QJsonDocument &, const NetworkFailure &)>;
    using RefreshCallback = std::function<void(const AuthRefreshResult &)>;

    // What a manager is built from. instance() uses production(); tests build their own managers
    // over a fixture server, an in-memory keychain, a fixed clock and short intervals.
    struct Configuration
    {
        // The backend's REST root, ending in "/api/v1/".
        QString baseUrl;
        // Null means CredentialStore::createNative().
        std::unique_ptr<CredentialStore> credentialStore;
        // Seconds since the Unix epoch, for the access token's expiry check; empty means the
        // system clock.
        std::function<qint64()> currentSecsSinceEpoch;
        int backgroundRefreshIntervalMs = 840000;
        // Bounds every REST request, the refresh and the sign-in, so that a backend that never
        // answers cannot hold the callers (and every refresh waiter) for ever.
        int transferTimeoutMs = 30000;
        // Ends a document download when no data has moved for this long.
        int documentTransferTimeoutMs = 60000;

        [[nodiscard]] static Configuration production();
    };

    explicit NetworkManager(Configuration configuration, QObject *parent = nullptr);
    ~NetworkManager() override;

    [[nodiscard]] static NetworkManager *instance();
    // The QML singleton factory: the process-wide manager, never owned by the engine.
    [[nodiscard]] static NetworkManager *create(QQmlEngine *, QJSEngine *);

    // REST pipeline. path is relative to the base URL, without a leading slash, and may carry a
    // query. The callback may run before this returns, when the session has to expire on the spot.
    void sendRequestDetailed(HttpMethod method, const QString &path, const QJsonObject &body,
                             RequestCallback callback);
    void applyRequestHeaders(QNetworkRequest &request, bool withAuthorization) const;
    // The pipeline in the shape the layers below take it. A call made after the manager is gone
    // is dropped.
    [[nodiscard]] quorin::RestRequester restRequester();
    // True when the access token must be renewed before it is sent: missing, unreadable, or its
    // "exp" less than 60 seconds away.
    [[nodiscard]] bool isTokenExpiringSoon() const;

    // Renews the tokens, or queues for the renewal already running; every caller is served once,
    // in arrival order, with the same result. Without a refresh token the session expires and
    // the callback runs before this returns.
    void refreshTokens(RefreshCallback callback);

    // Sign-in and sign-out. The device id argument is not used: the installation identity is.
    Q_INVOKABLE void login(const QString &mobileNumber, const QString &password, const QString &deviceId);
    [[nodiscard]] Q_INVOKABLE QString getDeviceId() const { return m_installationId; }
    Q_INVOKABLE void logout();
    [[nodiscard]] Q_INVOKABLE bool isAuthenticated() const { return !m_accessToken.isEmpty(); }
    // The user id claimed by the access token ("sub", else "userId", else "id"), or empty.
    [[nodiscard]] QString authenticatedUserId() const;

    [[nodiscard]] QString loginMobileNumber() const { return m_loginMobileNumber; }
    [[nodiscard]] QString installationId() const { return m_installationId; }
    [[nodiscard]] bool identityReady() const { return !m_installationId.isEmpty(); }

    // The credentials and language for a media request, copied freely to other threads.
    [[nodiscard]] MediaAuthSnapshot mediaAuthenticationSnapshot() const;

    // The largest document fetchPdfData hands over, in bytes.
    static constexpr qint64 MaximumDocumentBytes = 67108864;
    // Starts downloading a lecture PDF from its absolute URL, with the sign-in's bearer when the URL
    // is an acceptable https destination. Returns at once a transfer owned by this manager (the
    // caller may delete it); every result comes later through its signals.
    [[nodiscard]] PdfTransfer *fetchPdfData(const QString &url);

Q_SIGNALS:
    void loginSuccess();
    void loginError(const QString &errorMsg);
    void loginFailed(const AppFailure &failure);
    void requestFailed(const QString &context, const AppFailure &failure);
    // The session ended, by a refused refresh or by sign-out; at most once between two token saves.
    void sessionExpired();
    // The tokens were dropped: transfers that carry them must stop.
    void protectedTransfersInvalidated();
    void isAuthenticatedChanged();
    void loginMobileNumberChanged();
    // The offline vault's initialisation, started when the manager was made, has returned.
    void hardwareCryptoChanged();
    void mediaAuthenticationChanged(const MediaAuthSnapshot &snapshot);

private Q_SLOTS:
    void performBackgroundRefresh();

private:
    struct ReplyOutcome;
    struct VaultNotice;

    static void closeConnections();
    void startVault();

    void executeRequestDetailed(HttpMethod method, const QString &path, const QJsonObject &body,
                                const RequestCallback &callback, bool isRetry);
    [[nodiscard]] quorin::MediaFetch *backendFetch(HttpMethod method, const QNetworkRequest &request,
                                                   const QByteArray &payload);
    void handleRequestReply(quorin::MediaFetch *fetch, HttpMethod method, const QString &path,
                            const QJsonObject &body, const RequestCallback &callback, bool isRetry,
                            const QElapsedTimer &started);
    [[nodiscard]] static NetworkFailure makeNetworkFailure(int httpStatus, int networkError,
                                                           const QByteArray &body,
                                                           const QString &fallbackMessage);
    [[nodiscard]] QNetworkRequest jsonRequest(const QString &path) const;
    [[nodiscard]] static ReplyOutcome readReply(quorin::MediaFetch &fetch);

    void loadTokens();
    void finishSignOut();
    // False when the keychain refused either token.
    bool saveTokens(const QString &access, const QString &refresh);
    void clearTokens();
    static void removeLegacyTokens();
    void handleRefreshReply(quorin::MediaFetch *fetch, const QElapsedTimer &started);
    void completeTokenRefresh(const AuthRefreshResult &result);
    void serveRefreshWaiters(const AuthRefreshResult &result);
    void abandonRefreshInFlight();
    void notifySessionExpired();
    [[nodiscard]] static AuthRefreshResult sessionExpiredResult();
    [[nodiscard]] static AuthRefreshResult refreshFailure(const ReplyOutcome &outcome);
    void startBackgroundRefresh();

    void handleLoginReply(quorin::MediaFetch *fetch);
    void announceLoginFailure(const AppFailure &failure);

    void executeFetchPdfData(const QString &url, PdfTransfer *transfer, bool isRetry);
    void handlePdfReply(quorin::MediaFetch *fetch, const QString &url, const QPointer<PdfTransfer> &transfer,
                        bool isRetry, bool tooLarge);
    [[nodiscard]] RefreshCallback documentRefreshWaiter(const QString &url, PdfTransfer *transfer,
                                                        bool isRetry);
    static void finishDocument(PdfTransfer *transfer, const QByteArray &data, const NetworkFailure &failure);

    QString m_installationId;
    QNetworkAccessManager *m_networkAccess = nullptr;
    QString m_accessToken;
    QString m_refreshToken;
    QString m_loginMobileNumber;
    std::unique_ptr<CredentialStore> m_credentialStore;
    QString m_baseUrl;
    QTimer *m_backgroundRefreshTimer = nullptr;
    bool m_refreshInFlight = false;
    bool m_sessionExpiredNotified = false;
    quint64 m_authGeneration = 0;
    QList<RefreshCallback> m_refreshWaiters;

    std::function<qint64()> m_currentSecsSinceEpoch;
    int m_backgroundRefreshIntervalMs;
    int m_transferTimeoutMs;
    int m_documentTransferTimeoutMs;
    // The outstanding "auth/refresh" request, so that sign-out can end it.
    QPointer<quorin::MediaFetch> m_refreshFetch;
    // Shared with the vault task, which may finish after the manager is gone.
    std::shared_ptr<VaultNotice> m_vaultNotice;
};
