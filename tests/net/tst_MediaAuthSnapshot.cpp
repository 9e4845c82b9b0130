#include "media/CryptoManager.h"
#include "tests/net/NetworkManagerHarness.h"

#include <QLocale>
#include <QMetaType>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

using quorin::test::FixtureServer;
using quorin::test::NetworkManagerHarness;

namespace {

const QString kLoginRoute = QStringLiteral("/api/v1/auth/login");

FixtureServer::Response tokensAnswer(const QByteArray &access, const QByteArray &refresh)
{
    return FixtureServer::Response::json("{\"accessToken\":\"" + access + "\",\"refreshToken\":\"" + refresh +
                                         "\"}");
}

} // namespace

class tst_MediaAuthSnapshot : public QObject
{
    Q_OBJECT

private:
    NetworkManagerHarness m_harness;

    void signIn(NetworkManager &manager, const QByteArray &access)
    {
        m_harness.server().setResponse(kLoginRoute, tokensAnswer(access, "refresh-1"));
        QSignalSpy succeeded(&manager, &NetworkManager::loginSuccess);
        manager.login(QStringLiteral("+201000000000"), QStringLiteral("pw"), QString());
        QVERIFY(succeeded.wait(10000));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_harness.initTestCase();
        CryptoManager::installStartHook();
    }

    void init()
    {
        m_harness.init();
        // Every manager starts the vault; let the previous test's start finish first.
        QTRY_VERIFY(CryptoManager::instance()->vaultState() != CryptoManager::Initializing);
    }

    void cleanup()
    {
        QLocale::setDefault(QLocale::system());
        m_harness.cleanup();
    }

    void signedOutSnapshotCarriesNoBearer()
    {
        const auto manager = m_harness.makeManager();
        const MediaAuthSnapshot snapshot = manager->mediaAuthenticationSnapshot();
        QVERIFY(snapshot.authorization.isEmpty());
        QCOMPARE(snapshot.generation, quint64(0));
        QCOMPARE(snapshot.acceptLanguage, QLocale().bcp47Name().toUtf8());
        QVERIFY(QMetaType::fromName("MediaAuthSnapshot").isValid());
        QCOMPARE(QMetaType::fromName("MediaAuthSnapshot"), QMetaType::fromType<MediaAuthSnapshot>());
    }

    void everyTokenChangeAnnouncesOneNewerSnapshot()
    {
        const auto manager = m_harness.makeManager();
        QList<MediaAuthSnapshot> announced;
        QStringList events;
        NetworkManagerHarness::recordSignals(*manager, events);
        connect(manager.get(), &NetworkManager::mediaAuthenticationChanged, this,
                [&announced, &manager](const MediaAuthSnapshot &snapshot) {
                    announced.append(snapshot);
                    // Taken right after the change, so the same as asking now.
                    QCOMPARE(snapshot, manager->mediaAuthenticationSnapshot());
                });

        const QByteArray access = m_harness.tokenExpiringIn(3600);
        signIn(*manager, access);
        QCOMPARE(announced.size(), 1);
        QCOMPARE(announced.last().authorization, "Bearer " + access);
        QCOMPARE(announced.last().generation, quint64(1));
        // The new snapshot is out before anyone hears that the sign-in state changed.
        QCOMPARE(events.filter(QRegularExpression(QStringLiteral("^(media:|isAuthenticatedChanged)"))),
                 (QStringList{QStringLiteral("media:Bearer ") + QString::fromUtf8(access),
                              QStringLiteral("isAuthenticatedChanged")}));

        const QByteArray renewed = m_harness.tokenExpiringIn(3600, QStringLiteral("renewed"));
        m_harness.answerRefresh(renewed, QStringLiteral("refresh-2"));
        bool refreshed = false;
        manager->refreshTokens([&refreshed](const AuthRefreshResult &result) { refreshed = result.success; });
        QTRY_VERIFY(refreshed);
        QCOMPARE(announced.size(), 2);
        QCOMPARE(announced.last().authorization, "Bearer " + renewed);
        QCOMPARE(announced.last().generation, quint64(2));

        manager->logout();
        QCOMPARE(announced.size(), 3);
        QVERIFY(announced.last().authorization.isEmpty());
        QCOMPARE(announced.last().generation, quint64(3));
        // Signed out, a snapshot still carries the current generation.
        QCOMPARE(manager->mediaAuthenticationSnapshot().generation, quint64(3));
        QVERIFY(manager->mediaAuthenticationSnapshot().authorization.isEmpty());
        for (const MediaAuthSnapshot &snapshot : std::as_const(announced))
            QCOMPARE(snapshot.acceptLanguage, QLocale().bcp47Name().toUtf8());
    }

    void acceptLanguageIsTheRestOne_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("process default") << QString();
        QTest::newRow("Arabic, Egypt") << QStringLiteral("ar_EG");
        QTest::newRow("German, Switzerland") << QStringLiteral("de_CH");
        QTest::newRow("Chinese, Taiwan") << QStringLiteral("zh_TW");
    }

    void acceptLanguageIsTheRestOne()
    {
        QFETCH(QString, locale);
        if (!locale.isEmpty())
            QLocale::setDefault(QLocale(locale));
        m_harness.server().setResponse(NetworkManagerHarness::route(QStringLiteral("ping")),
                                       FixtureServer::Response::json("{}"));
        const auto manager =
            m_harness.makeSignedInManager(m_harness.tokenExpiringIn(3600), QStringLiteral("refresh-1"));
        NetworkManagerHarness::CallbackRecord answer;
        manager->sendRequestDetailed(NetworkManager::HttpMethod::Get, QStringLiteral("ping"), {},
                                     NetworkManagerHarness::recordInto(answer));
        QTRY_COMPARE(answer.calls, 1);

        const QByteArray sent =
            m_harness.requestsTo(QStringLiteral("ping")).first().header("Accept-Language");
        QCOMPARE(manager->mediaAuthenticationSnapshot().acceptLanguage, sent);
        QCOMPARE(sent, QLocale().bcp47Name().toUtf8());
    }

    void snapshotCrossesToAnotherThreadIntact()
    {
        const auto manager = m_harness.makeManager();
        QThread worker;
        QObject receiver;
        receiver.moveToThread(&worker);
        worker.start();
        QMutex mutex;
        QList<MediaAuthSnapshot> received;
        QThread *deliveredOn = nullptr;
        connect(manager.get(), &NetworkManager::mediaAuthenticationChanged, &receiver,
                [&](const MediaAuthSnapshot &snapshot) {
                    const QMutexLocker locker(&mutex);
                    received.append(snapshot);
                    deliveredOn = QThread::currentThread();
                });

        signIn(*manager, m_harness.tokenExpiringIn(3600));
        QTRY_VERIFY([&] {
            const QMutexLocker locker(&mutex);
            return !received.isEmpty();
        }());
        worker.quit();
        QVERIFY(worker.wait(10000));
        QCOMPARE(received.size(), 1);
        QCOMPARE(received.first(), manager->mediaAuthenticationSnapshot());
        QVERIFY(!received.first().authorization.isEmpty());
        QCOMPARE(deliveredOn, &worker);
    }

    void vaultStartIsAnnouncedOnTheGuiThread()
    {
        const auto manager = m_harness.makeManager();
        QList<QThread *> threads;
        QList<CryptoManager::VaultState> states;
        // Connected after construction: the announcement comes later, through the event loop.
        connect(manager.get(), &NetworkManager::hardwareCryptoChanged, this, [&] {
            threads.append(QThread::currentThread());
            states.append(CryptoManager::instance()->vaultState());
        });
        QTRY_COMPARE(threads.size(), 1);
        QCOMPARE(threads.first(), thread());
        QCOMPARE(states.first(), CryptoManager::ReadySecretService);
        QVERIFY(m_harness.keychain().value(CryptoManager::masterKeyItem()).has_value());
    }

    void managerGoneBeforeTheVaultReturns()
    {
        m_harness.keychain().holdCopies(CryptoManager::masterKeyItem());
        auto manager = m_harness.makeManager();
        QTRY_COMPARE(m_harness.keychain().heldCopies(), 1);
        manager.reset();
        m_harness.keychain().releaseCopies();
        QTRY_COMPARE(CryptoManager::instance()->vaultState(), CryptoManager::ReadySecretService);

        // A later manager's announcement is posted after anything the first one's task posted.
        const auto later = m_harness.makeManager();
        QSignalSpy announced(later.get(), &NetworkManager::hardwareCryptoChanged);
        QVERIFY(announced.wait(10000));
    }
};

QTEST_GUILESS_MAIN(tst_MediaAuthSnapshot)
#include "tst_MediaAuthSnapshot.moc"
