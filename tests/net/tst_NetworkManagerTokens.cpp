#include "app/PreferencesStore.h"
#include "tests/net/NetworkManagerHarness.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using quorin::test::FixtureServer;
using quorin::test::InMemoryKeychain;
using quorin::test::NetworkManagerHarness;
using Method = NetworkManager::HttpMethod;

Q_DECLARE_METATYPE(quorin::test::FixtureServer::Response)

namespace {

const QString kRefreshRoute = QStringLiteral("/api/v1/auth/refresh");
const QString kSessionExpired = QStringLiteral("Your session has expired. Please sign in again.");
const QString kUnavailable = QStringLiteral("The server is temporarily unavailable. Please try again.");

QTimer *backgroundTimer(NetworkManager &manager)
{
    return manager.findChild<QTimer *>(QStringLiteral("backgroundRefreshTimer"));
}

std::unique_ptr<QSettings> legacySettings()
{
    return quorin::PreferencesStore::open();
}

} // namespace

class tst_NetworkManagerTokens : public QObject
{
    Q_OBJECT

private:
    NetworkManagerHarness m_harness;

    // A manager whose access token has run out, so every protected request refreshes first.
    std::unique_ptr<NetworkManager> makeExpiredManager(
        const NetworkManagerHarness::ManagerOptions &options = NetworkManagerHarness::ManagerOptions())
    {
        return m_harness.makeSignedInManager(m_harness.tokenExpiringIn(-10), QStringLiteral("refresh-1"),
                                             options);
    }

    void verifyTokensKept(NetworkManager &manager, const QByteArray &access)
    {
        QVERIFY(manager.isAuthenticated());
        QCOMPARE(m_harness.keychain().value(QStringLiteral("accessToken")), QString::fromUtf8(access));
        QCOMPARE(m_harness.keychain().value(QStringLiteral("refreshToken")), QStringLiteral("refresh-1"));
        QCOMPARE(manager.mediaAuthenticationSnapshot().authorization, "Bearer " + access);
    }

    static void verifyUnavailable(const AuthRefreshResult &result)
    {
        QVERIFY(!result.success);
        QVERIFY(!result.sessionExpired);
        QCOMPARE(result.failure.message, kUnavailable);
        QVERIFY(result.failure.retryable);
        QVERIFY(!result.failure.authentication);
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    void expiringRequestsShareOneRefresh()
    {
        const QByteArray renewed = m_harness.tokenExpiringIn(3600, QStringLiteral("renewed"));
        m_harness.answerRefresh(renewed, QStringLiteral("refresh-2"));
        const auto manager = makeExpiredManager();
        const QByteArray expired = manager->mediaAuthenticationSnapshot().authorization.mid(7);

        int answered = 0;
        const QStringList paths{QStringLiteral("first"), QStringLiteral("second"), QStringLiteral("third")};
        for (const QString &path : paths)
            manager->sendRequestDetailed(
                Method::Get, path, {},
                [&answered](const QJsonDocument &, const NetworkFailure &) { ++answered; });
        QTRY_COMPARE(answered, 3);

        const QList<FixtureServer::Request> refreshes = m_harness.requestsTo(QStringLiteral("auth/refresh"));
        QCOMPARE(refreshes.size(), 1);
        QCOMPARE(refreshes.first().method, QByteArray("POST"));
        QCOMPARE(refreshes.first().header("Authorization"), QByteArray("Bearer refresh-1"));
        QVERIFY(!refreshes.first().header("Authorization").contains(expired));
        QVERIFY(refreshes.first().body.isEmpty());

        // Every request went out after the refresh, with the new token. (They travel on parallel
        // connections, so the server may see them in any order.)
        QStringList sent;
        for (const FixtureServer::Request &request : m_harness.server().requests()) {
            if (request.path == kRefreshRoute.toUtf8()) {
                QVERIFY(sent.isEmpty());
                continue;
            }
            QCOMPARE(request.header("Authorization"), "Bearer " + renewed);
            sent.append(QString::fromUtf8(request.path.mid(8)));
        }
        sent.sort();
        QCOMPARE(sent, paths);
    }

    void queuedRefreshCallersAreServedInOrder()
    {
        m_harness.answerRefresh(m_harness.tokenExpiringIn(3600, QStringLiteral("renewed")),
                                QStringLiteral("refresh-2"));
        const auto manager =
            m_harness.makeSignedInManager(m_harness.tokenExpiringIn(3600), QStringLiteral("refresh-1"));

        QList<int> served;
        QList<AuthRefreshResult> results;
        for (int waiter = 1; waiter <= 3; ++waiter) {
            manager->refreshTokens([&, waiter](const AuthRefreshResult &result) {
                served.append(waiter);
                results.append(result);
            });
        }
        QVERIFY(served.isEmpty());
        QTRY_COMPARE(served.size(), 3);
        QCOMPARE(served, (QList<int>{1, 2, 3}));
        for (const AuthRefreshResult &result : std::as_const(results)) {
            QVERIFY(result.success);
            QVERIFY(!result.sessionExpired);
            QVERIFY(result.failure.failure.code.isEmpty());
        }
        QCOMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).size(), 1);
    }

    void refreshWithoutRotationKeepsTheRefreshToken_data()
    {
        QTest::addColumn<QByteArray>("rotation");
        QTest::newRow("absent") << QByteArray();
        QTest::newRow("empty") << QByteArray(",\"refreshToken\":\"\"");
        QTest::newRow("not text") << QByteArray(",\"refreshToken\":7");
    }

    void refreshWithoutRotationKeepsTheRefreshToken()
    {
        QFETCH(QByteArray, rotation);
        const QByteArray renewed = m_harness.tokenExpiringIn(3600, QStringLiteral("renewed"));
        m_harness.server().setResponse(
            kRefreshRoute,
            FixtureServer::Response::json("{\"accessToken\":\"" + renewed + '"' + rotation + '}'));
        const auto manager =
            m_harness.makeSignedInManager(m_harness.tokenExpiringIn(3600), QStringLiteral("refresh-1"));
        const quint64 generation = manager->mediaAuthenticationSnapshot().generation;
        QSignalSpy changed(manager.get(), &NetworkManager::mediaAuthenticationChanged);

        bool served = false;
        manager->refreshTokens([&served](const AuthRefreshResult &result) { served = result.success; });
        QTRY_VERIFY(served);

        QCOMPARE(changed.count(), 1);
        const MediaAuthSnapshot snapshot = manager->mediaAuthenticationSnapshot();
        QCOMPARE(snapshot.generation, generation + 1);
        QCOMPARE(snapshot.authorization, "Bearer " + renewed);
        QCOMPARE(changed.first().first().value<MediaAuthSnapshot>(), snapshot);
        QCOMPARE(m_harness.keychain().value(QStringLiteral("refreshToken")), QStringLiteral("refresh-1"));

        // The next refresh still presents the held refresh token.
        manager->refreshTokens({});
        QTRY_COMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).size(), 2);
        QCOMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).last().header("Authorization"),
                 QByteArray("Bearer refresh-1"));
    }

    void refreshFailuresKeepTheSession_data()
    {
        QTest::addColumn<FixtureServer::Response>("answer");
        QTest::addColumn<int>("status");
        QTest::newRow("200 without accessToken") << FixtureServer::Response::json("{\"token\":\"x\"}") << 200;
        QTest::newRow("empty accessToken") << FixtureServer::Response::json("{\"accessToken\":\"\"}") << 200;
        QTest::newRow("accessToken not text") << FixtureServer::Response::json("{\"accessToken\":5}") << 200;
        QTest::newRow("not JSON") << FixtureServer::Response(200, "accessToken", "text/plain") << 200;
        QTest::newRow("402") << FixtureServer::Response::json("{\"message\":\"Pay\"}", 402) << 402;
        QTest::newRow("404") << FixtureServer::Response::json("{}", 404) << 404;
        QTest::newRow("500") << FixtureServer::Response::json("{\"message\":\"Down\"}", 500) << 500;
        FixtureServer::Response dropped = FixtureServer::Response::json("{\"accessToken\":\"cut-short\"}");
        dropped.dropAfterBodyBytes = 3;
        QTest::newRow("dropped connection") << dropped << -1;
    }

    void refreshFailuresKeepTheSession()
    {
        QFETCH(FixtureServer::Response, answer);
        QFETCH(int, status);
        m_harness.server().setResponse(kRefreshRoute, answer);
        const QByteArray access = m_harness.tokenExpiringIn(3600);
        const auto manager = m_harness.makeSignedInManager(access, QStringLiteral("refresh-1"));
        QSignalSpy expired(manager.get(), &NetworkManager::sessionExpired);
        QSignalSpy invalidated(manager.get(), &NetworkManager::protectedTransfersInvalidated);

        std::optional<AuthRefreshResult> result;
        manager->refreshTokens([&result](const AuthRefreshResult &outcome) { result = outcome; });
        QTRY_VERIFY(result.has_value());

        verifyUnavailable(*result);
        if (status >= 0)
            QCOMPARE(result->failure.httpStatus, status);
        else
            QVERIFY(result->failure.networkError != 0);
        verifyTokensKept(*manager, access);
        QCOMPARE(expired.count(), 0);
        QCOMPARE(invalidated.count(), 0);
        QVERIFY(backgroundTimer(*manager)->isActive());
    }

    void hungRefreshServesItsWaitersAndLetsTheNextOneStart()
    {
        m_harness.server().setResponses(
            kRefreshRoute, {FixtureServer::Response::hung(),
                            FixtureServer::Response::json(
                                "{\"accessToken\":\"" +
                                m_harness.tokenExpiringIn(3600, QStringLiteral("renewed")) + "\"}")});
        NetworkManagerHarness::ManagerOptions options;
        options.transferTimeoutMs = 300;
        const QByteArray access = m_harness.tokenExpiringIn(-10);
        const auto manager = m_harness.makeSignedInManager(access, QStringLiteral("refresh-1"), options);

        std::optional<AuthRefreshResult> waiter;
        NetworkManagerHarness::CallbackRecord request;
        manager->refreshTokens([&waiter](const AuthRefreshResult &outcome) { waiter = outcome; });
        manager->sendRequestDetailed(Method::Get, QStringLiteral("users/me"), {},
                                     NetworkManagerHarness::recordInto(request));
        QTRY_VERIFY_WITH_TIMEOUT(waiter.has_value(), 10000);

        verifyUnavailable(*waiter);
        QCOMPARE(waiter->failure.networkError, 4);
        QCOMPARE(waiter->failure.failure.code, QStringLiteral("NETWORK_TIMEOUT"));
        QCOMPARE(request.calls, 1);
        QCOMPARE(request.failure.message, kUnavailable);
        verifyTokensKept(*manager, access);

        // Nothing is left in flight: the next caller sends a refresh of its own.
        bool renewed = false;
        manager->refreshTokens([&renewed](const AuthRefreshResult &outcome) { renewed = outcome.success; });
        QTRY_VERIFY(renewed);
        QCOMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).size(), 2);
    }

    void refusedRefreshEndsTheSession_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("400") << 400;
        QTest::newRow("401") << 401;
        QTest::newRow("403") << 403;
    }

    void refusedRefreshEndsTheSession()
    {
        QFETCH(int, status);
        m_harness.server().setResponse(
            kRefreshRoute, FixtureServer::Response::json("{\"message\":\"Token revoked\"}", status));
        const auto manager = makeExpiredManager();
        // Copies left by an earlier version go too.
        legacySettings()->setValue(QStringLiteral("accessToken"), QStringLiteral("legacy-access"));
        legacySettings()->setValue(QStringLiteral("refreshToken"), QStringLiteral("legacy-refresh"));
        QStringList events;
        NetworkManagerHarness::recordSignals(*manager, events);

        QList<AuthRefreshResult> results;
        for (int waiter = 1; waiter <= 2; ++waiter) {
            manager->refreshTokens([&, waiter](const AuthRefreshResult &result) {
                events.append(QStringLiteral("waiter %1").arg(waiter));
                results.append(result);
            });
        }
        QTRY_COMPARE(results.size(), 2);

        QCOMPARE(events,
                 (QStringList{QStringLiteral("media:"), QStringLiteral("isAuthenticatedChanged"),
                              QStringLiteral("protectedTransfersInvalidated"), QStringLiteral("waiter 1"),
                              QStringLiteral("waiter 2"), QStringLiteral("sessionExpired")}));
        for (const AuthRefreshResult &result : std::as_const(results)) {
            QVERIFY(!result.success);
            QVERIFY(result.sessionExpired);
            QCOMPARE(result.failure.httpStatus, status);
            QCOMPARE(result.failure.message, kSessionExpired);
            QCOMPARE(result.failure.failure.userMessage, kSessionExpired);
            QVERIFY(result.failure.authentication);
            QVERIFY(!result.failure.retryable);
        }
        QVERIFY(!manager->isAuthenticated());
        QVERIFY(!m_harness.keychain().value(QStringLiteral("accessToken")).has_value());
        QVERIFY(!m_harness.keychain().value(QStringLiteral("refreshToken")).has_value());
        QVERIFY(!legacySettings()->contains(QStringLiteral("accessToken")));
        QVERIFY(!legacySettings()->contains(QStringLiteral("refreshToken")));
        QVERIFY(!backgroundTimer(*manager)->isActive());
    }

    void secondRefusedRefreshDoesNotExpireAgain()
    {
        m_harness.server().setResponse(kRefreshRoute, FixtureServer::Response::json("{}", 401));
        const auto manager = makeExpiredManager();
        QSignalSpy expired(manager.get(), &NetworkManager::sessionExpired);
        QSignalSpy invalidated(manager.get(), &NetworkManager::protectedTransfersInvalidated);

        int served = 0;
        manager->refreshTokens([&served](const AuthRefreshResult &) { ++served; });
        QTRY_COMPARE(served, 1);
        manager->refreshTokens([&served](const AuthRefreshResult &result) {
            QVERIFY(result.sessionExpired);
            ++served;
        });
        QCOMPARE(served, 2);
        QCOMPARE(invalidated.count(), 2);
        QCOMPARE(expired.count(), 1);
    }

    void backgroundTickRefreshesOnceWhileIdle()
    {
        const QByteArray renewed = m_harness.tokenExpiringIn(3600, QStringLiteral("renewed"));
        FixtureServer::Response held = FixtureServer::Response::json("{\"accessToken\":\"" + renewed +
                                                                     "\",\"refreshToken\":\"refresh-2\"}");
        held.held = true;
        m_harness.server().setResponse(kRefreshRoute, held);
        NetworkManagerHarness::ManagerOptions options;
        options.backgroundRefreshIntervalMs = 20;
        const auto manager = m_harness.makeSignedInManager(m_harness.tokenExpiringIn(3600),
                                                           QStringLiteral("refresh-1"), options);
        QTimer *timer = backgroundTimer(*manager);
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 20);

        QTRY_COMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).size(), 1);
        // More ticks come while that refresh is outstanding; none of them sends another.
        QSignalSpy ticks(timer, &QTimer::timeout);
        QTRY_VERIFY(ticks.count() >= 3);
        QCOMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).size(), 1);
        QCOMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).first().header("Authorization"),
                 QByteArray("Bearer refresh-1"));

        QSignalSpy changed(manager.get(), &NetworkManager::mediaAuthenticationChanged);
        m_harness.server().release(kRefreshRoute);
        QTRY_VERIFY(changed.count() >= 1);
        QCOMPARE(changed.first().first().value<MediaAuthSnapshot>().authorization, "Bearer " + renewed);

        const auto records = m_harness.logRecords(QStringLiteral("token_refresh"));
        QVERIFY(!records.isEmpty());
        QCOMPARE(records.first().value(QStringLiteral("category")), QStringLiteral("api"));
        QCOMPARE(records.first().value(QStringLiteral("level")), QStringLiteral("info"));
        QCOMPARE(records.first().value(QStringLiteral("status")), QStringLiteral("200"));
        QCOMPARE(records.first().value(QStringLiteral("network_error")), QStringLiteral("0"));
        bool numeric = false;
        QVERIFY(records.first().value(QStringLiteral("duration_ms")).toLongLong(&numeric) >= 0);
        QVERIFY(numeric);
    }

    void waiterAskingAgainStartsANewRefresh()
    {
        const QByteArray first = m_harness.tokenExpiringIn(3600, QStringLiteral("first"));
        const QByteArray second = m_harness.tokenExpiringIn(3600, QStringLiteral("second"));
        m_harness.server().setResponses(
            kRefreshRoute, {FixtureServer::Response::json("{\"accessToken\":\"" + first +
                                                          "\",\"refreshToken\":\"refresh-2\"}"),
                            FixtureServer::Response::json("{\"accessToken\":\"" + second +
                                                          "\",\"refreshToken\":\"refresh-3\"}")});
        const auto manager =
            m_harness.makeSignedInManager(m_harness.tokenExpiringIn(3600), QStringLiteral("refresh-1"));

        QList<QByteArray> seen;
        manager->refreshTokens([&](const AuthRefreshResult &) {
            seen.append(manager->mediaAuthenticationSnapshot().authorization);
            manager->refreshTokens([&](const AuthRefreshResult &result) {
                QVERIFY(result.success);
                seen.append(manager->mediaAuthenticationSnapshot().authorization);
            });
        });
        // Both refreshes may finish between two polls on a busy machine: wait for both.
        QTRY_COMPARE(seen.size(), 2);
        QCOMPARE(seen.first(), "Bearer " + first);
        QCOMPARE(seen.last(), "Bearer " + second);
        const QList<FixtureServer::Request> refreshes = m_harness.requestsTo(QStringLiteral("auth/refresh"));
        QCOMPARE(refreshes.size(), 2);
        QCOMPARE(refreshes.last().header("Authorization"), QByteArray("Bearer refresh-2"));
    }

    void constructionMovesLegacyTokensToTheKeychain()
    {
        const QByteArray access = m_harness.tokenExpiringIn(3600);
        legacySettings()->setValue(QStringLiteral("accessToken"), QString::fromUtf8(access));
        legacySettings()->setValue(QStringLiteral("refreshToken"), QStringLiteral("legacy-refresh"));
        NetworkManagerHarness::ManagerOptions options;
        options.backgroundRefreshIntervalMs = 60000;
        const auto manager = m_harness.makeManager(options);

        QVERIFY(manager->isAuthenticated());
        QCOMPARE(m_harness.keychain().value(QStringLiteral("accessToken")), QString::fromUtf8(access));
        QCOMPARE(m_harness.keychain().value(QStringLiteral("refreshToken")),
                 QStringLiteral("legacy-refresh"));
        QVERIFY(!legacySettings()->contains(QStringLiteral("accessToken")));
        QVERIFY(!legacySettings()->contains(QStringLiteral("refreshToken")));
        QVERIFY(backgroundTimer(*manager)->isActive());
        QCOMPARE(backgroundTimer(*manager)->interval(), 60000);

        m_harness.keychain().clear();
        const auto signedOut = m_harness.makeManager(options);
        QVERIFY(!signedOut->isAuthenticated());
        QVERIFY(!backgroundTimer(*signedOut)->isActive());
    }

    void keychainWriteFailureKeepsTheTokenInMemory()
    {
        const QByteArray renewed = m_harness.tokenExpiringIn(3600, QStringLiteral("renewed"));
        m_harness.answerRefresh(renewed, QStringLiteral("refresh-2"));
        const auto manager = makeExpiredManager();
        m_harness.keychain().fail(InMemoryKeychain::Operation::Update, QStringLiteral("keyring is locked"));
        m_harness.keychain().fail(InMemoryKeychain::Operation::Add, QStringLiteral("keyring is locked"));

        NetworkManagerHarness::CallbackRecord result;
        manager->sendRequestDetailed(Method::Get, QStringLiteral("users/me"), {},
                                     NetworkManagerHarness::recordInto(result));
        QTRY_COMPARE(result.calls, 1);

        QVERIFY(manager->isAuthenticated());
        QCOMPARE(m_harness.requestsTo(QStringLiteral("users/me")).first().header("Authorization"),
                 "Bearer " + renewed);
        QStringList warnings;
        for (const auto &record : m_harness.logRecords(QStringLiteral("message"))) {
            if (record.value(QStringLiteral("level")) == QLatin1String("warning"))
                warnings.append(record.value(QStringLiteral("message")));
        }
        QVERIFY2(warnings.contains(QStringLiteral("Failed to save access token securely: keyring is locked")),
                 qPrintable(warnings.join(QLatin1Char('|'))));
        QVERIFY(
            warnings.contains(QStringLiteral("Failed to save refresh token securely: keyring is locked")));
    }
};

QTEST_GUILESS_MAIN(tst_NetworkManagerTokens)
#include "tst_NetworkManagerTokens.moc"
