#pragma once

#include "testsupport/FixturePaths.h"
#include "testsupport/FixtureServer.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <optional>

// The stand-in for the learning platform that the demo and manual testing run against: the REST
// API with one sample account, a media origin serving the generated fixtures, the release
// service with its signed sample installer, and the telemetry collector. Its answers come from
// the JSON files of the data folder.
class SampleServer : public QObject
{
    Q_OBJECT

public:
    // What the release service offers: the sample release as optional, as required, or nothing.
    enum class ReleaseMode { Optional, Required, None };

    struct Options
    {
        quint16 port = 8443;
        QString dataFolder;
        QString mediaFolder;
        qint64 accessTokenLifetimeSeconds = 900;
        ReleaseMode releaseMode = ReleaseMode::Optional;
        // Served below "/releases/"; holds the installer named by release.json.
        QString releaseFolder = quorin::test::FixturePaths::releaseFolder();
        // The PEM private key that signs the installer's digest.
        QString signingKeyFile = quorin::test::FixturePaths::updateSigningKeyFile();
    };

    // "optional", "required" or "none".
    [[nodiscard]] static std::optional<ReleaseMode> releaseModeFromName(const QString &name);

    explicit SampleServer(const Options &options, QObject *parent = nullptr);

    [[nodiscard]] bool start();
    [[nodiscard]] QString errorString() const { return m_error; }
    [[nodiscard]] QUrl baseUrl() const { return m_server.url(); }
    // Set when the signing key could not be read and a throwaway key signs instead.
    [[nodiscard]] QString warningString() const { return m_warning; }

private:
    using Request = quorin::test::FixtureServer::Request;
    using Response = quorin::test::FixtureServer::Response;

    [[nodiscard]] QJsonObject readData(const QString &fileName) const;
    void addRoutes();
    Response login(const Request &request);
    Response refresh(const Request &request);
    Response currentUser(const Request &request) const;
    // The client configuration, asked before sign-in: the support link.
    Response clientConfig(const Request &request) const;
    // The account's Telegram link: GET tells it, PATCH with a null chat id removes it.
    Response telegram(const Request &request);
    // The telemetry collector: counts the log records of an OpenTelemetry logs body.
    static Response collectLogs(const Request &request);
    [[nodiscard]] static std::optional<qsizetype> logRecordCount(const QByteArray &body);
    // The release service: the latest release for the client's target and version.
    [[nodiscard]] bool prepareRelease();
    [[nodiscard]] Response latestRelease(const Request &request) const;
    [[nodiscard]] QJsonObject releaseOffer() const;
    [[nodiscard]] QJsonObject issueTokens(const QString &userId);
    [[nodiscard]] QString userForAccessToken(const Request &request) const;
    void logRequest(const Request &request) const;

    Options m_options;
    quorin::test::FixtureServer m_server;
    QHash<QString, QString> m_refreshTokens; // refresh token -> user id
    QHash<QString, QString> m_accessTokens;  // access token -> user id
    QJsonObject m_release;                   // release.json
    QByteArray m_installerDigest;
    qint64 m_installerSize = 0;
    QString m_signingKeyId;
    QByteArray m_installerSignature;
    QSet<QString> m_telegramUnlinked; // user ids whose Telegram link was removed
    QString m_error;
    QString m_warning;
};
