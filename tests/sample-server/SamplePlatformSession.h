#pragma once

#include "net/NetworkManager.h"
#include "sample-server/SampleServer.h"
#include "testsupport/InMemoryKeychain.h"

#include <QByteArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QUrl>
#include <memory>

namespace quorin::test {

// What the tests of the sample platform's routes share: a fresh platform on a free port for every
// test (what it keeps lives in its memory), a client signed in with the sample account over an
// in-memory keychain, and plain requests that bypass the client.
class SamplePlatformSession
{
public:
    struct Answer
    {
        int status = -1;
        QByteArray contentType;
        QByteArray body;
    };

    // Once per test program: the application's identity, trust in the test authority, and the
    // in-memory keychain behind CredentialStore::createNative().
    void initTestCase();
    // Before every test: a new platform and a new client, signed in.
    void init();
    void cleanup();

    [[nodiscard]] SampleServer &platform() { return *m_platform; }
    [[nodiscard]] NetworkManager &network() { return *m_manager; }
    [[nodiscard]] QUrl apiUrl(const QString &path) const;
    // The signed-in client's "Authorization" value.
    [[nodiscard]] QByteArray accessToken() const;
    // One request outside the client; a body is sent as JSON.
    [[nodiscard]] Answer fetch(const QByteArray &method, const QUrl &url, const QByteArray &authorization,
                               const QJsonObject &body = {});

private:
    InMemoryKeychain m_keychain;
    std::unique_ptr<SampleServer> m_platform;
    std::unique_ptr<NetworkManager> m_manager;
    QNetworkAccessManager m_network;
};

} // namespace quorin::test
