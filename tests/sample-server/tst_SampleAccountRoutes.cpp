#include "app/PreferencesStore.h"
#include "app/SettingsController.h"
#include "net/NetworkManager.h"
#include "tests/sample-server/SamplePlatformSession.h"
#include "testsupport/InMemoryKeychain.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <memory>

// The sample platform's client configuration and Telegram routes, as the demo client meets them:
// through the settings controller and a REST client signed in with the sample account.
class tst_SampleAccountRoutes : public QObject
{
    Q_OBJECT

private:
    quorin::test::InMemoryKeychain m_keychain;
    quorin::test::SamplePlatformSession m_platform;
    std::unique_ptr<NetworkManager> m_manager;
    std::unique_ptr<SettingsController> m_settings;

    [[nodiscard]] QUrl apiUrl(const QString &path) const { return m_platform.apiBase().resolved(QUrl(path)); }

    // Runs one Telegram request of the controller and waits for its end.
    bool finishes(void (SettingsController::*operation)())
    {
        QSignalSpy status(m_settings.get(), &SettingsController::telegramStatusChanged);
        (m_settings.get()->*operation)();
        return QTest::qWaitFor([&status] { return status.size() == 2; }, 10000) &&
               !m_settings->telegramIsLoading();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        m_keychain.installAsNative();
        QVERIFY2(m_platform.start(), qPrintable(m_platform.errorString()));

        NetworkManager::Configuration client;
        client.baseUrl = apiUrl(QString()).toString();
        client.credentialStore = m_keychain.createStore();
        m_manager = std::make_unique<NetworkManager>(std::move(client));
        m_settings = SettingsController::createWithStore(quorin::PreferencesStore::open());
        m_settings->setRestRequester(m_manager->restRequester());
    }

    void cleanupTestCase()
    {
        m_settings.reset();
        m_manager.reset();
    }

    void routesAnswerWithoutTheClient_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        // Asked by the sign-in page, before anyone is signed in.
        QTest::newRow("client configuration") << QStringLiteral("desktop/client-config") << 200;
        QTest::newRow("Telegram link without sign-in") << QStringLiteral("notifications/telegram") << 401;
        // The product website's pages, opened from the about pane in the browser.
        QTest::newRow("privacy policy") << QStringLiteral("/privacy-policy") << 200;
        QTest::newRow("terms of service") << QStringLiteral("/terms-of-service") << 200;
    }

    void routesAnswerWithoutTheClient()
    {
        QFETCH(QString, path);
        QFETCH(int, status);
        QNetworkAccessManager network;
        std::unique_ptr<QNetworkReply> reply(network.get(QNetworkRequest(apiUrl(path))));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
    }

    void clientConfigurationNamesTheSupportChannel()
    {
        const QString before = m_settings->supportUrl();
        QNetworkAccessManager network;
        std::unique_ptr<QNetworkReply> reply(
            network.get(QNetworkRequest(apiUrl(QStringLiteral("desktop/client-config")))));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(10000));
        const QString link = QJsonDocument::fromJson(reply->readAll())
                                 .object()
                                 .value(QStringLiteral("telegramSupportUrl"))
                                 .toString();
        QCOMPARE(QUrl(link).host(), QStringLiteral("t.me"));
        // The platform's link is the support channel the client knows; it stays a direct chat.
        QCOMPARE(m_settings->normalizedSupportUrl(link), before);
    }

    void sampleAccountUnlinksItsTelegram()
    {
        QSignalSpy signedIn(m_manager.get(), &NetworkManager::loginSuccess);
        m_manager->login(QStringLiteral("+201012345678"), QStringLiteral("quorin-demo"), QString());
        QVERIFY(signedIn.wait(10000));

        QVERIFY(finishes(&SettingsController::fetchTelegramStatus));
        QVERIFY(m_settings->telegramIsConnected());
        QVERIFY(finishes(&SettingsController::disconnectTelegram));
        QVERIFY(!m_settings->telegramIsConnected());
        // The platform remembers it.
        QVERIFY(finishes(&SettingsController::fetchTelegramStatus));
        QVERIFY(!m_settings->telegramIsConnected());
    }
};

QTEST_MAIN(tst_SampleAccountRoutes)
#include "tst_SampleAccountRoutes.moc"
