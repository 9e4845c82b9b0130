#include "app/PreferencesStore.h"
#include "net/NetworkManager.h"
#include "tests/update/ReleaseAnswers.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"
#include "testsupport/JwtMaker.h"
#include "update/UpdateController.h"

#include <QCoreApplication>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSettings>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QSysInfo>
#include <QTest>
#include <QTimer>
#include <memory>

using quorin::test::FixtureServer;
using Response = FixtureServer::Response;

Q_DECLARE_METATYPE(UpdateController::State)

namespace {

const QString kInstallationId = QStringLiteral("3f2b8c1e-5d4a-4e6f-9b7c-0a1d2e3f4a5b");
const QString kRoute = QStringLiteral("/v2/releases/latest");
const QByteArray kNothingOffered = quorin::test::ReleaseAnswers::nothingOffered();

QByteArray offer(bool required, qint64 build = 23)
{
    return quorin::test::ReleaseAnswers::encodedOffer(required, build);
}

// The connection closes before a byte of an answer, as when the network is gone.
Response droppedAnswer()
{
    Response response;
    response.dropWithoutAnswer = true;
    return response;
}

QByteArray httpDate(const QDateTime &time)
{
    return QLocale::c().toString(time.toUTC(), QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1();
}

std::unique_ptr<QSettings> updateSettings()
{
    std::unique_ptr<QSettings> settings = quorin::PreferencesStore::open();
    settings->beginGroup(QStringLiteral("updates"));
    return settings;
}

QVariant stored(const QString &key)
{
    return updateSettings()->value(key);
}

void seedRecord(const QString &version, qint64 build, const QDateTime &deadline)
{
    std::unique_ptr<QSettings> settings = updateSettings();
    settings->setValue(QStringLiteral("requiredVersion"), version);
    settings->setValue(QStringLiteral("requiredBuild"), build);
    if (deadline.isValid())
        settings->setValue(QStringLiteral("requiredDeadline"), deadline);
    settings->setValue(QStringLiteral("requiredResponse"), QByteArray("{}"));
}

bool recordKept()
{
    return stored(QStringLiteral("requiredVersion")).toString() == QLatin1String("1.0.9") &&
           stored(QStringLiteral("requiredDeadline")).isValid();
}

// Names the controller's signals as they come, to check their order.
void recordSignals(UpdateController &controller, QStringList &events)
{
    const auto note = [&events](const char *name) {
        return [&events, name] { events.append(QLatin1String(name)); };
    };
    QObject::connect(&controller, &UpdateController::stateChanged, &controller, note("state"));
    QObject::connect(&controller, &UpdateController::candidateChanged, &controller, note("candidate"));
    QObject::connect(&controller, &UpdateController::progressChanged, &controller, note("progress"));
    QObject::connect(&controller, &UpdateController::dismissedChanged, &controller, note("dismissed"));
    QObject::connect(&controller, &UpdateController::graceChanged, &controller, note("grace"));
}

void fireTimer(UpdateController &controller, const char *name)
{
    auto *timer = controller.findChild<QTimer *>(QLatin1String(name));
    QVERIFY2(timer, name);
    QMetaObject::invokeMethod(timer, "timeout");
}

} // namespace

// The release check against a fixture release service: what it sends, how each answer and each
// failure ends, and how a recorded required release is enforced with and without a connection.
class tst_UpdateDiscovery : public QObject
{
    Q_OBJECT

private:
    struct Options
    {
        QUrl baseUrl; // empty: the fixture server
        int discoveryTimeoutMs = 30000;
        int transferTimeoutMs = 20000;
    };

    std::unique_ptr<FixtureServer> m_server;
    quorin::test::InMemoryKeychain m_keychain;
    QDateTime m_now;

    std::unique_ptr<UpdateController> makeController(const Options &options)
    {
        UpdateController::Configuration configuration;
        configuration.releaseBaseUrl = options.baseUrl.isEmpty() ? m_server->url() : options.baseUrl;
        configuration.currentTime = [this] { return m_now; };
        configuration.discoveryTimeoutMs = options.discoveryTimeoutMs;
        configuration.transferTimeoutMs = options.transferTimeoutMs;
        return std::make_unique<UpdateController>(std::move(configuration));
    }
    std::unique_ptr<UpdateController> makeController() { return makeController(Options()); }

    // Begins a check and waits until the discovery has ended.
    static void check(UpdateController &controller)
    {
        QSignalSpy stateChanges(&controller, &UpdateController::stateChanged);
        controller.checkForUpdates();
        QTRY_VERIFY_WITH_TIMEOUT(!stateChanges.isEmpty() && controller.state() != UpdateController::Checking,
                                 20000);
    }

    void answerWith(const Response &response) { m_server->setResponse(kRoute, response); }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.8"));
        QSslConfiguration::setDefaultConfiguration(FixtureServer::clientConfiguration());
        // The installation identity makes its own stores; they must not reach for a real keychain.
        m_keychain.installAsNative();
        quorin::PreferencesStore::open()->setValue(QStringLiteral("installationUuid"), kInstallationId);
    }

    void init()
    {
        m_server = std::make_unique<FixtureServer>();
        QVERIFY(m_server->listen());
        updateSettings()->remove(QString());
        m_now = QDateTime(QDate(2025, 6, 1), QTime(9, 30), Qt::UTC);
    }

    void cleanup() { m_server.reset(); }

    void requestCarriesTheTargetAndNoCredentials()
    {
        m_keychain.setValue(QStringLiteral("accessToken"),
                            QString::fromLatin1(quorin::test::JwtMaker::expiringIn(3600)));
        m_keychain.setValue(QStringLiteral("refreshToken"), QStringLiteral("refresh-1"));
        NetworkManager::Configuration restConfiguration;
        restConfiguration.baseUrl = m_server->url(QStringLiteral("/api/v1/")).toString();
        restConfiguration.credentialStore = m_keychain.createStore();
        NetworkManager rest(std::move(restConfiguration));
        QVERIFY(rest.isAuthenticated());

        // The first answer sets a cookie; the next check must not send it back.
        answerWith(Response::json(kNothingOffered).withHeader("Set-Cookie", "session=abc; Path=/"));
        const std::unique_ptr<UpdateController> controller = makeController();
        check(*controller);
        check(*controller);

        const QList<FixtureServer::Request> requests = m_server->requests(kRoute);
        QCOMPARE(requests.size(), 2);
        for (const FixtureServer::Request &request : requests) {
            QCOMPARE(request.method, QByteArray("GET"));
            QCOMPARE(
                QString::fromLatin1(request.target),
                QStringLiteral("/v2/releases/latest?product=quorin-desktop&channel=stable&platform=linux"
                               "&architecture=%1&distribution=direct&packageType=deb&currentVersion=1.0.8"
                               "&currentBuildNumber=22&installationId=%2")
                    .arg(QSysInfo::currentCpuArchitecture(), kInstallationId));
            QCOMPARE(request.header("User-Agent"), QByteArray("quorin-desktop/1.0.8"));
            QVERIFY(!request.hasHeader("Authorization"));
            QVERIFY(!request.hasHeader("Cookie"));
        }
        QCOMPARE(controller->currentTarget(),
                 QStringLiteral("linux/%1/direct/deb").arg(QSysInfo::currentCpuArchitecture()));
        QVERIFY(!controller->storeBuild());
    }

    void plainHttpServiceIsNeverAsked_data()
    {
        QTest::addColumn<bool>("recorded");
        QTest::addColumn<UpdateController::State>("state");
        QTest::newRow("no record") << false << UpdateController::Error;
        QTest::newRow("required release recorded") << true << UpdateController::OfflineGrace;
    }

    void plainHttpServiceIsNeverAsked()
    {
        QFETCH(bool, recorded);
        QFETCH(UpdateController::State, state);
        if (recorded)
            seedRecord(QStringLiteral("1.0.9"), 23, m_now.addSecs(3600));
        FixtureServer plain(FixtureServer::Transport::PlainHttp);
        QVERIFY(plain.listen());
        plain.setResponse(kRoute, Response::json(offer(false)));
        Options options;
        options.baseUrl = plain.url();
        const std::unique_ptr<UpdateController> controller = makeController(options);
        controller->checkForUpdates();

        QCOMPARE(controller->state(), state);
        QCOMPARE(controller->errorMessage(), QStringLiteral("The release service URL is not secure."));
        QCOMPARE(recordKept(), recorded);
        // A request of our own, sent after the check, arrives after anything the check sent.
        QNetworkAccessManager network;
        std::unique_ptr<QNetworkReply> probe(
            network.get(QNetworkRequest(plain.url(QStringLiteral("/probe")))));
        QTRY_COMPARE(plain.requestCount(QStringLiteral("/probe")), 1);
        QCOMPARE(plain.totalRequestCount(), 1);
    }

    void answers_data()
    {
        QTest::addColumn<Response>("answer");
        QTest::addColumn<bool>("recorded");
        QTest::addColumn<UpdateController::State>("state");
        QTest::addColumn<QString>("text");

        const QString invalid = QStringLiteral("The update offer was invalid.");
        QTest::newRow("nothing offered")
            << Response::json(kNothingOffered) << false << UpdateController::UpToDate << QString();
        for (const bool recorded : {false, true}) {
            const UpdateController::State failed =
                recorded ? UpdateController::OfflineGrace : UpdateController::Error;
            const char *suffix = recorded ? ", record" : "";
            QTest::addRow("500%s", suffix)
                << Response::json("{}", 500) << recorded << failed
                << QStringLiteral("The update service answered with an error (status 500).");
            QTest::addRow("204%s", suffix)
                << Response(204) << recorded << failed
                << QStringLiteral("The update service answered with an error (status 204).");
            QTest::addRow("dropped without an answer%s", suffix)
                << droppedAnswer() << recorded << failed
                << QStringLiteral("The update service could not be reached.");
            QTest::addRow("array%s", suffix) << Response::json("[]") << recorded << failed << invalid;
            QTest::addRow("bad fields%s", suffix)
                << Response::json(R"({"updateAvailable":"false"})") << recorded << failed << invalid;
        }
    }

    void answers()
    {
        QFETCH(Response, answer);
        QFETCH(bool, recorded);
        QFETCH(UpdateController::State, state);
        QFETCH(QString, text);
        if (recorded)
            seedRecord(QStringLiteral("1.0.9"), 23, m_now.addSecs(3600));
        answerWith(answer);
        const std::unique_ptr<UpdateController> controller = makeController();
        check(*controller);

        QCOMPARE(controller->state(), state);
        QCOMPARE(controller->errorMessage(), text);
        QCOMPARE(recordKept(), recorded);
        QCOMPARE(controller->required(), recorded);
    }

    void optionalOffer()
    {
        answerWith(Response::json(offer(false)));
        const std::unique_ptr<UpdateController> controller = makeController();
        QStringList events;
        recordSignals(*controller, events);
        check(*controller);

        QCOMPARE(controller->state(), UpdateController::Available);
        QCOMPARE(controller->availableVersion(), QStringLiteral("1.0.9"));
        QCOMPARE(controller->availableBuildNumber(), 23);
        QCOMPARE(controller->releaseNotes(), QStringLiteral("Courses open faster."));
        QVERIFY(!controller->required());
        QVERIFY(!controller->dismissed());
        QVERIFY(controller->verifiedPath().isEmpty());
        QCOMPARE(events, QStringList({"state", "candidate", "dismissed", "state"}));
    }

    void requiredOffer()
    {
        answerWith(Response::json(offer(true)));
        const std::unique_ptr<UpdateController> controller = makeController();
        QStringList events;
        recordSignals(*controller, events);
        check(*controller);

        QCOMPARE(controller->state(), UpdateController::Required);
        QVERIFY(controller->errorMessage().isEmpty());
        QVERIFY(controller->required());
        QCOMPARE(events, QStringList({"state", "candidate", "dismissed", "state"}));
        QCOMPARE(stored(QStringLiteral("requiredVersion")).toString(), QStringLiteral("1.0.9"));
        QCOMPARE(stored(QStringLiteral("requiredBuild")).toLongLong(), 23);
        const QDateTime deadline = m_now.addSecs(259200);
        QCOMPARE(stored(QStringLiteral("requiredDeadline")).toDateTime(), deadline);
        QCOMPARE(controller->requiredDeadline(), deadline);
        QCOMPARE(stored(QStringLiteral("requiredResponse")).toByteArray(),
                 QByteArray(R"({"buildNumber":23,"required":true,"version":"1.0.9"})"));
        QCOMPARE(controller->graceRemainingSeconds(), 259200);

        events.clear();
        controller->dismiss();
        QVERIFY(events.isEmpty());
        QVERIFY(!controller->dismissed());
        QVERIFY(!stored(QStringLiteral("dismissedRelease")).isValid());
    }

    void nothingOfferedRemovesTheRecord()
    {
        seedRecord(QStringLiteral("1.0.9"), 23, m_now.addSecs(3600));
        answerWith(Response::json(kNothingOffered));
        const std::unique_ptr<UpdateController> controller = makeController();
        QCOMPARE(controller->state(), UpdateController::OfflineGrace);
        check(*controller);
        QCOMPARE(controller->state(), UpdateController::UpToDate);
        QVERIFY(!stored(QStringLiteral("requiredVersion")).isValid());
        QVERIFY(!stored(QStringLiteral("requiredDeadline")).isValid());
        QVERIFY(!stored(QStringLiteral("requiredResponse")).isValid());
        QCOMPARE(controller->graceRemainingSeconds(), 0);
    }

    void heldAnswerTakesNoSecondCheck_data()
    {
        QTest::addColumn<bool>("recorded");
        QTest::addColumn<UpdateController::State>("whileHeld");
        QTest::newRow("online") << false << UpdateController::Checking;
        QTest::newRow("in grace") << true << UpdateController::OfflineGrace;
    }

    void heldAnswerTakesNoSecondCheck()
    {
        QFETCH(bool, recorded);
        QFETCH(UpdateController::State, whileHeld);
        if (recorded)
            seedRecord(QStringLiteral("1.0.9"), 23, m_now.addSecs(3600));
        Response held = Response::json(offer(false));
        held.held = true;
        answerWith(held);
        const std::unique_ptr<UpdateController> controller = makeController();
        controller->checkForUpdates();
        QTRY_COMPARE(m_server->requestCount(kRoute), 1);
        QCOMPARE(controller->state(), whileHeld);

        QStringList events;
        recordSignals(*controller, events);
        controller->checkForUpdates();
        controller->retry();
        controller->startupCheck();
        QVERIFY(events.isEmpty());

        m_server->release(kRoute);
        QTRY_COMPARE(controller->state(), UpdateController::Available);
        QCOMPARE(m_server->requestCount(kRoute), 1);
    }

    void onlineRequiredPassesChecking()
    {
        answerWith(Response::json(offer(true)));
        const std::unique_ptr<UpdateController> controller = makeController();
        check(*controller);
        QCOMPARE(controller->state(), UpdateController::Required);

        Response held = Response::json(offer(true));
        held.held = true;
        answerWith(held);
        controller->checkForUpdates();
        QCOMPARE(controller->state(), UpdateController::Checking);
        QVERIFY(controller->required()); // the applied offer still requires it
        m_server->release(kRoute);
        QTRY_COMPARE(controller->state(), UpdateController::Required);
    }

    void construction_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<qint64>("build");
        QTest::addColumn<qint64>("deadlineSeconds"); // from now; 0: no deadline
        QTest::addColumn<UpdateController::State>("state");
        QTest::addColumn<bool>("required");
        QTest::newRow("newer, deadline ahead")
            << "1.0.9" << qint64(23) << qint64(3600) << UpdateController::OfflineGrace << false;
        QTest::newRow("newer, deadline passed")
            << "1.0.9" << qint64(23) << qint64(-1) << UpdateController::Required << true;
        QTest::newRow("the running build")
            << "1.0.8" << qint64(22) << qint64(3600) << UpdateController::Idle << false;
        QTest::newRow("same version, later build")
            << "1.0.8" << qint64(23) << qint64(3600) << UpdateController::OfflineGrace << false;
        QTest::newRow("no deadline") << "1.0.9" << qint64(23) << qint64(0) << UpdateController::Idle << false;
        QTest::newRow("no build") << "1.0.9" << qint64(-1) << qint64(3600) << UpdateController::Idle << false;
    }

    void construction()
    {
        QFETCH(QString, version);
        QFETCH(qint64, build);
        QFETCH(qint64, deadlineSeconds);
        QFETCH(UpdateController::State, state);
        QFETCH(bool, required);
        seedRecord(version, build, deadlineSeconds == 0 ? QDateTime() : m_now.addSecs(deadlineSeconds));
        updateSettings()->setValue(QStringLiteral("betaEnabled"), true);

        const std::unique_ptr<UpdateController> controller = makeController();
        QCOMPARE(controller->state(), state);
        QCOMPARE(controller->required(), required);
        QVERIFY(controller->errorMessage().isEmpty());
        QVERIFY(!stored(QStringLiteral("betaEnabled")).isValid());
        QCOMPARE(controller->findChild<QTimer *>(QStringLiteral("graceTimer"))->isActive(),
                 state == UpdateController::OfflineGrace);
    }

    // The grace period counts from the first answer that required a release: confirming answers,
    // offline retries and restarts keep that deadline, and only another required release starts a
    // new one. A client that reaches the service now and then can therefore not put it off.
    void requiredDeadlineHoldsFromTheFirstAnswer()
    {
        enum class Step { Require23, Require24, Offline, Restart, GraceTick };
        struct Row
        {
            const char *what;
            qint64 minutes; // after the first answer
            Step step;
            UpdateController::State state;
            qint64 deadlineHours; // after the first answer
        };
        using State = UpdateController::State;
        constexpr qint64 hour = 60;
        const Row rows[] = {
            {"required answer", 0, Step::Require23, State::Required, 72},
            {"offline retry before the deadline", 71 * hour, Step::Offline, State::OfflineGrace, 72},
            {"restart in the grace period", 71 * hour, Step::Restart, State::OfflineGrace, 72},
            {"confirming answer", 71 * hour, Step::Require23, State::Required, 72},
            {"connection lost after confirming", 71 * hour + 30, Step::Offline, State::OfflineGrace, 72},
            {"grace tick past the first deadline", 72 * hour + 1, Step::GraceTick, State::Required, 72},
            {"offline retry after the deadline", 73 * hour, Step::Offline, State::Required, 72},
            {"another required release", 73 * hour, Step::Require24, State::Required, 145},
            {"restart after it", 74 * hour, Step::Restart, State::OfflineGrace, 145},
            {"offline retry", 74 * hour, Step::Offline, State::OfflineGrace, 145},
            {"confirming it again", 100 * hour, Step::Require24, State::Required, 145},
        };

        const QDateTime first = m_now;
        std::unique_ptr<UpdateController> controller = makeController();
        for (const Row &row : rows) {
            m_now = first.addSecs(row.minutes * 60);
            switch (row.step) {
            case Step::Require23:
            case Step::Require24:
                answerWith(Response::json(offer(true, row.step == Step::Require23 ? 23 : 24)));
                check(*controller);
                QVERIFY2(controller->errorMessage().isEmpty(), row.what);
                break;
            case Step::Offline:
                answerWith(droppedAnswer());
                check(*controller);
                QVERIFY2(controller->errorMessage() ==
                             QStringLiteral("The update service could not be reached."),
                         row.what);
                break;
            case Step::Restart:
                controller = makeController();
                break;
            case Step::GraceTick:
                fireTimer(*controller, "graceTimer");
                break;
            }
            const QDateTime deadline = first.addSecs(row.deadlineHours * 3600);
            QVERIFY2(
                controller->state() == row.state,
                qPrintable(
                    QStringLiteral("%1: state %2").arg(QLatin1String(row.what)).arg(controller->state())));
            QVERIFY2(controller->requiredDeadline() == deadline, row.what);
            QVERIFY2(stored(QStringLiteral("requiredDeadline")).toDateTime() == deadline, row.what);
            if (row.state == State::OfflineGrace)
                QVERIFY2(controller->graceRemainingSeconds() == m_now.secsTo(deadline), row.what);
        }
    }

    void restartWithoutConnection()
    {
        // The last required answer came 71 hours ago; the service is down since.
        seedRecord(QStringLiteral("1.0.9"), 23, m_now.addSecs(3600));
        Options options;
        {
            FixtureServer gone;
            QVERIFY(gone.listen());
            options.baseUrl = gone.url();
        }
        const std::unique_ptr<UpdateController> controller = makeController(options);
        QCOMPARE(controller->state(), UpdateController::OfflineGrace);
        QVERIFY(!controller->required());
        QCOMPARE(controller->graceRemainingSeconds(), 3600);

        QStringList events;
        recordSignals(*controller, events);
        check(*controller);
        QCOMPARE(controller->state(), UpdateController::OfflineGrace);
        QVERIFY(!controller->errorMessage().isEmpty());
        QVERIFY(controller->required());
        QCOMPARE(events, QStringList({"state", "candidate"}));

        events.clear();
        m_now = m_now.addSecs(1800);
        fireTimer(*controller, "graceTimer");
        QCOMPARE(controller->state(), UpdateController::OfflineGrace);
        QCOMPARE(events, QStringList({"grace"}));
        QCOMPARE(controller->graceRemainingSeconds(), 1800);

        events.clear();
        m_now = m_now.addSecs(1801);
        fireTimer(*controller, "graceTimer");
        QCOMPARE(controller->state(), UpdateController::Required);
        QCOMPARE(controller->errorMessage(), QStringLiteral("The required-update grace period has expired."));
        QVERIFY(controller->required());
        QCOMPARE(events, QStringList({"state", "candidate", "grace"}));
        QVERIFY(recordKept());

        events.clear();
        fireTimer(*controller, "graceTimer");
        QCOMPARE(events, QStringList({"grace"}));
    }

    void clockSetBackNeverLengthensGrace()
    {
        const std::unique_ptr<UpdateController> controller = makeController();
        QCOMPARE(controller->graceRemainingSeconds(), 0);

        answerWith(Response::json(offer(true)));
        check(*controller);
        QCOMPARE(controller->graceRemainingSeconds(), 259200);
        m_now = m_now.addSecs(3600);
        QCOMPARE(controller->graceRemainingSeconds(), 259200 - 3600);
        m_now = m_now.addDays(-1);
        QCOMPARE(controller->graceRemainingSeconds(), 259200 - 3600);
        m_now = m_now.addDays(5);
        QCOMPARE(controller->graceRemainingSeconds(), 0);
        m_now = m_now.addDays(-5);
        QCOMPARE(controller->graceRemainingSeconds(), 0);
    }

    void serverDateMovesTheClock_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::newRow("HTTP date") << QByteArray("http");
        QTest::newRow("RFC 2822 with offset") << QByteArray("rfc2822");
    }

    void serverDateMovesTheClock()
    {
        QFETCH(QByteArray, format);
        const QDateTime ahead = m_now.addSecs(7200);
        const QByteArray date = format == "http"
                                    ? httpDate(ahead)
                                    : ahead.toOffsetFromUtc(3600).toString(Qt::RFC2822Date).toLatin1();
        answerWith(Response::json(offer(true)).withHeader("Date", date));
        const std::unique_ptr<UpdateController> controller = makeController();
        check(*controller);

        QCOMPARE(stored(QStringLiteral("highestObservedUtc")).toDateTime(), ahead);
        QCOMPARE(controller->requiredDeadline(), ahead.addSecs(259200));
        QCOMPARE(controller->graceRemainingSeconds(), 259200);
    }

    void installedRecordGoesAtOfflineEnforcement()
    {
        seedRecord(QStringLiteral("1.0.8"), 22, m_now.addSecs(3600));
        answerWith(Response(503));
        const std::unique_ptr<UpdateController> controller = makeController();
        QCOMPARE(controller->state(), UpdateController::Idle);
        check(*controller);
        QCOMPARE(controller->state(), UpdateController::Error);
        QVERIFY(!controller->required());
        QVERIFY(!stored(QStringLiteral("requiredVersion")).isValid());
        QVERIFY(!stored(QStringLiteral("requiredDeadline")).isValid());
    }

    void dismissalOutlivesRestarts()
    {
        answerWith(Response::json(offer(false)));
        {
            const std::unique_ptr<UpdateController> controller = makeController();
            check(*controller);
            QStringList events;
            recordSignals(*controller, events);
            controller->dismiss();
            QVERIFY(controller->dismissed());
            QCOMPARE(events, QStringList({"dismissed"}));
            QCOMPARE(stored(QStringLiteral("dismissedRelease")).toString(), QStringLiteral("1.0.9/23"));
        }
        {
            const std::unique_ptr<UpdateController> controller = makeController();
            check(*controller);
            QVERIFY(controller->dismissed());
        }
        answerWith(Response::json(offer(false, 24)));
        const std::unique_ptr<UpdateController> controller = makeController();
        check(*controller);
        QCOMPARE(controller->availableBuildNumber(), 24);
        QVERIFY(!controller->dismissed());
    }

    void failuresKeepTheRecord_data()
    {
        QTest::addColumn<bool>("recorded");
        QTest::addColumn<UpdateController::State>("state");
        QTest::newRow("no record") << false << UpdateController::Error;
        QTest::newRow("record") << true << UpdateController::OfflineGrace;
    }

    void failuresKeepTheRecord()
    {
        QFETCH(bool, recorded);
        QFETCH(UpdateController::State, state);
        const auto seed = [&] {
            updateSettings()->remove(QString());
            if (recorded)
                seedRecord(QStringLiteral("1.0.9"), 23, m_now.addSecs(3600));
        };

        // The network layer's own transfer time-out ends the request before the discovery's.
        seed();
        answerWith(Response::hung());
        Options shortTransfer;
        shortTransfer.transferTimeoutMs = 200;
        std::unique_ptr<UpdateController> controller = makeController(shortTransfer);
        check(*controller);
        QCOMPARE(controller->state(), state);
        QCOMPARE(controller->errorMessage(), QStringLiteral("The update service timed out."));
        QCOMPARE(recordKept(), recorded);

        // The discovery's own time-out.
        seed();
        Options shortDiscovery;
        shortDiscovery.discoveryTimeoutMs = 200;
        controller = makeController(shortDiscovery);
        check(*controller);
        QCOMPARE(controller->state(), state);
        QCOMPARE(controller->errorMessage(), QStringLiteral("The update service timed out."));
        QCOMPARE(recordKept(), recorded);

        // A redirect to plain HTTP is refused before anything reaches the target.
        seed();
        FixtureServer plain(FixtureServer::Transport::PlainHttp);
        QVERIFY(plain.listen());
        plain.setResponse(kRoute, Response::json(kNothingOffered));
        answerWith(Response::redirect(plain.url(kRoute).toEncoded()));
        controller = makeController();
        check(*controller);
        QCOMPARE(controller->state(), state);
        QCOMPARE(controller->errorMessage(), QStringLiteral("The release service URL is not secure."));
        QCOMPARE(recordKept(), recorded);
        QCOMPARE(plain.totalRequestCount(), 0);
    }

    void redirectTargets_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("followed");
        QTest::newRow("another https origin") << QStringLiteral("other") << true;
        QTest::newRow("plain http") << QStringLiteral("plain") << false;
        QTest::newRow("user information") << QStringLiteral("user") << false;
        QTest::newRow("loopback address literal") << QStringLiteral("loopback") << false;
    }

    void redirectTargets()
    {
        QFETCH(QString, target);
        QFETCH(bool, followed);
        FixtureServer other;
        FixtureServer plain(FixtureServer::Transport::PlainHttp);
        QVERIFY(other.listen());
        QVERIFY(plain.listen());
        const QString landing = QStringLiteral("/landing");
        other.setResponse(landing, Response::json(offer(false)));
        plain.setResponse(landing, Response::json(offer(false)));
        QUrl location = other.url(landing);
        if (target == QLatin1String("plain"))
            location = plain.url(landing);
        else if (target == QLatin1String("user"))
            location.setUserName(QStringLiteral("u"));
        else if (target == QLatin1String("loopback"))
            location.setHost(QStringLiteral("127.0.0.1"));
        answerWith(Response::redirect(location.toEncoded()));

        const std::unique_ptr<UpdateController> controller = makeController();
        check(*controller);
        if (followed) {
            QCOMPARE(controller->state(), UpdateController::Available);
            QCOMPARE(other.requestCount(landing), 1);
            QVERIFY(!other.requests(landing).first().hasHeader("Authorization"));
            return;
        }
        QCOMPARE(controller->state(), UpdateController::Error);
        QCOMPARE(controller->errorMessage(), QStringLiteral("The release service URL is not secure."));
        QCOMPARE(other.totalRequestCount() + plain.totalRequestCount(), 0);
    }

    void redirectChainLength_data()
    {
        QTest::addColumn<int>("redirects");
        QTest::addColumn<bool>("followed");
        QTest::newRow("five") << 5 << true;
        QTest::newRow("six") << 6 << false;
    }

    void redirectChainLength()
    {
        QFETCH(int, redirects);
        QFETCH(bool, followed);
        const auto hop = [](int index) { return QStringLiteral("/hop%1").arg(index); };
        answerWith(Response::redirect(hop(1).toLatin1()));
        for (int index = 1; index < redirects; ++index)
            m_server->setResponse(hop(index), Response::redirect(hop(index + 1).toLatin1()));
        m_server->setResponse(hop(redirects), Response::json(offer(false)));

        const std::unique_ptr<UpdateController> controller = makeController();
        check(*controller);
        for (int index = 1; index < redirects; ++index)
            QCOMPARE(m_server->requestCount(hop(index)), 1);
        QCOMPARE(m_server->requestCount(hop(redirects)), followed ? 1 : 0);
        QCOMPARE(controller->state(), followed ? UpdateController::Available : UpdateController::Error);
    }

    void nothingOfferedLiftsTheRequirement_data()
    {
        QTest::addColumn<bool>("enforcedOffline");
        QTest::newRow("required answer") << false;
        QTest::newRow("enforced offline") << true;
    }

    void nothingOfferedLiftsTheRequirement()
    {
        QFETCH(bool, enforcedOffline);
        const std::unique_ptr<UpdateController> controller = makeController();
        if (enforcedOffline) {
            seedRecord(QStringLiteral("1.0.9"), 23, m_now.addSecs(-1));
            answerWith(Response(503));
        } else {
            answerWith(Response::json(offer(true)));
        }
        check(*controller);
        QCOMPARE(controller->state(), UpdateController::Required);
        QVERIFY(controller->required());

        answerWith(Response::json(kNothingOffered));
        QStringList events;
        recordSignals(*controller, events);
        check(*controller);
        QCOMPARE(controller->state(), UpdateController::UpToDate);
        QVERIFY(!controller->required());
        QCOMPARE(events.count(QStringLiteral("candidate")), 1);
        QVERIFY(!stored(QStringLiteral("requiredVersion")).isValid());
    }

    void destroyedControllerIgnoresItsAnswer()
    {
        Response held = Response::json(offer(true));
        held.held = true;
        answerWith(held);
        std::unique_ptr<UpdateController> controller = makeController();
        controller->checkForUpdates();
        QTRY_COMPARE(m_server->requestCount(kRoute), 1);
        QSignalSpy finished(m_server.get(), &FixtureServer::responseFinished);
        controller.reset();

        // The answer goes out, or the connection closes first; either way nothing is recorded.
        m_server->release(kRoute);
        QTRY_VERIFY(!finished.isEmpty());
        QTest::qWait(0);
        QVERIFY(!stored(QStringLiteral("requiredVersion")).isValid());
        QVERIFY(!stored(QStringLiteral("highestObservedUtc")).isValid());
    }
};

QTEST_MAIN(tst_UpdateDiscovery)
#include "tst_UpdateDiscovery.moc"
