#include "tests/sample-server/SamplePlatformSession.h"

#include "net/NetworkManager.h"
#include "testsupport/FixturePaths.h"
#include "testsupport/FixtureServer.h"

#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>

namespace quorin::test {

bool SamplePlatformSession::start(const SampleServer::Options &options)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.addCaCertificates(FixtureServer::certificateAuthority());
    QSslConfiguration::setDefaultConfiguration(configuration);

    m_platform = std::make_unique<SampleServer>(options);
    return m_platform->start();
}

SampleServer::Options SamplePlatformSession::defaultOptions()
{
    SampleServer::Options options;
    options.port = 0;
    options.dataFolder = QStringLiteral(QUORIN_SAMPLE_DATA_DIR);
    options.mediaFolder = FixturePaths::mediaFolder();
    return options;
}

QUrl SamplePlatformSession::apiBase() const
{
    return m_platform->baseUrl().resolved(QUrl(QStringLiteral("/api/v1/")));
}

void SamplePlatformSession::useForProcessWideClient() const
{
    qputenv("QUORIN_API_BASE_URL", apiBase().toString().toUtf8());
}

bool SamplePlatformSession::signIn(const QString &password, const QString &number)
{
    NetworkManager *network = NetworkManager::instance();
    QSignalSpy succeeded(network, &NetworkManager::loginSuccess);
    QSignalSpy failed(network, &NetworkManager::loginFailed);
    network->login(number, password, QString());
    return QTest::qWaitFor([&] { return !succeeded.isEmpty() || !failed.isEmpty(); }, 10000) &&
           !succeeded.isEmpty();
}

QStringList SamplePlatformSession::idsOf(const QVariantList &records)
{
    QStringList ids;
    for (const QVariant &record : records)
        ids.append(record.toMap().value(QStringLiteral("id")).toString());
    return ids;
}

} // namespace quorin::test
