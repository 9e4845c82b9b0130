#include "app/PreferencesStore.h"
#include "app/SettingsController.h"
#include "app/TelegramLinks.h"
#include "app/startup/ClientConfigRequests.h"
#include "tests/net/NetworkManagerHarness.h"
#include "testsupport/LogRecorder.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QJsonArray>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>
#include <memory>

using quorin::TelegramLinks;
using quorin::test::FixtureServer;
using quorin::test::LogRecorder;
using quorin::test::NetworkManagerHarness;

namespace {

const QString kClientConfig = QStringLiteral("desktop/client-config");
const QString kTelegram = QStringLiteral("notifications/telegram");
const QString kServedLink = QStringLiteral("https://t.me/quorin_news");
const QByteArray kServedConfig = R"({"telegramSupportUrl":"https://t.me/quorin_news"})";
const QStringList kCapturedSchemes = {QStringLiteral("http"), QStringLiteral("https"), QStringLiteral("file"),
                                      QStringLiteral("javascript"), QStringLiteral("smb")};

QString supportLink(const char *prefix, const char *suffix = "")
{
    return QLatin1String(prefix) + QLatin1String(TelegramLinks::kSupportHandle) + QLatin1String(suffix);
}

} // namespace

// Whatever the controller hands the system opener, for every scheme a test uses.
class OpenedUrls : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

// The settings controller's backend, browser and clipboard operations, against the HTTPS fixture
// server through a real REST client that is signed in.
class tst_ClientConfig : public QObject
{
    Q_OBJECT

private:
    NetworkManagerHarness m_harness;
    OpenedUrls m_opened;
    std::unique_ptr<NetworkManager> m_manager;
    std::unique_ptr<SettingsController> m_settings;
    int m_repliesHandled = 0;

    void answer(const QString &path, const QList<FixtureServer::Response> &responses)
    {
        m_harness.server().setResponses(NetworkManagerHarness::route(path), responses);
    }

    // Waits until the controller's reply handler for the n-th backend call of the test has run.
    bool waitForReplies(int count)
    {
        return QTest::qWaitFor([this, count] { return m_repliesHandled >= count; }, 10000) &&
               m_repliesHandled == count;
    }

    // Notes telegramFailureChanged and telegramError (with its code) in the order they come.
    void recordFailureSignals(QStringList &events)
    {
        connect(m_settings.get(), &SettingsController::telegramFailureChanged, this,
                [&events] { events.append(QStringLiteral("telegramFailureChanged")); });
        connect(m_settings.get(), &SettingsController::telegramError, this,
                [&events](const AppFailure &failure) {
                    events.append(QStringLiteral("telegramError:") + failure.code);
                });
    }

    void fetchStatus(const QByteArray &body)
    {
        answer(kTelegram, {FixtureServer::Response::json(body)});
        const int before = m_repliesHandled;
        m_settings->fetchTelegramStatus();
        QVERIFY(waitForReplies(before + 1));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        m_harness.initTestCase();
        for (const QString &scheme : kCapturedSchemes)
            QDesktopServices::setUrlHandler(scheme, &m_opened, "open");
    }

    void cleanupTestCase()
    {
        for (const QString &scheme : kCapturedSchemes)
            QDesktopServices::unsetUrlHandler(scheme);
    }

    void init()
    {
        m_harness.init();
        m_manager =
            m_harness.makeSignedInManager(m_harness.tokenExpiringIn(3600), QStringLiteral("refresh-1"));
        QVERIFY(m_manager->isAuthenticated());
        m_settings = SettingsController::createWithStore(quorin::PreferencesStore::open());
        m_repliesHandled = 0;
        // The manager's own requester, observed so a test knows when a reply was handled.
        m_settings->setRestRequester([this, requester = m_manager->restRequester()](
                                         quorin::RestMethod method, const QString &path,
                                         const QJsonObject &body, const quorin::RestReply &reply) {
            requester(method, path, body,
                      [this, reply](const QJsonDocument &document, const AppFailure &failure) {
                          reply(document, failure);
                          ++m_repliesHandled;
                      });
        });
        m_opened.urls.clear();
    }

    void cleanup()
    {
        m_settings.reset();
        m_manager.reset();
        m_harness.cleanup();
    }

    void supportLinkValidation_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("normalized");
        QTest::newRow("plain http") << QStringLiteral("http://t.me/h") << QString();
        QTest::newRow("another host") << QStringLiteral("https://example.com/h") << QString();
        QTest::newRow("user information") << QStringLiteral("https://u@t.me/h") << QString();
        QTest::newRow("no path") << QStringLiteral("https://t.me") << QString();
        QTest::newRow("not a link") << QStringLiteral("t.me/h") << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("support channel gains a bare direct")
            << supportLink("https://t.me/") << supportLink("https://t.me/", "?direct");
        QTest::newRow("support channel on the long host keeps its query")
            << supportLink("https://telegram.me/", "?x=1")
            << supportLink("https://telegram.me/", "?x=1&direct");
        QTest::newRow("support channel already direct")
            << supportLink("https://t.me/", "?direct") << supportLink("https://t.me/", "?direct");
        QTest::newRow("support channel, handle in capitals")
            << QStringLiteral("https://t.me/") + QString::fromLatin1(TelegramLinks::kSupportHandle).toUpper()
            << QStringLiteral("https://t.me/") +
                   QString::fromLatin1(TelegramLinks::kSupportHandle).toUpper() + QStringLiteral("?direct");
        QTest::newRow("another Telegram path comes back as sent")
            << QStringLiteral("https://t.me/someone") << QStringLiteral("https://t.me/someone");
        QTest::newRow("another Telegram path with a query")
            << QStringLiteral("https://telegram.me/someone?start=a%20b")
            << QStringLiteral("https://telegram.me/someone?start=a%20b");
    }

    void supportLinkValidation()
    {
        QFETCH(QString, url);
        QFETCH(QString, normalized);
        QCOMPARE(m_settings->normalizedSupportUrl(url), normalized);
    }

    void defaultSupportLinkIsTheSupportChannel()
    {
        QCOMPARE(m_settings->supportUrl(), supportLink("https://t.me/", "?direct"));
        m_settings->openSupportChat();
        QCOMPARE(m_opened.urls.size(), 1);
        QCOMPARE(m_opened.urls.first().toString(QUrl::FullyEncoded), m_settings->supportUrl());
    }

    void clientConfiguration_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QString>("supportUrl"); // empty: unchanged

        const auto telegram = [](const QString &link) {
            return QJsonObject{{QStringLiteral("telegramUrl"), link}};
        };
        const auto row = [](const char *name, int status, const QJsonObject &body,
                            const QString &supportUrl) {
            QTest::newRow(name) << status << QJsonDocument(body).toJson(QJsonDocument::Compact) << supportUrl;
        };
        const QString top = QStringLiteral("telegramSupportUrl");
        const QString support = QStringLiteral("support");
        const QString news = QStringLiteral("https://t.me/quorin_news");
        const QString helpdesk = QStringLiteral("https://t.me/helpdesk");

        row("valid link", 200, {{top, news}}, news);
        row("nested link when the top one is empty", 200, {{top, QString()}, {support, telegram(helpdesk)}},
            helpdesk);
        row("nested link when the top one is absent", 200,
            {{support, telegram(QStringLiteral("https://telegram.me/helpdesk"))}},
            QStringLiteral("https://telegram.me/helpdesk"));
        row("top link wins over the nested one", 200, {{top, news}, {support, telegram(helpdesk)}}, news);
        row("support is not an object", 200, {{top, QString()}, {support, helpdesk}}, QString());
        row("invalid link", 200, {{top, QStringLiteral("http://t.me/helpdesk")}}, QString());
        row("unchanged link", 200, {{top, supportLink("https://t.me/")}}, QString());
        row("server error", 500, {{top, news}}, QString());
        QTest::newRow("not an object") << 200 << QByteArray("[\"https://t.me/quorin_news\"]") << QString();
    }

    void clientConfiguration()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(QString, supportUrl);

        const QString before = m_settings->supportUrl();
        QSignalSpy changed(m_settings.get(), &SettingsController::clientConfigChanged);
        answer(kClientConfig, {FixtureServer::Response::json(body, status)});
        LogRecorder log;
        m_settings->refreshClientConfig();
        QVERIFY(waitForReplies(1));

        const QList<FixtureServer::Request> requests = m_harness.requestsTo(kClientConfig);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().method, QByteArray("GET"));
        QCOMPARE(m_settings->supportUrl(), supportUrl.isEmpty() ? before : supportUrl);
        QCOMPARE(changed.size(), supportUrl.isEmpty() ? 0 : 1);
        // A failure is written down, and shown nowhere.
        const QList<LogRecorder::Record> failures = log.withEvent(QStringLiteral("client_config_failed"));
        QCOMPARE(failures.size(), status == 200 ? 0 : 1);
        if (status != 200)
            QCOMPARE(failures.first().field(QStringLiteral("code")), QStringLiteral("HTTP_%1").arg(status));
    }

    // Start-up's wiring over a client that holds a stored sign-in: one request, at once.
    void storedSessionAsksForTheConfigurationOnce()
    {
        answer(kClientConfig, {FixtureServer::Response::json(kServedConfig)});
        QSignalSpy changed(m_settings.get(), &SettingsController::clientConfigChanged);

        quorin::requestClientConfigPerSession(*m_manager, *m_settings);

        QVERIFY(changed.wait(10000));
        QVERIFY(m_harness.settle(*m_manager));
        QCOMPARE(m_harness.requestsTo(kClientConfig).size(), 1);
        QCOMPARE(m_settings->supportUrl(), kServedLink);
    }

    // Signed out nothing is asked (the path is not public: the call would end in a refresh and a
    // "session expired"); each successful sign-in asks once; a token refresh does not ask again.
    void configurationFollowsEachSignIn()
    {
        m_harness.keychain().clear();
        const auto manager = m_harness.makeManager();
        QVERIFY(!manager->isAuthenticated());
        const auto settings = SettingsController::createWithStore(quorin::PreferencesStore::open());
        settings->setRestRequester(manager->restRequester());
        answer(kClientConfig, {FixtureServer::Response::json(kServedConfig)});
        QSignalSpy expired(manager.get(), &NetworkManager::sessionExpired);

        quorin::requestClientConfigPerSession(*manager, *settings);
        QVERIFY(m_harness.settle(*manager));
        QCOMPARE(m_harness.requestsTo(kClientConfig).size(), 0);
        QCOMPARE(m_harness.requestsTo(QStringLiteral("auth/refresh")).size(), 0);
        QCOMPARE(expired.count(), 0);

        QVERIFY(!m_harness.signIn(*manager).isEmpty());
        QTRY_COMPARE(m_harness.requestsTo(kClientConfig).size(), 1);
        QTRY_COMPARE(settings->supportUrl(), kServedLink);
        QVERIFY(m_harness.settle(*manager));
        QCOMPARE(m_harness.requestsTo(kClientConfig).size(), 1);

        m_harness.answerRefresh(m_harness.tokenExpiringIn(3600), QStringLiteral("refresh-2"));
        bool refreshed = false;
        manager->refreshTokens([&refreshed](const AuthRefreshResult &result) { refreshed = result.success; });
        QTRY_VERIFY(refreshed);
        QVERIFY(m_harness.settle(*manager));
        QCOMPARE(m_harness.requestsTo(kClientConfig).size(), 1);

        manager->logout();
        QVERIFY(m_harness.settle(*manager));
        QCOMPARE(m_harness.requestsTo(kClientConfig).size(), 1);
        QVERIFY(!m_harness.signIn(*manager).isEmpty());
        QTRY_COMPARE(m_harness.requestsTo(kClientConfig).size(), 2);
        QVERIFY(m_harness.settle(*manager));
        QCOMPARE(m_harness.requestsTo(kClientConfig).size(), 2);
    }

    void telegramStatus_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("connected");
        QTest::newRow("chat id null") << QByteArray(R"({"telegramChatId":null,"userId":"tg1"})") << false;
        QTest::newRow("no chat id") << QByteArray(R"({"userId":"tg1"})") << false;
        QTest::newRow("chat id 0") << QByteArray(R"({"telegramChatId":0})") << true;
        QTest::newRow("chat id false") << QByteArray(R"({"telegramChatId":false})") << true;
        QTest::newRow("chat id empty text") << QByteArray(R"({"telegramChatId":""})") << true;
        QTest::newRow("chat id number") << QByteArray(R"({"telegramChatId":730001})") << true;
        QTest::newRow("reply not an object") << QByteArray(R"([{"telegramChatId":1}])") << false;
    }

    void telegramStatus()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, connected);

        // Starts connected, so a reply that says otherwise must change it.
        fetchStatus(R"({"telegramChatId":1})");
        QVERIFY(m_settings->telegramIsConnected());

        QSignalSpy status(m_settings.get(), &SettingsController::telegramStatusChanged);
        answer(kTelegram, {FixtureServer::Response::json(body)});
        m_settings->fetchTelegramStatus();
        QVERIFY(m_settings->telegramIsLoading());
        QCOMPARE(status.size(), 1);
        QVERIFY(waitForReplies(2));
        QVERIFY(!m_settings->telegramIsLoading());
        QCOMPARE(status.size(), 2);
        QCOMPARE(m_settings->telegramIsConnected(), connected);
        QCOMPARE(m_settings->telegramFailure().code, QString());
    }

    void linkingOpensTheBotWithTheTelegramUserId()
    {
        fetchStatus(R"({"telegramChatId":null,"userId":"tg1"})");
        // A reply without userId keeps the one known.
        fetchStatus(R"({"telegramChatId":null})");
        m_settings->linkTelegram();
        QCOMPARE(m_opened.urls.size(), 1);
        const QUrl link = m_opened.urls.first();
        QCOMPARE(link.scheme(), QStringLiteral("https"));
        QCOMPARE(link.host(), QLatin1String(TelegramLinks::kShortHost));
        QCOMPARE(link.path(), QLatin1Char('/') + QLatin1String(TelegramLinks::kBotHandle));
        QCOMPARE(link.query(), QStringLiteral("start=tg1"));
        QCOMPARE(m_settings->telegramFailure().code, QString());
    }

    void linkingWithoutATelegramUserIdFails_data()
    {
        QTest::addColumn<QByteArray>("body"); // empty: no status asked
        QTest::newRow("status never asked") << QByteArray();
        QTest::newRow("numeric user id") << QByteArray(R"({"telegramChatId":null,"userId":42})");
        QTest::newRow("null user id") << QByteArray(R"({"telegramChatId":null,"userId":null})");
    }

    void linkingWithoutATelegramUserIdFails()
    {
        QFETCH(QByteArray, body);
        if (!body.isEmpty()) {
            fetchStatus(R"({"telegramChatId":null,"userId":"tg1"})");
            fetchStatus(body);
        }

        QStringList events;
        recordFailureSignals(events);
        m_settings->linkTelegram();

        QCOMPARE(events, (QStringList{QStringLiteral("telegramFailureChanged"),
                                      QStringLiteral("telegramError:TELEGRAM_USER_ID_MISSING")}));
        const AppFailure failure = m_settings->telegramFailure();
        QCOMPARE(failure.code, QStringLiteral("TELEGRAM_USER_ID_MISSING"));
        QCOMPARE(failure.userMessage,
                 QStringLiteral("Cannot link Telegram: user ID missing. Please refresh the status first."));
        QCOMPARE(failure.category, QStringLiteral("validation"));
        QVERIFY(!failure.retryable);
        QCOMPARE(m_opened.urls.size(), 0);
    }

    void oneTelegramRequestAtATime()
    {
        FixtureServer::Response held =
            FixtureServer::Response::json(R"({"telegramChatId":5,"userId":"tg1"})");
        held.held = true;
        answer(kTelegram, {held});
        QSignalSpy status(m_settings.get(), &SettingsController::telegramStatusChanged);

        m_settings->fetchTelegramStatus();
        m_settings->fetchTelegramStatus();
        m_settings->disconnectTelegram();
        QCOMPARE(status.size(), 1);
        QTRY_COMPARE(m_harness.server().requestsInFlight(), 1);
        m_harness.server().release(NetworkManagerHarness::route(kTelegram));
        QVERIFY(waitForReplies(1));

        const QList<FixtureServer::Request> requests = m_harness.requestsTo(kTelegram);
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests.first().method, QByteArray("GET"));
        QCOMPARE(status.size(), 2);
        QVERIFY(m_settings->telegramIsConnected());
    }

    void unlinkingSendsANullChatId()
    {
        fetchStatus(R"({"telegramChatId":5,"userId":"tg1"})");
        QVERIFY(m_settings->telegramIsConnected());
        answer(kTelegram, {FixtureServer::Response::json("{}")});
        QSignalSpy status(m_settings.get(), &SettingsController::telegramStatusChanged);
        m_settings->disconnectTelegram();
        QVERIFY(m_settings->telegramIsLoading());
        QVERIFY(waitForReplies(2));

        const QList<FixtureServer::Request> requests = m_harness.requestsTo(kTelegram);
        QCOMPARE(requests.size(), 2);
        QCOMPARE(requests.last().method, QByteArray("PATCH"));
        QCOMPARE(requests.last().body, QByteArray(R"({"chatId":null})"));
        QVERIFY(!m_settings->telegramIsConnected());
        QVERIFY(!m_settings->telegramIsLoading());
        QCOMPARE(status.size(), 2);
        // The user id stays: linking again needs no new status.
        m_settings->linkTelegram();
        QCOMPARE(m_opened.urls.size(), 1);
    }

    void failedUnlinkKeepsTheLink()
    {
        fetchStatus(R"({"telegramChatId":5,"userId":"tg1"})");
        answer(kTelegram, {FixtureServer::Response::json(R"({"message":"Try later"})", 503)});
        QSignalSpy errors(m_settings.get(), &SettingsController::telegramError);
        m_settings->disconnectTelegram();
        QVERIFY(waitForReplies(2));
        QVERIFY(m_settings->telegramIsConnected());
        QCOMPARE(errors.size(), 1);
        QCOMPARE(m_settings->telegramFailure().code, QStringLiteral("HTTP_503"));
    }

    void failureStaysAfterALaterSuccess()
    {
        answer(kTelegram, {FixtureServer::Response::json(R"({"message":"Broken"})", 500),
                           FixtureServer::Response::json(R"({"telegramChatId":9,"userId":"tg1"})")});
        QStringList events;
        recordFailureSignals(events);
        connect(m_settings.get(), &SettingsController::telegramStatusChanged, this,
                [&events] { events.append(QStringLiteral("telegramStatusChanged")); });

        m_settings->fetchTelegramStatus();
        QVERIFY(waitForReplies(1));
        QCOMPARE(
            events,
            (QStringList{QStringLiteral("telegramStatusChanged"), QStringLiteral("telegramFailureChanged"),
                         QStringLiteral("telegramError:HTTP_500"), QStringLiteral("telegramStatusChanged")}));
        QVERIFY(!m_settings->telegramIsConnected());

        m_settings->fetchTelegramStatus();
        QVERIFY(waitForReplies(2));
        QVERIFY(m_settings->telegramIsConnected());
        QCOMPARE(m_settings->telegramFailure().code, QStringLiteral("HTTP_500"));
    }

    void replyAfterTheControllerIsGoneIsIgnored()
    {
        FixtureServer::Response held = FixtureServer::Response::json(R"({"telegramChatId":5})");
        held.held = true;
        answer(kTelegram, {held});
        m_settings->fetchTelegramStatus();
        QTRY_COMPARE(m_harness.server().requestsInFlight(), 1);
        m_settings.reset();
        m_harness.server().release(NetworkManagerHarness::route(kTelegram));
        QVERIFY(waitForReplies(1));
    }

    void openingLinks_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("refusedScheme"); // empty: the link opens
        QTest::newRow("https") << QStringLiteral("https://quorin.example/privacy-policy") << QString();
        QTest::newRow("http") << QStringLiteral("http://quorin.example/terms-of-service") << QString();
        QTest::newRow("existing folder") << QUrl::fromLocalFile(QDir::homePath()).toString() << QString();
        QTest::newRow("file") << QStringLiteral("file:///etc/passwd") << QStringLiteral("file");
        QTest::newRow("missing folder")
            << QUrl::fromLocalFile(QDir::homePath() + QStringLiteral("/missing")).toString()
            << QStringLiteral("file");
        QTest::newRow("folder on another host")
            << QStringLiteral("file://fileserver/srv") << QStringLiteral("file");
        QTest::newRow("script") << QStringLiteral("javascript:alert(1)") << QStringLiteral("javascript");
        QTest::newRow("network share") << QStringLiteral("smb://host/share") << QStringLiteral("smb");
        QTest::newRow("https without host") << QStringLiteral("https:relative") << QStringLiteral("https");
        QTest::newRow("relative text") << QStringLiteral("support/chat") << QString(QLatin1String(""));
    }

    void openingLinks()
    {
        QFETCH(QString, url);
        QFETCH(QString, refusedScheme);
        const bool opens = refusedScheme.isNull();

        LogRecorder log;
        m_settings->openUrl(url);
        const QList<LogRecorder::Record> refusals = log.withEvent(QStringLiteral("url_open_refused"));
        if (opens) {
            QCOMPARE(m_opened.urls.size(), 1);
            QCOMPARE(m_opened.urls.first(), QUrl(url));
            QCOMPARE(refusals.size(), 0);
            return;
        }
        QCOMPARE(m_opened.urls.size(), 0);
        QCOMPARE(refusals.size(), 1);
        QCOMPARE(refusals.first().level, QStringLiteral("warning"));
        // Only the scheme: the rest of a link may carry tokens or private paths.
        QCOMPARE(refusals.first().fields, (QVariantMap{{QStringLiteral("scheme"), refusedScheme}}));
    }

    void copyingText()
    {
        m_settings->copyText(QStringLiteral("abc"));
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("abc"));
    }

    void courseViewStateRoundTrips()
    {
        const QVariantMap state{
            {QStringLiteral("topId"), QStringLiteral("s-1")},
            {QStringLiteral("sectionId"), QStringLiteral("s-2")},
            {QStringLiteral("anchorOffset"), 12.5},
            {QStringLiteral("collapsed"), QStringList{QStringLiteral("s-3"), QStringLiteral("s-4")}}};
        m_settings->saveCourseViewState(QStringLiteral("u-7"), QStringLiteral("c-42"), state);
        QCOMPARE(QJsonObject::fromVariantMap(
                     m_settings->courseViewState(QStringLiteral("u-7"), QStringLiteral("c-42"))),
                 QJsonObject::fromVariantMap(state));

        // SHA-256 of "u-7", a zero byte and "c-42", worked out apart from the code under test.
        const auto store = quorin::PreferencesStore::open();
        const QString key =
            QStringLiteral("courseView/727d09b4b83191d4dde83624fed2f86a8ef311c42ff4141502fd50efeff54b6f");
        QCOMPARE(store->value(key).toByteArray(),
                 QJsonDocument(QJsonObject::fromVariantMap(state)).toJson(QJsonDocument::Compact));
        QCOMPARE(m_settings->courseViewState(QStringLiteral("u-7"), QStringLiteral("c-43")), QVariantMap());
    }

    void idsAreHashedExactlyAsGiven()
    {
        const QVariantMap first{{QStringLiteral("topId"), QStringLiteral("a")}};
        const QVariantMap second{{QStringLiteral("topId"), QStringLiteral("b")}};
        m_settings->saveCourseViewState(QStringLiteral("u-7"), QStringLiteral("c1"), first);
        m_settings->saveCourseViewState(QStringLiteral("u-7"), QStringLiteral(" c1"), second);
        QCOMPARE(m_settings->courseViewState(QStringLiteral("u-7"), QStringLiteral("c1")), first);
        QCOMPARE(m_settings->courseViewState(QStringLiteral("u-7"), QStringLiteral(" c1")), second);
    }

    void blankIdsAddressNothing_data()
    {
        QTest::addColumn<QString>("userId");
        QTest::addColumn<QString>("courseId");
        QTest::newRow("user id of spaces") << QStringLiteral("   ") << QStringLiteral("c1");
        QTest::newRow("empty course id") << QStringLiteral("u-7") << QString();
    }

    void blankIdsAddressNothing()
    {
        QFETCH(QString, userId);
        QFETCH(QString, courseId);
        m_settings->saveCourseViewState(userId, courseId, {{QStringLiteral("topId"), QStringLiteral("a")}});
        QCOMPARE(m_settings->courseViewState(userId, courseId), QVariantMap());
        const auto store = quorin::PreferencesStore::open();
        store->beginGroup(QStringLiteral("courseView"));
        QCOMPARE(store->allKeys(), QStringList());
    }

    void storedStateThatIsNoObjectReadsEmpty_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::newRow("array") << QByteArray("[1]");
        QTest::newRow("not JSON") << QByteArray("{topId:");
        QTest::newRow("empty") << QByteArray();
    }

    void storedStateThatIsNoObjectReadsEmpty()
    {
        QFETCH(QByteArray, stored);
        quorin::PreferencesStore::open()->setValue(
            QStringLiteral("courseView/727d09b4b83191d4dde83624fed2f86a8ef311c42ff4141502fd50efeff54b6f"),
            stored);
        QCOMPARE(m_settings->courseViewState(QStringLiteral("u-7"), QStringLiteral("c-42")), QVariantMap());
    }
};

QTEST_MAIN(tst_ClientConfig)
#include "tst_ClientConfig.moc"
