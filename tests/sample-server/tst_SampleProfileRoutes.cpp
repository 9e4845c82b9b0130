#include "net/NetworkManager.h"
#include "net/ProfileContract.h"
#include "net/ProfileController.h"
#include "net/UserIdentityController.h"
#include "tests/sample-server/SamplePlatformSession.h"
#include "testsupport/InMemoryKeychain.h"

#include <QSignalSpy>
#include <QTest>

namespace {

using quorin::test::SamplePlatformSession;

const QString kNumber = SamplePlatformSession::kNumber;
const QString kPassword = SamplePlatformSession::kPassword;
constexpr auto idsOf = &SamplePlatformSession::idsOf;

NetworkManager *network()
{
    return NetworkManager::instance();
}

} // namespace

// The sample platform's profile, password, account and institution routes, as the demo client
// meets them: through the profile page's controller and the user identity, signed in with the
// sample account. The functions run in order and share the platform's state.
class tst_SampleProfileRoutes : public QObject
{
    Q_OBJECT

private:
    quorin::test::InMemoryKeychain m_keychain;
    SamplePlatformSession m_platform;

    static bool signIn(const QString &password) { return SamplePlatformSession::signIn(password); }

    static void save(ProfileController &profile, const QString &fullName, const QString &nickname,
                     const QString &yearId)
    {
        QSignalSpy updated(&profile, &ProfileController::profileUpdated);
        profile.updateProfile(fullName, nickname, yearId);
        QVERIFY(updated.wait(10000));
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_keychain.installAsNative();
        QVERIFY2(m_platform.start(), qPrintable(m_platform.errorString()));
        m_platform.useForProcessWideClient();
        // As at start-up: the identity exists before anyone signs in, so it hears the sign-in.
        QVERIFY(!UserIdentityController::instance()->ready());
    }

    void institutionsAreListedBeforeSignIn()
    {
        ProfileController profile;
        QSignalSpy changed(&profile, &ProfileController::institutionsChanged);
        profile.fetchInstitutions();
        QVERIFY(changed.wait(10000));

        const QVariantList institutions = profile.institutions();
        QCOMPARE(idsOf(institutions).mid(0, 3),
                 (QStringList{QStringLiteral("inst-nile-school"), QStringLiteral("inst-cairo-university"),
                              QStringLiteral("inst-riyadh-tech")}));
        QCOMPARE(
            idsOf(ProfileContract::yearsForInstitution(institutions, QStringLiteral("inst-nile-school"))),
            (QStringList{QStringLiteral("y-nls-10"), QStringLiteral("y-nls-11"),
                         QStringLiteral("y-nls-12")}));
        QCOMPARE(ProfileContract::yearsForInstitution(institutions, QStringLiteral("inst-cairo-university"))
                     .size(),
                 4);
        QCOMPARE(
            ProfileContract::yearsForInstitution(institutions, QStringLiteral("inst-riyadh-tech")).size(), 2);
    }

    void signedInProfileIsComplete()
    {
        QVERIFY(signIn(kPassword));
        QTRY_COMPARE_WITH_TIMEOUT(UserIdentityController::instance()->profileState(),
                                  UserIdentityController::Ready, 10000);
        QCOMPARE(UserIdentityController::instance()->userId(), QStringLiteral("u-1001"));
        QCOMPARE(UserIdentityController::instance()->watermarkText(), QStringLiteral("45678"));
        QCOMPARE(UserIdentityController::instance()->enrollments().size(), 1);

        ProfileController profile;
        QSignalSpy loaded(&profile, &ProfileController::profileLoaded);
        profile.fetchProfile();
        QVERIFY(loaded.wait(10000));
        QCOMPARE(profile.fullName(), QStringLiteral("Salma Adel"));
        QCOMPARE(profile.nickname(), QStringLiteral("salma"));
        QCOMPARE(profile.phoneNumber(), kNumber);
        QCOMPARE(profile.yearId(), QStringLiteral("y-cu-2"));
        QCOMPARE(profile.institutionId(), QStringLiteral("inst-cairo-university"));
        QCOMPARE(profile.educationLevel(), QStringLiteral("UNIVERSITY"));
        QCOMPARE(profile.enrollments().size(), 1);
    }

    void savedEditsAreReadBack()
    {
        ProfileController profile;

        save(profile, QStringLiteral(" Salma A. Adel "), QStringLiteral("salma-a"),
             QStringLiteral("y-nls-11"));
        QCOMPARE(profile.fullName(), QStringLiteral("Salma A. Adel"));
        QCOMPARE(profile.nickname(), QStringLiteral("salma-a"));
        QCOMPARE(profile.yearId(), QStringLiteral("y-nls-11"));
        QCOMPARE(profile.institutionId(), QStringLiteral("inst-nile-school"));
        QCOMPARE(profile.educationLevel(), QStringLiteral("SCHOOL"));
        QCOMPARE(UserIdentityController::instance()->fullName(), QStringLiteral("Salma A. Adel"));

        save(profile, QStringLiteral("Salma Adel"), QStringLiteral("salma"), QString());
        QCOMPARE(profile.yearId(), QString());
        QCOMPARE(profile.institutionId(), QString());
        QCOMPARE(profile.educationLevel(), QString());

        QSignalSpy refused(&profile, &ProfileController::profileUpdateError);
        profile.updateProfile(QStringLiteral("Salma Adel"), QStringLiteral("salma"),
                              QStringLiteral("y-unknown"));
        QVERIFY(refused.wait(10000));
        const AppFailure failure = refused.first().first().value<AppFailure>();
        QCOMPARE(failure.code, QStringLiteral("UNKNOWN_YEAR"));
        QCOMPARE(failure.userMessage, QStringLiteral("The chosen academic year does not exist."));
    }

    void passwordChangesOnlyWithTheCurrentOne()
    {
        ProfileController profile;
        QSignalSpy refused(&profile, &ProfileController::passwordChangeError);
        profile.changePassword(QStringLiteral("not-the-password"), QStringLiteral("quorin-demo-2"));
        QVERIFY(refused.wait(10000));
        const AppFailure failure = refused.first().first().value<AppFailure>();
        QCOMPARE(failure.httpStatus, 400);
        QCOMPARE(failure.code, QStringLiteral("INVALID_CURRENT_PASSWORD"));
        QCOMPARE(failure.userMessage, QStringLiteral("The current password is incorrect."));

        QSignalSpy changed(&profile, &ProfileController::passwordChanged);
        profile.changePassword(kPassword, QStringLiteral("quorin-demo-2"));
        QVERIFY(changed.wait(10000));

        network()->logout();
        QVERIFY(!signIn(kPassword));
        QVERIFY(signIn(QStringLiteral("quorin-demo-2")));
    }

    void deletedAccountLosesItsSession()
    {
        ProfileController profile;
        QSignalSpy deleted(&profile, &ProfileController::accountDeleted);
        profile.deleteAccount();
        QVERIFY(deleted.wait(10000));
        QVERIFY(network()->isAuthenticated());

        QSignalSpy failed(&profile, &ProfileController::profileError);
        QSignalSpy ended(network(), &NetworkManager::sessionExpired);
        profile.fetchProfile();
        QVERIFY(failed.wait(10000));
        QCOMPARE(failed.first().first().value<AppFailure>().category, QStringLiteral("authentication"));
        QCOMPARE(ended.count(), 1);
        QVERIFY(!network()->isAuthenticated());
        QVERIFY(!UserIdentityController::instance()->ready());
        // The account is gone: its last password no longer signs in.
        QVERIFY(!signIn(QStringLiteral("quorin-demo-2")));
    }
};

QTEST_GUILESS_MAIN(tst_SampleProfileRoutes)
#include "tst_SampleProfileRoutes.moc"
