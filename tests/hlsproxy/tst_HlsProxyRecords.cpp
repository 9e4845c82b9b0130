#include "hlsproxy/ProxyFailureRecord.h"
#include "hlsproxy/TokenInfo.h"

#include <QMetaType>
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
};

QTEST_APPLESS_MAIN(tst_HlsProxyRecords)
#include "tst_HlsProxyRecords.moc"
