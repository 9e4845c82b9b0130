#include "net/NetworkManager.h"
#include "net/ResetPasswordController.h"
#include "net/SignupController.h"
#include "tests/sample-server/SamplePlatformSession.h"
#include "testsupport/InMemoryKeychain.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
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

    // Enough institutions of both levels to need the search, named in Arabic and in Latin
    // letters, with years under either key.
    void signupOffersTheSampleInstitutions()
    {
        QSignalSpy changed(signup(), &SignupController::institutionsChanged);
        signup()->selectStage(QStringLiteral("UNIVERSITY"));
        signup()->fetchInstitutions();
        QVERIFY(changed.wait(10000));
        const QVariantList universities = signup()->institutions();
        QCOMPARE(idsOf(universities).mid(0, 2),
                 (QStringList{QStringLiteral("inst-cairo-university"), QStringLiteral("inst-riyadh-tech")}));

        signup()->selectStage(QStringLiteral("SCHOOL"));
        const QVariantList schools = signup()->institutions();
        QCOMPARE(idsOf(schools).first(), QStringLiteral("inst-nile-school"));
        QVERIFY2(universities.size() + schools.size() >= 25,
                 qPrintable(QString::number(universities.size() + schools.size())));
        QVERIFY(universities.size() >= 10 && schools.size() >= 10);

        QSet<QString> scripts;
        QSet<QString> yearKeys;
        for (const QVariant &record : universities + schools) {
            const QVariantMap institution = record.toMap();
            const QString name = institution.value(QStringLiteral("name")).toString();
            scripts.insert(name.contains(QRegularExpression(QStringLiteral("[\\x{0600}-\\x{06FF}]")))
                               ? QStringLiteral("Arabic")
                               : QStringLiteral("Latin"));
            for (const char *key : {"years", "academicYears"}) {
                if (!institution.value(QLatin1String(key)).toList().isEmpty())
                    yearKeys.insert(QLatin1String(key));
            }
        }
        QCOMPARE(scripts, (QSet<QString>{QStringLiteral("Arabic"), QStringLiteral("Latin")}));
        QCOMPARE(yearKeys, (QSet<QString>{QStringLiteral("years"), QStringLiteral("academicYears")}));

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

    // The account made above signs in, shows what it signed up with, and resets its password
    // with the code of the README.
    void aSignedUpAccountIsAnAccount()
    {
        const QString number = QStringLiteral("+966512345678");
        QVERIFY(SamplePlatformSession::signIn(QStringLiteral("omar-secret"), number));
        QJsonObject profile;
        bool answered = false;
        network()->sendRequestDetailed(NetworkManager::HttpMethod::Get,
                                       QStringLiteral("users/me?include=enrollments"), {},
                                       [&](const QJsonDocument &answer, const NetworkFailure &failure) {
                                           QVERIFY(failure.failure.code.isEmpty());
                                           profile = answer.object();
                                           answered = true;
                                       });
        QTRY_VERIFY_WITH_TIMEOUT(answered, 10000);
        QCOMPARE(profile.value(QStringLiteral("fullName")).toString(), QStringLiteral("Omar Saleh"));
        QCOMPARE(profile.value(QStringLiteral("nickname")).toString(), QStringLiteral("omar"));
        QCOMPARE(profile.value(QStringLiteral("mobileNumber")).toString(), number);
        QCOMPARE(profile.value(QStringLiteral("yearId")).toString(), QStringLiteral("y-nls-10"));
        QVERIFY(profile.value(QStringLiteral("enrollments")).isArray());
        QVERIFY(profile.value(QStringLiteral("enrollments")).toArray().isEmpty());
        network()->logout();

        QSignalSpy sent(reset(), &ResetPasswordController::requestSuccess);
        reset()->requestPasswordReset(number);
        QVERIFY(sent.wait(10000));
        QSignalSpy done(reset(), &ResetPasswordController::resetSuccess);
        reset()->resetPassword(number, kResetCode, QStringLiteral("omar-new-1"),
                               QStringLiteral("omar-new-1"));
        QVERIFY(done.wait(10000));
        QVERIFY(!SamplePlatformSession::signIn(QStringLiteral("omar-secret"), number));
        QVERIFY(SamplePlatformSession::signIn(QStringLiteral("omar-new-1"), number));
        network()->logout();
        // The sample account keeps its own password.
        QVERIFY(signIn(kPassword));
        network()->logout();
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

    void codeIsSentOnlyToAnAccount()
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
