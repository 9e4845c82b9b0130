#include "app/DiagnosticLogger.h"
#include "net/MediaUrlRules.h"
#include "tests/net/NetworkManagerHarness.h"
#include "testsupport/LogRecorder.h"

#include <QJsonObject>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

using quorin::test::FixtureServer;
using quorin::test::LogRecorder;
using quorin::test::NetworkManagerHarness;
using Response = FixtureServer::Response;

namespace {

// The three ways a credential leaves the client for the backend.
enum class Call {
    RestWithBearer, // a protected GET, carrying the access token
    Refresh,        // "auth/refresh", carrying the refresh token
    SignIn,         // "auth/login", carrying the password in its body
};

const QString kPassword = QStringLiteral("correct horse battery staple");

QString pathOf(Call call)
{
    switch (call) {
    case Call::RestWithBearer:
        return QStringLiteral("users/me");
    case Call::Refresh:
        return QStringLiteral("auth/refresh");
    case Call::SignIn:
        return QStringLiteral("auth/login");
    }
    return {};
}

// What a call ended with, whichever way it reports.
struct Outcome
{
    bool ended = false;
    bool succeeded = false;
    NetworkFailure failure;
};

} // namespace

Q_DECLARE_METATYPE(Call)

// Every call to the backend follows its redirects only within the API's origin. Two HTTPS
// fixture servers on "localhost": A is the API (the harness's server), B another origin on another
// port. A refused hop must leave B without a single connection, so the rows count connections as
// well as requests.
class tst_NetworkRedirects : public QObject
{
    Q_OBJECT

private:
    NetworkManagerHarness m_harness;
    std::unique_ptr<FixtureServer> m_foreign;
    QByteArray m_accessToken;

    [[nodiscard]] FixtureServer &api() { return m_harness.server(); }

    // The landing place of a redirect: the same path on B, or another path on A.
    [[nodiscard]] QUrl landing(Call call, bool sameOrigin)
    {
        const QString path = NetworkManagerHarness::route(pathOf(call)) + QStringLiteral("-moved");
        return sameOrigin ? api().url(path) : m_foreign->url(path);
    }

    void answerLanding(Call call, bool sameOrigin)
    {
        FixtureServer &server = sameOrigin ? api() : *m_foreign;
        const QByteArray tokens =
            QJsonDocument(
                QJsonObject{{QStringLiteral("accessToken"),
                             QString::fromUtf8(m_harness.tokenExpiringIn(3600, QStringLiteral("u-2")))},
                            {QStringLiteral("refreshToken"), QStringLiteral("refresh-2")}})
                .toJson(QJsonDocument::Compact);
        const QByteArray body = call == Call::RestWithBearer ? QByteArray("{\"id\":\"u-1\"}") : tokens;
        server.setResponse(landing(call, sameOrigin).path(), Response::json(body));
    }

    // Starts the call and waits until it has reported its end (outcome.ended stays false when it
    // never does).
    Outcome run(NetworkManager &manager, Call call)
    {
        Outcome outcome;
        QObject context;
        switch (call) {
        case Call::RestWithBearer:
            manager.sendRequestDetailed(NetworkManager::HttpMethod::Get, pathOf(call), {},
                                        [&outcome](const QJsonDocument &, const NetworkFailure &failure) {
                                            outcome.ended = true;
                                            outcome.succeeded = failure.failure.code.isEmpty();
                                            outcome.failure = failure;
                                        });
            break;
        case Call::Refresh:
            manager.refreshTokens([&outcome](const AuthRefreshResult &result) {
                outcome.ended = true;
                outcome.succeeded = result.success;
                outcome.failure = result.failure;
            });
            break;
        case Call::SignIn:
            connect(&manager, &NetworkManager::loginSuccess, &context, [&outcome] {
                outcome.ended = true;
                outcome.succeeded = true;
            });
            connect(&manager, &NetworkManager::loginFailed, &context, [&outcome](const AppFailure &failure) {
                outcome.ended = true;
                outcome.failure.failure = failure;
                outcome.failure.httpStatus = failure.httpStatus;
                outcome.failure.retryable = failure.retryable;
            });
            manager.login(QStringLiteral("+201012345678"), kPassword, QString());
            break;
        }
        (void)QTest::qWaitFor([&outcome] { return outcome.ended; }, 20000);
        return outcome;
    }

    [[nodiscard]] static QString originFingerprint(const QUrl &url)
    {
        return DiagnosticLogger::fingerprint(quorin::MediaUrlRules::origin(url));
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }

    void init()
    {
        m_harness.init();
        m_foreign = std::make_unique<FixtureServer>();
        QVERIFY(m_foreign->listen());
        m_accessToken = m_harness.tokenExpiringIn(3600);
    }

    void cleanup()
    {
        m_foreign.reset();
        m_harness.cleanup();
    }

    void redirects_data()
    {
        QTest::addColumn<Call>("call");
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("sameOrigin");

        const QList<QPair<const char *, Call>> calls = {
            {"REST call", Call::RestWithBearer}, {"refresh", Call::Refresh}, {"sign-in", Call::SignIn}};
        for (const auto &[name, call] : calls) {
            for (const int status : {301, 302, 303, 307, 308})
                QTest::addRow("%s, %d to another origin", name, status) << call << status << false;
            QTest::addRow("%s, 307 within the API's origin", name) << call << 307 << true;
        }
    }

    void redirects()
    {
        QFETCH(Call, call);
        QFETCH(int, status);
        QFETCH(bool, sameOrigin);
        const auto manager = m_harness.makeSignedInManager(m_accessToken, QStringLiteral("refresh-1"));
        const QString route = NetworkManagerHarness::route(pathOf(call));
        const QUrl target = landing(call, sameOrigin);
        api().setResponse(route, Response::redirect(target.toEncoded(), status));
        answerLanding(call, sameOrigin);
        QSignalSpy failed(manager.get(), &NetworkManager::requestFailed);
        QSignalSpy expired(manager.get(), &NetworkManager::sessionExpired);
        LogRecorder log;

        const Outcome outcome = run(*manager, call);

        QVERIFY(outcome.ended);
        QCOMPARE(api().requestCount(route), 1);
        QCOMPARE(expired.count(), 0);
        if (sameOrigin) {
            QVERIFY2(outcome.succeeded, qPrintable(outcome.failure.failure.code));
            const QList<FixtureServer::Request> landed = api().requests(target.path());
            QCOMPARE(landed.size(), 1);
            // The hop carries what the first request carried.
            const FixtureServer::Request &first = api().requests(route).constFirst();
            QCOMPARE(landed.constFirst().method, first.method);
            QCOMPARE(landed.constFirst().header("Authorization"), first.header("Authorization"));
            QCOMPARE(landed.constFirst().body, first.body);
            if (call == Call::SignIn)
                QVERIFY(landed.constFirst().body.contains(kPassword.toUtf8()));
            else
                QVERIFY(!landed.constFirst().header("Authorization").isEmpty());
            QVERIFY(log.withEvent(QStringLiteral("redirect_refused")).isEmpty());
            return;
        }

        QCOMPARE(m_foreign->totalRequestCount(), 0);
        QCOMPARE(m_foreign->connectionCount(), 0);
        QVERIFY(!outcome.succeeded);
        QCOMPARE(outcome.failure.failure.code, QStringLiteral("HTTP_%1").arg(status));
        QCOMPARE(outcome.failure.httpStatus, status);
        QVERIFY(!outcome.failure.retryable);
        QVERIFY(!outcome.failure.failure.retryable);
        // A refused hop is no answer about the session: nothing is renewed and nothing is dropped.
        if (call != Call::Refresh)
            QCOMPARE(api().requestCount(NetworkManagerHarness::route(QStringLiteral("auth/refresh"))), 0);
        QCOMPARE(manager->isAuthenticated(), true);
        QCOMPARE(m_harness.keychain().value(QStringLiteral("refreshToken")), QStringLiteral("refresh-1"));
        if (call == Call::RestWithBearer)
            QCOMPARE(failed.count(), 1);

        const QList<LogRecorder::Record> refusals = log.withEvent(QStringLiteral("redirect_refused"));
        QCOMPARE(refusals.size(), 1);
        const LogRecorder::Record &refusal = refusals.constFirst();
        QCOMPARE(refusal.category, QStringLiteral("api"));
        QCOMPARE(refusal.level, QStringLiteral("warning"));
        QCOMPARE(refusal.fields.value(QStringLiteral("status")).toInt(), status);
        QCOMPARE(refusal.field(QStringLiteral("from_origin_fp")), originFingerprint(api().url()));
        QCOMPARE(refusal.field(QStringLiteral("to_origin_fp")), originFingerprint(m_foreign->url()));
        for (const QVariant &value : refusal.fields) {
            const QString text = value.toString();
            QVERIFY2(!text.contains(QStringLiteral("localhost")) && !text.contains(QStringLiteral("Bearer")),
                     qPrintable(text));
        }
    }

    // A redirect that turns a POST into a GET (303) sends no body on, so the password stays behind
    // even where the hop is allowed.
    void seeOtherWithinTheOriginLeavesThePasswordBehind()
    {
        const auto manager = m_harness.makeManager();
        const QString route = NetworkManagerHarness::route(pathOf(Call::SignIn));
        const QUrl target = landing(Call::SignIn, true);
        api().setResponse(route, Response::redirect(target.toEncoded(), 303));
        answerLanding(Call::SignIn, true);

        const Outcome outcome = run(*manager, Call::SignIn);

        QVERIFY(outcome.ended);
        QVERIFY(outcome.succeeded);
        const QList<FixtureServer::Request> landed = api().requests(target.path());
        QCOMPARE(landed.size(), 1);
        QCOMPARE(landed.constFirst().method, QByteArray("GET"));
        QVERIFY(landed.constFirst().body.isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_NetworkRedirects)
#include "tst_NetworkRedirects.moc"
