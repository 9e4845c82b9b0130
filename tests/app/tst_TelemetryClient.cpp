#include "app/DiagnosticLogger.h"
#include "app/Endpoints.h"
#include "app/SettingsController.h"
#include "app/TelemetryClient.h"
#include "app/TelemetryPolicy.h"
#include "testsupport/FixtureServer.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <map>
#include <memory>

using quorin::test::FixtureServer;
using Delay = TelemetryClient::Delay;
using Response = FixtureServer::Response;

namespace {

const QString kLogs = QStringLiteral("/v1/logs");
// Long enough that the wait never ends within a test.
constexpr int kNever = 600000;

QJsonObject makeEvent(const QString &category, const QString &event, const QVariantMap &fields = {})
{
    return *TelemetryPolicy::event(category, QStringLiteral("info"), event, fields, false);
}

QJsonArray makeEvents(int count, const QString &category = QStringLiteral("app"))
{
    QJsonArray events;
    for (int i = 0; i < count; ++i)
        events.append(makeEvent(category, QStringLiteral("event_%1").arg(i)));
    return events;
}

QJsonArray logRecordsOf(const FixtureServer::Request &request)
{
    return QJsonDocument::fromJson(request.body)
        .object()
        .value(QStringLiteral("resourceLogs"))
        .toArray()
        .first()
        .toObject()
        .value(QStringLiteral("scopeLogs"))
        .toArray()
        .first()
        .toObject()
        .value(QStringLiteral("logRecords"))
        .toArray();
}

QStringList keysOf(const QJsonValue &value)
{
    return value.toObject().keys();
}

Response dropped()
{
    Response response(200, QByteArray(100, 'x'), "application/json");
    response.dropAfterBodyBytes = 10;
    return response;
}

} // namespace

class tst_TelemetryClient : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<FixtureServer> m_server;
    std::unique_ptr<TelemetryClient> m_client;
    std::map<Delay, int> m_waits;                    // what each delay lasts in this test
    QList<QPair<Delay, int>> m_asked;                // every delay the client asked for, in order
    QList<TelemetryClient::TransportState> m_states; // every state announced, in order

    TelemetryClient *makeClient(const QUrl &endpoint)
    {
        m_client = std::make_unique<TelemetryClient>(endpoint);
        m_client->setDelaySeam([this](Delay delay, int requestedMs) {
            m_asked.append({delay, requestedMs});
            return m_waits.at(delay);
        });
        connect(m_client.get(), &TelemetryClient::transportStateChanged, this,
                [this] { m_states.append(m_client->transportState()); });
        return m_client.get();
    }

    TelemetryClient *makeClient() { return makeClient(m_server->url(QStringLiteral("/"))); }

    [[nodiscard]] QList<int> asked(Delay delay) const
    {
        QList<int> delays;
        for (const auto &[kind, ms] : m_asked) {
            if (kind == delay)
                delays.append(ms);
        }
        return delays;
    }

    [[nodiscard]] QString queuePath() const { return TelemetryClient(QUrl()).queuePath(); }

    void writeQueueFile(const QByteArray &content) const
    {
        QVERIFY(QDir().mkpath(QFileInfo(queuePath()).absolutePath()));
        QFile file(queuePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content);
    }

    [[nodiscard]] QByteArray queueFile() const
    {
        QFile file(queuePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    [[nodiscard]] QJsonArray queueFileEvents() const { return QJsonDocument::fromJson(queueFile()).array(); }

    // Keeps whatever is queued from leaving.
    void holdSending()
    {
        m_waits[Delay::FirstAttempt] = kNever;
        m_waits[Delay::IdleWake] = kNever;
    }

    void acceptRecord(const QString &category = QStringLiteral("app"),
                      const QString &event = QStringLiteral("tick"), const QVariantMap &fields = {})
    {
        m_client->accept(category, QStringLiteral("info"), event, fields, false);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        // The same route start-up takes: QUORIN_CA_FILE into the default SSL configuration.
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("QUORIN_CA_FILE"), FixtureServer::certificateAuthorityFile());
        quorin::Endpoints::resolve(environment, quorin::Endpoints::buildDefaults())
            .installCertificateAuthority();
    }

    void init()
    {
        QFile::remove(queuePath());
        SettingsController::instance()->setUsageTelemetryEnabled(true);
        m_server = std::make_unique<FixtureServer>();
        QVERIFY(m_server->listen());
        m_server->setResponse(kLogs, Response::json("{}"));
        // An idle client learns of new records only at its idle wake, so that one stays short.
        m_waits = {{Delay::FirstAttempt, 1},
                   {Delay::IdleWake, 5},
                   {Delay::NextBatch, 1},
                   {Delay::BackOff, 1},
                   {Delay::PostTimeout, 20000}};
        m_asked.clear();
        m_states.clear();
    }

    void cleanup()
    {
        m_client.reset();
        m_server.reset();
    }

    void anythingButHttpsDisablesSending_data()
    {
        QTest::addColumn<QString>("endpoint");
        QTest::newRow("http") << "http://localhost:%1/";
        QTest::newRow("not a URL") << "https://local host:%1/";
        QTest::newRow("no host") << "https:///v1/";
        QTest::newRow("empty") << "";
    }

    void anythingButHttpsDisablesSending()
    {
        QFETCH(QString, endpoint);
        if (endpoint.contains(QLatin1String("%1")))
            endpoint = endpoint.arg(m_server->port());
        TelemetryClient *client = makeClient(QUrl(endpoint, QUrl::StrictMode));
        client->start();
        QCOMPARE(client->transportState(), TelemetryClient::Disabled);
        QCOMPARE(m_states, QList<TelemetryClient::TransportState>{TelemetryClient::Disabled});

        acceptRecord();
        acceptRecord();
        QCOMPARE(client->buffer().count(), 2);
        QCOMPARE(queueFileEvents(), client->buffer().json());
        QVERIFY(m_asked.isEmpty()); // no attempt was ever scheduled
        QTest::qWait(50);
        QCOMPARE(m_server->totalRequestCount(), 0);
        QCOMPARE(m_states.size(), 1);
    }

    void leftoverEventsGoOutAfterTheFirstAttemptDelay()
    {
        writeQueueFile(QJsonDocument(makeEvents(3)).toJson(QJsonDocument::Compact));
        TelemetryClient *client = makeClient();
        client->start();
        QCOMPARE(client->buffer().count(), 3);
        QCOMPARE(m_asked.value(0), qMakePair(Delay::FirstAttempt, 1000));

        QTRY_COMPARE(m_server->requestCount(kLogs), 1);
        QCOMPARE(logRecordsOf(m_server->requests(kLogs).first()).size(), 3);
        QTRY_VERIFY(client->buffer().isEmpty());
        QCOMPARE(client->transportState(), TelemetryClient::Idle);
        QCOMPARE(queueFile(), QByteArray("[]"));
        QCOMPARE(asked(Delay::IdleWake).value(0), 10000);
    }

    void idleWakeWithNothingQueuedSendsNothing()
    {
        writeQueueFile("[]");
        TelemetryClient *client = makeClient();
        client->start();
        QCOMPARE(m_asked.value(0), qMakePair(Delay::IdleWake, 10000));
        QTRY_VERIFY(asked(Delay::IdleWake).size() >= 3);
        QCOMPARE(asked(Delay::IdleWake), QList<int>(asked(Delay::IdleWake).size(), 10000));
        QCOMPARE(client->transportState(), TelemetryClient::Idle);
        QVERIFY(m_states.isEmpty());
        QCOMPARE(m_server->totalRequestCount(), 0);
        QCOMPARE(queueFile(), QByteArray("[]"));
    }

    void largeQueueGoesOutInBatchesOfFifty()
    {
        writeQueueFile(QJsonDocument(makeEvents(120)).toJson(QJsonDocument::Compact));
        TelemetryClient *client = makeClient();
        client->start();
        QTRY_COMPARE(m_server->requestCount(kLogs), 3);
        QTRY_VERIFY(client->buffer().isEmpty());

        const QList<FixtureServer::Request> posts = m_server->requests(kLogs);
        QCOMPARE(logRecordsOf(posts.at(0)).size(), 50);
        QCOMPARE(logRecordsOf(posts.at(1)).size(), 50);
        QCOMPARE(logRecordsOf(posts.at(2)).size(), 20);
        // Oldest first, across batches.
        QCOMPARE(logRecordsOf(posts.at(1)).first().toObject().value("body").toObject().value("stringValue"),
                 QJsonValue(QStringLiteral("app.event_50")));
        QCOMPARE(asked(Delay::NextBatch), QList<int>({10, 10}));
        QCOMPARE(client->transportState(), TelemetryClient::Idle);
        QCOMPARE(m_server->maxRequestsInFlight(), 1);
        QCOMPARE(queueFile(), QByteArray("[]"));
    }

    void failuresBackOffUntilASuccess()
    {
        QList<Response> answers{Response(500), Response(401), dropped()};
        for (int i = 0; i < 8; ++i)
            answers.append(Response(500));
        answers.append(Response(204));
        answers.append(Response(500));
        m_server->setResponses(kLogs, answers);
        writeQueueFile(QJsonDocument(makeEvents(2)).toJson(QJsonDocument::Compact));
        TelemetryClient *client = makeClient();
        client->start();

        QTRY_COMPARE(m_server->requestCount(kLogs), 12);
        QTRY_VERIFY(client->buffer().isEmpty());
        QCOMPARE(asked(Delay::BackOff),
                 QList<int>({1000, 2000, 4000, 8000, 16000, 32000, 64000, 128000, 256000, 300000, 300000}));
        QList<TelemetryClient::TransportState> expected;
        for (int i = 0; i < 11; ++i)
            expected << TelemetryClient::Sending << TelemetryClient::BackingOff;
        expected << TelemetryClient::Sending << TelemetryClient::Idle;
        QCOMPARE(m_states, expected);
        QCOMPARE(queueFile(), QByteArray("[]"));

        // The success reset the back-off.
        m_waits[Delay::BackOff] = kNever;
        acceptRecord();
        QTRY_COMPARE(asked(Delay::BackOff).size(), 12);
        QCOMPARE(asked(Delay::BackOff).last(), 1000);
    }

    void bodyCarriesOnlyTheLogRecords()
    {
        TelemetryClient *client = makeClient(m_server->url(QStringLiteral("/collector/")));
        client->start();
        acceptRecord(
            QStringLiteral("api"), QStringLiteral("request_complete"),
            {{"status", 200}, {"completed", true}, {"reason", "x"}, {"duration_ms", 42}, {"url", "u"}});
        QTRY_COMPARE(m_server->requestCount(kLogs), 1);
        QCOMPARE(m_server->totalRequestCount(), 1);
        const FixtureServer::Request post = m_server->requests(kLogs).first();
        QCOMPARE(post.method, QByteArray("POST"));
        QCOMPARE(post.header("Content-Type"), QByteArray("application/json"));

        const QJsonObject body = QJsonDocument::fromJson(post.body).object();
        QCOMPARE(body.keys(), QStringList{"resourceLogs"});
        const QJsonArray resources = body.value("resourceLogs").toArray();
        QCOMPARE(resources.size(), 1);
        QCOMPARE(keysOf(resources.first()), QStringList{"scopeLogs"});
        const QJsonArray scopes = resources.first().toObject().value("scopeLogs").toArray();
        QCOMPARE(scopes.size(), 1);
        QCOMPARE(keysOf(scopes.first()), QStringList{"logRecords"});

        const QJsonArray records = logRecordsOf(post);
        QCOMPARE(records.size(), 1);
        const QJsonObject record = records.first().toObject();
        QCOMPARE(record.keys(), QStringList({"attributes", "body", "severityText", "timeUnixNano"}));
        QCOMPARE(record.value("severityText").toString(), QStringLiteral("info"));
        QCOMPARE(record.value("body").toObject(), QJsonObject({{"stringValue", "api.request_complete"}}));
        const QJsonArray expectedAttributes{
            QJsonObject{{"key", "completed"}, {"value", QJsonObject{{"boolValue", true}}}},
            QJsonObject{{"key", "reason"}, {"value", QJsonObject{{"stringValue", "x"}}}},
            QJsonObject{{"key", "status"}, {"value", QJsonObject{{"doubleValue", 200}}}},
        };
        QCOMPARE(record.value("attributes").toArray(), expectedAttributes);
        for (const char *hidden : {"\"id\"", "\"class\"", "\"durationMs\"", "\"duration_ms\"", "\"url\""})
            QVERIFY2(!post.body.contains(hidden), hidden);
    }

    void timeIsSentAsNanosecondText()
    {
        QJsonObject event = makeEvent(QStringLiteral("app"), QStringLiteral("startup"));
        event.insert(QStringLiteral("occurredAt"), QStringLiteral("1970-01-01T00:00:01.500Z"));
        const QJsonObject body = TelemetryClient::requestBody(QJsonArray{event});
        const QJsonObject record = body.value("resourceLogs")[0]["scopeLogs"][0]["logRecords"][0].toObject();
        QCOMPARE(record.value("timeUnixNano"), QJsonValue(QStringLiteral("1500000000")));

        event.insert(QStringLiteral("occurredAt"), QStringLiteral("2024-05-01T12:00:00.007Z"));
        const QJsonObject later = TelemetryClient::requestBody(QJsonArray{event});
        QCOMPARE(later.value("resourceLogs")[0]["scopeLogs"][0]["logRecords"][0]["timeUnixNano"],
                 QJsonValue(QStringLiteral("1714564800007000000")));
    }

    void usageSwitchGovernsUsageEvents()
    {
        holdSending();
        SettingsController *settings = SettingsController::instance();
        TelemetryClient *client = makeClient();
        client->start();

        settings->setUsageTelemetryEnabled(false);
        acceptRecord(QStringLiteral("usage"), QStringLiteral("opened"));
        QVERIFY(client->buffer().isEmpty());

        settings->setUsageTelemetryEnabled(true);
        acceptRecord(QStringLiteral("usage"), QStringLiteral("opened"));
        acceptRecord(QStringLiteral("app"), QStringLiteral("startup"));
        acceptRecord(QStringLiteral("usage"), QStringLiteral("closed"));
        QCOMPARE(client->buffer().count(), 3);
        QCOMPARE(queueFileEvents().size(), 3);

        settings->setUsageTelemetryEnabled(false);
        QCOMPARE(client->buffer().count(), 1);
        QCOMPARE(client->buffer().at(0).value("name").toString(), QStringLiteral("app.startup"));
        QCOMPARE(queueFileEvents(), client->buffer().json());

        settings->setUsageTelemetryEnabled(true);
        QCOMPARE(client->buffer().count(), 1);
        QCOMPARE(queueFileEvents().size(), 1);
    }

    void unreadableQueueFileStartsEmpty_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not JSON") << QByteArray("{{ not json");
        QTest::newRow("an object") << QByteArray("{\"events\":[]}");
        QTest::newRow("empty") << QByteArray();
    }

    void unreadableQueueFileStartsEmpty()
    {
        QFETCH(QByteArray, content);
        writeQueueFile(content);
        holdSending();
        QTest::failOnWarning(QRegularExpression(QStringLiteral(".*")));
        TelemetryClient *client = makeClient();
        client->start();
        QVERIFY(client->buffer().isEmpty());
        QCOMPARE(client->transportState(), TelemetryClient::Idle);

        acceptRecord();
        QCOMPARE(queueFileEvents().size(), 1);
        QCOMPARE(queueFileEvents(), client->buffer().json());
    }

    void queueFileIsPrivate()
    {
        holdSending();
        TelemetryClient *client = makeClient();
        client->start();
        acceptRecord();
        const QFileInfo file(client->queuePath());
        QCOMPARE(file.absoluteFilePath(),
                 QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
                     "/telemetry/queue.json");
        // The "User" flags repeat the owner's for the file's owner; the rest must be owner-only.
        const auto ownerOnly = [](const QFileInfo &info) {
            return info.permissions() &
                   ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
        };
        QCOMPARE(ownerOnly(file), QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QCOMPARE(ownerOnly(QFileInfo(file.absolutePath())),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }

    void recordsArriveFromTheLogOnTheGuiThread()
    {
        holdSending();
        DiagnosticLogger::initialize();
        TelemetryClient *client = makeClient();
        client->start();

        std::unique_ptr<QThread> worker(QThread::create([] {
            DiagnosticLogger::log(QStringLiteral("downloads"), QStringLiteral("warning"),
                                  QStringLiteral("retry"), {{"retry_count", 2}});
        }));
        worker->start();
        QVERIFY(worker->wait(10000));
        // Posted to the GUI thread: nothing arrives until its event loop turns.
        QVERIFY(client->buffer().isEmpty());
        QTRY_COMPARE(client->buffer().count(), 1);
        const QJsonObject event = client->buffer().at(0);
        QCOMPARE(event.value("name").toString(), QStringLiteral("downloads.retry"));
        QCOMPARE(event.value("severity").toString(), QStringLiteral("warning"));
        QCOMPARE(event.value("attributes").toObject(), QJsonObject({{"retry_count", 2}}));

        client->stop();
        QCOMPARE(queueFileEvents(), client->buffer().json());
        DiagnosticLogger::log(QStringLiteral("app"), QStringLiteral("info"), QStringLiteral("late"));
        client->accept(QStringLiteral("app"), QStringLiteral("info"), QStringLiteral("later"), {}, false);
        QCoreApplication::processEvents();
        QCOMPARE(client->buffer().count(), 1);
        DiagnosticLogger::shutdown();

        // A second start reads the file again.
        writeQueueFile(QJsonDocument(makeEvents(4)).toJson(QJsonDocument::Compact));
        client->start();
        QCOMPARE(client->buffer().count(), 4);
        QCOMPARE(client->buffer().json(), queueFileEvents());
    }

    void destroyingTheClientDuringAPost()
    {
        Response held = Response::json("{}");
        held.held = true;
        m_server->setResponse(kLogs, held);
        TelemetryClient *client = makeClient();
        client->start();
        acceptRecord();
        QTRY_COMPARE(m_server->requestCount(kLogs), 1);
        QCOMPARE(client->transportState(), TelemetryClient::Sending);

        QSignalSpy answered(m_server.get(), &FixtureServer::responseFinished);
        m_client.reset();
        m_server->release(kLogs);
        // The held answer has gone out (or found its connection closed by the client going away).
        QTRY_COMPARE(answered.count(), 1);
        QCOMPARE(answered.constFirst().constFirst().toByteArray(), kLogs.toUtf8());
        // The handler would have emptied the queue file that the destructor wrote.
        QCOMPARE(queueFileEvents().size(), 1);
    }

    void hungCollectorTimesOut()
    {
        m_server->setResponses(kLogs, {Response::hung(), Response::json("{}")});
        m_waits[Delay::PostTimeout] = 200;
        TelemetryClient *client = makeClient();
        client->start();
        acceptRecord();
        QTRY_VERIFY(client->buffer().isEmpty());
        QCOMPARE(m_server->requestCount(kLogs), 2);
        QCOMPARE(asked(Delay::PostTimeout), QList<int>({30000, 30000}));
        QCOMPARE(m_states, QList<TelemetryClient::TransportState>(
                               {TelemetryClient::Sending, TelemetryClient::BackingOff,
                                TelemetryClient::Sending, TelemetryClient::Idle}));
    }

    void successRemovesExactlyTheSentEvents()
    {
        Response held = Response::json("{}");
        held.held = true;
        m_server->setResponse(kLogs, held);
        m_waits[Delay::NextBatch] = kNever;
        TelemetryClient *client = makeClient();
        client->start();
        for (int i = 0; i < 50; ++i)
            acceptRecord(QStringLiteral("usage"), QStringLiteral("step_%1").arg(i));
        QTRY_COMPARE(m_server->requestCount(kLogs), 1);
        QCOMPARE(logRecordsOf(m_server->requests(kLogs).first()).size(), 50);

        // While the POST is held, reliability events fill the queue and evict the usage ones.
        for (int i = 0; i < 1000; ++i)
            acceptRecord(QStringLiteral("app"), QStringLiteral("event_%1").arg(i));
        QCOMPARE(client->buffer().count(), 1000);

        m_server->release(kLogs);
        QTRY_COMPARE(client->transportState(), TelemetryClient::Idle);
        QCOMPARE(client->buffer().count(), 1000);
        QCOMPARE(client->buffer().at(0).value("name").toString(), QStringLiteral("app.event_0"));
        QCOMPARE(queueFileEvents().size(), 1000);
    }
};

QTEST_MAIN(tst_TelemetryClient)
#include "tst_TelemetryClient.moc"
