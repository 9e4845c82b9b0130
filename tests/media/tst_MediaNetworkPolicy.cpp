#include "media/MediaNetworkPolicy.h"

#include <QNetworkRequest>
#include <QTest>
#include <QVariant>

namespace {

using RawHeaders = QList<QPair<QByteArray, QByteArray>>;

const QByteArray SegmentAccept = "video/mp2t, application/octet-stream;q=0.9, */*;q=0.5";

QList<QByteArray> valuesOf(const QNetworkRequest &request, const QByteArray &name)
{
    QList<QByteArray> values;
    for (const QByteArray &header : request.rawHeaderList()) {
        if (header.compare(name, Qt::CaseInsensitive) == 0)
            values.append(request.rawHeader(header));
    }
    return values;
}

QNetworkRequest::RedirectPolicy redirectPolicyOf(const QNetworkRequest &request)
{
    return request.attribute(QNetworkRequest::RedirectPolicyAttribute)
        .value<QNetworkRequest::RedirectPolicy>();
}

QByteArray jsonCode(qsizetype length)
{
    return "{\"code\":\"" + QByteArray(length, 'A') + "\"}";
}

} // namespace

class tst_MediaNetworkPolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void applyByKind_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QByteArray>("accept");
        QTest::addColumn<int>("timeoutMs");

        QTest::newRow("Playlist")
            << int(MediaResourceKind::Playlist)
            << QByteArray("application/vnd.apple.mpegurl, application/x-mpegURL;q=0.9, */*;q=0.5") << 8000;
        QTest::newRow("Key") << int(MediaResourceKind::Key) << QByteArray("application/octet-stream")
                             << 30000;
        QTest::newRow("Segment") << int(MediaResourceKind::Segment) << SegmentAccept << 30000;
        QTest::newRow("ProgressiveStream")
            << int(MediaResourceKind::ProgressiveStream)
            << QByteArray("video/*, application/octet-stream;q=0.9, */*;q=0.5") << 30000;
        QTest::newRow("OfflineDownload")
            << int(MediaResourceKind::OfflineDownload)
            << QByteArray("video/*, application/octet-stream;q=0.9, */*;q=0.5") << 30000;
        QTest::newRow("unknown kind") << 42 << SegmentAccept << 30000;
    }

    void applyByKind()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, accept);
        QFETCH(int, timeoutMs);
        QNetworkRequest request(QUrl(QStringLiteral("https://media.example/v/index.m3u8")));
        request.setRawHeader("Accept", "text/html");

        MediaNetworkPolicy::apply(request, static_cast<MediaResourceKind>(kind), MediaAuthSnapshot());

        QCOMPARE(valuesOf(request, "Accept"), QList<QByteArray>{accept});
        QCOMPARE(valuesOf(request, "Accept-Encoding"), QList<QByteArray>{"identity"});
        QCOMPARE(request.transferTimeout(), timeoutMs);
        QCOMPARE(redirectPolicyOf(request), QNetworkRequest::ManualRedirectPolicy);
    }

    void applyHeaders_data()
    {
        QTest::addColumn<RawHeaders>("preset");
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<QByteArray>("acceptLanguage");
        QTest::addColumn<QByteArray>("range");
        QTest::addColumn<RawHeaders>("expected");

        QTest::newRow("empty snapshot and range")
            << RawHeaders() << QByteArray() << QByteArray() << QByteArray() << RawHeaders();
        QTest::newRow("signed in, with a range")
            << RawHeaders() << QByteArray("Bearer t") << QByteArray("ar-EG") << QByteArray("bytes=100-")
            << RawHeaders{
                   {"Accept-Language", "ar-EG"}, {"Authorization", "Bearer t"}, {"Range", "bytes=100-"}};
        QTest::newRow("snapshot replaces preset headers")
            << RawHeaders{{"Authorization", "Bearer old"}, {"Range", "bytes=0-"}, {"Accept-Language", "en"}}
            << QByteArray("Bearer new") << QByteArray("de-DE") << QByteArray("bytes=5-9")
            << RawHeaders{
                   {"Accept-Language", "de-DE"}, {"Authorization", "Bearer new"}, {"Range", "bytes=5-9"}};
        QTest::newRow("preset Authorization stays when the snapshot has none")
            << RawHeaders{{"Authorization", "Bearer own"}} << QByteArray() << QByteArray() << QByteArray()
            << RawHeaders{{"Authorization", "Bearer own"}};
    }

    void applyHeaders()
    {
        QFETCH(RawHeaders, preset);
        QFETCH(QByteArray, authorization);
        QFETCH(QByteArray, acceptLanguage);
        QFETCH(QByteArray, range);
        QFETCH(RawHeaders, expected);
        QNetworkRequest request(QUrl(QStringLiteral("https://media.example/a.ts")));
        for (const auto &[name, value] : preset)
            request.setRawHeader(name, value);

        MediaNetworkPolicy::apply(request, MediaResourceKind::Segment,
                                  MediaAuthSnapshot{authorization, acceptLanguage, 3}, range);

        for (const QByteArray name : {"Accept-Language", "Authorization", "Range"}) {
            QList<QByteArray> wanted;
            for (const auto &[expectedName, value] : expected) {
                if (expectedName == name)
                    wanted.append(value);
            }
            QCOMPARE(valuesOf(request, name), wanted);
        }
    }

    void validHttpsDestination_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<bool>("valid");

        const QStringList refused = {
            QStringLiteral("https://10.1.2.3/x"),
            QStringLiteral("https://172.31.0.1/x"),
            QStringLiteral("https://169.254.1.1/x"),
            QStringLiteral("https://192.168.0.10/x"),
            QStringLiteral("https://127.0.0.1/x"),
            QStringLiteral("https://[::1]/x"),
            QStringLiteral("https://[fd00::1]/x"),
            QStringLiteral("https://[fe80::1]/x"),
            QStringLiteral("http://media.example/x"),
            QStringLiteral("https://user@media.example/x"),
            QStringLiteral("https://:secret@media.example/x"),
            QStringLiteral("https:///x"),
            QStringLiteral("https://127.1/x"),
            QStringLiteral("https://2130706433/x"),
            QStringLiteral("https://[::ffff:10.0.0.1]/x"),
            QStringLiteral("https://[::ffff:127.0.0.1]/x"),
            QStringLiteral("https://[::ffff:192.168.1.1]/x"),
            QStringLiteral("https://0.0.0.0/x"),
            QStringLiteral("https://[::]/x"),
            QStringLiteral("ftp://media.example/x"),
            QStringLiteral("media.example/x"),
            QString(),
        };
        for (const QString &url : refused)
            QTest::addRow("refuses %s", qPrintable(url)) << url << false;
        const QStringList accepted = {
            QStringLiteral("https://172.32.0.1/x"),
            QStringLiteral("https://100.64.0.1/x"),
            QStringLiteral("HTTPS://Media.Example/x"),
            QStringLiteral("https://localhost/x"),
            QStringLiteral("https://[2001:db8::1]/x"),
            QStringLiteral("https://[::ffff:8.8.8.8]/x"),
            QStringLiteral("https://media.example:8443/x?y=1"),
        };
        for (const QString &url : accepted)
            QTest::addRow("accepts %s", qPrintable(url)) << url << true;
    }

    void validHttpsDestination()
    {
        QFETCH(QString, url);
        QFETCH(bool, valid);

        QCOMPARE(MediaNetworkPolicy::validHttpsDestination(QUrl(url)), valid);
    }

    void redirects_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<bool>("carriesBearer");
        QTest::addColumn<bool>("allowed");

        QTest::newRow("bearer, same host in other case, default port")
            << QStringLiteral("https://MEDIA.example/b") << true << true;
        QTest::newRow("bearer, relative") << QStringLiteral("/b") << true << true;
        QTest::newRow("bearer, explicit 443")
            << QStringLiteral("https://media.example:443/b") << true << true;
        QTest::newRow("bearer, other host") << QStringLiteral("https://cdn.example/b") << true << false;
        QTest::newRow("bearer, other port")
            << QStringLiteral("https://media.example:8443/b") << true << false;
        QTest::newRow("bearer, plain http") << QStringLiteral("http://media.example/b") << true << false;
        QTest::newRow("bearer, user info") << QStringLiteral("https://u@media.example/b") << true << false;
        QTest::newRow("no bearer, other host") << QStringLiteral("https://cdn.example/b") << false << true;
        QTest::newRow("no bearer, relative") << QStringLiteral("b") << false << true;
        QTest::newRow("no bearer, private address") << QStringLiteral("https://10.0.0.1/b") << false << false;
        QTest::newRow("no bearer, user info") << QStringLiteral("https://u@cdn.example/b") << false << false;
        QTest::newRow("no bearer, plain http") << QStringLiteral("http://cdn.example/b") << false << false;
        QTest::newRow("no bearer, mapped loopback")
            << QStringLiteral("https://[::ffff:127.0.0.1]/b") << false << false;
    }

    void redirects()
    {
        QFETCH(QString, target);
        QFETCH(bool, carriesBearer);
        QFETCH(bool, allowed);
        const QUrl requested(QStringLiteral("https://media.example:443/a"));

        QCOMPARE(MediaNetworkPolicy::allowRedirect(requested, QUrl(target), carriesBearer), allowed);
        if (carriesBearer)
            QCOMPARE(MediaNetworkPolicy::mayForwardBearer(requested, QUrl(target)), allowed);
    }

    void structuredErrorCode_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<QString>("code");

        QTest::newRow("header wins") << QByteArray("{\"code\":\"OTHER\"}")
                                     << QByteArray("  course-access-denied ") << "COURSE_ACCESS_DENIED";
        QTest::newRow("header with a blank falls back to the body")
            << QByteArray("{\"code\":\"x\"}") << QByteArray("a b") << "X";
        QTest::newRow("number code skipped for errorCode")
            << QByteArray("{\"code\":5,\"errorCode\":\"media.expired\"}") << QByteArray() << "MEDIA.EXPIRED";
        QTest::newRow("error string")
            << QByteArray("{\"error\":\"token-expired\"}") << QByteArray() << "TOKEN_EXPIRED";
        QTest::newRow("nested error code")
            << QByteArray("{\"error\":{\"code\":\"user_blocked\"}}") << QByteArray() << "USER_BLOCKED";
        QTest::newRow("error string with a blank") << QByteArray("{\"error\":\"a b\"}") << QByteArray() << "";
        QTest::newRow("non-ASCII letters kept")
            << QByteArray("{\"code\":\"médía-1\"}") << QByteArray() << QStringLiteral("MÉDÍA_1");
        QTest::newRow("symbol refused") << QByteArray("{\"code\":\"a/b\"}") << QByteArray() << "";
        QTest::newRow("96 characters kept") << jsonCode(96) << QByteArray() << QString(96, u'A');
        QTest::newRow("97 characters refused") << jsonCode(97) << QByteArray() << "";
        QTest::newRow("array body") << QByteArray("[\"CODE\"]") << QByteArray() << "";
        QTest::newRow("not JSON") << QByteArray("<html>403</html>") << QByteArray() << "";
        QTest::newRow("empty") << QByteArray() << QByteArray() << "";
        QByteArray late = "{\"code\":\"LATE\",\"pad\":\"" + QByteArray(4096, 'p') + "\"}";
        QTest::newRow("object closing past byte 4096") << late << QByteArray() << "";
        QByteArray early = "{\"code\":\"EARLY\"}" + QByteArray(5000, ' ');
        QTest::newRow("object closing before byte 4096") << early << QByteArray() << "EARLY";
    }

    void structuredErrorCode()
    {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, header);
        QFETCH(QString, code);

        QCOMPARE(MediaNetworkPolicy::structuredErrorCode(body, header), code);
    }

    void shouldRefreshAuthentication_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("header");
        QTest::addColumn<bool>("alreadyRefreshed");
        QTest::addColumn<bool>("refresh");
        QTest::addColumn<bool>("courseAccessDenied");

        QTest::newRow("403 without a code") << 403 << QByteArray() << QByteArray() << false << true << false;
        QTest::newRow("403 course access denied") << 403 << QByteArray("{\"code\":\"COURSE_ACCESS_DENIED\"}")
                                                  << QByteArray() << false << false << true;
        QTest::newRow("403 with a header code")
            << 403 << QByteArray() << QByteArray("geo-blocked") << false << false << false;
        QTest::newRow("401") << 401 << QByteArray() << QByteArray() << false << true << false;
        QTest::newRow("401 after a refresh") << 401 << QByteArray() << QByteArray() << true << false << false;
        QTest::newRow("403 after a refresh") << 403 << QByteArray() << QByteArray() << true << false << false;
        QTest::newRow("500") << 500 << QByteArray() << QByteArray() << false << false << false;
    }

    void shouldRefreshAuthentication()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, header);
        QFETCH(bool, alreadyRefreshed);
        QFETCH(bool, refresh);
        QFETCH(bool, courseAccessDenied);

        QCOMPARE(MediaNetworkPolicy::shouldRefreshAuthentication(status, body, header, alreadyRefreshed),
                 refresh);
        QCOMPARE(MediaNetworkPolicy::isExactCourseAccessDenied(body, header), courseAccessDenied);
    }

    void snapshotTravelsAsNamedMetaType()
    {
        const MediaAuthSnapshot snapshot{"Bearer t", "en-US", 7};

        const QVariant carried = QVariant::fromValue(snapshot);

        QCOMPARE(QByteArray(carried.metaType().name()), QByteArray("MediaAuthSnapshot"));
        QVERIFY(carried.value<MediaAuthSnapshot>() == snapshot);
        QVERIFY(MediaAuthSnapshot() == (MediaAuthSnapshot{QByteArray(), QByteArray(), 0}));
    }
};

QTEST_APPLESS_MAIN(tst_MediaNetworkPolicy)
#include "tst_MediaNetworkPolicy.moc"
