#pragma once

#include "net/NetworkManager.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"

#include <QByteArray>
#include <QString>
#include <memory>

namespace quorin::test {

// What the tests of the account controllers share. Those controllers talk to the process-wide
// NetworkManager::instance(), whose base URL is read once per process, so one HTTPS fixture
// server serves the whole test program (restartable on its port) and every test starts signed
// out, with an empty in-memory keychain behind CredentialStore::createNative() and an empty
// preferences store.
class ProcessWideSession
{
public:
    static inline const QString kNumber = QStringLiteral("+201012345678");

    // Once per test program, before anything calls NetworkManager::instance(): starts the server,
    // points the API base URL at it, trusts the test authority, starts the diagnostics log and
    // installs the keychain.
    void initTestCase();
    // Before every test: signed out with no profile fetch in flight, no scripts, an empty request
    // log, keychain and settings.
    void init();

    [[nodiscard]] FixtureServer &server() { return *m_server; }
    [[nodiscard]] InMemoryKeychain &keychain() { return m_keychain; }
    [[nodiscard]] static NetworkManager &network() { return *NetworkManager::instance(); }

    // The server stops listening, so requests meet a refused connection, until restart().
    void stopServer();
    [[nodiscard]] bool restartServer();

    // The fixture's key for a path relative to the API root, query included.
    [[nodiscard]] static QString route(const QString &relativePath);
    [[nodiscard]] int requestCount(const QString &relativePath) const;

    // Scripts and the request log by paths relative to the API root, query included.
    void script(const QString &relativePath, const FixtureServer::Response &response);
    void scriptSequence(const QString &relativePath, const QList<FixtureServer::Response> &responses);
    void release(const QString &relativePath);
    // The requests of this method to this path that the server received, oldest first.
    [[nodiscard]] QList<FixtureServer::Request> requests(const QByteArray &method,
                                                         const QString &relativePath) const;
    // The answer, sent only when release() is called for its path.
    [[nodiscard]] static FixtureServer::Response held(FixtureServer::Response response);
    // Releases the held answer of the path and waits until the pipeline has handed it to its
    // callback; true when it did. Installs its own log sink meanwhile, so not for a test that
    // holds a LogRecorder.
    [[nodiscard]] bool releaseAndAwaitHandOver(const QString &relativePath);

    // An access token for the user, valid for an hour; an empty id gives a token naming nobody.
    [[nodiscard]] static QByteArray accessTokenFor(const QString &userId);
    // Scripts "auth/login" with tokens for the user, signs in with the text and waits for
    // loginSuccess.
    [[nodiscard]] bool signIn(const QString &userId, const QString &signInText = kNumber);
    void signOut();

private:
    std::unique_ptr<FixtureServer> m_server;
    InMemoryKeychain m_keychain;
    quint16 m_port = 0;
};

} // namespace quorin::test
