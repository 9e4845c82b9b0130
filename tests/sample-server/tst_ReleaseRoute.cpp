#include "app/PreferencesStore.h"
#include "sample-server/SampleServer.h"
#include "testsupport/Ed25519Signer.h"
#include "testsupport/FixturePaths.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"
#include "update/UpdateController.h"
#include "update/UpdatePolicy.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTest>
#include <QUrlQuery>
#include <memory>

Q_DECLARE_METATYPE(SampleServer::ReleaseMode)

namespace {

const QString kInstallerName = QStringLiteral("quorin-desktop_1.0.9-23_amd64.deb");

struct Reply
{
    int status = -1;
    QByteArray body;
    QByteArray date;
};

Reply get(const QUrl &url)
{
    QNetworkAccessManager network;
    std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(url)));
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(10000))
        return {};
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll(),
            reply->rawHeader("Date")};
}

QByteArray installerBytes()
{
    QFile file(QDir(quorin::test::FixturePaths::releaseFolder()).filePath(kInstallerName));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray embeddedKeyring()
{
    QFile file(QStringLiteral(":/qt/qml/Quorin/config/update-keyring.json"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// The sample platform's release service, as the client's release check meets it.
class tst_ReleaseRoute : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<SampleServer> m_server;
    quorin::test::InMemoryKeychain m_keychain;

    void startServer(SampleServer::ReleaseMode mode)
    {
        SampleServer::Options options;
        options.port = 0;
        options.dataFolder = QStringLiteral(QUORIN_SAMPLE_DATA_DIR);
        options.mediaFolder = quorin::test::FixturePaths::mediaFolder();
        options.releaseMode = mode;
        m_server = std::make_unique<SampleServer>(options);
        QVERIFY2(m_server->start(), qPrintable(m_server->errorString()));
    }

    [[nodiscard]] QUrl latestUrl(const QString &version, const QString &build,
                                 const QString &platform = QStringLiteral("linux"),
                                 const QString &product = QStringLiteral("quorin-desktop"),
                                 const QString &packageType = QStringLiteral("deb")) const
    {
        QUrlQuery query;
        query.addQueryItem(QStringLiteral("product"), product);
        query.addQueryItem(QStringLiteral("channel"), QStringLiteral("stable"));
        query.addQueryItem(QStringLiteral("platform"), platform);
        query.addQueryItem(QStringLiteral("architecture"), QStringLiteral("x86_64"));
        query.addQueryItem(QStringLiteral("distribution"), QStringLiteral("direct"));
        query.addQueryItem(QStringLiteral("packageType"), packageType);
        query.addQueryItem(QStringLiteral("currentVersion"), version);
        query.addQueryItem(QStringLiteral("currentBuildNumber"), build);
        query.addQueryItem(QStringLiteral("installationId"),
                           QStringLiteral("6f1c2a8e-0d7b-4c55-9a43-2b1e9d3f7a10"));
        QUrl url = m_server->baseUrl().resolved(QUrl(QStringLiteral("/v2/releases/latest")));
        url.setQuery(query);
        return url;
    }

    static void verifyDated(const Reply &reply)
    {
        const QDateTime date = QLocale::c().toDateTime(QString::fromLatin1(reply.date),
                                                       QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"));
        QVERIFY2(date.isValid(), reply.date.constData());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        QCoreApplication::setApplicationVersion(QStringLiteral("1.0.8"));
        QSslConfiguration::setDefaultConfiguration(quorin::test::FixtureServer::clientConfiguration());
        // The release check sends the installation identity; it must not reach for a real keychain.
        m_keychain.installAsNative();
        quorin::PreferencesStore::open()->setValue(QStringLiteral("installationUuid"),
                                                   QStringLiteral("6f1c2a8e-0d7b-4c55-9a43-2b1e9d3f7a10"));
    }

    void cleanup() { m_server.reset(); }

    void optionalOfferVerifiesAgainstTheEmbeddedKey()
    {
        startServer(SampleServer::ReleaseMode::Optional);
        const Reply reply = get(latestUrl(QStringLiteral("1.0.8"), QStringLiteral("22")));
        QCOMPARE(reply.status, 200);
        verifyDated(reply);

        UpdateCandidate offer;
        QString error;
        QVERIFY2(UpdatePolicy::parseResponse(reply.body, true, offer, &error), qPrintable(error));
        QCOMPARE(offer.version, QStringLiteral("1.0.9"));
        QCOMPARE(offer.buildNumber, 23);
        QVERIFY(!offer.updateRequired);
        QVERIFY(!offer.releaseNotes.isEmpty());
        QCOMPARE(offer.actionType, QStringLiteral("download"));
        QCOMPARE(offer.filename, kInstallerName);
        QCOMPARE(offer.url.path(), QStringLiteral("/releases/") + kInstallerName);

        const QByteArray installer = installerBytes();
        QVERIFY(installer.size() > 100 * 1024);
        QCOMPARE(offer.size, installer.size());
        QCOMPARE(offer.sha256, QCryptographicHash::hash(installer, QCryptographicHash::Sha256));
        QCOMPARE(get(offer.url).body, installer);

        if (!QUORIN_UPDATE_DEMO_KEYRING)
            QSKIP("A release keyring is embedded; the sample platform signs with the demo key");
        QVERIFY2(m_server->warningString().isEmpty(), qPrintable(m_server->warningString()));
        const QByteArray key =
            quorin::test::Ed25519Signer::keyringPublicKey(embeddedKeyring(), offer.signingKeyID);
        QCOMPARE(key.size(), 32);
        QVERIFY(UpdatePolicy::verifyEd25519Digest(key, offer.sha256, offer.signature));
    }

    // The client as the demo runs it, with the keyring it embeds: the offered installer downloads
    // slowly enough for its progress to show, and verifies.
    void clientDownloadsTheInstaller()
    {
        if (!QUORIN_UPDATE_DEMO_KEYRING)
            QSKIP("A release keyring is embedded; the sample platform signs with the demo key");
        startServer(SampleServer::ReleaseMode::Optional);
        UpdateController::Configuration configuration;
        configuration.releaseBaseUrl = m_server->baseUrl();
        UpdateController controller(std::move(configuration));
        controller.checkForUpdates();
        QTRY_COMPARE_WITH_TIMEOUT(controller.state(), UpdateController::Available, 20000);

        QElapsedTimer elapsed;
        elapsed.start();
        controller.download();
        QCOMPARE(controller.state(), UpdateController::Downloading);
        QTRY_VERIFY_WITH_TIMEOUT(controller.state() != UpdateController::Downloading, 30000);
        QCOMPARE(controller.state(), UpdateController::Ready);
        QVERIFY2(elapsed.elapsed() >= 3000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(QFileInfo(controller.verifiedPath()).fileName(), kInstallerName);
        QFile downloaded(controller.verifiedPath());
        QVERIFY(downloaded.open(QIODevice::ReadOnly));
        QCOMPARE(downloaded.readAll(), installerBytes());
    }

    // The two modes that show the client's failures, as the client meets them.
    void clientMeetsTheFailureModes_data()
    {
        QTest::addColumn<SampleServer::ReleaseMode>("mode");
        QTest::addColumn<QString>("text");
        QTest::newRow("unavailable") << SampleServer::ReleaseMode::Unavailable
                                     << QStringLiteral(
                                            "The update service answered with an error (status 503).");
        QTest::newRow("corrupt") << SampleServer::ReleaseMode::Corrupt
                                 << QStringLiteral("The downloaded update failed verification.");
    }

    void clientMeetsTheFailureModes()
    {
        QFETCH(SampleServer::ReleaseMode, mode);
        QFETCH(QString, text);
        startServer(mode);
        UpdateController::Configuration configuration;
        configuration.releaseBaseUrl = m_server->baseUrl();
        UpdateController controller(std::move(configuration));
        controller.checkForUpdates();
        QTRY_VERIFY_WITH_TIMEOUT(controller.state() != UpdateController::Checking, 20000);
        if (mode == SampleServer::ReleaseMode::Corrupt) {
            QCOMPARE(controller.state(), UpdateController::Available);
            QVERIFY(!controller.required());
            controller.download();
            QTRY_VERIFY_WITH_TIMEOUT(controller.state() != UpdateController::Downloading, 30000);
        }
        QCOMPARE(controller.state(), UpdateController::Error);
        QCOMPARE(controller.errorMessage(), text);
    }

    void requiredModeRequires()
    {
        startServer(SampleServer::ReleaseMode::Required);
        const Reply reply = get(latestUrl(QStringLiteral("1.0.8"), QStringLiteral("22")));
        UpdateCandidate offer;
        QVERIFY(UpdatePolicy::parseResponse(reply.body, true, offer));
        QVERIFY(offer.updateAvailable);
        QVERIFY(offer.updateRequired);
    }

    void nothingOffered_data()
    {
        QTest::addColumn<SampleServer::ReleaseMode>("mode");
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("build");
        QTest::newRow("the offered release")
            << SampleServer::ReleaseMode::Optional << QStringLiteral("1.0.9") << QStringLiteral("23");
        QTest::newRow("a later build")
            << SampleServer::ReleaseMode::Required << QStringLiteral("1.0.9") << QStringLiteral("24");
        QTest::newRow("a later version")
            << SampleServer::ReleaseMode::Required << QStringLiteral("1.0.10") << QStringLiteral("1");
        QTest::newRow("mode none") << SampleServer::ReleaseMode::None << QStringLiteral("1.0.8")
                                   << QStringLiteral("22");
    }

    void nothingOffered()
    {
        QFETCH(SampleServer::ReleaseMode, mode);
        QFETCH(QString, version);
        QFETCH(QString, build);
        startServer(mode);
        const Reply reply = get(latestUrl(version, build));
        QCOMPARE(reply.status, 200);
        verifyDated(reply);
        UpdateCandidate offer;
        offer.version = QStringLiteral("stale");
        QVERIFY(UpdatePolicy::parseResponse(reply.body, true, offer));
        UpdateCandidate nothing;
        nothing.stable = true;
        QCOMPARE(offer, nothing);
    }

    void otherTargetsRefused_data()
    {
        QTest::addColumn<QString>("platform");
        QTest::addColumn<QString>("product");
        QTest::addColumn<QString>("packageType");
        QTest::newRow("macos") << QStringLiteral("macos") << QStringLiteral("quorin-desktop")
                               << QStringLiteral("deb");
        QTest::newRow("other product")
            << QStringLiteral("linux") << QStringLiteral("quorin-mobile") << QStringLiteral("deb");
        QTest::newRow("dmg") << QStringLiteral("linux") << QStringLiteral("quorin-desktop")
                             << QStringLiteral("dmg");
    }

    void otherTargetsRefused()
    {
        QFETCH(QString, platform);
        QFETCH(QString, product);
        QFETCH(QString, packageType);
        startServer(SampleServer::ReleaseMode::Optional);
        const Reply reply =
            get(latestUrl(QStringLiteral("1.0.8"), QStringLiteral("22"), platform, product, packageType));
        QCOMPARE(reply.status, 400);
        verifyDated(reply);
    }
};

QTEST_MAIN(tst_ReleaseRoute)
#include "tst_ReleaseRoute.moc"
