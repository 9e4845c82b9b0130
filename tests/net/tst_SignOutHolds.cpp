#include "app/PreferencesStore.h"
#include "tests/net/NetworkManagerHarness.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTest>

using quorin::test::FixtureServer;
using quorin::test::InMemoryKeychain;
using quorin::test::NetworkManagerHarness;

namespace {

const QString kAccessToken = QStringLiteral("accessToken");
const QString kRefreshToken = QStringLiteral("refreshToken");
const QString kSignedOutMark = QStringLiteral("signedOut");
const QString kRefused = QStringLiteral("the keychain is locked");

bool markStands()
{
    return quorin::PreferencesStore::open()->value(kSignedOutMark).toBool();
}

} // namespace

// A sign-out holds across a restart even when the keychain refuses to delete the tokens: the
// preferences store keeps a mark, start-up then ignores (and removes) what the keychain still
// holds, and only a sign-in whose tokens the keychain took clears it. The keychain is the
// in-memory one with its faults; the preferences store is the test's own file.
class tst_SignOutHolds : public QObject
{
    Q_OBJECT

private:
    NetworkManagerHarness m_harness;

    [[nodiscard]] InMemoryKeychain &keychain() { return m_harness.keychain(); }

    // Warnings written through Qt since the test began.
    [[nodiscard]] QStringList warnings() const
    {
        QStringList texts;
        for (const auto &record : m_harness.logRecords(QStringLiteral("message"))) {
            if (record.value(QStringLiteral("level")) == QLatin1String("warning"))
                texts.append(record.value(QStringLiteral("message")));
        }
        return texts;
    }

    // Signs in through the fixture, then signs out while the keychain refuses every removal.
    // Returns the token of that session.
    QByteArray signOutRefusedByTheKeychain(NetworkManager &manager)
    {
        const QByteArray token = m_harness.signIn(manager);
        keychain().fail(InMemoryKeychain::Operation::Delete, kRefused);
        manager.logout();
        return token;
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }
    void init() { m_harness.init(); }
    void cleanup() { m_harness.cleanup(); }

    void signOutIsImmediateWhenTheKeychainRefuses()
    {
        const auto manager = m_harness.makeManager();
        QSignalSpy expired(manager.get(), &NetworkManager::sessionExpired);
        const QByteArray token = signOutRefusedByTheKeychain(*manager);
        QVERIFY(!token.isEmpty());

        QVERIFY(!manager->isAuthenticated());
        QVERIFY(manager->mediaAuthenticationSnapshot().authorization.isEmpty());
        QCOMPARE(expired.count(), 1);
        // The keychain still holds the session; the mark says it is over.
        QCOMPARE(keychain().value(kAccessToken), QString::fromUtf8(token));
        QVERIFY(markStands());
        const QStringList written = warnings();
        QVERIFY2(
            written.contains(QStringLiteral("Failed to remove accessToken from the keychain: ") + kRefused),
            qPrintable(written.join(QLatin1Char('|'))));
        QVERIFY(
            written.contains(QStringLiteral("Failed to remove refreshToken from the keychain: ") + kRefused));
    }

    void restartAfterARefusedSignOut_data()
    {
        QTest::addColumn<bool>("keychainStillRefuses");
        QTest::newRow("the keychain removes them now") << false;
        QTest::newRow("the keychain still refuses") << true;
    }

    void restartAfterARefusedSignOut()
    {
        QFETCH(bool, keychainStillRefuses);
        {
            const auto manager = m_harness.makeManager();
            (void)signOutRefusedByTheKeychain(*manager);
        }
        if (!keychainStillRefuses)
            keychain().clearFaults();

        const auto restarted = m_harness.makeManager();

        QVERIFY(!restarted->isAuthenticated());
        QVERIFY(restarted->mediaAuthenticationSnapshot().authorization.isEmpty());
        QCOMPARE(keychain().value(kAccessToken).has_value(), keychainStillRefuses);
        QCOMPARE(keychain().value(kRefreshToken).has_value(), keychainStillRefuses);
        QCOMPARE(markStands(), keychainStillRefuses);
        // Starting signed out sends nothing, not even a refresh.
        QVERIFY(m_harness.settle(*restarted));
        QCOMPARE(m_harness.sentByCodeUnderTest(), QStringList());
    }

    // Whether the keychain still refuses removals or not, a sign-in it stores clears the mark.
    void signInAfterARefusedSignOutHoldsAcrossARestart_data()
    {
        QTest::addColumn<bool>("keychainStillRefuses");
        QTest::newRow("removals work again") << false;
        QTest::newRow("removals still refused") << true;
    }

    void signInAfterARefusedSignOutHoldsAcrossARestart()
    {
        QFETCH(bool, keychainStillRefuses);
        {
            const auto manager = m_harness.makeManager();
            (void)signOutRefusedByTheKeychain(*manager);
        }
        if (!keychainStillRefuses)
            keychain().clearFaults();
        QByteArray token;
        {
            const auto restarted = m_harness.makeManager();
            token = m_harness.signIn(*restarted, QStringLiteral("u-2"));
            QVERIFY(!token.isEmpty());
        }
        QVERIFY(!markStands());

        const auto again = m_harness.makeManager();
        QVERIFY(again->isAuthenticated());
        QCOMPARE(again->mediaAuthenticationSnapshot().authorization, "Bearer " + token);
    }

    // The keychain kept the ended session's tokens and refuses the new ones: clearing the mark
    // now would bring the ended session back at the next start.
    void signInTheKeychainDoesNotStoreKeepsTheMark()
    {
        QByteArray ended;
        {
            const auto manager = m_harness.makeManager();
            ended = signOutRefusedByTheKeychain(*manager);
        }
        keychain().fail(InMemoryKeychain::Operation::Update, kRefused);
        keychain().fail(InMemoryKeychain::Operation::Add, kRefused);
        {
            const auto restarted = m_harness.makeManager();
            QVERIFY(!m_harness.signIn(*restarted, QStringLiteral("u-2")).isEmpty());
            QVERIFY(restarted->isAuthenticated());
        }
        QVERIFY(markStands());
        QCOMPARE(keychain().value(kAccessToken), QString::fromUtf8(ended));

        const auto again = m_harness.makeManager();
        QVERIFY(!again->isAuthenticated());
    }

    // A session the backend ends (a refused refresh) is cleared the same way as a sign-out.
    void expiredSessionHoldsAcrossARestart()
    {
        {
            const auto manager = m_harness.makeManager();
            QVERIFY(!m_harness.signIn(*manager).isEmpty());
            keychain().fail(InMemoryKeychain::Operation::Delete, kRefused);
            m_harness.server().setResponse(NetworkManagerHarness::route(QStringLiteral("auth/refresh")),
                                           FixtureServer::Response::json("{}", 401));
            QSignalSpy expired(manager.get(), &NetworkManager::sessionExpired);
            manager->refreshTokens({});
            QVERIFY(expired.wait(10000));
            QVERIFY(!manager->isAuthenticated());
        }
        QVERIFY(markStands());
        keychain().clearFaults();

        const auto restarted = m_harness.makeManager();
        QVERIFY(!restarted->isAuthenticated());
        QVERIFY(!keychain().value(kAccessToken).has_value());
        QVERIFY(!markStands());
    }

    // An ordinary sign-out leaves no mark behind.
    void signOutTheKeychainAcceptsLeavesNoMark()
    {
        {
            const auto manager = m_harness.makeManager();
            QVERIFY(!m_harness.signIn(*manager).isEmpty());
            manager->logout();
        }
        QVERIFY(!markStands());
        QVERIFY(keychain().accounts().filter(QStringLiteral("Token")).isEmpty());
        QVERIFY(!m_harness.makeManager()->isAuthenticated());
    }
};

QTEST_GUILESS_MAIN(tst_SignOutHolds)
#include "tst_SignOutHolds.moc"
