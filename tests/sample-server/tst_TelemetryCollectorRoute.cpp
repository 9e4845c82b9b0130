#include "app/Endpoints.h"
#include "app/TelemetryClient.h"
#include "sample-server/SampleServer.h"
#include "testsupport/FixturePaths.h"
#include "testsupport/FixtureServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace {

int postStatus(QNetworkAccessManager &network, const QUrl &url, const QByteArray &body)
{
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    std::unique_ptr<QNetworkReply> reply(network.post(request, body));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(10000))
        return -1;
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

} // namespace

// The sample platform's telemetry collector, as the demo client meets it.
class tst_TelemetryCollectorRoute : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SampleServer> m_server;

    [[nodiscard]] QUrl logsUrl() const
    {
        return m_server->baseUrl().resolved(QUrl(QStringLiteral("/v1/logs")));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("QUORIN_CA_FILE"),
                           quorin::test::FixtureServer::certificateAuthorityFile());
        quorin::Endpoints::resolve(environment, quorin::Endpoints::buildDefaults())
            .installCertificateAuthority();

        SampleServer::Options options;
        options.port = 0;
        options.dataFolder = QStringLiteral(QUORIN_SAMPLE_DATA_DIR);
        options.mediaFolder = quorin::test::FixturePaths::mediaFolder();
        m_server = std::make_unique<SampleServer>(options);
        QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    }

    void clientRecordsReachTheCollector()
    {
        TelemetryClient client(m_server->baseUrl());
        client.setDelaySeam([](TelemetryClient::Delay delay, int) {
            return delay == TelemetryClient::Delay::PostTimeout ? 20000 : 1;
        });
        QList<TelemetryClient::TransportState> states;
        connect(&client, &TelemetryClient::transportStateChanged, this,
                [&] { states.append(client.transportState()); });
        client.start();
        for (int i = 0; i < 60; ++i)
            client.accept(QStringLiteral("app"), QStringLiteral("info"), QStringLiteral("startup"),
                          {{QStringLiteral("status"), i}}, false);

        QTRY_VERIFY(client.buffer().isEmpty());
        QTRY_COMPARE(client.transportState(), TelemetryClient::Idle);
        QVERIFY(!states.contains(TelemetryClient::BackingOff));
        QCOMPARE(states.count(TelemetryClient::Sending), 2); // 50, then 10
        client.stop();
    }

    void collectorChecksTheShape_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        QTest::newRow("one resource, one scope")
            << QByteArray("{\"resourceLogs\":[{\"scopeLogs\":[{\"logRecords\":[{},{}]}]}]}") << 200;
        QTest::newRow("no records") << QByteArray(
                                           "{\"resourceLogs\":[{\"scopeLogs\":[{\"logRecords\":[]}]}]}")
                                    << 200;
        QTest::newRow("not JSON") << QByteArray("resourceLogs") << 400;
        QTest::newRow("empty object") << QByteArray("{}") << 400;
        QTest::newRow("two resources")
            << QByteArray("{\"resourceLogs\":[{\"scopeLogs\":[{\"logRecords\":[]}]},{}]}") << 400;
        QTest::newRow("two scopes")
            << QByteArray("{\"resourceLogs\":[{\"scopeLogs\":[{\"logRecords\":[]},{\"logRecords\":[]}]}]}")
            << 400;
        QTest::newRow("records not a list")
            << QByteArray("{\"resourceLogs\":[{\"scopeLogs\":[{\"logRecords\":{}}]}]}") << 400;
    }

    void collectorChecksTheShape()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        QNetworkAccessManager network;
        QCOMPARE(postStatus(network, logsUrl(), body), status);
    }

    void collectorTakesOnlyPosts()
    {
        QNetworkAccessManager network;
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(logsUrl())));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 405);
    }
};

QTEST_MAIN(tst_TelemetryCollectorRoute)
#include "tst_TelemetryCollectorRoute.moc"
