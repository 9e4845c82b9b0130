#pragma once

#include "testsupport/ChangelogControllerDouble.h"
#include "testsupport/Fixture.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/HeadphoneMonitorDouble.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/QmlTestSetup.h"
#include "testsupport/StreamControllerDouble.h"
#include "testsupport/UpdateControllerDouble.h"

#include <memory>

namespace quorin::test {

// The set-up of the Qt Quick tests of the interface shell and its screens. Besides the shared
// set-up it registers under "Quorin.Controllers":
// - NetworkManager: the process-wide backend client, over an in-memory keychain and an HTTPS
//   fixture server, which starts signed in (a token in the keychain, as after a restart); the
//   SettingsController sends its requests through it;
// - SignupController, ResetPasswordController and PhoneNumberFormatter: the real ones, on that
//   client; ProfileController (creatable) and UserIdentity, the real ones on that client too;
// - StreamController, HeadphoneMonitor, UpdateController and ChangelogController: test doubles
//   whose state the tests write and whose signals they make them emit.
// Tests reach signIn() and expireSession() through the singleton "TestSetup" of "Quorin.Testing",
// and the fixture server, the links opened and Qt's messages through "Fixture" (testsupport/Fixture.h).
class ShellTestSetup : public QmlTestSetup
{
    Q_OBJECT

public:
    ShellTestSetup();
    ~ShellTestSetup() override;

    // Signs the backend client in through the fixture server's "auth/login"; it announces
    // loginSuccess once the answer is in. Returns at once.
    Q_INVOKABLE void signIn();
    // Ends the session as a refused token refresh does: the fixture server answers "auth/refresh"
    // with 401 and the backend client is asked to refresh. The session has ended when it returns.
    Q_INVOKABLE void expireSession();

public Q_SLOTS:
    // After the last test, while the application still exists: the backend client closes its
    // encrypted connections before the network layer goes.
    void cleanupTestCase();

protected:
    void registerControllers() override;
    // Registers "UpdateController"; the base registers the double. A test of the real controller
    // through the window registers that one instead.
    virtual void registerUpdateController();
    // Registers "ChangelogController": the double, unless a test of the changelog brings the real one.
    virtual void registerChangelogController();
    // The REST root the process-wide client talks to: the fixture server's, unless a test of a
    // whole journey brings another backend.
    [[nodiscard]] virtual QUrl backendApiBase() const;

private:
    [[nodiscard]] QByteArray accessToken() const;

    InMemoryKeychain m_keychain;
    std::unique_ptr<FixtureServer> m_server;
    std::unique_ptr<Fixture> m_fixture;
    StreamControllerDouble m_streamController;
    HeadphoneMonitorDouble m_headphoneMonitor;
    UpdateControllerDouble m_updateController;
    ChangelogControllerDouble m_changelogController;
};

} // namespace quorin::test
