#include "tests/sample-server/SamplePlatformSession.h"

#include "testsupport/FixturePaths.h"
#include "testsupport/FixtureServer.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>

namespace quorin::test {

void SamplePlatformSession::initTestCase()
{
    QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
    QCoreApplication::setApplicationName(QStringLiteral("desktop"));
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(FixtureServer::certificateAuthority());
    QSslConfiguration::setDefaultConfiguration(configuration);
    m_keychain.installAsNative();
}

void SamplePlatformSession::init()
{
    SampleServer::Options options;
    options.port = 0;
    options.dataFolder = QStringLiteral(QUORIN_SAMPLE_DATA_DIR);
    options.mediaFolder = FixturePaths::mediaFolder();
    m_platform = std::make_unique<SampleServer>(options);
    QVERIFY2(m_platform->start(), qPrintable(m_platform->errorString()));

    m_keychain.clear();
    NetworkManager::Configuration client;
    client.baseUrl = apiUrl(QString()).toString();
    client.credentialStore = m_keychain.createStore();
    m_manager = std::make_unique<NetworkManager>(std::move(client));
    QSignalSpy signedIn(m_manager.get(), &NetworkManager::loginSuccess);
    m_manager->login(QStringLiteral("+201012345678"), QStringLiteral("quorin-demo"), QString());
    QVERIFY(signedIn.wait(10000));
}

void SamplePlatformSession::cleanup()
{
    m_manager.reset();
    m_platform.reset();
}

QUrl SamplePlatformSession::apiUrl(const QString &path) const
{
    return m_platform->baseUrl().resolved(QUrl(QStringLiteral("/api/v1/") + path));
}

QByteArray SamplePlatformSession::accessToken() const
{
    return m_manager->mediaAuthenticationSnapshot().authorization;
}

SamplePlatformSession::Answer SamplePlatformSession::fetch(const QByteArray &method, const QUrl &url,
                                                           const QByteArray &authorization,
                                                           const QJsonObject &body)
{
    QNetworkRequest request(url);
    if (!authorization.isEmpty())
        request.setRawHeader("Authorization", authorization);
    QByteArray content;
    if (!body.isEmpty()) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        content = QJsonDocument(body).toJson(QJsonDocument::Compact);
    }
    std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, method, content));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(10000))
        return {};
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
            reply->header(QNetworkRequest::ContentTypeHeader).toByteArray(), reply->readAll()};
}

} // namespace quorin::test
