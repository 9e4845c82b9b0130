#include "net/NetworkManager.h"
#include "net/ResetPasswordController.h"
#include "net/SignupController.h"
#include "tests/sample-server/SamplePlatformSession.h"
#include "testsupport/InMemoryKeychain.h"

#include <QSignalSpy>
#include <QTest>

namespace {

using quorin::test::SamplePlatformSession;

const QString kNumber = SamplePlatformSession::kNumber;
const QString kPassword = SamplePlatformSession::kPassword;
constexpr auto idsOf = &SamplePlatformSession::idsOf;
// The code README gives for a forgotten password.
const QString kResetCode = QStringLiteral("246810");

NetworkManager *network()
{
    return NetworkManager::instance();
}

AppFailure failureOf(const QSignalSpy &spy)
{
    return spy.last().first().value<AppFailure>();
}

} // namespace

// The sample platform's sign-up and forgotten-password routes, as the sign-in screen meets them:
// through the process-wide sign-up and password reset controllers, signed out. The functions run
// in order and share the platform's state.
class tst_SampleSignupRoutes : public QObject
{
    Q_OBJECT

private:
    quorin::test::InMemoryKeychain m_keychain;
    SamplePlatformSession m_platform;

    static SignupController *signup() { return SignupController::instance(); }
    static ResetPasswordController *reset() { return ResetPasswordController::instance(); }

    static bool signIn(const QString &password) { return SamplePlatformSession::signIn(password); }

    // Registers and waits for the outcome; true on registerSuccess.
    static bool registers(const QString &number, const QString &password, const QString &confirmation,
                          AppFailure *failure = nullptr)
    {
        QSignalSpy succeeded(signup(), &SignupController::registerSuccess);
        QSignalSpy refused(signup(), &SignupController::registerError);
        signup()->registerUser(QStringLiteral("Omar Saleh"), QStringLiteral("omar"), number, password,
                               confirmation, QStringLiteral("inst-nile-school"), QStringLiteral("y-nls-10"));
        if (!QTest::qWaitFor([&] { return !succeeded.isEmpty() || !refused.isEmpty(); }, 10000))
            return false;
        if (failure && !refused.isEmpty())
            *failure = failureOf(refused);
        return !succeeded.isEmpty();
    }

    static AppFailure resetRefusal(const QString &number, const QString &code, const QString &password)
    {
        QSignalSpy refused(reset(), &ResetPasswordController::resetError);
        reset()->resetPassword(number, code, password, password);
        return refused.wait(10000) ? failureOf(refused) : AppFailure();
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_keychain.installAsNative();
        QVERIFY2(m_platform.start(), qPrintable(m_platform.errorString()));
        m_platform.useForProcessWideClient();
    }

    void signupOffersTheSampleInstitutions()
    {
        QSignalSpy changed(signup(), &SignupController::institutionsChanged);
        signup()->selectStage(QStringLiteral("UNIVERSITY"));
        signup()->fetchInstitutions();
        QVERIFY(changed.wait(10000));
        QCOMPARE(idsOf(signup()->institutions()),
                 (QStringList{QStringLiteral("inst-cairo-university"), QStringLiteral("inst-riyadh-tech")}));

        signup()->selectStage(QStringLiteral("SCHOOL"));
        QCOMPARE(idsOf(signup()->institutions()), QStringList{QStringLiteral("inst-nile-school")});
        signup()->selectInstitution(QStringLiteral("inst-nile-school"));
        QCOMPARE(idsOf(signup()->academicYears()),
                 (QStringList{QStringLiteral("y-nls-10"), QStringLiteral("y-nls-11"),
                              QStringLiteral("y-nls-12")}));
    }

    void aNumberSignsUpOnce()
    {
        const QString number = QStringLiteral("+966512345678");
        QVERIFY(registers(number, QStringLiteral("omar-secret"), QStringLiteral("omar-secret")));

        AppFailure failure;
        QVERIFY(!registers(number, QStringLiteral("omar-secret"), QStringLiteral("omar-secret"), &failure));
        QCOMPARE(failure.code, QStringLiteral("MOBILE_TAKEN"));
        QCOMPARE(failure.httpStatus, 409);
    }

    void signupRefusals_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("confirmation");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");

        QTest::newRow("the sample account's number")
            << kNumber << QStringLiteral("omar-secret") << QStringLiteral("MOBILE_TAKEN")
            << QStringLiteral("An account with this mobile number already exists.");
        QTest::newRow("passwords differ")
            << QStringLiteral("+201112345678") << QStringLiteral("omar-secreT")
            << QStringLiteral("INVALID_SIGNUP")
            << QStringLiteral(
                   "Enter a mobile number and a password of at least 8 characters, typed the same twice.");
    }

    void signupRefusals()
    {
        QFETCH(QString, number);
        QFETCH(QString, confirmation);
        QFETCH(QString, code);
        QFETCH(QString, message);
        AppFailure failure;
        QVERIFY(!registers(number, QStringLiteral("omar-secret"), confirmation, &failure));
        QCOMPARE(failure.code, code);
        QCOMPARE(failure.userMessage, message);
        QCOMPARE(signup()->failure(), failure);
    }

    void codeIsSentOnlyToTheSampleAccount()
    {
        QSignalSpy sent(reset(), &ResetPasswordController::requestSuccess);
        reset()->requestPasswordReset(kNumber);
        QVERIFY(sent.wait(10000));

        QSignalSpy refused(reset(), &ResetPasswordController::requestError);
        reset()->requestPasswordReset(QStringLiteral("+201112345678"));
        QVERIFY(refused.wait(10000));
        QCOMPARE(failureOf(refused).httpStatus, 404);
        QCOMPARE(failureOf(refused).code, QStringLiteral("USER_NOT_FOUND"));
    }

    void resetRefusals_data()
    {
        QTest::addColumn<QString>("number");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("expectedCode");

        QTest::newRow("wrong code") << kNumber << QStringLiteral("135790") << QStringLiteral("quorin-new-1")
                                    << QStringLiteral("INVALID_OTP");
        QTest::newRow("empty code") << kNumber << QString() << QStringLiteral("quorin-new-1")
                                    << QStringLiteral("INVALID_OTP");
        QTest::newRow("code of another number")
            << QStringLiteral("+201112345678") << kResetCode << QStringLiteral("quorin-new-1")
            << QStringLiteral("INVALID_OTP");
        QTest::newRow("short password")
            << kNumber << kResetCode << QStringLiteral("short") << QStringLiteral("INVALID_NEW_PASSWORD");
    }

    void resetRefusals()
    {
        QFETCH(QString, number);
        QFETCH(QString, code);
        QFETCH(QString, password);
        QFETCH(QString, expectedCode);
        const AppFailure failure = resetRefusal(number, code, password);
        QCOMPARE(failure.code, expectedCode);
        QCOMPARE(failure.httpStatus, 400);
        QVERIFY(signIn(kPassword));
        network()->logout();
    }

    void resetReplacesThePasswordAndEndsTheSessions()
    {
        QVERIFY(signIn(kPassword));
        QSignalSpy done(reset(), &ResetPasswordController::resetSuccess);
        reset()->resetPassword(kNumber, kResetCode, QStringLiteral("quorin-new-1"),
                               QStringLiteral("quorin-new-1"));
        QVERIFY(done.wait(10000));

        // The session signed in with the old password is gone on the platform.
        AuthRefreshResult refreshed;
        bool answered = false;
        network()->refreshTokens([&](const AuthRefreshResult &result) {
            refreshed = result;
            answered = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(answered, 10000);
        QVERIFY(refreshed.sessionExpired);
        QVERIFY(!network()->isAuthenticated());

        QVERIFY(!signIn(kPassword));
        QVERIFY(signIn(QStringLiteral("quorin-new-1")));
    }
};

QTEST_GUILESS_MAIN(tst_SampleSignupRoutes)
#include "tst_SampleSignupRoutes.moc"
