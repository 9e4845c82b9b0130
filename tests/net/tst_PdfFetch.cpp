#include "net/MediaFetch.h"
#include "net/PdfTransfer.h"
#include "sample-server/SampleServer.h"
#include "tests/net/NetworkManagerHarness.h"
#include "testsupport/FixturePaths.h"
#include "testsupport/MediaFixtures.h"

#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

using quorin::test::FixturePaths;
using quorin::test::FixtureServer;
using quorin::test::LogLineParser;
using quorin::test::MediaFixtures;
using quorin::test::NetworkManagerHarness;

Q_DECLARE_METATYPE(quorin::test::FixtureServer::Response)

namespace {

constexpr qint64 kCap = 67108864;
const QString kDocumentPath = QStringLiteral("/media/pdf/lecture.pdf");
const QString kSessionExpired = QStringLiteral("Your session has expired. Please sign in again.");
const QString kTooLarge = QStringLiteral("The document is too large to open safely.");

// Everything one transfer reported, in order.
struct FetchRecord
{
    int finishedCount = 0;
    QByteArray data;
    NetworkFailure failure;
    QList<QPair<qint64, qint64>> progress;
    // "requestFailed:<context>:<code>" from the manager and "finished" from the transfer.
    QStringList events;
};

FixtureServer::Response document(const QByteArray &bytes)
{
    return FixtureServer::Response(200, bytes, "application/pdf");
}

// A body of the size given, cheap to compare.
QByteArray bodyOf(qint64 size)
{
    return QByteArray(size, 'p');
}

} // namespace

class tst_PdfFetch : public QObject
{
    Q_OBJECT

private:
    NetworkManagerHarness m_harness;
    QByteArray m_access;

    [[nodiscard]] std::unique_ptr<NetworkManager> signedInManager(
        const NetworkManagerHarness::ManagerOptions &options = NetworkManagerHarness::ManagerOptions())
    {
        m_access = m_harness.tokenExpiringIn(3600);
        return m_harness.makeSignedInManager(m_access, QStringLiteral("refresh-1"), options);
    }

    [[nodiscard]] QString documentUrl(const QString &path = kDocumentPath)
    {
        return m_harness.server().url(path).toString();
    }

    // Starts a fetch; the record fills as the transfer reports. Nothing is connected before the
    // call returns, as a caller cannot connect earlier.
    static QPointer<PdfTransfer> start(NetworkManager &manager, const QString &url, FetchRecord &record)
    {
        PdfTransfer *transfer = manager.fetchPdfData(url);
        connect(transfer, &PdfTransfer::progress, transfer, [&record](qint64 received, qint64 total) {
            record.progress.append({received, total});
        });
        connect(transfer, &PdfTransfer::finished, transfer,
                [&record](const QByteArray &data, const NetworkFailure &failure) {
                    ++record.finishedCount;
                    record.data = data;
                    record.failure = failure;
                    record.events.append(QStringLiteral("finished"));
                });
        connect(&manager, &NetworkManager::requestFailed, transfer,
                [&record](const QString &context, const AppFailure &failure) {
                    record.events.append(QStringLiteral("requestFailed:%1:%2").arg(context, failure.code));
                });
        return transfer;
    }

    // Fetches and waits for the end.
    FetchRecord fetch(NetworkManager &manager, const QString &url)
    {
        FetchRecord record;
        start(manager, url, record);
        if (!QTest::qWaitFor([&record] { return record.finishedCount > 0; }, 20000))
            qWarning("the transfer did not finish");
        return record;
    }

    // The document records of this event written since the test began.
    [[nodiscard]] QList<LogLineParser::Record> documentRecords(const QString &event) const
    {
        QList<LogLineParser::Record> records = m_harness.logRecords(event);
        records.removeIf([](const LogLineParser::Record &record) {
            return record.value(QStringLiteral("category")) != QLatin1String("pdf");
        });
        return records;
    }

    void verifyClassified(const QString &level, int status, const QString &classification, qint64 bytes)
    {
        const QList<LogLineParser::Record> records = documentRecords(QStringLiteral("response_classified"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().value(QStringLiteral("level")), level);
        QCOMPARE(records.first().value(QStringLiteral("status")), QString::number(status));
        QCOMPARE(records.first().value(QStringLiteral("classification")), classification);
        QCOMPARE(records.first().value(QStringLiteral("bytes")), QString::number(bytes));
    }

    void verifyRetryReasons(const QStringList &reasons)
    {
        QStringList logged;
        for (const LogLineParser::Record &record : documentRecords(QStringLiteral("authentication_retry"))) {
            QCOMPARE(record.value(QStringLiteral("level")), QStringLiteral("info"));
            logged.append(record.value(QStringLiteral("reason")));
        }
        QCOMPARE(logged, reasons);
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    void deliversTheDocument()
    {
        const QByteArray bytes = MediaFixtures::readFile(QStringLiteral("pdf/lecture.pdf"));
        QVERIFY(bytes.startsWith("%PDF"));
        m_harness.server().setResponse(kDocumentPath, document(bytes));
        const auto manager = signedInManager();

        const FetchRecord record = fetch(*manager, documentUrl());

        QCOMPARE(record.finishedCount, 1);
        QCOMPARE(record.events, QStringList{QStringLiteral("finished")});
        QVERIFY(record.data == bytes);
        QVERIFY(record.failure.failure.code.isEmpty());
        QCOMPARE(record.failure.httpStatus, 0);
        QVERIFY(!record.progress.isEmpty());
        QCOMPARE(record.progress.last(), qMakePair(qint64(bytes.size()), qint64(bytes.size())));

        const QList<FixtureServer::Request> requests = m_harness.server().requests(kDocumentPath);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().method, QByteArray("GET"));
        QCOMPARE(requests.first().header("Accept"), QByteArray("application/pdf"));
        QCOMPARE(requests.first().header("Accept-Language"), QLocale().bcp47Name().toUtf8());
        QCOMPARE(requests.first().header("Authorization"), "Bearer " + m_access);
        verifyClassified(QStringLiteral("info"), 200, QStringLiteral("success"), bytes.size());
        verifyRetryReasons({});
    }

    void expiringTokenIsRenewedFirst()
    {
        m_harness.server().setResponse(kDocumentPath, document("%PDF-1.4 small"));
        const QByteArray renewed = m_harness.tokenExpiringIn(3600, QStringLiteral("renewed"));
        m_harness.answerRefresh(renewed, QStringLiteral("refresh-2"));
        const auto manager =
            m_harness.makeSignedInManager(m_harness.tokenExpiringIn(30), QStringLiteral("refresh-1"));

        const FetchRecord record = fetch(*manager, documentUrl());

        QCOMPARE(record.data, QByteArray("%PDF-1.4 small"));
        verifyRetryReasons({QStringLiteral("proactive_refresh")});
        const QList<FixtureServer::Request> requests = m_harness.server().requests();
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests.at(0).path, QByteArray("/api/v1/auth/refresh"));
        QCOMPARE(requests.at(1).path, kDocumentPath.toUtf8());
        QCOMPARE(requests.at(1).header("Authorization"), "Bearer " + renewed);
    }

    void answersAreClassified_data()
    {
        QTest::addColumn<QList<int>>("statuses");
        QTest::addColumn<int>("refreshes");
        QTest::addColumn<QString>("classification");
        QTest::addColumn<QString>("code"); // empty: success
        QTest::addColumn<int>("finalStatus");

        QTest::newRow("401, then 200 after one refresh")
            << QList<int>{401, 200} << 1 << QStringLiteral("success") << QString() << 200;
        QTest::newRow("401 twice") << QList<int>{401, 401} << 1 << QStringLiteral("authentication")
                                   << QStringLiteral("HTTP_401") << 401;
        QTest::newRow("403 is not retried")
            << QList<int>{403} << 0 << QStringLiteral("authentication") << QStringLiteral("HTTP_403") << 403;
        QTest::newRow("404") << QList<int>{404} << 0 << QStringLiteral("terminal")
                             << QStringLiteral("HTTP_404") << 404;
        QTest::newRow("503") << QList<int>{503} << 0 << QStringLiteral("transient")
                             << QStringLiteral("HTTP_503") << 503;
    }

    void answersAreClassified()
    {
        QFETCH(QList<int>, statuses);
        QFETCH(int, refreshes);
        QFETCH(QString, classification);
        QFETCH(QString, code);
        QFETCH(int, finalStatus);
        QList<FixtureServer::Response> answers;
        for (const int status : std::as_const(statuses))
            answers.append(status == 200 ? document("%PDF-1.4 ok") : FixtureServer::Response(status, "no"));
        m_harness.server().setResponses(kDocumentPath, answers);
        const QByteArray renewed = m_harness.tokenExpiringIn(3600, QStringLiteral("renewed"));
        m_harness.answerRefresh(renewed, QStringLiteral("refresh-2"));
        const auto manager = signedInManager();

        const FetchRecord record = fetch(*manager, documentUrl());

        QCOMPARE(record.finishedCount, 1);
        QCOMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).size(), refreshes);
        const QList<FixtureServer::Request> gets = m_harness.server().requests(kDocumentPath);
        QCOMPARE(gets.size(), statuses.size());
        QCOMPARE(gets.first().header("Authorization"), "Bearer " + m_access);
        if (gets.size() > 1)
            QCOMPARE(gets.last().header("Authorization"), "Bearer " + renewed);
        verifyRetryReasons(refreshes > 0 ? QStringList{QStringLiteral("http_401")} : QStringList());

        if (code.isEmpty()) {
            QCOMPARE(record.events, QStringList{QStringLiteral("finished")});
            QCOMPARE(record.data, QByteArray("%PDF-1.4 ok"));
            verifyClassified(QStringLiteral("info"), finalStatus, classification, record.data.size());
            return;
        }
        QCOMPARE(record.events,
                 (QStringList{QStringLiteral("requestFailed:pdf:") + code, QStringLiteral("finished")}));
        QCOMPARE(record.failure.failure.code, code);
        QCOMPARE(record.failure.httpStatus, finalStatus);
        verifyClassified(QStringLiteral("warning"), finalStatus, classification, record.data.size());
    }

    void refusedConnectionIsTransient()
    {
        QString url;
        {
            // Its port is closed again once it is gone.
            FixtureServer gone;
            QVERIFY(gone.listen());
            url = gone.url(kDocumentPath).toString();
        }
        const auto manager = signedInManager();

        const FetchRecord record = fetch(*manager, url);

        QCOMPARE(record.failure.networkError, int(QNetworkReply::ConnectionRefusedError));
        QCOMPARE(record.failure.httpStatus, 0);
        QVERIFY(record.failure.retryable);
        QCOMPARE(record.events,
                 (QStringList{QStringLiteral("requestFailed:pdf:") + record.failure.failure.code,
                              QStringLiteral("finished")}));
        verifyClassified(QStringLiteral("warning"), 0, QStringLiteral("transient"), 0);
    }

    void sizeCap_data()
    {
        QTest::addColumn<FixtureServer::Response>("answer");
        QTest::addColumn<bool>("delivered");

        QTest::newRow("exactly 64 MiB") << document(bodyOf(kCap)) << true;
        QTest::newRow("one byte more") << document(bodyOf(kCap + 1)) << false;

        // The declared length alone is enough: the server sends nothing after the head.
        FixtureServer::Response declared(200);
        declared.withHeader("Content-Type", "application/pdf").withHeader("Content-Length", "67108865");
        declared.stallAfterBodyBytes = 0;
        QTest::newRow("declared too large, then silent") << declared << false;

        // No length, and the body never ends: only counting the bytes stops it.
        FixtureServer::Response undeclared = document(bodyOf(kCap + 65536));
        undeclared.omitContentLength = true;
        undeclared.stallAfterBodyBytes = kCap + 65536;
        QTest::newRow("undeclared, past the cap") << undeclared << false;
    }

    void sizeCap()
    {
        QFETCH(FixtureServer::Response, answer);
        QFETCH(bool, delivered);
        m_harness.server().setResponse(kDocumentPath, answer);
        const auto manager = signedInManager();

        const FetchRecord record = fetch(*manager, documentUrl());

        QCOMPARE(record.finishedCount, 1);
        if (delivered) {
            QCOMPARE(record.data.size(), kCap);
            QVERIFY(record.data == answer.body);
            QVERIFY(record.failure.failure.code.isEmpty());
            verifyClassified(QStringLiteral("info"), 200, QStringLiteral("success"), kCap);
            return;
        }
        QVERIFY(record.data.isEmpty());
        QCOMPARE(record.failure.failure.code, QStringLiteral("PDF_TOO_LARGE"));
        QCOMPARE(record.failure.failure.category, QStringLiteral("validation"));
        QVERIFY(!record.failure.failure.retryable);
        QCOMPARE(record.failure.failure.userMessage, kTooLarge);
        QCOMPARE(record.failure.message, kTooLarge);
        QCOMPARE(record.failure.httpStatus, 0);
        QCOMPARE(record.failure.networkError, 0);
        QVERIFY(!record.failure.retryable);
        QVERIFY(!record.failure.authentication);
        QCOMPARE(record.events, (QStringList{QStringLiteral("requestFailed:pdf:PDF_TOO_LARGE"),
                                             QStringLiteral("finished")}));
        verifyClassified(QStringLiteral("warning"), 200, QStringLiteral("terminal"), 0);
        // The client hung up rather than wait for the rest.
        QTRY_COMPARE(m_harness.server().requestsInFlight(), 0);
    }

    void emptyUrlFailsAfterTheCallReturns()
    {
        const auto manager = signedInManager();
        FetchRecord record;
        const QPointer<PdfTransfer> transfer = start(*manager, QString(), record);
        QCOMPARE(record.finishedCount, 0);
        QTRY_COMPARE(record.finishedCount, 1);

        QCOMPARE(transfer->parent(), manager.get());
        QVERIFY(record.data.isEmpty());
        QCOMPARE(record.failure.failure.code, QStringLiteral("PDF_URL_EMPTY"));
        QCOMPARE(record.failure.failure.category, QStringLiteral("validation"));
        QCOMPARE(record.failure.message, QStringLiteral("Document URL is empty."));
        QCOMPARE(record.failure.failure.userMessage, QStringLiteral("Document URL is empty."));
        QCOMPARE(record.failure.httpStatus, 0);
        QCOMPARE(record.failure.networkError, 0);
        QVERIFY(!record.failure.retryable);
        QVERIFY(!record.failure.authentication);
        QCOMPARE(record.events, QStringList{QStringLiteral("finished")});
        QCOMPARE(m_harness.server().totalRequestCount(), 0);
    }

    void signedOutFailsAfterTheCallReturns()
    {
        m_harness.server().setResponse(kDocumentPath, document("%PDF"));
        const auto manager = m_harness.makeManager();
        FetchRecord record;
        start(*manager, documentUrl(), record);
        QCOMPARE(record.finishedCount, 0);
        QTRY_COMPARE(record.finishedCount, 1);

        QCOMPARE(record.failure.httpStatus, 401);
        QCOMPARE(record.failure.networkError, 204);
        QCOMPARE(record.failure.message, kSessionExpired);
        QVERIFY(record.failure.authentication);
        QCOMPARE(record.events, QStringList{QStringLiteral("finished")});
        QCOMPARE(m_harness.server().totalRequestCount(), 0);
    }

    void cancellingWhileTheDocumentIsOnItsWay_data()
    {
        QTest::addColumn<bool>("headArrived");
        QTest::newRow("before the head") << false;
        QTest::newRow("after the head, body delayed") << true;
    }

    void cancellingWhileTheDocumentIsOnItsWay()
    {
        QFETCH(bool, headArrived);
        FixtureServer::Response slow = document(bodyOf(1000));
        if (headArrived)
            slow.stallAfterBodyBytes = 10;
        else
            slow.held = true;
        m_harness.server().setResponse(kDocumentPath, slow);
        m_harness.server().setResponse(QStringLiteral("/media/pdf/handout.pdf"), document("%PDF-1.4 next"));
        const auto manager = signedInManager();
        FetchRecord cancelled;
        const QPointer<PdfTransfer> transfer = start(*manager, documentUrl(), cancelled);
        QTRY_COMPARE(m_harness.server().requestsInFlight(), 1);
        if (headArrived) {
            // The transfer's request object is its child; its status is known once the head is in.
            const auto *request = transfer->findChild<quorin::MediaFetch *>();
            QVERIFY(request);
            QTRY_COMPARE(request->httpStatus(), 200);
        }

        transfer->cancel();
        // The client hung up.
        QTRY_COMPARE(m_harness.server().requestsInFlight(), 0);

        // A later transfer ends; the cancelled one said nothing meanwhile.
        const FetchRecord later = fetch(*manager, documentUrl(QStringLiteral("/media/pdf/handout.pdf")));
        QCOMPARE(later.data, QByteArray("%PDF-1.4 next"));
        QCOMPARE(cancelled.finishedCount, 0);
        QVERIFY(cancelled.events.isEmpty());
        QCOMPARE(documentRecords(QStringLiteral("response_classified")).size(), 1);
        QVERIFY(transfer);
    }

    void cancellingAfterTheEndChangesNothing()
    {
        m_harness.server().setResponse(kDocumentPath, document("%PDF-1.4 done"));
        const auto manager = signedInManager();
        FetchRecord record;
        const QPointer<PdfTransfer> transfer = start(*manager, documentUrl(), record);
        QTRY_COMPARE(record.finishedCount, 1);

        transfer->cancel();
        transfer->cancel();
        QCOMPARE(record.finishedCount, 1);
        QCOMPARE(record.data, QByteArray("%PDF-1.4 done"));
        QCOMPARE(m_harness.server().requestCount(kDocumentPath), 1);
    }

    void deletingTheTransferDuringItsRefresh()
    {
        m_harness.server().setResponse(kDocumentPath, document("%PDF"));
        m_harness.server().setResponse(NetworkManagerHarness::route(QStringLiteral("ping")),
                                       FixtureServer::Response::json("{}"));
        const QByteArray renewed = m_harness.tokenExpiringIn(3600, QStringLiteral("renewed"));
        FixtureServer::Response heldRefresh = FixtureServer::Response::json(
            "{\"accessToken\":\"" + renewed + "\",\"refreshToken\":\"refresh-2\"}");
        heldRefresh.held = true;
        m_harness.server().setResponse(NetworkManagerHarness::route(QStringLiteral("auth/refresh")),
                                       heldRefresh);
        const auto manager =
            m_harness.makeSignedInManager(m_harness.tokenExpiringIn(10), QStringLiteral("refresh-1"));

        FetchRecord record;
        QPointer<PdfTransfer> transfer = start(*manager, documentUrl(), record);
        NetworkManagerHarness::CallbackRecord queued;
        manager->sendRequestDetailed(NetworkManager::HttpMethod::Get, QStringLiteral("ping"), {},
                                     NetworkManagerHarness::recordInto(queued));
        QTRY_COMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).size(), 1);

        delete transfer.data();
        m_harness.server().release(NetworkManagerHarness::route(QStringLiteral("auth/refresh")));
        QTRY_COMPARE(queued.calls, 1);
        QVERIFY(queued.failure.failure.code.isEmpty());
        QCOMPARE(m_harness.requestsTo(QStringLiteral("ping")).first().header("Authorization"),
                 "Bearer " + renewed);

        // One more round trip, so that a document request sent by the refresh would be logged.
        NetworkManagerHarness::CallbackRecord roundTrip;
        manager->sendRequestDetailed(NetworkManager::HttpMethod::Get, QStringLiteral("ping"), {},
                                     NetworkManagerHarness::recordInto(roundTrip));
        QTRY_COMPARE(roundTrip.calls, 1);
        QCOMPARE(m_harness.server().requestCount(kDocumentPath), 0);
        QCOMPARE(record.finishedCount, 0);
    }

    void followsFiveRedirectsOnItsOrigin()
    {
        for (int hop = 1; hop <= 5; ++hop) {
            const QByteArray next = hop < 5 ? "/hop/" + QByteArray::number(hop + 1) : kDocumentPath.toUtf8();
            m_harness.server().setResponse(QStringLiteral("/hop/%1").arg(hop),
                                           FixtureServer::Response::redirect(next));
        }
        m_harness.server().setResponse(kDocumentPath, document("%PDF-1.4 far"));
        const auto manager = signedInManager();

        const FetchRecord record = fetch(*manager, documentUrl(QStringLiteral("/hop/1")));

        QCOMPARE(record.data, QByteArray("%PDF-1.4 far"));
        QVERIFY(record.failure.failure.code.isEmpty());
        for (int hop = 1; hop <= 5; ++hop) {
            const QList<FixtureServer::Request> requests =
                m_harness.server().requests(QStringLiteral("/hop/%1").arg(hop));
            QCOMPARE(requests.size(), 1);
            QCOMPARE(requests.first().header("Authorization"), "Bearer " + m_access);
        }
        QCOMPARE(m_harness.server().requestCount(kDocumentPath), 1);
        QCOMPARE(m_harness.server().requests(kDocumentPath).first().header("Authorization"),
                 "Bearer " + m_access);
    }

    void refusedRedirects_data()
    {
        QTest::addColumn<QString>("target"); // "sixth", "plain", "other origin"
        QTest::newRow("a sixth redirect") << QStringLiteral("sixth");
        QTest::newRow("https to http") << QStringLiteral("plain");
        QTest::newRow("the bearer to another origin") << QStringLiteral("other origin");
    }

    void refusedRedirects()
    {
        QFETCH(QString, target);
        FixtureServer other(target == QLatin1String("plain") ? FixtureServer::Transport::PlainHttp
                                                             : FixtureServer::Transport::Https);
        QVERIFY(other.listen());
        other.setResponse(kDocumentPath, document("%PDF elsewhere"));
        int hops = 1;
        QByteArray finalTarget = other.url(kDocumentPath).toEncoded();
        if (target == QLatin1String("sixth")) {
            hops = 6;
            finalTarget = kDocumentPath.toUtf8();
        }
        for (int hop = 1; hop <= hops; ++hop) {
            const QByteArray next = hop < hops ? "/hop/" + QByteArray::number(hop + 1) : finalTarget;
            m_harness.server().setResponse(QStringLiteral("/hop/%1").arg(hop),
                                           FixtureServer::Response::redirect(next));
        }
        m_harness.server().setResponse(kDocumentPath, document("%PDF-1.4 never"));
        const auto manager = signedInManager();

        const FetchRecord record = fetch(*manager, documentUrl(QStringLiteral("/hop/1")));

        QCOMPARE(record.finishedCount, 1);
        QVERIFY(!record.failure.failure.code.isEmpty());
        QVERIFY(!record.failure.retryable);
        QVERIFY(!record.failure.authentication);
        QVERIFY(record.data != "%PDF-1.4 never");
        QCOMPARE(record.events,
                 (QStringList{QStringLiteral("requestFailed:pdf:") + record.failure.failure.code,
                              QStringLiteral("finished")}));
        for (int hop = 1; hop <= hops; ++hop)
            QCOMPARE(m_harness.server().requestCount(QStringLiteral("/hop/%1").arg(hop)), 1);
        // The refused target was never asked.
        QCOMPARE(m_harness.server().requestCount(kDocumentPath), 0);
        QCOMPARE(other.totalRequestCount(), 0);
        const QList<LogLineParser::Record> records = documentRecords(QStringLiteral("response_classified"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().value(QStringLiteral("classification")), QStringLiteral("terminal"));
    }

    void plainHttpDocumentGoesWithoutTheBearer()
    {
        FixtureServer plain(FixtureServer::Transport::PlainHttp);
        QVERIFY(plain.listen());
        plain.setResponse(kDocumentPath, document("%PDF-1.4 plain"));
        const auto manager = signedInManager();

        const FetchRecord record = fetch(*manager, plain.url(kDocumentPath).toString());

        QCOMPARE(record.data, QByteArray("%PDF-1.4 plain"));
        const QList<FixtureServer::Request> requests = plain.requests(kDocumentPath);
        QCOMPARE(requests.size(), 1);
        QVERIFY(!requests.first().hasHeader("Authorization"));
        QCOMPARE(requests.first().header("Accept"), QByteArray("application/pdf"));
    }

    void silenceAfterTheHeadTimesOut()
    {
        FixtureServer::Response stalled = document(bodyOf(1000));
        stalled.stallAfterBodyBytes = 10;
        m_harness.server().setResponse(kDocumentPath, stalled);
        NetworkManagerHarness::ManagerOptions options;
        options.documentTransferTimeoutMs = 300;
        const auto manager = signedInManager(options);

        const FetchRecord record = fetch(*manager, documentUrl());

        QCOMPARE(record.finishedCount, 1);
        QCOMPARE(record.failure.failure.code, QStringLiteral("NETWORK_TIMEOUT"));
        QCOMPARE(record.failure.networkError, int(QNetworkReply::TimeoutError));
        QCOMPARE(record.failure.httpStatus, 0);
        QVERIFY(record.failure.retryable);
        QCOMPARE(record.events, (QStringList{QStringLiteral("requestFailed:pdf:NETWORK_TIMEOUT"),
                                             QStringLiteral("finished")}));
        verifyClassified(QStringLiteral("warning"), 0, QStringLiteral("transient"), record.data.size());
    }

    void samplePlatformServesDocumentsToSignedInUsers()
    {
        SampleServer::Options options;
        options.port = 0;
        options.dataFolder = QStringLiteral(QUORIN_SAMPLE_DATA_DIR);
        options.mediaFolder = FixturePaths::mediaFolder();
        SampleServer platform(options);
        QVERIFY2(platform.start(), qPrintable(platform.errorString()));
        const QString url = platform.baseUrl().resolved(QUrl(kDocumentPath)).toString();

        // Without a bearer the origin refuses.
        QNetworkAccessManager network;
        std::unique_ptr<QNetworkReply> anonymous(network.get(QNetworkRequest(QUrl(url))));
        QSignalSpy anonymousDone(anonymous.get(), &QNetworkReply::finished);
        QVERIFY(anonymousDone.wait(10000));
        QCOMPARE(anonymous->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 401);

        NetworkManager::Configuration configuration;
        configuration.baseUrl = platform.baseUrl().resolved(QUrl(QStringLiteral("/api/v1/"))).toString();
        configuration.credentialStore = m_harness.keychain().createStore();
        NetworkManager manager(std::move(configuration));
        QSignalSpy signedIn(&manager, &NetworkManager::loginSuccess);
        manager.login(QStringLiteral("+201012345678"), QStringLiteral("quorin-demo"), QString());
        QVERIFY(signedIn.wait(10000));

        const FetchRecord record = fetch(manager, url);
        QVERIFY(record.failure.failure.code.isEmpty());
        QVERIFY(record.data == MediaFixtures::readFile(QStringLiteral("pdf/lecture.pdf")));
    }
};

QTEST_GUILESS_MAIN(tst_PdfFetch)
#include "tst_PdfFetch.moc"
