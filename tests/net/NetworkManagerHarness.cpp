#include "tests/net/NetworkManagerHarness.h"

#include "app/DiagnosticLogger.h"
#include "app/PreferencesStore.h"
#include "testsupport/JwtMaker.h"

#include <QDateTime>
#include <QJsonObject>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>
#include <chrono>

namespace quorin::test {

void NetworkManagerHarness::initTestCase()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(FixtureServer::certificateAuthority());
    QSslConfiguration::setDefaultConfiguration(configuration);
    DiagnosticLogger::initialize();
    // The installation identity makes its own stores; they must not reach for a real keychain.
    m_keychain.installAsNative();
}

void NetworkManagerHarness::init()
{
    m_server = std::make_unique<FixtureServer>();
    QVERIFY(m_server->listen());
    m_keychain.clear();
    quorin::PreferencesStore::open()->clear();
    m_now = QDateTime::currentSecsSinceEpoch();
    QVERIFY(DiagnosticLogger::waitUntilWritten(std::chrono::seconds(10)));
    m_logStart = LogLineParser::parseFile(DiagnosticLogger::logFilePath()).size();
}

void NetworkManagerHarness::cleanup()
{
    m_server.reset();
}

QString NetworkManagerHarness::baseUrl() const
{
    return m_server->url(QStringLiteral("/api/v1/")).toString();
}

std::unique_ptr<NetworkManager> NetworkManagerHarness::makeManager(const ManagerOptions &options)
{
    NetworkManager::Configuration configuration;
    configuration.baseUrl = baseUrl();
    configuration.credentialStore = m_keychain.createStore();
    if (options.frozenClock)
        configuration.currentSecsSinceEpoch = [this] { return m_now; };
    else
        configuration.currentSecsSinceEpoch = [] { return QDateTime::currentSecsSinceEpoch(); };
    configuration.backgroundRefreshIntervalMs = options.backgroundRefreshIntervalMs;
    configuration.transferTimeoutMs = options.transferTimeoutMs;
    configuration.documentTransferTimeoutMs = options.documentTransferTimeoutMs;
    return std::make_unique<NetworkManager>(std::move(configuration));
}

std::unique_ptr<NetworkManager> NetworkManagerHarness::makeSignedInManager(const QByteArray &accessToken,
                                                                           const QString &refreshToken,
                                                                           const ManagerOptions &options)
{
    m_keychain.setValue(QStringLiteral("accessToken"), QString::fromUtf8(accessToken));
    m_keychain.setValue(QStringLiteral("refreshToken"), refreshToken);
    return makeManager(options);
}

QByteArray NetworkManagerHarness::tokenExpiringIn(qint64 seconds, const QString &subject) const
{
    return JwtMaker::make({{QStringLiteral("sub"), subject}, {QStringLiteral("exp"), m_now + seconds}});
}

QByteArray NetworkManagerHarness::signIn(NetworkManager &manager, const QString &subject)
{
    const QByteArray accessToken = tokenExpiringIn(3600, subject);
    const QJsonObject tokens{{QStringLiteral("accessToken"), QString::fromUtf8(accessToken)},
                             {QStringLiteral("refreshToken"), QStringLiteral("refresh-") + subject}};
    m_server->setResponse(
        route(QStringLiteral("auth/login")),
        FixtureServer::Response::json(QJsonDocument(tokens).toJson(QJsonDocument::Compact)));
    QSignalSpy signedIn(&manager, &NetworkManager::loginSuccess);
    manager.login(QStringLiteral("+201012345678"), QStringLiteral("password"), QString());
    if (!signedIn.wait(10000) || !manager.isAuthenticated())
        return {};
    return accessToken;
}

bool NetworkManagerHarness::settle(NetworkManager &manager)
{
    CallbackRecord answer;
    manager.sendRequestDetailed(NetworkManager::HttpMethod::Get, QStringLiteral("institutions"), {},
                                recordInto(answer));
    return QTest::qWaitFor([&answer] { return answer.calls == 1; }, 10000);
}

QStringList NetworkManagerHarness::sentByCodeUnderTest() const
{
    const QStringList ignored{route(QStringLiteral("auth/login")), route(QStringLiteral("institutions"))};
    QStringList sent;
    const QList<FixtureServer::Request> requests = m_server->requests();
    for (const FixtureServer::Request &request : requests) {
        if (!ignored.contains(QString::fromUtf8(request.path)))
            sent.append(QString::fromUtf8(request.method + ' ' + request.target));
    }
    return sent;
}

void NetworkManagerHarness::answerRefresh(const QByteArray &accessToken, const QString &refreshToken)
{
    const QJsonObject tokens{{QStringLiteral("accessToken"), QString::fromUtf8(accessToken)},
                             {QStringLiteral("refreshToken"), refreshToken}};
    m_server->setResponse(
        route(QStringLiteral("auth/refresh")),
        FixtureServer::Response::json(QJsonDocument(tokens).toJson(QJsonDocument::Compact)));
}

QString NetworkManagerHarness::route(const QString &relativePath)
{
    return QStringLiteral("/api/v1/") + relativePath;
}

QList<FixtureServer::Request> NetworkManagerHarness::requestsTo(const QString &relativePath) const
{
    return m_server->requests(route(relativePath));
}

NetworkManager::RequestCallback NetworkManagerHarness::recordInto(CallbackRecord &record)
{
    return [&record](const QJsonDocument &document, const NetworkFailure &failure) {
        ++record.calls;
        record.document = document;
        record.failure = failure;
    };
}

NetworkManager::RequestCallback NetworkManagerHarness::recordInto(CallbackRecord &record, QStringList &events)
{
    return [&record, &events](const QJsonDocument &document, const NetworkFailure &failure) {
        events.append(QStringLiteral("callback"));
        recordInto(record)(document, failure);
    };
}

void NetworkManagerHarness::recordSignals(NetworkManager &manager, QStringList &events)
{
    const auto note = [&events](const char *name) {
        return [&events, name] { events.append(QLatin1String(name)); };
    };
    QObject::connect(&manager, &NetworkManager::mediaAuthenticationChanged, &manager,
                     [&events](const MediaAuthSnapshot &snapshot) {
                         events.append(QStringLiteral("media:") + QString::fromUtf8(snapshot.authorization));
                     });
    QObject::connect(&manager, &NetworkManager::isAuthenticatedChanged, &manager,
                     note("isAuthenticatedChanged"));
    QObject::connect(&manager, &NetworkManager::loginMobileNumberChanged, &manager,
                     note("loginMobileNumberChanged"));
    QObject::connect(&manager, &NetworkManager::protectedTransfersInvalidated, &manager,
                     note("protectedTransfersInvalidated"));
    QObject::connect(&manager, &NetworkManager::sessionExpired, &manager, note("sessionExpired"));
    QObject::connect(&manager, &NetworkManager::loginSuccess, &manager, note("loginSuccess"));
    QObject::connect(&manager, &NetworkManager::loginFailed, &manager, [&events](const AppFailure &failure) {
        events.append(QStringLiteral("loginFailed:") + failure.code);
    });
    QObject::connect(&manager, &NetworkManager::loginError, &manager, [&events](const QString &message) {
        events.append(QStringLiteral("loginError:") + message);
    });
    QObject::connect(&manager, &NetworkManager::requestFailed, &manager,
                     [&events](const QString &context, const AppFailure &) {
                         events.append(QStringLiteral("requestFailed:") + context);
                     });
}

QList<LogLineParser::Record> NetworkManagerHarness::logRecords(const QString &event) const
{
    if (!DiagnosticLogger::waitUntilWritten(std::chrono::seconds(10)))
        return {};
    const QList<LogLineParser::Record> records = LogLineParser::parseFile(DiagnosticLogger::logFilePath());
    return LogLineParser::withEvent(records.mid(m_logStart), event);
}

} // namespace quorin::test
