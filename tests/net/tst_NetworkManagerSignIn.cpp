#include "sample-server/SampleServer.h"
#include "tests/net/NetworkManagerHarness.h"
#include "testsupport/FixturePaths.h"
#include "testsupport/JwtMaker.h"

#include <QJsonObject>
#include <QNetworkReply>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using quorin::test::FixturePaths;
using quorin::test::FixtureServer;
using quorin::test::JwtMaker;
using quorin::test::NetworkManagerHarness;
using Method = NetworkManager::HttpMethod;

namespace {

const QString kLoginRoute = QStringLiteral("/api/v1/auth/login");
const QString kRefreshRoute = QStringLiteral("/api/v1/auth/refresh");
const QString kNumber = QStringLiteral("+201012345678");
const QString kSessionExpired = QStringLiteral("Your session has expired. Please sign in again.");

FixtureServer::Response tokensAnswer(const QByteArray &access, const QByteArray &refresh)
{
    return FixtureServer::Response::json("{\"accessToken\":\"" + access + "\",\"refreshToken\":\"" + refresh +
                                         "\",\"user\":{\"id\":\"u-1\"}}");
}

QTimer *backgroundTimer(NetworkManager &manager)
{
    return manager.findChild<QTimer *>(QStringLiteral("backgroundRefreshTimer"));
}

} // namespace

class tst_NetworkManagerSignIn : public QObject
{
    Q_OBJECT

private:
    NetworkManagerHarness m_harness;

    // Signs in through the fixture and waits for the outcome.
    void signIn(NetworkManager &manager, const QByteArray &access, const QByteArray &refresh)
    {
        m_harness.server().setResponse(kLoginRoute, tokensAnswer(access, refresh));
        QSignalSpy succeeded(&manager, &NetworkManager::loginSuccess);
        manager.login(kNumber, QStringLiteral("pw"), QString());
        QVERIFY(succeeded.wait(10000));
    }

    // Signs in and waits for the failure the fixture's answer leads to.
    AppFailure failedSignIn(NetworkManager &manager, const FixtureServer::Response &answer)
    {
        m_harness.server().setResponse(kLoginRoute, answer);
        QSignalSpy failed(&manager, &NetworkManager::loginFailed);
        manager.login(kNumber, QStringLiteral("pw"), QString());
        if (!failed.wait(10000))
            return {};
        return failed.first().first().value<AppFailure>();
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    void signInSendsTheAccountAndTheInstallation()
    {
        const QByteArray access = m_harness.tokenExpiringIn(3600);
        m_harness.server().setResponse(kLoginRoute, tokensAnswer(access, "refresh-1"));
        NetworkManagerHarness::ManagerOptions options;
        options.backgroundRefreshIntervalMs = 60000;
        const auto manager = m_harness.makeManager(options);
        QStringList events;
        NetworkManagerHarness::recordSignals(*manager, events);
        QSignalSpy succeeded(manager.get(), &NetworkManager::loginSuccess);

        manager->login(kNumber, QStringLiteral("pw"), QStringLiteral("other"));
        QVERIFY(succeeded.wait(10000));

        const QList<FixtureServer::Request> sent = m_harness.server().requests(kLoginRoute);
        QCOMPARE(sent.size(), 1);
        const FixtureServer::Request &request = sent.first();
        QCOMPARE(request.method, QByteArray("POST"));
        QVERIFY(request.body.contains('\n'));
        QVERIFY(!request.hasHeader("Authorization"));
        QCOMPARE(request.header("Accept"), QByteArray("application/json"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        QCOMPARE(body.keys(), (QStringList{QStringLiteral("deviceId"), QStringLiteral("deviceType"),
                                           QStringLiteral("mobileNumber"), QStringLiteral("password")}));
        QCOMPARE(body.value(QStringLiteral("mobileNumber")).toString(), kNumber);
        QCOMPARE(body.value(QStringLiteral("password")).toString(), QStringLiteral("pw"));
        QVERIFY(!manager->installationId().isEmpty());
        QVERIFY(manager->identityReady());
        QCOMPARE(manager->getDeviceId(), manager->installationId());
        QCOMPARE(body.value(QStringLiteral("deviceId")).toString(), manager->installationId());
        QCOMPARE(body.value(QStringLiteral("deviceType")).toString(), QStringLiteral("DESKTOP"));

        QCOMPARE(events,
                 (QStringList{QStringLiteral("loginMobileNumberChanged"),
                              "media:Bearer " + QString::fromUtf8(access),
                              QStringLiteral("isAuthenticatedChanged"), QStringLiteral("loginSuccess")}));
        QVERIFY(manager->isAuthenticated());
        QCOMPARE(manager->loginMobileNumber(), kNumber);
        QCOMPARE(m_harness.keychain().value(QStringLiteral("accessToken")), QString::fromUtf8(access));
        QCOMPARE(m_harness.keychain().value(QStringLiteral("refreshToken")), QStringLiteral("refresh-1"));
        QVERIFY(backgroundTimer(*manager)->isActive());
        QCOMPARE(backgroundTimer(*manager)->interval(), 60000);
        QVERIFY(m_harness.logRecords(QStringLiteral("request_complete")).isEmpty());
        QVERIFY(m_harness.logRecords(QStringLiteral("login_failed")).isEmpty());
    }

    void mobileNumberChangesOnlyWithANewNumber()
    {
        m_harness.server().setResponse(kLoginRoute, FixtureServer::Response::json("{}", 500));
        const auto manager = m_harness.makeManager();
        QSignalSpy changed(manager.get(), &NetworkManager::loginMobileNumberChanged);
        QSignalSpy failed(manager.get(), &NetworkManager::loginFailed);

        manager->login(kNumber, QStringLiteral("pw"), QString());
        manager->login(kNumber, QStringLiteral("pw2"), QString());
        QCOMPARE(changed.count(), 1);
        manager->login(QStringLiteral("+201099999999"), QStringLiteral("pw"), QString());
        QCOMPARE(changed.count(), 2);
        // A failed attempt keeps the number.
        QTRY_COMPARE(failed.count(), 3);
        QCOMPARE(manager->loginMobileNumber(), QStringLiteral("+201099999999"));
    }

    void wrongCredentialsAreAnnouncedInOrder()
    {
        const auto manager = m_harness.makeManager();
        QStringList events;
        NetworkManagerHarness::recordSignals(*manager, events);
        QSignalSpy requestFailed(manager.get(), &NetworkManager::requestFailed);

        const QByteArray body = "{\"error\":\"invalid-credentials\",\"message\":\"Wrong password\"}";
        const AppFailure failure = failedSignIn(*manager, FixtureServer::Response::json(body, 401));

        QCOMPARE(failure.code, QStringLiteral("INVALID_CREDENTIALS"));
        QCOMPARE(failure.category, QStringLiteral("authentication"));
        QCOMPARE(failure.userMessage, QStringLiteral("Wrong password"));
        QCOMPARE(events, (QStringList{QStringLiteral("loginMobileNumberChanged"),
                                      QStringLiteral("loginFailed:INVALID_CREDENTIALS"),
                                      QStringLiteral("requestFailed:auth/login"),
                                      QStringLiteral("loginError:Wrong password")}));
        QCOMPARE(requestFailed.first().at(1).value<AppFailure>(), failure);
        QVERIFY(!manager->isAuthenticated());

        const auto records = m_harness.logRecords(QStringLiteral("login_failed"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().value(QStringLiteral("category")), QStringLiteral("api"));
        QCOMPARE(records.first().value(QStringLiteral("level")), QStringLiteral("warning"));
        QCOMPARE(records.first().value(QStringLiteral("status")), QStringLiteral("401"));
        QCOMPARE(records.first().value(QStringLiteral("network_error")), QStringLiteral("204"));
        QCOMPARE(records.first().value(QStringLiteral("response_bytes")), QString::number(body.size()));
    }

    void conflictExplainsTheOtherDevice_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("message");
        QTest::newRow("blank body") << QByteArray("  \r\n \n\t ")
                                    << QStringLiteral("This account is already active on another device.");
        QTest::newRow("body with a message")
            << QByteArray("{\"message\":\"Signed in elsewhere\"}") << QStringLiteral("Signed in elsewhere");
        QTest::newRow("body without a message")
            << QByteArray("busy") << QStringLiteral("Sign in could not be completed.");
    }

    void conflictExplainsTheOtherDevice()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, message);
        const auto manager = m_harness.makeManager();

        const AppFailure failure =
            failedSignIn(*manager, FixtureServer::Response(409, body, "application/json"));

        AppFailure expected = AppFailure::fromResponse(409, QNetworkReply::ContentConflictError, body,
                                                       QStringLiteral("Sign in could not be completed."));
        expected.userMessage = message;
        QCOMPARE(failure, expected);
        QCOMPARE(failure.code, QStringLiteral("HTTP_409"));
    }

    void invalidSignInAnswerStoresNothing_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("no refresh token") << QByteArray("{\"accessToken\":\"a\"}");
        QTest::newRow("empty access token") << QByteArray("{\"accessToken\":\"\",\"refreshToken\":\"r\"}");
        QTest::newRow("null refresh token") << QByteArray("{\"accessToken\":\"a\",\"refreshToken\":null}");
        QTest::newRow("not an object") << QByteArray("[\"a\",\"r\"]");
        QTest::newRow("not JSON") << QByteArray("welcome");
    }

    void invalidSignInAnswerStoresNothing()
    {
        QFETCH(QByteArray, body);
        const auto manager = m_harness.makeManager();
        QStringList events;
        NetworkManagerHarness::recordSignals(*manager, events);

        const AppFailure failure =
            failedSignIn(*manager, FixtureServer::Response(200, body, "application/json"));

        QCOMPARE(failure.code, QStringLiteral("LOGIN_RESPONSE_INVALID"));
        QCOMPARE(failure.userMessage, QStringLiteral("Invalid response from server."));
        QCOMPARE(failure.category, QStringLiteral("server"));
        QVERIFY(failure.retryable);
        QCOMPARE(events.mid(1), (QStringList{QStringLiteral("loginFailed:LOGIN_RESPONSE_INVALID"),
                                             QStringLiteral("requestFailed:auth/login"),
                                             QStringLiteral("loginError:Invalid response from server.")}));
        QVERIFY(!manager->isAuthenticated());
        QVERIFY(m_harness.keychain().value(QStringLiteral("accessToken")).value_or(QString()).isEmpty());
        QVERIFY(!m_harness.keychain().value(QStringLiteral("refreshToken")).has_value());
        QVERIFY(!backgroundTimer(*manager)->isActive());
        QVERIFY(m_harness.logRecords(QStringLiteral("login_failed")).isEmpty());
    }

    void hungSignInTimesOut()
    {
        NetworkManagerHarness::ManagerOptions options;
        options.transferTimeoutMs = 300;
        const auto manager = m_harness.makeManager(options);
        QSignalSpy errors(manager.get(), &NetworkManager::loginError);

        const AppFailure failure = failedSignIn(*manager, FixtureServer::Response::hung());

        QCOMPARE(failure.code, QStringLiteral("NETWORK_TIMEOUT"));
        QCOMPARE(failure.networkError, 4);
        QCOMPARE(failure.userMessage, QStringLiteral("Sign in could not be completed."));
        QVERIFY(failure.retryable);
        QCOMPARE(errors.count(), 1);
        QCOMPARE(m_harness.logRecords(QStringLiteral("login_failed")).size(), 1);
    }

    void signOutClearsEverythingLocally_data()
    {
        QTest::addColumn<bool>("signedIn");
        QTest::newRow("signed in") << true;
        QTest::newRow("already signed out") << false;
    }

    void signOutClearsEverythingLocally()
    {
        QFETCH(bool, signedIn);
        const auto manager = m_harness.makeManager();
        if (signedIn)
            signIn(*manager, m_harness.tokenExpiringIn(3600), "refresh-1");
        const int requestsBefore = m_harness.server().totalRequestCount();
        const quint64 generation = manager->mediaAuthenticationSnapshot().generation;
        QStringList events;
        NetworkManagerHarness::recordSignals(*manager, events);

        manager->logout();

        QCOMPARE(events, (QStringList{QStringLiteral("media:"), QStringLiteral("isAuthenticatedChanged"),
                                      QStringLiteral("loginMobileNumberChanged"),
                                      QStringLiteral("protectedTransfersInvalidated"),
                                      QStringLiteral("sessionExpired")}));
        QCOMPARE(manager->mediaAuthenticationSnapshot().generation, generation + 1);
        QVERIFY(!manager->isAuthenticated());
        QVERIFY(manager->loginMobileNumber().isEmpty());
        QVERIFY(!m_harness.keychain().value(QStringLiteral("accessToken")).has_value());
        QVERIFY(!m_harness.keychain().value(QStringLiteral("refreshToken")).has_value());
        QVERIFY(!backgroundTimer(*manager)->isActive());
        QCOMPARE(m_harness.server().totalRequestCount(), requestsBefore);

        events.clear();
        manager->logout();
        QVERIFY(!events.contains(QStringLiteral("sessionExpired")));
        QVERIFY(events.contains(QStringLiteral("loginMobileNumberChanged")));
    }

    void signOutAfterARefusedRefreshDoesNotExpireAgain()
    {
        m_harness.server().setResponse(kRefreshRoute, FixtureServer::Response::json("{}", 401));
        const auto manager =
            m_harness.makeSignedInManager(m_harness.tokenExpiringIn(3600), QStringLiteral("refresh-1"));
        QSignalSpy expired(manager.get(), &NetworkManager::sessionExpired);
        manager->refreshTokens({});
        QTRY_COMPARE(expired.count(), 1);

        manager->logout();
        QCOMPARE(expired.count(), 1);

        // A sign-in opens a new session, which can expire again.
        signIn(*manager, m_harness.tokenExpiringIn(3600), "refresh-2");
        manager->logout();
        QCOMPARE(expired.count(), 2);
    }

    void signOutEndsTheRefreshInFlight_data()
    {
        QTest::addColumn<bool>("signInMeanwhile");
        QTest::newRow("stays signed out") << false;
        QTest::newRow("signs in before the late reply") << true;
    }

    void signOutEndsTheRefreshInFlight()
    {
        QFETCH(bool, signInMeanwhile);
        FixtureServer::Response late =
            tokensAnswer(m_harness.tokenExpiringIn(3600, QStringLiteral("late")), "late-refresh");
        late.held = true;
        m_harness.server().setResponse(kRefreshRoute, late);
        m_harness.server().setResponse(QStringLiteral("/api/v1/institutions"),
                                       FixtureServer::Response::json("[]"));
        const auto manager =
            m_harness.makeSignedInManager(m_harness.tokenExpiringIn(-10), QStringLiteral("refresh-1"));
        QSignalSpy expired(manager.get(), &NetworkManager::sessionExpired);
        QSignalSpy changed(manager.get(), &NetworkManager::mediaAuthenticationChanged);

        NetworkManagerHarness::CallbackRecord request;
        manager->sendRequestDetailed(Method::Get, QStringLiteral("users/me"), {},
                                     NetworkManagerHarness::recordInto(request));
        std::optional<AuthRefreshResult> waiter;
        manager->refreshTokens([&waiter](const AuthRefreshResult &result) { waiter = result; });
        QTRY_COMPARE(m_harness.server().requests(kRefreshRoute).size(), 1);

        manager->logout();

        // The waiters were served at once, with one clear and one expiry.
        QCOMPARE(request.calls, 1);
        QCOMPARE(request.failure.httpStatus, 401);
        QCOMPARE(request.failure.networkError, 204);
        QCOMPARE(request.failure.message, kSessionExpired);
        QVERIFY(waiter.has_value());
        QVERIFY(!waiter->success);
        QVERIFY(waiter->sessionExpired);
        QCOMPARE(waiter->failure.message, kSessionExpired);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(expired.count(), 1);

        const QByteArray ownAccess = m_harness.tokenExpiringIn(3600, QStringLiteral("own"));
        if (signInMeanwhile)
            signIn(*manager, ownAccess, "own-refresh");
        m_harness.server().release(kRefreshRoute);
        QTRY_COMPARE(m_harness.server().requestsInFlight(), 0);
        // One more round trip, so that a late reply would have been handled by now.
        NetworkManagerHarness::CallbackRecord roundTrip;
        manager->sendRequestDetailed(Method::Get, QStringLiteral("institutions"), {},
                                     NetworkManagerHarness::recordInto(roundTrip));
        QTRY_COMPARE(roundTrip.calls, 1);

        QCOMPARE(manager->isAuthenticated(), signInMeanwhile);
        QCOMPARE(m_harness.keychain().value(QStringLiteral("accessToken")),
                 signInMeanwhile ? std::optional<QString>(QString::fromUtf8(ownAccess)) : std::nullopt);
        QCOMPARE(manager->mediaAuthenticationSnapshot().authorization,
                 signInMeanwhile ? "Bearer " + ownAccess : QByteArray());
        QCOMPARE(expired.count(), 1);
        QCOMPARE(m_harness.server().requests(kRefreshRoute).size(), 1);
    }

    // Sign-out ends a refresh whatever it is doing: still waiting to leave (an upload starts on a
    // later turn of the event loop), or refused with its end still on the way. Either way the
    // refresh expires the session once, a refresh that had not left never reaches the server, and
    // Qt has no second failure on one reply to warn about.
    void signOutEndsTheRefreshAtAnyStep_data()
    {
        QTest::addColumn<bool>("beforeItLeaves");
        QTest::addColumn<int>("refreshesReceived");
        QTest::newRow("before it leaves") << true << 0;
        QTest::newRow("between its refusal and its end") << false << 1;
    }

    void signOutEndsTheRefreshAtAnyStep()
    {
        QFETCH(bool, beforeItLeaves);
        QFETCH(int, refreshesReceived);
        m_harness.server().setResponse(kRefreshRoute, FixtureServer::Response::json("{}", 401));
        m_harness.server().setResponse(QStringLiteral("/api/v1/institutions"),
                                       FixtureServer::Response::json("[]"));
        const auto manager =
            m_harness.makeSignedInManager(m_harness.tokenExpiringIn(-10), QStringLiteral("refresh-1"));
        QSignalSpy expired(manager.get(), &NetworkManager::sessionExpired);
        std::optional<AuthRefreshResult> waiter;
        manager->refreshTokens([&waiter](const AuthRefreshResult &result) { waiter = result; });
        auto *refresh = manager->findChild<QNetworkReply *>();
        QVERIFY(refresh);
        bool signedOutWhileRefreshing = false;
        if (beforeItLeaves) {
            signedOutWhileRefreshing = !waiter.has_value();
            manager->logout();
        } else {
            connect(refresh, &QNetworkReply::errorOccurred, this,
                    [&manager, &waiter, &signedOutWhileRefreshing] {
                        signedOutWhileRefreshing = !waiter.has_value();
                        manager->logout();
                    });
        }

        QTRY_VERIFY_WITH_TIMEOUT(waiter.has_value(), 10000);
        // One more round trip, so that a refresh still on its way would have arrived by now.
        NetworkManagerHarness::CallbackRecord roundTrip;
        manager->sendRequestDetailed(Method::Get, QStringLiteral("institutions"), {},
                                     NetworkManagerHarness::recordInto(roundTrip));
        QTRY_COMPARE(roundTrip.calls, 1);

        QVERIFY(signedOutWhileRefreshing);
        QVERIFY(waiter->sessionExpired);
        QCOMPARE(expired.count(), 1);
        QVERIFY(!manager->isAuthenticated());
        QCOMPARE(m_harness.server().requests(kRefreshRoute).size(), refreshesReceived);
        QCOMPARE(m_harness.logRecords(QStringLiteral("message")).size(), 0);
    }

    void authenticatedUserIdReadsTheToken_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<QString>("userId");
        QTest::newRow("blank sub, then userId")
            << JwtMaker::make({{QStringLiteral("sub"), QStringLiteral("  ")},
                               {QStringLiteral("userId"), QStringLiteral("u-7")}})
            << QStringLiteral("u-7");
        QTest::newRow("sub with blanks")
            << JwtMaker::make({{QStringLiteral("sub"), QStringLiteral(" u-1 ")}}) << QStringLiteral("u-1");
        QTest::newRow("numeric id") << JwtMaker::make({{QStringLiteral("id"), 42}}) << QStringLiteral("42");
        QTest::newRow("fractional id")
            << JwtMaker::make({{QStringLiteral("id"), 4.5}}) << QStringLiteral("0");
        QTest::newRow("boolean sub, then id")
            << JwtMaker::make({{QStringLiteral("sub"), true}, {QStringLiteral("id"), QStringLiteral("u-9")}})
            << QStringLiteral("u-9");
        QTest::newRow("two parts") << "x." + JwtMaker::base64Url("{\"sub\":\"u-2\"}")
                                   << QStringLiteral("u-2");
        QTest::newRow("a single part") << QByteArray("opaque-token") << QString();
        QTest::newRow("no claim") << JwtMaker::make({{QStringLiteral("exp"), 1}}) << QString();
    }

    void authenticatedUserIdReadsTheToken()
    {
        QFETCH(QByteArray, token);
        QFETCH(QString, userId);
        const auto manager = m_harness.makeSignedInManager(token, QStringLiteral("refresh-1"));
        QCOMPARE(manager->authenticatedUserId(), userId);
    }

    void signsInAgainstTheSamplePlatform()
    {
        SampleServer::Options platformOptions;
        platformOptions.port = 0;
        platformOptions.dataFolder = QStringLiteral(QUORIN_SAMPLE_DATA_DIR);
        platformOptions.mediaFolder = FixturePaths::mediaFolder();
        // As short as in the demo.
        platformOptions.accessTokenLifetimeSeconds = 120;
        SampleServer platform(platformOptions);
        QVERIFY2(platform.start(), qPrintable(platform.errorString()));

        NetworkManager::Configuration configuration;
        configuration.baseUrl = platform.baseUrl().resolved(QUrl(QStringLiteral("/api/v1/"))).toString();
        configuration.credentialStore = m_harness.keychain().createStore();
        NetworkManager manager(std::move(configuration));

        QSignalSpy failed(&manager, &NetworkManager::loginFailed);
        manager.login(kNumber, QStringLiteral("not-the-password"), QString());
        QVERIFY(failed.wait(10000));
        QCOMPARE(failed.first().first().value<AppFailure>().code, QStringLiteral("INVALID_CREDENTIALS"));
        QCOMPARE(failed.first().first().value<AppFailure>().userMessage, QStringLiteral("Wrong password"));

        QSignalSpy succeeded(&manager, &NetworkManager::loginSuccess);
        manager.login(kNumber, QStringLiteral("quorin-demo"), QString());
        QVERIFY(succeeded.wait(10000));
        QCOMPARE(manager.authenticatedUserId(), QStringLiteral("u-1001"));

        NetworkManagerHarness::CallbackRecord me;
        manager.sendRequestDetailed(Method::Get, QStringLiteral("users/me?include=enrollments"), {},
                                    NetworkManagerHarness::recordInto(me));
        QTRY_COMPARE(me.calls, 1);
        QVERIFY2(me.failure.failure.code.isEmpty(), qPrintable(me.failure.message));
        QCOMPARE(me.document.object().value(QStringLiteral("id")).toString(), QStringLiteral("u-1001"));

        // The platform rotates the refresh token; the new access token still opens the account.
        const QByteArray before = manager.mediaAuthenticationSnapshot().authorization;
        std::optional<AuthRefreshResult> refreshed;
        manager.refreshTokens([&refreshed](const AuthRefreshResult &result) { refreshed = result; });
        QTRY_VERIFY(refreshed.has_value());
        QVERIFY(refreshed->success);
        QVERIFY(manager.mediaAuthenticationSnapshot().authorization != before);
        me = {};
        manager.sendRequestDetailed(Method::Get, QStringLiteral("users/me?include=enrollments"), {},
                                    NetworkManagerHarness::recordInto(me));
        QTRY_COMPARE(me.calls, 1);
        QVERIFY(me.failure.failure.code.isEmpty());
    }

    void processWideManagerOutlivesTheApplication()
    {
        m_harness.server().setResponse(QStringLiteral("/api/v1/users/me"),
                                       FixtureServer::Response::json("{\"id\":\"u-1\"}"));
        QProcess probe;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QUORIN_API_BASE_URL"), m_harness.baseUrl());
        environment.insert(QStringLiteral("QUORIN_CA_FILE"), FixtureServer::certificateAuthorityFile());
        environment.remove(QStringLiteral("QUORIN_LOG_CONSOLE"));
        probe.setProcessEnvironment(environment);
        // The fixture server answers from this process's event loop while the probe runs.
        probe.start(QStringLiteral(QUORIN_NETWORK_MANAGER_PROBE));
        QVERIFY(probe.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(probe.state(), QProcess::NotRunning, 60000);

        const QByteArray errors = probe.readAllStandardError();
        QVERIFY2(errors.isEmpty(), errors.constData());
        QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
        QCOMPARE(probe.exitCode(), 0);
        QCOMPARE(probe.readAllStandardOutput().trimmed(), QByteArray("qml_sees_instance=true\nanswered=u-1"));
        const QList<FixtureServer::Request> sent =
            m_harness.server().requests(QStringLiteral("/api/v1/users/me"));
        QCOMPARE(sent.size(), 1);
        QVERIFY(sent.first().header("Authorization").startsWith("Bearer "));
    }
};

QTEST_GUILESS_MAIN(tst_NetworkManagerSignIn)
#include "tst_NetworkManagerSignIn.moc"
