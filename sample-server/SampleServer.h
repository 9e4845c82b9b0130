#pragma once

#include "sample-server/SampleLearningRoutes.h"
#include "sample-server/SampleProfile.h"
#include "testsupport/FixtureServer.h"

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <optional>

// The stand-in for the learning platform that the demo and manual testing run against: the REST
// API with one sample account, a media origin serving the generated fixtures, and the
// telemetry collector. Its answers come from the JSON files of the data folder.
class SampleServer : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        quint16 port = 8443;
        QString dataFolder;
        QString mediaFolder;
        qint64 accessTokenLifetimeSeconds = 900;
    };

    explicit SampleServer(const Options &options, QObject *parent = nullptr);

    [[nodiscard]] bool start();
    [[nodiscard]] QString errorString() const { return m_error; }
    [[nodiscard]] QUrl baseUrl() const { return m_server.url(); }

private:
    using Request = quorin::test::FixtureServer::Request;
    using Response = quorin::test::FixtureServer::Response;

    [[nodiscard]] QJsonObject readData(const QString &fileName) const;
    void addRoutes();
    Response login(const Request &request);
    Response refresh(const Request &request);
    // The profile: GET reads it, PATCH edits it, DELETE deletes the account (ending its sessions).
    Response currentUser(const Request &request);
    Response changePassword(const Request &request);
    Response institutions(const Request &request) const;
    void endSessions(const QString &userId);
    // The client configuration, asked before sign-in: the support link.
    Response clientConfig(const Request &request) const;
    // The account's Telegram link: GET tells it, PATCH with a null chat id removes it.
    Response telegram(const Request &request);
    // The telemetry collector: counts the log records of an OpenTelemetry logs body.
    static Response collectLogs(const Request &request);
    [[nodiscard]] static std::optional<qsizetype> logRecordCount(const QByteArray &body);
    [[nodiscard]] QJsonObject issueTokens(const QString &userId);
    [[nodiscard]] QString userForAccessToken(const Request &request) const;
    void logRequest(const Request &request) const;

    Options m_options;
    quorin::test::FixtureServer m_server;
    SampleLearningRoutes m_learningRoutes;
    QHash<QString, QString> m_refreshTokens; // refresh token -> user id
    QHash<QString, QString> m_accessTokens;  // access token -> user id
    QSet<QString> m_telegramUnlinked;        // user ids whose Telegram link was removed
    SampleProfile m_profile;
    QString m_error;
};
