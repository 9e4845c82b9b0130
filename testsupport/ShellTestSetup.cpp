#include "testsupport/ShellTestSetup.h"

#include "app/ProgramOwnership.h"
#include "app/SettingsController.h"
#include "net/NetworkManager.h"
#include "net/PhoneNumberFormatter.h"
#include "net/ProfileController.h"
#include "net/ResetPasswordController.h"
#include "net/SignupController.h"
#include "net/UserIdentityController.h"
#include "testsupport/JwtMaker.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QQmlEngine>
#include <QSslConfiguration>
#include <QTest>
#include <memory>

namespace quorin::test {

namespace {

constexpr const char *kModule = "Quorin.Controllers";

template<typename Object>
void registerSingleton(const char *name, Object *object)
{
    qmlRegisterSingletonType<Object>(kModule, 1, 0, name, [object](QQmlEngine *, QJSEngine *) -> QObject * {
        return ownedByProgram(object);
    });
}

} // namespace

ShellTestSetup::ShellTestSetup() = default;

ShellTestSetup::~ShellTestSetup() = default;

QByteArray ShellTestSetup::accessToken() const
{
    // Valid long enough that no test run renews it.
    return JwtMaker::expiringIn(24 * 3600, QStringLiteral("u-1"));
}

void ShellTestSetup::signIn()
{
    const QJsonObject tokens{{QStringLiteral("accessToken"), QString::fromUtf8(accessToken())},
                             {QStringLiteral("refreshToken"), QStringLiteral("refresh-u-1")}};
    m_server->setResponse(
        QStringLiteral("/api/v1/auth/login"),
        FixtureServer::Response::json(QJsonDocument(tokens).toJson(QJsonDocument::Compact)));
    NetworkManager::instance()->login(QStringLiteral("+201012345678"), QStringLiteral("password"), QString());
}

void ShellTestSetup::expireSession()
{
    m_server->setResponse(QStringLiteral("/api/v1/auth/refresh"),
                          FixtureServer::Response::json(R"({"error":"invalid-refresh-token"})", 401));
    const auto served = std::make_shared<bool>(false);
    NetworkManager::instance()->refreshTokens([served](const AuthRefreshResult &) { *served = true; });
    if (!QTest::qWaitFor([served] { return *served; }, 10000))
        qWarning("ShellTestSetup: the refused refresh was never answered");
}

void ShellTestSetup::cleanupTestCase()
{
    m_fixture.reset();
    m_server.reset();
}

void ShellTestSetup::registerControllers()
{
    QmlTestSetup::registerControllers();

    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(FixtureServer::certificateAuthority());
    QSslConfiguration::setDefaultConfiguration(configuration);
    // The installation identity opens its own stores; none may reach for a real keychain.
    m_keychain.installAsNative();
    m_server = std::make_unique<FixtureServer>();
    if (!m_server->listen())
        qFatal("ShellTestSetup: the fixture server cannot listen");
    m_fixture = std::make_unique<Fixture>(*m_server);

    // The controllers reach the process-wide client, whose API root is read once, when it is
    // first made: here, after the server listens.
    qputenv("QUORIN_API_BASE_URL", backendApiBase().toString().toUtf8());
    // Signed in as after a restart: the tokens wait in the keychain.
    m_keychain.setValue(QStringLiteral("accessToken"), QString::fromUtf8(accessToken()));
    m_keychain.setValue(QStringLiteral("refreshToken"), QStringLiteral("refresh-u-1"));
    NetworkManager *network = NetworkManager::instance();
    // The preferences' requests go through the client as in the application, noted on the way.
    SettingsController::instance()->setRestRequester(
        [fixture = m_fixture.get(),
         send = network->restRequester()](quorin::RestMethod method, const QString &path,
                                          const QJsonObject &body, quorin::RestReply reply) {
            fixture->noteSettingsRequest(path);
            send(method, path, body, std::move(reply));
        });

    registerSingleton("NetworkManager", network);
    registerSingleton("SignupController", SignupController::instance());
    registerSingleton("ResetPasswordController", ResetPasswordController::instance());
    // The settings page makes its own profile controller, which refreshes the signed-in identity.
    qmlRegisterType<ProfileController>(kModule, 1, 0, "ProfileController");
    registerSingleton("UserIdentity", UserIdentityController::instance());
    // Holds nothing, so each engine has its own, as the start-up registers it.
    qmlRegisterSingletonType<PhoneNumberFormatter>(
        kModule, 1, 0, "PhoneNumberFormatter",
        [](QQmlEngine *, QJSEngine *) -> QObject * { return new PhoneNumberFormatter(); });
    registerSingleton("StreamController", &m_streamController);
    registerSingleton("HeadphoneMonitor", &m_headphoneMonitor);
    registerUpdateController();
    registerChangelogController();

    Fixture *fixture = m_fixture.get();
    qmlRegisterSingletonType<Fixture>("Quorin.Testing", 1, 0, "Fixture",
                                      [fixture](QQmlEngine *, QJSEngine *) -> QObject * {
                                          // By now the test framework's own message handler is
                                          // in place, so the recording passes messages on to it.
                                          fixture->startRecordingMessages();
                                          return ownedByProgram(fixture);
                                      });
}

void ShellTestSetup::registerChangelogController()
{
    registerSingleton("ChangelogController", &m_changelogController);
}

QUrl ShellTestSetup::backendApiBase() const
{
    return m_server->url(QStringLiteral("/api/v1/"));
}

void ShellTestSetup::registerUpdateController()
{
    registerSingleton("UpdateController", &m_updateController);
}

} // namespace quorin::test
