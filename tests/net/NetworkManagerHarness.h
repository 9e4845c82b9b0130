#pragma once

#include "net/NetworkManager.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/LogLineParser.h"

#include <QJsonDocument>
#include <QStringList>
#include <memory>

namespace quorin::test {

// What the NetworkManager tests share: a fresh HTTPS fixture server and an empty in-memory keychain
// for every test, managers built over them with a frozen clock, and the log records written
// since the test began.
class NetworkManagerHarness
{
public:
    struct ManagerOptions
    {
        int backgroundRefreshIntervalMs = 840000;
        int transferTimeoutMs = 30000;
        int documentTransferTimeoutMs = 60000;
        // Off: the manager reads the real clock (for servers that stamp tokens with it).
        bool frozenClock = true;
    };

    // What one REST callback received.
    struct CallbackRecord
    {
        int calls = 0;
        QJsonDocument document;
        NetworkFailure failure;
    };

    // Once per test program: trusts the test authority, starts the diagnostics log and puts the
    // in-memory keychain behind CredentialStore::createNative().
    void initTestCase();
    // Before every test: a new server, an empty keychain and legacy settings store, a new clock.
    void init();
    void cleanup();

    [[nodiscard]] FixtureServer &server() { return *m_server; }
    [[nodiscard]] InMemoryKeychain &keychain() { return m_keychain; }
    [[nodiscard]] qint64 now() const { return m_now; }
    [[nodiscard]] QString baseUrl() const;

    [[nodiscard]] std::unique_ptr<NetworkManager> makeManager(const ManagerOptions &options);
    [[nodiscard]] std::unique_ptr<NetworkManager> makeManager() { return makeManager(ManagerOptions()); }
    // A manager that starts signed in with these tokens, as after a restart.
    [[nodiscard]] std::unique_ptr<NetworkManager> makeSignedInManager(const QByteArray &accessToken,
                                                                      const QString &refreshToken,
                                                                      const ManagerOptions &options);
    [[nodiscard]] std::unique_ptr<NetworkManager> makeSignedInManager(const QByteArray &accessToken,
                                                                      const QString &refreshToken)
    {
        return makeSignedInManager(accessToken, refreshToken, ManagerOptions());
    }

    // A token whose "exp" lies the given number of seconds after the frozen clock.
    [[nodiscard]] QByteArray tokenExpiringIn(qint64 seconds,
                                             const QString &subject = QStringLiteral("u-1")) const;
    // Signs the manager in through the fixture's "auth/login" as the subject, with an access token
    // valid for an hour of the frozen clock. Returns that token; empty when the sign-in failed.
    [[nodiscard]] QByteArray signIn(NetworkManager &manager, const QString &subject = QStringLiteral("u-1"));
    // Sends a request of its own that needs no sign-in ("institutions") and waits for its answer,
    // so that requests handed to the manager before it have reached the fixture.
    [[nodiscard]] bool settle(NetworkManager &manager);
    // The requests the code under test sent: the log without the sign-ins and the settling ones,
    // each as the method and the target exactly as sent ("GET /api/v1/x?y").
    [[nodiscard]] QStringList sentByCodeUnderTest() const;
    // Scripts "auth/refresh" to answer with these tokens.
    void answerRefresh(const QByteArray &accessToken, const QString &refreshToken);

    // The fixture's key for a path relative to the API root.
    [[nodiscard]] static QString route(const QString &relativePath);
    [[nodiscard]] QList<FixtureServer::Request> requestsTo(const QString &relativePath) const;

    [[nodiscard]] static NetworkManager::RequestCallback recordInto(CallbackRecord &record);
    // Also appends "callback" to events when it runs, to place it among the signals.
    [[nodiscard]] static NetworkManager::RequestCallback recordInto(CallbackRecord &record,
                                                                    QStringList &events);
    // Appends the name of each of the manager's announcement signals to events as it comes;
    // mediaAuthenticationChanged is written with its authorization, "media:<value>".
    static void recordSignals(NetworkManager &manager, QStringList &events);

    // Records of this event written since the test began, oldest first.
    [[nodiscard]] QList<LogLineParser::Record> logRecords(const QString &event) const;

private:
    std::unique_ptr<FixtureServer> m_server;
    InMemoryKeychain m_keychain;
    qint64 m_now = 0;
    qsizetype m_logStart = 0;
};

} // namespace quorin::test
