#include "HlsProxySessionProbe.h"
#include "app/DiagnosticLogger.h"
#include "hlsproxy/HlsProxyServer.h"
#include "hlsproxy/HlsProxySession.h"
#include "hlsproxy/HlsProxyThread.h"
#include "hlsproxy/ProxyFailureRecord.h"
#include "hlsproxy/ProxyFailureReport.h"
#include "hlsproxy/SessionInfo.h"
#include "hlsproxy/TokenInfo.h"

#include <QMetaType>
#include <QNetworkReply>
#include <QTcpSocket>
#include <QTest>
#include <QVariant>
#include <type_traits>

// The records travel between threads and into the log as numbers, so their layout, types and
// values are part of their contract. Designated initialisers compile only in declaration order.
static_assert(std::is_same_v<decltype(TokenInfo::generation), quint64>);
static_assert(std::is_same_v<decltype(TokenInfo::sequence), quint64>);
static_assert(std::is_same_v<decltype(TokenInfo::startMs), qint64>);
static_assert(std::is_same_v<decltype(TokenInfo::durationMs), qint64>);
static_assert(std::is_same_v<decltype(TokenInfo::sourceIv), QByteArray>);
static_assert(std::is_same_v<decltype(ProxyFailureRecord::httpStatus), int>);
static_assert(std::is_same_v<decltype(ProxyFailureRecord::networkError), int>);
static_assert(std::is_same_v<decltype(ProxyFailureRecord::generation), quint64>);
static_assert(std::is_same_v<decltype(SessionInfo::registeredAtMs), qint64>);
static_assert(std::is_same_v<decltype(SessionInfo::generation), quint64>);
static_assert(std::is_same_v<decltype(SessionInfo::authGeneration), quint64>);
static_assert(sizeof(ProxyFailureOrigin) == 4 && sizeof(ProxyFailureReason) == 4 &&
              sizeof(ProxyResourceType) == 4);

class tst_HlsProxyRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tokenInfoDefaults()
    {
        const TokenInfo info;

        QCOMPARE(info.startMs, -1);
        QCOMPARE(info.durationMs, 0);
        QCOMPARE(info.sequence, 0u);
        QCOMPARE(info.generation, 0u);
        for (const QString &text :
             {info.url, info.lectureId, info.sessionId, info.keyUrl, info.byteRange, info.renditionId})
            QVERIFY(text.isEmpty());
        for (const QByteArray &bytes : {info.playbackKey, info.playbackIv, info.cacheIv, info.authorization,
                                        info.acceptLanguage, info.keyCacheIv, info.sourceIv})
            QVERIFY(bytes.isEmpty());
    }

    void tokenInfoFieldOrder()
    {
        const TokenInfo info{
            .url = QStringLiteral("https://media.example/v/seg-7.ts"),
            .lectureId = QStringLiteral("lecture"),
            .sessionId = QStringLiteral("session"),
            .generation = 5,
            .playbackKey = QByteArray(16, 'k'),
            .playbackIv = QByteArray(16, 'i'),
            .cacheIv = QByteArray(16, 'c'),
            .authorization = "Bearer a",
            .acceptLanguage = "en",
            .keyUrl = QStringLiteral("https://media.example/v/key"),
            .keyCacheIv = QByteArray(16, 'K'),
            .sourceIv = QByteArray(16, 's'),
            .byteRange = QStringLiteral("1000@0"),
            .sequence = 7,
            .startMs = 28000,
            .durationMs = 4000,
            .renditionId = QStringLiteral("0123456789ab"),
        };
        QCOMPARE(info.startMs, 28000);
        QCOMPARE(info.renditionId, QStringLiteral("0123456789ab"));
    }

    void failureRecordDefaultsAndOrder()
    {
        const ProxyFailureRecord none;
        QCOMPARE(none.origin, ProxyFailureOrigin::LocalProxy);
        QCOMPARE(none.resourceType, ProxyResourceType::Unknown);
        QCOMPARE(none.httpStatus, 0);
        QCOMPARE(none.networkError, 0);
        QVERIFY(none.upstreamCode.isEmpty());
        QVERIFY(none.sessionId.isEmpty());
        QCOMPARE(none.generation, 0u);

        const ProxyFailureRecord record{
            .origin = ProxyFailureOrigin::UpstreamHttp,
            .reason = ProxyFailureReason::UpstreamKey,
            .resourceType = ProxyResourceType::Key,
            .httpStatus = 403,
            .networkError = 201,
            .upstreamCode = QStringLiteral("USER_BLOCKED"),
            .sessionId = QStringLiteral("session"),
            .generation = 3,
            .resourceFp = QString(),
        };
        // Through a QVariant, as a queued connection carries it.
        const auto copy = QVariant::fromValue(record).value<ProxyFailureRecord>();
        QCOMPARE(copy.reason, ProxyFailureReason::UpstreamKey);
        QCOMPARE(copy.networkError, 201);
        QCOMPARE(copy.upstreamCode, QStringLiteral("USER_BLOCKED"));
        QCOMPARE(copy.generation, 3u);
    }

    void metaTypeNames()
    {
        QCOMPARE(QByteArray(QMetaType::fromType<ProxyFailureRecord>().name()), "ProxyFailureRecord");
        QCOMPARE(QByteArray(QMetaType::fromType<ProxyResourceType>().name()), "ProxyResourceType");
    }

    void enumerationValues_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("expected");

        QTest::newRow("LocalProxy") << int(ProxyFailureOrigin::LocalProxy) << 0;
        QTest::newRow("UpstreamHttp") << int(ProxyFailureOrigin::UpstreamHttp) << 1;
        QTest::newRow("NetworkTransport") << int(ProxyFailureOrigin::NetworkTransport) << 2;
        QTest::newRow("UnknownSession") << int(ProxyFailureReason::UnknownSession) << 0;
        QTest::newRow("UnknownToken") << int(ProxyFailureReason::UnknownToken) << 1;
        QTest::newRow("RetiredSession") << int(ProxyFailureReason::RetiredSession) << 2;
        QTest::newRow("RequestLimit") << int(ProxyFailureReason::RequestLimit) << 3;
        QTest::newRow("LocalRefusal") << int(ProxyFailureReason::LocalRefusal) << 4;
        QTest::newRow("UpstreamPlaylist") << int(ProxyFailureReason::UpstreamPlaylist) << 6;
        QTest::newRow("UpstreamKey") << int(ProxyFailureReason::UpstreamKey) << 7;
        QTest::newRow("UpstreamSegment") << int(ProxyFailureReason::UpstreamSegment) << 8;
        QTest::newRow("Unknown") << int(ProxyResourceType::Unknown) << 0;
        QTest::newRow("Playlist") << int(ProxyResourceType::Playlist) << 1;
        QTest::newRow("Key") << int(ProxyResourceType::Key) << 2;
        QTest::newRow("Segment") << int(ProxyResourceType::Segment) << 3;
    }

    void enumerationValues()
    {
        QFETCH(int, value);
        QFETCH(int, expected);
        QCOMPARE(value, expected);
    }

    void originWords_data()
    {
        QTest::addColumn<ProxyFailureOrigin>("origin");
        QTest::addColumn<QString>("word");

        QTest::newRow("LocalProxy") << ProxyFailureOrigin::LocalProxy << QStringLiteral("local_proxy");
        QTest::newRow("UpstreamHttp")
            << ProxyFailureOrigin::UpstreamHttp << QStringLiteral("upstream_backend");
        QTest::newRow("NetworkTransport")
            << ProxyFailureOrigin::NetworkTransport << QStringLiteral("network_transport");
        // A value from a newer proxy is still reported, as an upstream failure.
        QTest::newRow("out of range")
            << static_cast<ProxyFailureOrigin>(9) << QStringLiteral("upstream_backend");
    }

    void originWords()
    {
        QFETCH(ProxyFailureOrigin, origin);
        QFETCH(QString, word);
        QCOMPARE(QString(quorin::proxyFailureOriginWord(origin)), word);
    }

    void sessionInfoFieldOrder()
    {
        const SessionInfo info{
            .lectureId = QStringLiteral("lecture"),
            .playbackKey = QByteArray(16, 'k'),
            .playbackIv = QByteArray(16, 'i'),
            .masterIv = QByteArray(16, 'm'),
            .authorization = "Bearer a",
            .acceptLanguage = "ar",
            .registeredAtMs = 0,
            .generation = 4,
            .authGeneration = 9,
        };
        QCOMPARE(info.generation, 4u);
        QCOMPARE(SessionInfo().registeredAtMs, 0);
        QCOMPARE(SessionInfo().authGeneration, 0u);
    }

    void upstreamReport_data()
    {
        QTest::addColumn<ProxyResourceType>("resourceType");
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<int>("networkError");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("errorCodeHeader");
        QTest::addColumn<ProxyFailureOrigin>("origin");
        QTest::addColumn<ProxyFailureReason>("reason");
        QTest::addColumn<QString>("upstreamCode");

        const auto segment = ProxyResourceType::Segment;
        const auto http = ProxyFailureOrigin::UpstreamHttp;
        const auto segmentReason = ProxyFailureReason::UpstreamSegment;
        QTest::newRow("network error without status")
            << segment << 0 << 99 << QByteArray() << QByteArray() << ProxyFailureOrigin::NetworkTransport
            << segmentReason << QString();
        QTest::newRow("network error with status")
            << segment << 403 << 99 << QByteArray() << QByteArray() << http << segmentReason << QString();
        QTest::newRow("status without network error")
            << segment << 500 << 0 << QByteArray() << QByteArray() << http << segmentReason << QString();
        QTest::newRow("neither status nor network error")
            << segment << 0 << 0 << QByteArray() << QByteArray() << http << segmentReason << QString();
        QTest::newRow("playlist") << ProxyResourceType::Playlist << 404 << 0 << QByteArray() << QByteArray()
                                  << http << ProxyFailureReason::UpstreamPlaylist << QString();
        QTest::newRow("key") << ProxyResourceType::Key << 404 << 0 << QByteArray() << QByteArray() << http
                             << ProxyFailureReason::UpstreamKey << QString();
        QTest::newRow("not routed") << ProxyResourceType::Unknown << 404 << 0 << QByteArray() << QByteArray()
                                    << http << segmentReason << QString();
        QTest::newRow("code from the header")
            << segment << 403 << 201 << QByteArray(R"({"code":"CONTENT_NOT_FOUND"})")
            << QByteArray(" user-blocked ") << http << segmentReason << QStringLiteral("USER_BLOCKED");
        QTest::newRow("code from the body")
            << segment << 403 << 201 << QByteArray(R"({"error":{"code":"course-access-denied"}})")
            << QByteArray() << http << segmentReason << QStringLiteral("COURSE_ACCESS_DENIED");
    }

    void upstreamReport()
    {
        QFETCH(ProxyResourceType, resourceType);
        QFETCH(int, httpStatus);
        QFETCH(int, networkError);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, errorCodeHeader);
        QFETCH(ProxyFailureOrigin, origin);
        QFETCH(ProxyFailureReason, reason);
        QFETCH(QString, upstreamCode);

        const ProxyFailureRecord record = quorin::upstreamFailureReport(
            httpStatus, networkError, body, errorCodeHeader, resourceType, QStringLiteral("session-a"), 12);

        const ProxyFailureRecord expected{
            .origin = origin,
            .reason = reason,
            .resourceType = resourceType,
            .httpStatus = httpStatus,
            .networkError = networkError,
            .upstreamCode = upstreamCode,
            .sessionId = QStringLiteral("session-a"),
            .generation = 12,
            .resourceFp = QString(),
        };
        QCOMPARE(record, expected);
    }

    void localReport()
    {
        const ProxyFailureRecord record = quorin::localFailureReport(
            ProxyFailureReason::RequestLimit, 429, ProxyResourceType::Key, QStringLiteral("session-b"), 3);

        const ProxyFailureRecord expected{
            .origin = ProxyFailureOrigin::LocalProxy,
            .reason = ProxyFailureReason::RequestLimit,
            .resourceType = ProxyResourceType::Key,
            .httpStatus = 429,
            .networkError = 0,
            .upstreamCode = QString(),
            .sessionId = QStringLiteral("session-b"),
            .generation = 3,
            .resourceFp = QString(),
        };
        QCOMPARE(record, expected);
    }

    // A cached copy that could not be read back names its resource, never its URL.
    void cacheFaultReport()
    {
        const QString url = QStringLiteral("https://media.example/v1/segment7.ts");
        const ProxyFailureRecord record =
            quorin::cacheFaultReport(url, ProxyResourceType::Segment, QStringLiteral("session-c"), 4);

        const ProxyFailureRecord expected{
            .origin = ProxyFailureOrigin::LocalProxy,
            .reason = ProxyFailureReason::CacheFault,
            .resourceType = ProxyResourceType::Segment,
            .httpStatus = 0,
            .networkError = 0,
            .upstreamCode = QString(),
            .sessionId = QStringLiteral("session-c"),
            .generation = 4,
            .resourceFp = DiagnosticLogger::fingerprint(url),
        };
        QCOMPARE(record, expected);
        QCOMPARE(int(ProxyFailureReason::CacheFault), 9);
    }

    // A request head too large to route is reported with what an accepted connection holds.
    void reportBeforeRouting()
    {
        const HlsProxyThread proxy;
        HlsProxyServer *server = proxy.server();
        QTcpSocket client;
        client.connectToHost(QHostAddress(QHostAddress::LocalHost), server->port());
        QVERIFY(client.waitForConnected(10000));
        QTRY_COMPARE(HlsProxySessionProbe::connections(server).size(), 1);
        HlsProxySession *connection = HlsProxySessionProbe::connections(server).constFirst();

        ProxyFailureRecord record;
        QMetaObject::invokeMethod(
            server,
            [&] {
                record = quorin::localFailureReport(ProxyFailureReason::LocalRefusal, 431,
                                                    connection->resourceType(), connection->sessionId(),
                                                    connection->generation());
            },
            Qt::BlockingQueuedConnection);

        QCOMPARE(record.resourceType, ProxyResourceType::Unknown);
        QCOMPARE(record.sessionId, QString());
        QCOMPARE(record.generation, 0u);
        QCOMPARE(record.origin, ProxyFailureOrigin::LocalProxy);
        QCOMPARE(record.httpStatus, 431);
    }

    // A clear segment is the same resource whatever IV its playlist line implies; an encrypted one
    // is not, since the IV changes its plaintext.
    void segmentTokensAndSourceIv_data()
    {
        QTest::addColumn<QString>("keyUrl");
        QTest::addColumn<bool>("sameToken");

        QTest::newRow("clear") << QString() << true;
        QTest::newRow("encrypted") << QStringLiteral("https://media.example/v/key.bin") << false;
    }

    void segmentTokensAndSourceIv()
    {
        QFETCH(QString, keyUrl);
        QFETCH(bool, sameToken);

        HlsProxyServer server;
        const QString sessionId = QStringLiteral("records-session");
        SessionInfo session;
        session.lectureId = QStringLiteral("lecture");
        server.registerSession(sessionId, session);

        TokenInfo first;
        first.url = QStringLiteral("https://media.example/v/seg-3.ts");
        first.sessionId = sessionId;
        first.keyUrl = keyUrl;
        first.sourceIv = QByteArray(16, '\x01');
        first.sequence = 3;
        first.startMs = 12000;
        first.durationMs = 4000;
        first.renditionId = QStringLiteral("0123456789ab");
        TokenInfo second = first;
        second.sourceIv = QByteArray(16, '\x02');

        const QString firstToken = server.registerToken(first);
        const QString secondToken = server.registerToken(second);
        QCOMPARE(firstToken.size(), 36);
        QCOMPARE(secondToken.size(), 36);
        QCOMPARE(firstToken == secondToken, sameToken);

        // A shared token serves the newer record.
        TokenInfo resolved;
        QCOMPARE(server.resolveToken(secondToken, resolved), HlsTokenRegistry::Resolution::Resolved);
        QCOMPARE(resolved, second);
    }
};

QTEST_GUILESS_MAIN(tst_HlsProxyRecords)
#include "tst_HlsProxyRecords.moc"
