#include "app/DiagnosticLogger.h"
#include "media/MediaNetworkPolicy.h"
#include "net/MediaFetch.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/LogRecorder.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>
#include <QThread>
#include <atomic>
#include <memory>

using quorin::MediaFetch;
using quorin::test::FixtureServer;
using quorin::test::LogRecorder;
using Ending = MediaFetch::Ending;
using Response = FixtureServer::Response;

namespace {

const QByteArray Bearer = "Bearer t";
const QByteArray Landed = "landed";

// What a caller of one fetch saw, signal by signal.
struct Observed
{
    int heads = 0;
    int headStatus = 0;
    int readyReadsBeforeTheEnd = 0;
    int finishedCount = 0;
    QByteArray body; // read as it arrived, then what was left at the end
    qint64 lastProgressTotal = -2;
    bool headBeforeData = true;
};

} // namespace

// The media fetch against real HTTPS origins on "localhost": two of them (A and B, two ports), a
// plain HTTP one, and one on the loopback address 127.0.0.2. A refused target must see nothing at
// all, so the refusal rows count connections as well as requests: a TLS handshake that would fail
// on the name still reaches the server.
class tst_MediaFetch : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<FixtureServer> m_originA;
    std::unique_ptr<FixtureServer> m_originB;
    std::unique_ptr<FixtureServer> m_plain;
    std::unique_ptr<FixtureServer> m_otherLoopback;
    std::unique_ptr<Observed> m_observed;

    [[nodiscard]] QString withPorts(QString text) const
    {
        return text.replace(QStringLiteral("{A}"), QString::number(m_originA->port()))
            .replace(QStringLiteral("{B}"), QString::number(m_originB->port()))
            .replace(QStringLiteral("{plain}"), QString::number(m_plain->port()))
            .replace(QStringLiteral("{other}"), QString::number(m_otherLoopback->port()));
    }

    [[nodiscard]] static QNetworkRequest mediaRequest(const QUrl &url, const QByteArray &authorization,
                                                      MediaResourceKind kind = MediaResourceKind::Segment,
                                                      const QByteArray &range = {})
    {
        QNetworkRequest request(url);
        MediaNetworkPolicy::apply(request, kind, MediaAuthSnapshot{authorization, "en", 1}, range);
        return request;
    }

    // A started fetch, owned by the test, whose signals are written into m_observed.
    std::unique_ptr<MediaFetch> start(const QNetworkRequest &request, qint64 readBufferSize = 0)
    {
        auto fetch = std::make_unique<MediaFetch>(m_network.get(), request);
        observe(*fetch);
        fetch->setReadBufferSize(readBufferSize);
        fetch->start();
        return fetch;
    }

    void observe(MediaFetch &fetch)
    {
        m_observed = std::make_unique<Observed>();
        Observed *seen = m_observed.get();
        MediaFetch *source = &fetch;
        connect(source, &MediaFetch::headReceived, this, [seen, source] {
            ++seen->heads;
            seen->headStatus = source->httpStatus();
        });
        connect(source, &MediaFetch::readyRead, this, [seen, source] {
            if (seen->heads == 0)
                seen->headBeforeData = false;
            if (!source->isFinished())
                ++seen->readyReadsBeforeTheEnd;
            seen->body += source->readAll();
        });
        connect(source, &MediaFetch::downloadProgress, this,
                [seen](qint64, qint64 total) { seen->lastProgressTotal = total; });
        connect(source, &MediaFetch::finished, this, [seen, source] {
            ++seen->finishedCount;
            seen->body += source->readAll();
        });
    }

    static void waitForTheEnd(const MediaFetch &fetch)
    {
        QTRY_VERIFY_WITH_TIMEOUT(fetch.isFinished(), 20000);
    }

    // Routes /hop0 … /hop<count - 1> on A, each redirecting (relatively) to the next.
    void chainHops(int count, int status = 302)
    {
        for (int hop = 0; hop < count; ++hop) {
            m_originA->setResponse(
                QStringLiteral("/hop%1").arg(hop),
                Response::redirect(QStringLiteral("hop%1").arg(hop + 1).toLatin1(), status));
        }
    }

    void verifyNothingReached(const FixtureServer &server, const char *name)
    {
        QVERIFY2(server.totalRequestCount() == 0, name);
        QVERIFY2(server.connectionCount() == 0, name);
    }

private Q_SLOTS:
    void initTestCase()
    {
        QSslConfiguration::setDefaultConfiguration(FixtureServer::clientConfiguration());
        DiagnosticLogger::initialize();
    }

    void cleanupTestCase() { DiagnosticLogger::shutdown(); }

    void init()
    {
        m_network = std::make_unique<QNetworkAccessManager>();
        m_originA = std::make_unique<FixtureServer>();
        m_originB = std::make_unique<FixtureServer>();
        m_plain = std::make_unique<FixtureServer>(FixtureServer::Transport::PlainHttp);
        m_otherLoopback = std::make_unique<FixtureServer>();
        QVERIFY(m_originA->listen());
        QVERIFY(m_originB->listen());
        QVERIFY(m_plain->listen());
        QVERIFY(m_otherLoopback->listen(QHostAddress(QStringLiteral("127.0.0.2"))));
        for (FixtureServer *server : {m_originA.get(), m_originB.get(), m_plain.get(), m_otherLoopback.get()})
            server->setResponse(QStringLiteral("/landing"), Response(200, Landed, "video/mp2t"));
    }

    void cleanup()
    {
        m_network.reset();
        m_originA.reset();
        m_originB.reset();
        m_plain.reset();
        m_otherLoopback.reset();
        m_observed.reset();
    }

    void sameOriginHops_data()
    {
        QTest::addColumn<int>("redirects");
        QTest::addColumn<bool>("followed");

        QTest::newRow("five redirects") << 5 << true;
        QTest::newRow("a sixth redirect") << 6 << false;
    }

    void sameOriginHops()
    {
        QFETCH(int, redirects);
        QFETCH(bool, followed);
        chainHops(redirects);
        const QString last = QStringLiteral("/hop%1").arg(redirects);
        m_originA->setResponse(last, Response(200, Landed));

        const auto fetch = start(mediaRequest(m_originA->url(QStringLiteral("/hop0")), Bearer));
        waitForTheEnd(*fetch);

        QCOMPARE(m_observed->finishedCount, 1);
        for (int hop = 0; hop < qMin(redirects, MediaFetch::MaximumRedirects + 1); ++hop) {
            const auto asked = m_originA->requests(QStringLiteral("/hop%1").arg(hop));
            QCOMPARE(asked.size(), 1);
            QCOMPARE(asked.constFirst().header("Authorization"), Bearer);
        }
        if (followed) {
            QCOMPARE(fetch->ending(), Ending::Completed);
            QCOMPARE(fetch->httpStatus(), 200);
            QCOMPARE(m_observed->body, Landed);
            QCOMPARE(fetch->redirectCount(), 5);
            QCOMPARE(m_originA->requestCount(last), 1);
            QCOMPARE(m_originA->totalRequestCount(), 6);
        } else {
            QCOMPARE(fetch->ending(), Ending::RedirectRefused);
            QCOMPARE(fetch->networkError(), QNetworkReply::TooManyRedirectsError);
            QCOMPARE(fetch->httpStatus(), 302);
            QCOMPARE(m_observed->heads, 0);
            QCOMPARE(m_originA->requestCount(last), 0);
            QCOMPARE(m_originA->totalRequestCount(), 6);
        }
        verifyNothingReached(*m_originB, "origin B");
    }

    void redirectTargets_data()
    {
        QTest::addColumn<QString>("location"); // {A}, {B}, {plain}, {other}: the servers' ports
        QTest::addColumn<bool>("withBearer");
        QTest::addColumn<bool>("followed");
        QTest::addColumn<int>("requestsToA");
        QTest::addColumn<int>("requestsToB");

        QTest::newRow("no bearer, to the other origin")
            << "https://localhost:{B}/landing" << false << true << 1 << 1;
        QTest::newRow("bearer, to the other origin")
            << "https://localhost:{B}/landing" << true << false << 1 << 0;
        QTest::newRow("bearer, same origin, relative") << "/landing" << true << true << 2 << 0;
        QTest::newRow("bearer, same origin, host in capitals")
            << "https://LOCALHOST:{A}/landing" << true << true << 2 << 0;
        QTest::newRow("no bearer, plain http")
            << "http://localhost:{plain}/landing" << false << false << 1 << 0;
        QTest::newRow("no bearer, user information")
            << "https://u@localhost:{B}/landing" << false << false << 1 << 0;
        QTest::newRow("bearer, user information on its own origin")
            << "https://u@localhost:{A}/landing" << true << false << 1 << 0;
        QTest::newRow("no bearer, another loopback address")
            << "https://127.0.0.2:{other}/landing" << false << false << 1 << 0;
        QTest::newRow("no bearer, IPv4-mapped loopback")
            << "https://[::ffff:127.0.0.1]:{B}/landing" << false << false << 1 << 0;
        QTest::newRow("no Location") << QString() << false << false << 1 << 0;
        QTest::newRow("a Location that is no URL") << "https://[oops/landing" << false << false << 1 << 0;
    }

    void redirectTargets()
    {
        QFETCH(QString, location);
        QFETCH(bool, withBearer);
        QFETCH(bool, followed);
        QFETCH(int, requestsToA);
        QFETCH(int, requestsToB);
        Response redirect = Response(302, "the redirect's own body");
        if (!location.isNull())
            redirect.withHeader("Location", withPorts(location).toLatin1());
        m_originA->setResponse(QStringLiteral("/start"), redirect);
        LogRecorder log;

        const auto fetch =
            start(mediaRequest(m_originA->url(QStringLiteral("/start")), withBearer ? Bearer : QByteArray()));
        waitForTheEnd(*fetch);

        QCOMPARE(m_observed->finishedCount, 1);
        QCOMPARE(m_originA->totalRequestCount(), requestsToA);
        QCOMPARE(m_originB->totalRequestCount(), requestsToB);
        verifyNothingReached(*m_plain, "the plain http origin");
        verifyNothingReached(*m_otherLoopback, "the origin on 127.0.0.2");
        if (followed) {
            QCOMPARE(fetch->ending(), Ending::Completed);
            QCOMPARE(fetch->httpStatus(), 200);
            QCOMPARE(m_observed->heads, 1);
            QCOMPARE(m_observed->body, Landed);
            const FixtureServer &target = requestsToB > 0 ? *m_originB : *m_originA;
            QCOMPARE(target.requests(QStringLiteral("/landing")).constFirst().header("Authorization"),
                     withBearer ? Bearer : QByteArray());
            QVERIFY(log.withEvent(QStringLiteral("media_redirect_refused")).isEmpty());
            return;
        }
        QCOMPARE(m_originB->connectionCount(), 0);
        QCOMPARE(fetch->ending(), Ending::RedirectRefused);
        QCOMPARE(fetch->networkError(), QNetworkReply::InsecureRedirectError);
        QCOMPARE(fetch->httpStatus(), 302);
        QCOMPARE(fetch->rawHeader("Location"), withPorts(location).toLatin1());
        QCOMPARE(m_observed->heads, 0);
        QVERIFY(m_observed->body.isEmpty());
        QCOMPARE(log.withEvent(QStringLiteral("media_redirect_refused")).size(), 1);
    }

    // The release check brings a rule of its own; whatever a rule allows, the bearer keeps to its
    // origin.
    void aRuleOfItsOwnDecidesButTheBearerStaysHome()
    {
        const QUrl landing = m_originB->url(QStringLiteral("/landing"));
        m_originA->setResponse(QStringLiteral("/start"), Response::redirect(landing.toEncoded()));
        struct Asked
        {
            QUrl from;
            QUrl to;
            bool carriesBearer = false;
        };
        QList<Asked> asked;
        MediaFetch fetch(m_network.get(), mediaRequest(m_originA->url(QStringLiteral("/start")), Bearer));
        observe(fetch);
        fetch.setRedirectRule([&asked](const QUrl &from, const QUrl &to, bool carriesBearer) {
            asked.append({from, to, carriesBearer});
            return true;
        });
        fetch.start();
        waitForTheEnd(fetch);

        QCOMPARE(fetch.ending(), Ending::Completed);
        QCOMPARE(m_observed->body, Landed);
        QCOMPARE(asked.size(), 1);
        QCOMPARE(asked.constFirst().from, m_originA->url(QStringLiteral("/start")));
        QCOMPARE(asked.constFirst().to, landing);
        QVERIFY(asked.constFirst().carriesBearer);
        QCOMPARE(m_originA->requests(QStringLiteral("/start")).constFirst().header("Authorization"), Bearer);
        QCOMPARE(m_originB->requestCount(QStringLiteral("/landing")), 1);
        QVERIFY(!m_originB->requests().constFirst().hasHeader("Authorization"));
    }

    void redirectStatuses_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("followed");

        for (const int status : {301, 302, 303, 307, 308})
            QTest::addRow("%d", status) << status << true;
        QTest::newRow("300 is an answer") << 300 << false;
    }

    void redirectStatuses()
    {
        QFETCH(int, status);
        QFETCH(bool, followed);
        m_originA->setResponse(
            QStringLiteral("/start"),
            Response::redirect(m_originB->url(QStringLiteral("/landing")).toEncoded(), status));

        const auto fetch = start(mediaRequest(m_originA->url(QStringLiteral("/start")), {}));
        waitForTheEnd(*fetch);

        QCOMPARE(fetch->ending(), Ending::Completed);
        QCOMPARE(fetch->httpStatus(), followed ? 200 : status);
        QCOMPARE(m_observed->headStatus, followed ? 200 : status);
        QCOMPARE(m_originA->totalRequestCount(), 1);
        QCOMPARE(m_originB->requestCount(QStringLiteral("/landing")), followed ? 1 : 0);
        if (followed)
            QCOMPARE(m_originB->requests().constFirst().method, QByteArray("GET"));
    }

    void everyHopCarriesTheFirstRequest_data()
    {
        QTest::addColumn<MediaFetch::Method>("method");
        QTest::addColumn<QByteArray>("body");

        QTest::newRow("GET") << MediaFetch::Method::Get << QByteArray("3456789");
        QTest::newRow("HEAD") << MediaFetch::Method::Head << QByteArray();
    }

    void everyHopCarriesTheFirstRequest()
    {
        QFETCH(MediaFetch::Method, method);
        QFETCH(QByteArray, body);
        chainHops(2);
        m_originA->setResponse(QStringLiteral("/hop2"), Response(200, "0123456789"));
        const QByteArray verb = method == MediaFetch::Method::Head ? "HEAD" : "GET";

        MediaFetch fetch(m_network.get(), mediaRequest(m_originA->url(QStringLiteral("/hop0")), Bearer,
                                                       MediaResourceKind::Playlist, "bytes=3-"));
        observe(fetch);
        fetch.setMethod(method);
        fetch.start();
        waitForTheEnd(fetch);

        QCOMPARE(fetch.ending(), Ending::Completed);
        QCOMPARE(fetch.httpStatus(), 206);
        QCOMPARE(fetch.rawHeader("Content-Range"), QByteArray("bytes 3-9/10"));
        QCOMPARE(m_observed->body, body);
        const auto asked = m_originA->requests();
        QCOMPARE(asked.size(), 3);
        for (const auto &request : asked) {
            QCOMPARE(request.method, verb);
            QCOMPARE(request.header("Accept"),
                     QByteArray("application/vnd.apple.mpegurl, application/x-mpegURL;q=0.9, */*;q=0.5"));
            QCOMPARE(request.header("Accept-Encoding"), QByteArray("identity"));
            QCOMPARE(request.header("Accept-Language"), QByteArray("en"));
            QCOMPARE(request.header("Authorization"), Bearer);
            QCOMPARE(request.header("Range"), QByteArray("bytes=3-"));
        }
    }

    void transferTimeoutOnEveryHop_data()
    {
        QTest::addColumn<int>("hungHop");

        QTest::newRow("the first") << 0;
        QTest::newRow("the third") << 2;
    }

    void transferTimeoutOnEveryHop()
    {
        QFETCH(int, hungHop);
        chainHops(hungHop);
        m_originA->setResponse(QStringLiteral("/hop%1").arg(hungHop), Response::hung());
        QNetworkRequest request = mediaRequest(m_originA->url(QStringLiteral("/hop0")), {});
        request.setTransferTimeout(300);

        const auto fetch = start(request);
        waitForTheEnd(*fetch);

        QCOMPARE(fetch->ending(), Ending::TimedOut);
        QCOMPARE(fetch->networkError(), QNetworkReply::TimeoutError);
        QCOMPARE(fetch->httpStatus(), 0);
        QCOMPARE(m_observed->finishedCount, 1);
        QCOMPARE(m_originA->totalRequestCount(), hungHop + 1);
    }

    void abortDuringTheSecondHop()
    {
        chainHops(3);
        Response held = Response::redirect("hop2");
        held.held = true;
        m_originA->setResponse(QStringLiteral("/hop1"), held);
        const auto fetch = start(mediaRequest(m_originA->url(QStringLiteral("/hop0")), Bearer));
        QTRY_COMPARE(m_originA->requestCount(QStringLiteral("/hop1")), 1);

        fetch->abort();

        QCOMPARE(m_observed->finishedCount, 1);
        QCOMPARE(fetch->ending(), Ending::Cancelled);
        QCOMPARE(fetch->networkError(), QNetworkReply::OperationCanceledError);
        // The held redirect goes out now: nothing may follow it.
        m_originA->release(QStringLiteral("/hop1"));
        QTRY_COMPARE(m_originA->requestsInFlight(), 0);
        QCOMPARE(m_originA->requestCount(QStringLiteral("/hop2")), 0);
        fetch->abort();
        QCOMPARE(m_observed->finishedCount, 1);
    }

    // A failed answer reports its failure and, a moment later, its end. Cancelling in between
    // ends the fetch once, and Qt has no second failure on one reply to warn about.
    void abortBetweenTheFailureAndTheEnd()
    {
        m_originA->setResponse(QStringLiteral("/missing"), Response(404, "gone", "text/plain"));
        LogRecorder log;
        const auto fetch = start(mediaRequest(m_originA->url(QStringLiteral("/missing")), {}));
        auto *hop = m_network->findChild<QNetworkReply *>();
        QVERIFY(hop);
        bool abortedAfterTheFailure = false;
        connect(hop, &QNetworkReply::errorOccurred, this, [&fetch, &abortedAfterTheFailure] {
            abortedAfterTheFailure = !fetch->isFinished();
            fetch->abort();
        });

        waitForTheEnd(*fetch);
        QTRY_COMPARE(m_originA->requestsInFlight(), 0);

        QVERIFY(abortedAfterTheFailure);
        QCOMPARE(fetch->ending(), Ending::Cancelled);
        QCOMPARE(m_observed->finishedCount, 1);
        QCOMPARE(log.inCategory(QStringLiteral("qt")).size(), 0);
    }

    void deletedDuringAHop()
    {
        chainHops(2);
        Response held = Response::redirect("hop1");
        held.held = true;
        m_originA->setResponse(QStringLiteral("/hop0"), held);
        auto fetch = start(mediaRequest(m_originA->url(QStringLiteral("/hop0")), {}));
        QTRY_COMPARE(m_originA->requestCount(QStringLiteral("/hop0")), 1);

        fetch.reset();

        m_originA->release(QStringLiteral("/hop0"));
        QTRY_COMPARE(m_originA->requestsInFlight(), 0);
        QCOMPARE(m_originA->requestCount(QStringLiteral("/hop1")), 0);
        QCOMPARE(m_observed->finishedCount, 0);
    }

    void networkManagerGoneDuringAHop()
    {
        m_originA->setResponse(QStringLiteral("/start"), Response::hung());
        const auto fetch = start(mediaRequest(m_originA->url(QStringLiteral("/start")), {}));
        QTRY_COMPARE(m_originA->requestCount(QStringLiteral("/start")), 1);

        m_network.reset();

        QTRY_COMPARE(m_observed->finishedCount, 1);
        QCOMPARE(fetch->ending(), Ending::Cancelled);
    }

    // The body of a redirect is drained, never handed on, even past a read buffer limit; the final
    // answer streams to the caller as it arrives.
    void onlyTheFinalAnswerReachesTheCaller()
    {
        Response redirect = Response::redirect(m_originB->url(QStringLiteral("/stream")).toEncoded());
        redirect.body = QByteArray(64 * 1024, 'r');
        m_originA->setResponse(QStringLiteral("/start"), redirect);
        // A second of trickle: the caller must hear of the data well before the end.
        Response streamed(200, QByteArray(4000, 's'), "video/mp2t");
        streamed.bytesPerSecond = 4000;
        m_originB->setResponse(QStringLiteral("/stream"), streamed);

        const auto fetch = start(mediaRequest(m_originA->url(QStringLiteral("/start")), {}), 1024);
        waitForTheEnd(*fetch);

        QCOMPARE(fetch->ending(), Ending::Completed);
        QCOMPARE(m_observed->heads, 1);
        QCOMPARE(m_observed->headStatus, 200);
        QVERIFY(m_observed->headBeforeData);
        QVERIFY2(m_observed->readyReadsBeforeTheEnd > 1, "the body did not stream");
        QCOMPARE(m_observed->body, streamed.body);
        QCOMPARE(m_observed->lastProgressTotal, qint64(streamed.body.size()));
        QCOMPARE(fetch->rawHeader("content-type"), QByteArray("video/mp2t"));
        QCOMPARE(fetch->url(), m_originB->url(QStringLiteral("/stream")));
    }

    // Error answers stay readable: callers read their structured codes.
    void errorAnswersKeepTheirBody()
    {
        m_originA->setResponse(QStringLiteral("/start"), Response::redirect("/denied"));
        m_originA->setResponse(QStringLiteral("/denied"),
                               Response::json(R"({"code":"COURSE_ACCESS_DENIED"})", 403));

        const auto fetch = start(mediaRequest(m_originA->url(QStringLiteral("/start")), Bearer));
        waitForTheEnd(*fetch);

        QCOMPARE(fetch->ending(), Ending::NetworkError);
        QCOMPARE(fetch->networkError(), QNetworkReply::ContentAccessDenied);
        QCOMPARE(fetch->httpStatus(), 403);
        QVERIFY(MediaNetworkPolicy::isExactCourseAccessDenied(m_observed->body,
                                                              fetch->rawHeader("X-Quorin-Error-Code")));
    }

    // The proxy and the progressive stream fetch on threads of their own, each with its own
    // network access manager.
    void runsOnTheThreadOfItsNetworkManager()
    {
        m_originA->setResponse(QStringLiteral("/start"),
                               Response::redirect(m_originB->url(QStringLiteral("/landing")).toEncoded()));
        const QNetworkRequest request = mediaRequest(m_originA->url(QStringLiteral("/start")), {});
        QThread worker;
        worker.start();
        QObject context;
        context.moveToThread(&worker);
        std::atomic<QThread *> finishedOn{nullptr};
        std::atomic<int> ending{-1};
        QByteArray body;
        QSemaphore done;

        QMetaObject::invokeMethod(&context, [&] {
            auto *network = new QNetworkAccessManager(&context);
            auto *fetch = new MediaFetch(network, request, &context);
            connect(fetch, &MediaFetch::finished, &context, [&, fetch, network] {
                finishedOn = QThread::currentThread();
                ending = int(fetch->ending());
                body = fetch->readAll();
                fetch->deleteLater();
                network->deleteLater();
                done.release();
            });
            fetch->start();
        });
        QTRY_COMPARE_WITH_TIMEOUT(done.available(), 1, 20000);
        worker.quit();
        worker.wait();

        QCOMPARE(finishedOn.load(), &worker);
        QCOMPARE(Ending(ending.load()), Ending::Completed);
        QCOMPARE(body, Landed);
        QCOMPARE(m_originB->requestCount(QStringLiteral("/landing")), 1);
    }
};

QTEST_GUILESS_MAIN(tst_MediaFetch)
#include "tst_MediaFetch.moc"
