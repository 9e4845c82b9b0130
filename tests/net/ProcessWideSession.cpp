#include "tests/net/ProcessWideSession.h"

#include "app/DiagnosticLogger.h"
#include "app/PreferencesStore.h"
#include "net/UserIdentityController.h"
#include "testsupport/JwtMaker.h"
#include "testsupport/LogRecorder.h"

#include <QDateTime>
#include <QJsonObject>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>
#include <algorithm>

namespace quorin::test {

void ProcessWideSession::initTestCase()
{
    m_server = std::make_unique<FixtureServer>();
    QVERIFY(m_server->listen());
    m_port = m_server->port();
    qputenv("QUORIN_API_BASE_URL", m_server->url(QStringLiteral("/api/v1/")).toString().toUtf8());
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(FixtureServer::certificateAuthority());
    QSslConfiguration::setDefaultConfiguration(configuration);
    // The log takes Qt's messages over; the tests' own handler must keep them, so that warnings
    // can be expected with QTest::ignoreMessage.
    const QtMessageHandler testHandler = qInstallMessageHandler(nullptr);
    qInstallMessageHandler(testHandler);
    DiagnosticLogger::initialize();
    qInstallMessageHandler(testHandler);
    m_keychain.installAsNative();
}

void ProcessWideSession::init()
{
    if (!m_server)
        QVERIFY(restartServer());
    // An answer a test left held would keep the identity's fetch in flight for ever: signed out,
    // its answer is dropped whatever it is, and closing the connections makes it come.
    m_server->clearScripts();
    signOut();
    m_server->closeAllConnections();
    QTRY_VERIFY_WITH_TIMEOUT(!UserIdentityController::instance()->loading(), 10000);
    m_server->clearLog();
    m_keychain.clear();
    quorin::PreferencesStore::open()->clear();
}

void ProcessWideSession::stopServer()
{
    m_server.reset();
}

bool ProcessWideSession::restartServer()
{
    m_server = std::make_unique<FixtureServer>();
    return m_server->listen(m_port);
}

QString ProcessWideSession::route(const QString &relativePath)
{
    return QStringLiteral("/api/v1/") + relativePath;
}

int ProcessWideSession::requestCount(const QString &relativePath) const
{
    const QByteArray target = route(relativePath).toUtf8();
    int count = 0;
    for (const FixtureServer::Request &request : m_server->requests())
        count += request.target == target ? 1 : 0;
    return count;
}

void ProcessWideSession::script(const QString &relativePath, const FixtureServer::Response &response)
{
    m_server->setResponse(route(relativePath), response);
}

void ProcessWideSession::scriptSequence(const QString &relativePath,
                                        const QList<FixtureServer::Response> &responses)
{
    m_server->setResponses(route(relativePath), responses);
}

void ProcessWideSession::release(const QString &relativePath)
{
    m_server->release(route(relativePath));
}

QList<FixtureServer::Request> ProcessWideSession::requests(const QByteArray &method,
                                                           const QString &relativePath) const
{
    const QByteArray target = route(relativePath).toUtf8();
    QList<FixtureServer::Request> matching;
    for (const FixtureServer::Request &request : m_server->requests()) {
        if (request.method == method && request.target == target)
            matching.append(request);
    }
    return matching;
}

FixtureServer::Response ProcessWideSession::held(FixtureServer::Response response)
{
    response.held = true;
    return response;
}

bool ProcessWideSession::releaseAndAwaitHandOver(const QString &relativePath)
{
    const LogRecorder log;
    release(relativePath);
    // The pipeline logs each answer just before it hands it over, on the same turn.
    return QTest::qWaitFor(
        [&] {
            const QList<LogRecorder::Record> records = log.withEvent(QStringLiteral("request_complete"));
            return std::any_of(records.cbegin(), records.cend(), [&](const LogRecorder::Record &record) {
                return record.field(QStringLiteral("endpoint")) == relativePath;
            });
        },
        10000);
}

QByteArray ProcessWideSession::accessTokenFor(const QString &userId)
{
    QJsonObject claims{{QStringLiteral("exp"), QDateTime::currentSecsSinceEpoch() + 3600}};
    if (!userId.isEmpty())
        claims.insert(QStringLiteral("sub"), userId);
    return JwtMaker::make(claims);
}

bool ProcessWideSession::signIn(const QString &userId, const QString &signInText)
{
    const QJsonObject tokens{{QStringLiteral("accessToken"), QString::fromLatin1(accessTokenFor(userId))},
                             {QStringLiteral("refreshToken"), QStringLiteral("refresh-") + userId}};
    m_server->setResponse(
        route(QStringLiteral("auth/login")),
        FixtureServer::Response::json(QJsonDocument(tokens).toJson(QJsonDocument::Compact)));
    QSignalSpy succeeded(&network(), &NetworkManager::loginSuccess);
    network().login(signInText, QStringLiteral("password"), QString());
    return succeeded.wait(10000);
}

void ProcessWideSession::signOut()
{
    network().logout();
}

} // namespace quorin::test
