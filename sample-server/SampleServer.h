#pragma once

#include "sample-server/SampleLearningRoutes.h"
#include "sample-server/SampleProfile.h"
#include "sample-server/SampleQuizRoutes.h"
#include "sample-server/SampleReleaseService.h"
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
    using ReleaseMode = SampleReleaseService::Mode;

    struct Options
    {
        quint16 port = 8443;
        QString dataFolder;
        QString mediaFolder;
        qint64 accessTokenLifetimeSeconds = 900;
        ReleaseMode releaseMode = ReleaseMode::Optional;
        // Completion marks are answered with 503, to show the client's delayed sync and retry.
        bool progressUnavailable = false;
        // Starts of this quiz are held for startHoldMs and then refused, so that the client's start
        // placeholder can be seen; empty holds none.
        QString heldStartQuiz;
        int startHoldMs = 4000;
        // Served below "/releases/"; holds the installer named by release.json.
        QString releaseFolder = quorin::test::FixturePaths::releaseFolder();
        // The PEM private key that signs the installer's digest.
        QString signingKeyFile = quorin::test::FixturePaths::updateSigningKeyFile();
    };

    explicit SampleServer(const Options &options, QObject *parent = nullptr);

    [[nodiscard]] bool start();
    [[nodiscard]] QString errorString() const { return m_error; }
    [[nodiscard]] QUrl baseUrl() const { return m_server.url(); }
    // Set when the signing key could not be read and a throwaway key signs instead.
    [[nodiscard]] QString warningString() const { return m_releases.warningString(); }

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
    // Sign-up makes an account for a new number, kept in memory: it signs in and has a profile
    // (the sign-up data, no enrollments) until the platform stops.
    Response signup(const Request &request);
    // A forgotten password: the code "sent" to any account is the one of account.json.
    Response forgotPassword(const Request &request) const;
    Response resetPassword(const Request &request);
    Response institutions(const Request &request) const;
    void endSessions(const QString &userId);
    // The client configuration, asked before sign-in: the support link.
    Response clientConfig(const Request &request) const;
    // The account's Telegram link: GET tells it, PATCH with a null chat id removes it.
    Response telegram(const Request &request);
    // The product website's legal pages, which the about pane opens.
    static Response websitePage(const Request &request, const QString &title);
    // The lecture PDFs of the media origin go only to a signed-in user.
    void addDocumentRoutes();
    [[nodiscard]] Response document(const Request &request, const QString &filePath) const;
    // The telemetry collector: counts the log records of an OpenTelemetry logs body.
    static Response collectLogs(const Request &request);
    [[nodiscard]] static std::optional<qsizetype> logRecordCount(const QByteArray &body);
    struct Account
    {
        QString userId;
        SampleProfile profile;
    };
    [[nodiscard]] Account *accountWithNumber(const QString &mobileNumber);
    [[nodiscard]] Account *accountOfUser(const QString &userId);
    [[nodiscard]] QJsonObject issueTokens(const QString &userId);
    [[nodiscard]] QString userForAccessToken(const Request &request) const;
    void logRequest(const Request &request) const;

    Options m_options;
    quorin::test::FixtureServer m_server;
    SampleLearningRoutes m_learningRoutes;
    SampleQuizRoutes m_quizRoutes;
    SampleReleaseService m_releases;
    QHash<QString, QString> m_refreshTokens; // refresh token -> user id
    QHash<QString, QString> m_accessTokens;  // access token -> user id
    QSet<QString> m_telegramUnlinked;        // user ids whose Telegram link was removed
    // By mobile number: the sample account of account.json and those made by sign-up.
    QHash<QString, Account> m_accounts;
    QString m_sampleNumber;
    QJsonObject m_institutions; // the answer of "institutions"
    int m_signedUpAccounts = 0;
    QString m_error;
};
