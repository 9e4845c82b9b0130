#include "testsupport/FixtureServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>

using quorin::test::FixtureServer;

class tst_FixtureServer : public QObject
{
    Q_OBJECT

private:
    struct Result
    {
        QNetworkReply::NetworkError error = QNetworkReply::NoError;
        int status = 0;
        QByteArray body;
        QByteArray contentRange;
    };

    Result get(const QUrl &url, const QList<QPair<QByteArray, QByteArray>> &headers = {},
               const QSslConfiguration &tls = FixtureServer::clientConfiguration())
    {
        QNetworkRequest request(url);
        request.setSslConfiguration(tls);
        for (const auto &[name, value] : headers)
            request.setRawHeader(name, value);
        std::unique_ptr<QNetworkReply> reply(m_network.get(request));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!finished.wait(10000))
            return {QNetworkReply::TimeoutError, 0, {}, {}};
        return {reply->error(), reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                reply->readAll(), reply->rawHeader("Content-Range")};
    }

    QNetworkAccessManager m_network;

private Q_SLOTS:
    void trustsOnlyTheTestAuthority()
    {
        FixtureServer server;
        QVERIFY(server.listen());
        server.setResponse(QStringLiteral("/hello"), FixtureServer::Response(200, "world", "text/plain"));

        const Result trusted = get(server.url(QStringLiteral("/hello")));
        QCOMPARE(trusted.error, QNetworkReply::NoError);
        QCOMPARE(trusted.body, QByteArray("world"));

        QSslConfiguration systemOnly = QSslConfiguration::defaultConfiguration();
        QNetworkAccessManager freshManager; // no TLS session shared with the trusting requests
        QNetworkRequest request(server.url(QStringLiteral("/hello")));
        request.setSslConfiguration(systemOnly);
        std::unique_ptr<QNetworkReply> reply(freshManager.get(request));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(reply->error(), QNetworkReply::SslHandshakeFailedError);
        QCOMPARE(server.requestCount(QStringLiteral("/hello")), 1);
        // The refused handshake logged no request, but its connection did reach the server.
        QCOMPARE(server.connectionCount(), 2);
    }

    void answersAScriptedSequenceInOrder()
    {
        FixtureServer server;
        QVERIFY(server.listen());
        server.setResponses(QStringLiteral("/api/v1/users/me"),
                            {FixtureServer::Response::json(R"({"error":"expired"})", 401),
                             FixtureServer::Response::json(R"({"id":"u-1"})")});

        QCOMPARE(get(server.url(QStringLiteral("/api/v1/users/me"))).status, 401);
        const Result second = get(server.url(QStringLiteral("/api/v1/users/me")));
        QCOMPARE(second.status, 200);
        QCOMPARE(second.body, QByteArray(R"({"id":"u-1"})"));
        // The last answer repeats once the sequence is used up.
        QCOMPARE(get(server.url(QStringLiteral("/api/v1/users/me"))).status, 200);
    }

    void prefixHandlersAnswerWhatNoScriptNames()
    {
        FixtureServer server;
        QVERIFY(server.listen());
        const auto answerWith = [](const QByteArray &name) {
            return [name](const FixtureServer::Request &request) {
                return FixtureServer::Response(200, name + ' ' + request.path, "text/plain");
            };
        };
        server.setResponse(QStringLiteral("/api/v1/notifications/read-all"),
                           FixtureServer::Response(200, "script"));
        server.setPrefixHandler(QStringLiteral("/api/v1/notifications/"), answerWith("old"));
        server.setPrefixHandler(QStringLiteral("/api/v1/"), answerWith("api"));
        server.setPrefixHandler(QStringLiteral("/api/v1/notifications/"), answerWith("new"));

        QCOMPARE(get(server.url(QStringLiteral("/api/v1/notifications/read-all"))).body,
                 QByteArray("script"));
        QCOMPARE(get(server.url(QStringLiteral("/api/v1/notifications/n%2F1/read?x=1"))).body,
                 QByteArray("new /api/v1/notifications/n%2F1/read"));
        QCOMPARE(get(server.url(QStringLiteral("/api/v1/courses/c-1"))).body,
                 QByteArray("api /api/v1/courses/c-1"));
        QCOMPARE(get(server.url(QStringLiteral("/other"))).status, 404);

        server.clearScripts();
        QCOMPARE(get(server.url(QStringLiteral("/api/v1/courses/c-1"))).status, 404);
    }

    void servesRanges_data()
    {
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<bool>("rangeSupport");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentRange");

        QTest::newRow("closed range")
            << QByteArray("bytes=2-5") << true << 206 << QByteArray("2345") << QByteArray("bytes 2-5/10");
        QTest::newRow("open end") << QByteArray("bytes=7-") << true << 206 << QByteArray("789")
                                  << QByteArray("bytes 7-9/10");
        QTest::newRow("suffix") << QByteArray("bytes=-2") << true << 206 << QByteArray("89")
                                << QByteArray("bytes 8-9/10");
        QTest::newRow("past the end")
            << QByteArray("bytes=20-") << true << 416 << QByteArray() << QByteArray("bytes */10");
        QTest::newRow("ranges switched off")
            << QByteArray("bytes=2-5") << false << 200 << QByteArray("0123456789") << QByteArray();
    }

    void servesRanges()
    {
        QFETCH(QByteArray, range);
        QFETCH(bool, rangeSupport);
        FixtureServer server;
        QVERIFY(server.listen());
        server.setRangeSupport(rangeSupport);
        server.setResponse(QStringLiteral("/file.bin"), FixtureServer::Response(200, "0123456789"));

        const Result result = get(server.url(QStringLiteral("/file.bin")), {{"Range", range}});
        QTEST(result.status, "status");
        QTEST(result.body, "body");
        QTEST(result.contentRange, "contentRange");
    }

    void dropEndsTheReplyEarlyWithAnError()
    {
        FixtureServer server;
        QVERIFY(server.listen());
        FixtureServer::Response response(200, QByteArray(4096, 'x'));
        response.dropAfterBodyBytes = 1000;
        server.setResponse(QStringLiteral("/segment.ts"), response);

        const Result result = get(server.url(QStringLiteral("/segment.ts")));
        QCOMPARE(result.error, QNetworkReply::RemoteHostClosedError);
        QVERIFY(result.body.size() <= 1000);
        QCOMPARE(server.bytesSent(), 1000);
    }

    void logsRequestsWithTheirHeaders()
    {
        FixtureServer server;
        QVERIFY(server.listen());
        get(server.url(QStringLiteral("/api/v1/courses/7?include=sections")),
            {{"Authorization", "Bearer abc"}});

        const auto logged = server.requests(QStringLiteral("/api/v1/courses/7"));
        QCOMPARE(logged.size(), 1);
        QCOMPARE(logged.first().method, QByteArray("GET"));
        QCOMPARE(logged.first().query, QByteArray("include=sections"));
        QCOMPARE(logged.first().header("authorization"), QByteArray("Bearer abc"));
        QCOMPARE(get(server.url(QStringLiteral("/missing"))).status, 404);
    }

    void followsRedirectsAcrossInstances()
    {
        FixtureServer first;
        FixtureServer second;
        QVERIFY(first.listen());
        QVERIFY(second.listen());
        QVERIFY(first.port() != second.port());
        second.setResponse(QStringLiteral("/b"), FixtureServer::Response(200, "moved here"));
        first.setResponse(QStringLiteral("/a"),
                          FixtureServer::Response::redirect(second.url(QStringLiteral("/b")).toEncoded()));

        const Result result = get(first.url(QStringLiteral("/a")));
        QCOMPARE(result.body, QByteArray("moved here"));
        QCOMPARE(second.requestCount(QStringLiteral("/b")), 1);
    }

    void holdsAnAnswerUntilReleased()
    {
        FixtureServer server;
        QVERIFY(server.listen());
        FixtureServer::Response held(200, "late");
        held.held = true;
        server.setResponse(QStringLiteral("/held"), held);

        QNetworkRequest request(server.url(QStringLiteral("/held")));
        request.setSslConfiguration(FixtureServer::clientConfiguration());
        std::unique_ptr<QNetworkReply> reply(m_network.get(request));
        QSignalSpy received(&server, &FixtureServer::requestReceived);
        QVERIFY(received.wait(10000));
        QTest::qWait(100);
        QVERIFY(!reply->isFinished());
        QCOMPARE(server.requestsInFlight(), 1);

        server.release(QStringLiteral("/held"));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(reply->readAll(), QByteArray("late"));
        QCOMPARE(server.requestsInFlight(), 0);
    }

    void countsRequestsInFlightAtOnce()
    {
        FixtureServer server;
        QVERIFY(server.listen());
        FixtureServer::Response slow(200, "ok");
        slow.held = true;
        server.setResponse(QStringLiteral("/slow"), slow);

        std::vector<std::unique_ptr<QNetworkReply>> replies;
        for (int i = 0; i < 3; ++i) {
            QNetworkRequest request(server.url(QStringLiteral("/slow")));
            request.setSslConfiguration(FixtureServer::clientConfiguration());
            replies.emplace_back(m_network.get(request));
        }
        // Held until all three are in, however long their connections take.
        QTRY_COMPARE_WITH_TIMEOUT(server.requestCount(QStringLiteral("/slow")), 3, 10000);
        QCOMPARE(server.requestsInFlight(), 3);
        server.release(QStringLiteral("/slow"));
        QTRY_VERIFY_WITH_TIMEOUT(
            std::all_of(replies.begin(), replies.end(), [](const auto &r) { return r->isFinished(); }),
            10000);
        QCOMPARE(server.maxRequestsInFlight(), 3);
    }

    void sendsBodiesWithoutContentLengthAndThrottled()
    {
        FixtureServer server(FixtureServer::Transport::PlainHttp);
        QVERIFY(server.listen());
        QCOMPARE(server.url().scheme(), QStringLiteral("http"));
        FixtureServer::Response streamed(200, QByteArray(2000, 'y'));
        streamed.omitContentLength = true;
        streamed.bytesPerSecond = 20000;
        server.setResponse(QStringLiteral("/stream"), streamed);

        const Result result = get(server.url(QStringLiteral("/stream")));
        QCOMPARE(result.error, QNetworkReply::NoError);
        QCOMPARE(result.body, QByteArray(2000, 'y'));
    }
};

QTEST_GUILESS_MAIN(tst_FixtureServer)
#include "tst_FixtureServer.moc"
