#include "media/MediaNetworkPolicy.h"
#include "testsupport/FixtureServer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QTest>
#include <memory>

using quorin::test::FixtureServer;
using Response = FixtureServer::Response;

namespace {

const QByteArray Bearer = "Bearer t";

} // namespace

// Requests prepared and guarded as every media caller does, against two origins: two fixture
// servers on "localhost" at two ports, and a plain HTTP one.
class tst_MediaRedirects : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QSslConfiguration::setDefaultConfiguration(FixtureServer::clientConfiguration()); }

    void init()
    {
        m_network = std::make_unique<QNetworkAccessManager>();
        m_originA = std::make_unique<FixtureServer>();
        m_originB = std::make_unique<FixtureServer>();
        m_plain = std::make_unique<FixtureServer>(FixtureServer::Transport::PlainHttp);
        QVERIFY(m_originA->listen());
        QVERIFY(m_originB->listen());
        QVERIFY(m_plain->listen());
        m_originB->setResponse(QStringLiteral("/landing"), Response(200, "landed"));
        m_plain->setResponse(QStringLiteral("/landing"), Response(200, "landed"));
    }

    void cleanup()
    {
        m_network.reset();
        m_originA.reset();
        m_originB.reset();
        m_plain.reset();
    }

    void refusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<bool>("withBearer");
        QTest::addColumn<bool>("plainTarget");

        QTest::newRow("bearer to another port") << true << false;
        QTest::newRow("bearer to plain http") << true << true;
        QTest::newRow("no bearer to plain http") << false << true;
    }

    void refusedBeforeAnythingIsSent()
    {
        QFETCH(bool, withBearer);
        QFETCH(bool, plainTarget);
        FixtureServer &target = plainTarget ? *m_plain : *m_originB;
        // A warm connection to the target is where a forwarded bearer would go out at once.
        QNetworkReply *warm = get(target.url(QStringLiteral("/landing")), {});
        QTRY_VERIFY(warm->isFinished());
        QCOMPARE(warm->error(), QNetworkReply::NoError);
        target.clearLog();
        m_originA->setResponse(QStringLiteral("/start"),
                               Response::redirect(target.url(QStringLiteral("/landing")).toEncoded()));

        QNetworkReply *reply =
            get(m_originA->url(QStringLiteral("/start")), withBearer ? Bearer : QByteArray());

        QTRY_VERIFY(reply->isFinished());
        QCOMPARE(reply->error(), QNetworkReply::InsecureRedirectError);
        QCOMPARE(target.totalRequestCount(), 0);
    }

    void sameOriginHops_data()
    {
        QTest::addColumn<int>("hops");
        QTest::addColumn<QNetworkReply::NetworkError>("error");

        QTest::newRow("five hops") << 5 << QNetworkReply::NoError;
        QTest::newRow("six hops") << 6 << QNetworkReply::TooManyRedirectsError;
    }

    void sameOriginHops()
    {
        QFETCH(int, hops);
        QFETCH(QNetworkReply::NetworkError, error);
        for (int hop = 0; hop < hops; ++hop) {
            m_originA->setResponse(QStringLiteral("/hop%1").arg(hop),
                                   Response::redirect(QStringLiteral("/hop%1").arg(hop + 1).toLatin1()));
        }
        const QString last = QStringLiteral("/hop%1").arg(hops);
        m_originA->setResponse(last, Response(200, "arrived"));

        QNetworkReply *reply = get(m_originA->url(QStringLiteral("/hop0")), Bearer);

        QTRY_VERIFY(reply->isFinished());
        QCOMPARE(reply->error(), error);
        if (error == QNetworkReply::NoError) {
            QCOMPARE(reply->readAll(), QByteArray("arrived"));
            QCOMPARE(m_originA->requests(last).size(), 1);
            QCOMPARE(m_originA->requests(last).constFirst().header("Authorization"), Bearer);
        } else {
            QCOMPARE(m_originA->requestCount(last), 0);
        }
    }

    void followedWithoutBearer()
    {
        m_originA->setResponse(QStringLiteral("/start"),
                               Response::redirect(m_originB->url(QStringLiteral("/landing")).toEncoded()));

        QNetworkReply *reply = get(m_originA->url(QStringLiteral("/start")), {});

        QTRY_VERIFY(reply->isFinished());
        QCOMPARE(reply->error(), QNetworkReply::NoError);
        QCOMPARE(reply->readAll(), QByteArray("landed"));
        QCOMPARE(m_originB->requests(QStringLiteral("/landing")).size(), 1);
        QVERIFY(!m_originB->requests(QStringLiteral("/landing")).constFirst().hasHeader("Authorization"));
    }

    void guardAbortsWhatThePolicyLetsThrough_data()
    {
        QTest::addColumn<bool>("withBearer");
        QTest::addColumn<QString>("target");

        QTest::newRow("no bearer to a loopback literal")
            << false << QStringLiteral("https://127.0.0.1:%1/landing");
        QTest::newRow("bearer to its origin with user info")
            << true << QStringLiteral("https://u@localhost:%2/landing");
    }

    void guardAbortsWhatThePolicyLetsThrough()
    {
        QFETCH(bool, withBearer);
        QFETCH(QString, target);
        const QString location = QString(target)
                                     .replace(QStringLiteral("%1"), QString::number(m_originB->port()))
                                     .replace(QStringLiteral("%2"), QString::number(m_originA->port()));
        m_originA->setResponse(QStringLiteral("/start"), Response::redirect(location.toLatin1()));
        m_originA->setResponse(QStringLiteral("/landing"), Response(200, "landed"));

        QNetworkReply *reply =
            get(m_originA->url(QStringLiteral("/start")), withBearer ? Bearer : QByteArray());

        QTRY_VERIFY(reply->isFinished());
        QCOMPARE(reply->error(), QNetworkReply::OperationCanceledError);
        QVERIFY(reply->readAll().isEmpty());
    }

private:
    QNetworkReply *get(const QUrl &url, const QByteArray &authorization)
    {
        QNetworkRequest request(url);
        MediaNetworkPolicy::apply(request, MediaResourceKind::Segment,
                                  MediaAuthSnapshot{authorization, "en", 1});
        QNetworkReply *reply = m_network->get(request);
        MediaNetworkPolicy::guardRedirects(reply);
        return reply;
    }

    std::unique_ptr<QNetworkAccessManager> m_network;
    std::unique_ptr<FixtureServer> m_originA;
    std::unique_ptr<FixtureServer> m_originB;
    std::unique_ptr<FixtureServer> m_plain;
};

QTEST_GUILESS_MAIN(tst_MediaRedirects)
#include "tst_MediaRedirects.moc"
