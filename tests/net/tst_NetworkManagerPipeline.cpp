#include "net/MediaFetch.h"
#include "tests/net/NetworkManagerHarness.h"
#include "testsupport/JwtMaker.h"

#include <QJsonObject>
#include <QLocale>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

using quorin::test::FixtureServer;
using quorin::test::JwtMaker;
using quorin::test::NetworkManagerHarness;
using Method = NetworkManager::HttpMethod;

Q_DECLARE_METATYPE(NetworkManager::HttpMethod)

namespace {

const QString kMe = QStringLiteral("users/me?include=enrollments");
const QString kSessionExpired = QStringLiteral("Your session has expired. Please sign in again.");

} // namespace

class tst_NetworkManagerPipeline : public QObject
{
    Q_OBJECT

private:
    NetworkManagerHarness m_harness;

    // The session-expired failure a signed-out caller gets instead of an answer.
    static void verifySessionExpiredFailure(const NetworkFailure &failure)
    {
        QCOMPARE(failure.httpStatus, 401);
        QCOMPARE(failure.networkError, 204);
        QCOMPARE(failure.message, kSessionExpired);
        QVERIFY(failure.authentication);
        QVERIFY(!failure.retryable);
        QCOMPARE(failure.failure.code, QStringLiteral("HTTP_401"));
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    void publicPathsSkipTheTokenCheck_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("sent");
        QTest::newRow("institutions") << QStringLiteral("institutions") << true;
        QTest::newRow("with a query") << QStringLiteral("institutions?x=1") << false;
        QTest::newRow("other letter case") << QStringLiteral("Auth/login") << false;
    }

    void publicPathsSkipTheTokenCheck()
    {
        QFETCH(QString, path);
        QFETCH(bool, sent);
        m_harness.server().setResponse(QStringLiteral("/api/v1/institutions"),
                                       FixtureServer::Response::json("[]"));
        m_harness.server().setResponse(QStringLiteral("/api/v1/Auth/login"),
                                       FixtureServer::Response::json("{}"));
        const auto manager = m_harness.makeManager();

        NetworkManagerHarness::CallbackRecord result;
        manager->sendRequestDetailed(Method::Get, path, {}, NetworkManagerHarness::recordInto(result));
        QTRY_COMPARE(result.calls, 1);

        QCOMPARE(m_harness.server().totalRequestCount(), sent ? 1 : 0);
        if (sent) {
            QVERIFY(result.failure.failure.code.isEmpty());
            QVERIFY(!m_harness.server().requests().first().hasHeader("Authorization"));
        } else {
            verifySessionExpiredFailure(result.failure);
        }
    }

    void signedOutRequestFailsBeforeReturning()
    {
        const auto manager = m_harness.makeManager();
        QStringList events;
        NetworkManagerHarness::recordSignals(*manager, events);
        QSignalSpy expired(manager.get(), &NetworkManager::sessionExpired);

        NetworkManagerHarness::CallbackRecord result;
        manager->sendRequestDetailed(Method::Get, kMe, {}, NetworkManagerHarness::recordInto(result, events));

        // Both came inside the call.
        QCOMPARE(result.calls, 1);
        QVERIFY(events.indexOf(QStringLiteral("requestFailed:") + kMe) >= 0);
        QVERIFY(events.indexOf(QStringLiteral("requestFailed:") + kMe) <
                events.indexOf(QStringLiteral("callback")));
        verifySessionExpiredFailure(result.failure);
        QVERIFY(result.document.isNull());
        QCOMPARE(expired.count(), 1);

        manager->sendRequestDetailed(Method::Get, kMe, {}, NetworkManagerHarness::recordInto(result));
        QCOMPARE(result.calls, 2);
        QCOMPARE(expired.count(), 1);
        QCOMPARE(m_harness.server().totalRequestCount(), 0);
    }

    void expiringTokensAreRefreshedFirst_data()
    {
        QTest::addColumn<QByteArray>("token");
        QTest::addColumn<bool>("refreshed");
        const QJsonObject noExpiry{{QStringLiteral("sub"), QStringLiteral("u-1")}};
        const QByteArray valid = JwtMaker::make({{QStringLiteral("exp"), 1}});
        const QList<QByteArray> parts = valid.split('.');
        QTest::newRow("60 s ahead") << QByteArray() << false;
        QTest::newRow("59 s ahead") << QByteArray("59") << true;
        QTest::newRow("no exp") << JwtMaker::make(noExpiry) << true;
        QTest::newRow("two parts") << parts.at(0) + '.' + parts.at(1) << true;
        QTest::newRow("four parts") << valid + ".extra" << true;
        QTest::newRow("claims not an object")
            << parts.at(0) + '.' + JwtMaker::base64Url("[1,2]") + '.' + parts.at(2) << true;
        QTest::newRow("claims not JSON")
            << parts.at(0) + '.' + JwtMaker::base64Url("exp") + '.' + parts.at(2) << true;
    }

    void expiringTokensAreRefreshedFirst()
    {
        QFETCH(QByteArray, token);
        QFETCH(bool, refreshed);
        // The rows that depend on the clock are made here, against the frozen time.
        if (token.isEmpty())
            token = m_harness.tokenExpiringIn(60);
        else if (token == "59")
            token = m_harness.tokenExpiringIn(59);
        const QByteArray renewed = m_harness.tokenExpiringIn(3600, QStringLiteral("renewed"));
        m_harness.answerRefresh(renewed, QStringLiteral("refresh-2"));
        m_harness.server().setResponse(NetworkManagerHarness::route(QStringLiteral("users/me")),
                                       FixtureServer::Response::json("{\"id\":\"u-1\"}"));
        const auto manager = m_harness.makeSignedInManager(token, QStringLiteral("refresh-1"));

        NetworkManagerHarness::CallbackRecord result;
        manager->sendRequestDetailed(Method::Get, kMe, {}, NetworkManagerHarness::recordInto(result));
        QTRY_COMPARE(result.calls, 1);

        QCOMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).size(), refreshed ? 1 : 0);
        const QList<FixtureServer::Request> sent = m_harness.requestsTo(QStringLiteral("users/me"));
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().header("Authorization"), "Bearer " + (refreshed ? renewed : token));
        QCOMPARE(result.document.object().value(QStringLiteral("id")).toString(), QStringLiteral("u-1"));
    }

    void requestsCarryTheSharedHeadersAndTheirVerb_data()
    {
        QTest::addColumn<Method>("method");
        QTest::addColumn<QByteArray>("verb");
        QTest::addColumn<bool>("withBody");
        QTest::newRow("GET") << Method::Get << QByteArray("GET") << false;
        QTest::newRow("POST") << Method::Post << QByteArray("POST") << true;
        QTest::newRow("PUT") << Method::Put << QByteArray("PUT") << true;
        QTest::newRow("PATCH") << Method::Patch << QByteArray("PATCH") << true;
        QTest::newRow("DELETE") << Method::Delete << QByteArray("DELETE") << false;
    }

    void requestsCarryTheSharedHeadersAndTheirVerb()
    {
        QFETCH(Method, method);
        QFETCH(QByteArray, verb);
        QFETCH(bool, withBody);
        const QByteArray token = m_harness.tokenExpiringIn(3600);
        m_harness.server().setResponse(NetworkManagerHarness::route(QStringLiteral("users/me")),
                                       FixtureServer::Response(204));
        const auto manager = m_harness.makeSignedInManager(token, QStringLiteral("refresh-1"));

        const QJsonObject body{{QStringLiteral("fullName"), QStringLiteral("Salma Adel")},
                               {QStringLiteral("level"), 3}};
        NetworkManagerHarness::CallbackRecord result;
        manager->sendRequestDetailed(method, QStringLiteral("users/me"), body,
                                     NetworkManagerHarness::recordInto(result));
        QTRY_COMPARE(result.calls, 1);
        QVERIFY(result.failure.failure.code.isEmpty());

        const QList<FixtureServer::Request> sent = m_harness.requestsTo(QStringLiteral("users/me"));
        QCOMPARE(sent.size(), 1);
        const FixtureServer::Request &request = sent.first();
        QCOMPARE(request.method, verb);
        QCOMPARE(request.header("Accept"), QByteArray("application/json"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(request.header("Accept-Language"), QLocale().bcp47Name().toUtf8());
        QCOMPARE(request.header("Authorization"), "Bearer " + token);
        QCOMPARE(request.body,
                 withBody ? QByteArray("{\"fullName\":\"Salma Adel\",\"level\":3}") : QByteArray());
    }

    void successWithoutJsonGivesANullDocument_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("204, empty") << 204 << QByteArray();
        QTest::newRow("200, OK") << 200 << QByteArray("OK");
    }

    void successWithoutJsonGivesANullDocument()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        m_harness.server().setResponse(QStringLiteral("/api/v1/institutions"),
                                       FixtureServer::Response(status, body, "text/plain"));
        const auto manager = m_harness.makeManager();
        QSignalSpy failed(manager.get(), &NetworkManager::requestFailed);

        NetworkManagerHarness::CallbackRecord result;
        manager->sendRequestDetailed(Method::Get, QStringLiteral("institutions"), {},
                                     NetworkManagerHarness::recordInto(result));
        QTRY_COMPARE(result.calls, 1);
        QVERIFY(result.document.isNull());
        QCOMPARE(result.failure.httpStatus, 0);
        QVERIFY(result.failure.failure.code.isEmpty());
        QCOMPARE(failed.count(), 0);
    }

    void unauthorizedIsRefreshedAndRetriedOnce()
    {
        const QByteArray stale = m_harness.tokenExpiringIn(3600, QStringLiteral("stale"));
        const QByteArray renewed = m_harness.tokenExpiringIn(3600, QStringLiteral("renewed"));
        m_harness.answerRefresh(renewed, QStringLiteral("refresh-2"));
        m_harness.server().setResponses(NetworkManagerHarness::route(QStringLiteral("users/me")),
                                        {FixtureServer::Response::json("{\"error\":\"expired\"}", 401),
                                         FixtureServer::Response::json("{\"id\":\"u-1\"}")});
        const auto manager = m_harness.makeSignedInManager(stale, QStringLiteral("refresh-1"));
        QSignalSpy failed(manager.get(), &NetworkManager::requestFailed);

        NetworkManagerHarness::CallbackRecord result;
        manager->sendRequestDetailed(Method::Get, kMe, {}, NetworkManagerHarness::recordInto(result));
        QTRY_COMPARE(result.calls, 1);
        QVERIFY(result.failure.failure.code.isEmpty());
        QCOMPARE(result.document.object().value(QStringLiteral("id")).toString(), QStringLiteral("u-1"));
        QCOMPARE(failed.count(), 0);

        QCOMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).size(), 1);
        const QList<FixtureServer::Request> sent = m_harness.requestsTo(QStringLiteral("users/me"));
        QCOMPARE(sent.size(), 2);
        QCOMPARE(sent.at(0).header("Authorization"), "Bearer " + stale);
        QCOMPARE(sent.at(1).header("Authorization"), "Bearer " + renewed);

        const auto records = m_harness.logRecords(QStringLiteral("request_complete"));
        QCOMPARE(records.size(), 2);
        for (const auto &record : records) {
            QCOMPARE(record.value(QStringLiteral("endpoint")), kMe);
            QCOMPARE(record.value(QStringLiteral("category")), QStringLiteral("api"));
            QVERIFY(record.contains(QStringLiteral("response_bytes")));
            QVERIFY(record.contains(QStringLiteral("latency_ms")));
        }
        QCOMPARE(records.at(0).value(QStringLiteral("status")), QStringLiteral("401"));
        QCOMPARE(records.at(0).value(QStringLiteral("level")), QStringLiteral("warning"));
        QCOMPARE(records.at(0).value(QStringLiteral("retry")), QStringLiteral("false"));
        QCOMPARE(records.at(0).value(QStringLiteral("network_error")), QStringLiteral("204"));
        QCOMPARE(records.at(1).value(QStringLiteral("status")), QStringLiteral("200"));
        QCOMPARE(records.at(1).value(QStringLiteral("level")), QStringLiteral("info"));
        QCOMPARE(records.at(1).value(QStringLiteral("retry")), QStringLiteral("true"));
        QCOMPARE(records.at(1).value(QStringLiteral("network_error")), QStringLiteral("0"));
    }

    void retryAnsweredUnauthorizedAgainFails()
    {
        m_harness.answerRefresh(m_harness.tokenExpiringIn(3600, QStringLiteral("renewed")),
                                QStringLiteral("refresh-2"));
        m_harness.server().setResponse(NetworkManagerHarness::route(QStringLiteral("users/me")),
                                       FixtureServer::Response::json("{\"message\":\"Token expired\"}", 401));
        const auto manager =
            m_harness.makeSignedInManager(m_harness.tokenExpiringIn(3600), QStringLiteral("refresh-1"));
        QStringList events;
        NetworkManagerHarness::recordSignals(*manager, events);

        NetworkManagerHarness::CallbackRecord result;
        manager->sendRequestDetailed(Method::Get, kMe, {}, NetworkManagerHarness::recordInto(result, events));
        QTRY_COMPARE(result.calls, 1);

        QCOMPARE(result.failure.httpStatus, 401);
        QCOMPARE(result.failure.failure.category, QStringLiteral("authentication"));
        QCOMPARE(result.failure.failure.code, QStringLiteral("HTTP_401"));
        QCOMPARE(result.failure.message, QStringLiteral("Token expired"));
        QVERIFY(result.failure.authentication);
        const qsizetype failedAt = events.indexOf(QStringLiteral("requestFailed:") + kMe);
        QVERIFY(failedAt >= 0);
        QVERIFY(failedAt < events.indexOf(QStringLiteral("callback")));
        QCOMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).size(), 1);
        QCOMPARE(m_harness.requestsTo(QStringLiteral("users/me")).size(), 2);
        QVERIFY(manager->isAuthenticated());
    }

    void serverErrorIsAnnouncedBeforeTheCallback_data()
    {
        QTest::addColumn<bool>("withCallback");
        QTest::newRow("with a callback") << true;
        QTest::newRow("without a callback") << false;
    }

    void serverErrorIsAnnouncedBeforeTheCallback()
    {
        QFETCH(bool, withCallback);
        m_harness.server().setResponse(NetworkManagerHarness::route(QStringLiteral("users/me")),
                                       FixtureServer::Response::json("{\"message\":\"Down\"}", 500));
        const auto manager =
            m_harness.makeSignedInManager(m_harness.tokenExpiringIn(3600), QStringLiteral("refresh-1"));
        QStringList events;
        QList<AppFailure> announced;
        connect(manager.get(), &NetworkManager::requestFailed, manager.get(),
                [&](const QString &context, const AppFailure &failure) {
                    events.append(QStringLiteral("requestFailed:") + context);
                    announced.append(failure);
                });

        NetworkManagerHarness::CallbackRecord result;
        manager->sendRequestDetailed(Method::Get, kMe, {},
                                     withCallback ? NetworkManagerHarness::recordInto(result, events)
                                                  : NetworkManager::RequestCallback());
        QTRY_COMPARE(announced.size(), 1);
        QCOMPARE(announced.first().userMessage, QStringLiteral("Down"));
        QCOMPARE(announced.first().code, QStringLiteral("HTTP_500"));
        QCOMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).size(), 0);
        if (!withCallback) {
            QCOMPARE(events, QStringList{QStringLiteral("requestFailed:") + kMe});
            return;
        }
        QCOMPARE(events, (QStringList{QStringLiteral("requestFailed:") + kMe, QStringLiteral("callback")}));
        QCOMPARE(result.failure.httpStatus, 500);
        QCOMPARE(result.failure.message, QStringLiteral("Down"));
        QVERIFY(result.failure.retryable);
        QVERIFY(!result.failure.authentication);
        QCOMPARE(result.failure.failure, announced.first());
    }

    void hungRequestTimesOut()
    {
        m_harness.server().setResponse(NetworkManagerHarness::route(QStringLiteral("users/me")),
                                       FixtureServer::Response::hung());
        NetworkManagerHarness::ManagerOptions options;
        options.transferTimeoutMs = 300;
        const auto manager = m_harness.makeSignedInManager(m_harness.tokenExpiringIn(3600),
                                                           QStringLiteral("refresh-1"), options);
        QSignalSpy failed(manager.get(), &NetworkManager::requestFailed);

        NetworkManagerHarness::CallbackRecord result;
        manager->sendRequestDetailed(Method::Get, kMe, {}, NetworkManagerHarness::recordInto(result));
        QTRY_COMPARE_WITH_TIMEOUT(result.calls, 1, 10000);

        QCOMPARE(result.failure.networkError, 4);
        QCOMPARE(result.failure.httpStatus, 0);
        QCOMPARE(result.failure.failure.code, QStringLiteral("NETWORK_TIMEOUT"));
        QVERIFY(result.failure.retryable);
        QCOMPARE(failed.count(), 1);
        const auto records = m_harness.logRecords(QStringLiteral("request_complete"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().value(QStringLiteral("network_error")), QStringLiteral("4"));
    }

    // Only the transfer time-out reads as one: a reply the client ends itself (a size cap, a
    // cancelled transfer) is a cancellation, which nobody should wait out and retry as a time-out.
    void replyEndedByTheClientIsNoTimeOut()
    {
        const QString usersMe = NetworkManagerHarness::route(QStringLiteral("users/me"));
        m_harness.server().setResponse(usersMe, FixtureServer::Response::hung());
        const auto manager =
            m_harness.makeSignedInManager(m_harness.tokenExpiringIn(3600), QStringLiteral("refresh-1"));
        QSignalSpy failed(manager.get(), &NetworkManager::requestFailed);
        NetworkManagerHarness::CallbackRecord result;
        manager->sendRequestDetailed(Method::Get, kMe, {}, NetworkManagerHarness::recordInto(result));
        QTRY_COMPARE(m_harness.server().requestCount(usersMe), 1);
        auto *request = manager->findChild<quorin::MediaFetch *>();
        QVERIFY(request);

        request->abort();

        QTRY_COMPARE(result.calls, 1);
        QCOMPARE(result.failure.networkError, int(QNetworkReply::OperationCanceledError));
        QCOMPARE(result.failure.httpStatus, 0);
        QCOMPARE(result.failure.failure.code, QStringLiteral("NETWORK_5"));
        QCOMPARE(failed.count(), 1);
        const auto records = m_harness.logRecords(QStringLiteral("request_complete"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().value(QStringLiteral("network_error")), QStringLiteral("5"));
    }

    // Kept on purpose: a 401 from a public path also asks for a refresh, so a signed-out caller
    // hears that the session expired rather than the server's own answer.
    void unauthorizedPublicPathWhileSignedOutExpiresTheSession()
    {
        m_harness.server().setResponse(NetworkManagerHarness::route(QStringLiteral("auth/signup")),
                                       FixtureServer::Response::json("{\"message\":\"Number taken\"}", 401));
        const auto manager = m_harness.makeManager();
        QSignalSpy failed(manager.get(), &NetworkManager::requestFailed);
        QSignalSpy expired(manager.get(), &NetworkManager::sessionExpired);

        NetworkManagerHarness::CallbackRecord result;
        manager->sendRequestDetailed(Method::Post, QStringLiteral("auth/signup"),
                                     {{QStringLiteral("mobileNumber"), QStringLiteral("+201000000000")}},
                                     NetworkManagerHarness::recordInto(result));
        QTRY_COMPARE(result.calls, 1);

        verifySessionExpiredFailure(result.failure);
        QCOMPARE(failed.count(), 0);
        QCOMPARE(expired.count(), 1);
        QCOMPARE(m_harness.requestsTo(QStringLiteral("auth/signup")).size(), 1);
        QCOMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).size(), 0);
    }
};

QTEST_GUILESS_MAIN(tst_NetworkManagerPipeline)
#include "tst_NetworkManagerPipeline.moc"
