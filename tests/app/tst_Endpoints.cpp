#include "app/Endpoints.h"
#include "testsupport/FixtureServer.h"

#include <QSslConfiguration>
#include <QTemporaryDir>
#include <QTest>

using quorin::Endpoints;

class tst_Endpoints : public QObject
{
    Q_OBJECT

private:
    static Endpoints::Defaults defaults()
    {
        return {QStringLiteral("https://api.build.example/api/v1/"),
                QStringLiteral("https://telemetry.build.example/"),
                QStringLiteral("https://releases.build.example/"), QStringLiteral("https://build.example/"),
                QStringLiteral("https://chat.build.example/")};
    }

private Q_SLOTS:
    void environmentOverridesWin()
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("QUORIN_API_BASE_URL"),
                           QStringLiteral("https://localhost:8443/api/v1/"));
        environment.insert(QStringLiteral("QUORIN_TELEMETRY_URL"), QStringLiteral("https://localhost:8443/"));
        environment.insert(QStringLiteral("QUORIN_RELEASE_URL"),
                           QStringLiteral("https://localhost:8443/releases/"));
        environment.insert(QStringLiteral("QUORIN_WEBSITE_URL"),
                           QStringLiteral("https://localhost:8443/site/"));
        environment.insert(QStringLiteral("QUORIN_AI_CHAT_URL"), QStringLiteral("https://localhost:8443/"));

        const Endpoints endpoints = Endpoints::resolve(environment, defaults());
        QCOMPARE(endpoints.apiBaseUrl(), QUrl(QStringLiteral("https://localhost:8443/api/v1/")));
        QCOMPARE(endpoints.telemetryUrl(), QUrl(QStringLiteral("https://localhost:8443/")));
        QCOMPARE(endpoints.releaseUrl(), QUrl(QStringLiteral("https://localhost:8443/releases/")));
        QCOMPARE(endpoints.websiteUrl(), QUrl(QStringLiteral("https://localhost:8443/site/")));
        QCOMPARE(endpoints.aiChatUrl(), QUrl(QStringLiteral("https://localhost:8443/")));
    }

    void buildDefaultsHoldWithoutOverrides()
    {
        const Endpoints endpoints = Endpoints::resolve(QProcessEnvironment(), defaults());
        QCOMPARE(endpoints.apiBaseUrl(), QUrl(defaults().apiBaseUrl));
        QCOMPARE(endpoints.websiteUrl(), QUrl(defaults().websiteUrl));
        QCOMPARE(endpoints.aiChatUrl(), QUrl(defaults().aiChatUrl));
        QVERIFY(endpoints.extraCertificateAuthorities().isEmpty());
    }

    void badUrlsAreRefused_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain http") << QStringLiteral("http://localhost:8443/api/v1/");
        QTest::newRow("relative") << QStringLiteral("api/v1/");
        QTest::newRow("no host") << QStringLiteral("https:///api/v1/");
        QTest::newRow("empty") << QString();
    }

    void badUrlsAreRefused()
    {
        QFETCH(QString, value);
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("QUORIN_API_BASE_URL"), value);
        QTest::ignoreMessage(
            QtWarningMsg,
            "QUORIN_API_BASE_URL is not an absolute https URL; the build default stays in force");
        const Endpoints endpoints = Endpoints::resolve(environment, defaults());
        QCOMPARE(endpoints.apiBaseUrl(), QUrl(defaults().apiBaseUrl));
    }

    void plainHttpChatPageIsRefused()
    {
        // The chat page receives quiz questions in its address; it must not travel in the clear.
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("QUORIN_AI_CHAT_URL"), QStringLiteral("http://localhost:8443/"));
        QTest::ignoreMessage(
            QtWarningMsg,
            "QUORIN_AI_CHAT_URL is not an absolute https URL; the build default stays in force");
        const Endpoints endpoints = Endpoints::resolve(environment, defaults());
        QCOMPARE(endpoints.aiChatUrl(), QUrl(defaults().aiChatUrl));
    }

    void apiBaseGainsItsTrailingSlash()
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("QUORIN_API_BASE_URL"),
                           QStringLiteral("https://localhost:8443/api/v1"));
        const Endpoints endpoints = Endpoints::resolve(environment, defaults());
        QCOMPARE(endpoints.apiBaseUrl().resolved(QUrl(QStringLiteral("auth/login"))),
                 QUrl(QStringLiteral("https://localhost:8443/api/v1/auth/login")));
    }

    void unreadableAuthorityIsRefused()
    {
        QTemporaryDir folder;
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("QUORIN_CA_FILE"), folder.filePath(QStringLiteral("missing.pem")));
        QTest::ignoreMessage(QtWarningMsg,
                             "QUORIN_CA_FILE cannot be read; no extra certificate authority is trusted");
        const QList<QSslCertificate> before = QSslConfiguration::defaultConfiguration().caCertificates();

        const Endpoints endpoints = Endpoints::resolve(environment, defaults());
        endpoints.installCertificateAuthority();
        QVERIFY(endpoints.extraCertificateAuthorities().isEmpty());
        QCOMPARE(QSslConfiguration::defaultConfiguration().caCertificates(), before);
    }

    void extraAuthorityJoinsTheDefaultConfiguration()
    {
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("QUORIN_CA_FILE"),
                           quorin::test::FixtureServer::certificateAuthorityFile());
        const Endpoints endpoints = Endpoints::resolve(environment, defaults());
        QCOMPARE(endpoints.extraCertificateAuthorities(),
                 quorin::test::FixtureServer::certificateAuthority());

        endpoints.installCertificateAuthority();
        const QList<QSslCertificate> trusted = QSslConfiguration::defaultConfiguration().caCertificates();
        QVERIFY(trusted.contains(quorin::test::FixtureServer::certificateAuthority().first()));
    }
};

QTEST_GUILESS_MAIN(tst_Endpoints)
#include "tst_Endpoints.moc"
