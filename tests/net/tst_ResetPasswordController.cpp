#include "net/ResetPasswordController.h"
#include "tests/net/ProcessWideSession.h"
#include "testsupport/SignalLog.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::ProcessWideSession;
using quorin::test::SignalLog;

Q_DECLARE_METATYPE(quorin::test::FixtureServer::Response)

namespace {

const QString kCodeRequestPath = QStringLiteral("auth/forgot-password");
const QString kResetPath = QStringLiteral("auth/reset-password");
const QString kNumber = ProcessWideSession::kNumber;

AppFailure mismatchFailure()
{
    return AppFailure::local(QStringLiteral("PASSWORDS_DO_NOT_MATCH"),
                             QStringLiteral("Passwords do not match."), QStringLiteral("validation"), false);
}

} // namespace

class tst_ResetPasswordController : public QObject
{
    Q_OBJECT

private:
    ProcessWideSession m_session;

    FixtureServer &server() { return m_session.server(); }

    // The bodies POSTed to the path, in order.
    [[nodiscard]] QList<QJsonObject> bodiesSentTo(const QString &path)
    {
        QList<QJsonObject> bodies;
        for (const FixtureServer::Request &request : server().requests()) {
            if (request.method == "POST" && request.target == ProcessWideSession::route(path).toUtf8())
                bodies.append(QJsonDocument::fromJson(request.body).object());
        }
        return bodies;
    }

    static AppFailure lastFailure(const QSignalSpy &spy) { return spy.last().first().value<AppFailure>(); }

    // Leaves a failure behind, as an earlier attempt on the form would.
    static void failOnce(ResetPasswordController &controller)
    {
        controller.resetPassword(kNumber, QStringLiteral("1234"), QStringLiteral("Abc"),
                                 QStringLiteral("abc"));
        QCOMPARE(controller.failure(), mismatchFailure());
    }

private Q_SLOTS:
    void initTestCase() { m_session.initTestCase(); }
    void init() { m_session.init(); }

    void startsIdle()
    {
        const ResetPasswordController controller;
        QVERIFY(!controller.isLoading());
        QCOMPARE(controller.failure(), AppFailure());
    }

    // Both steps: what each sends, and the signals of each answer.
    void steps_data()
    {
        QTest::addColumn<bool>("resetStep");
        QTest::addColumn<FixtureServer::Response>("answer");
        QTest::addColumn<QString>("errorCode");
        QTest::addColumn<QString>("errorMessage");

        const QByteArray unknown = R"({"error":"user-not-found","message":"No account uses this number."})";
        const QByteArray wrongCode = R"({"error":"invalid-otp","message":"The code is wrong."})";
        QTest::newRow("code sent") << false << FixtureServer::Response::json(R"({"message":"Code sent"})")
                                   << QString() << QString();
        QTest::newRow("code request, empty answer")
            << false << FixtureServer::Response(200) << QString() << QString();
        QTest::newRow("code request, unknown number")
            << false << FixtureServer::Response::json(unknown, 404) << QStringLiteral("USER_NOT_FOUND")
            << QStringLiteral("No account uses this number.");
        QTest::newRow("password reset")
            << true << FixtureServer::Response::json("{}") << QString() << QString();
        QTest::newRow("password reset, wrong code")
            << true << FixtureServer::Response::json(wrongCode, 400) << QStringLiteral("INVALID_OTP")
            << QStringLiteral("The code is wrong.");
    }

    void steps()
    {
        QFETCH(bool, resetStep);
        QFETCH(FixtureServer::Response, answer);
        QFETCH(QString, errorCode);
        QFETCH(QString, errorMessage);
        ResetPasswordController controller;
        const QString path = resetStep ? kResetPath : kCodeRequestPath;
        m_session.script(path, answer);
        SignalLog log;
        log.watch(&controller);
        QSignalSpy requestRefused(&controller, &ResetPasswordController::requestError);
        QSignalSpy resetRefused(&controller, &ResetPasswordController::resetError);

        if (resetStep)
            controller.resetPassword(kNumber, QStringLiteral("482913"), QStringLiteral("new-secret"),
                                     QStringLiteral("new-secret"));
        else
            controller.requestPasswordReset(kNumber);
        QTRY_VERIFY_WITH_TIMEOUT(!controller.isLoading(), 10000);

        const QJsonObject expectedBody =
            resetStep ? QJsonObject{{QStringLiteral("mobileNumber"), kNumber},
                                    {QStringLiteral("otp"), QStringLiteral("482913")},
                                    {QStringLiteral("newPassword"), QStringLiteral("new-secret")},
                                    {QStringLiteral("confirmPassword"), QStringLiteral("new-secret")}}
                      : QJsonObject{{QStringLiteral("mobileNumber"), kNumber}};
        QCOMPARE(bodiesSentTo(path), QList<QJsonObject>{expectedBody});
        QCOMPARE(server().totalRequestCount(), 1);
        QVERIFY(!server().requests().first().hasHeader("Authorization"));

        QStringList expected{QStringLiteral("isLoadingChanged:true"),
                             QStringLiteral("isLoadingChanged:false")};
        if (errorCode.isEmpty()) {
            expected.append(resetStep ? QStringLiteral("resetSuccess") : QStringLiteral("requestSuccess"));
            QCOMPARE(controller.failure(), AppFailure());
        } else {
            expected +=
                QStringList{QStringLiteral("failureChanged"),
                            resetStep ? QStringLiteral("resetError") : QStringLiteral("requestError")};
            const QSignalSpy &refused = resetStep ? resetRefused : requestRefused;
            QCOMPARE(lastFailure(refused).code, errorCode);
            QCOMPARE(lastFailure(refused).userMessage, errorMessage);
            QCOMPARE(controller.failure(), lastFailure(refused));
        }
        QCOMPARE(log.events(), expected);
    }

    void differentPasswordsAreRefusedBeforeSending_data()
    {
        QTest::addColumn<QString>("newPassword");
        QTest::addColumn<QString>("confirmPassword");
        QTest::newRow("letter case") << QStringLiteral("Abc") << QStringLiteral("abc");
        QTest::newRow("trailing space") << QStringLiteral("abc") << QStringLiteral("abc ");
        QTest::newRow("confirmation empty") << QStringLiteral("abc") << QString();
        QTest::newRow("composed and decomposed")
            << QStringLiteral("caf\u00e9") << QStringLiteral("cafe\u0301");
    }

    void differentPasswordsAreRefusedBeforeSending()
    {
        QFETCH(QString, newPassword);
        QFETCH(QString, confirmPassword);
        ResetPasswordController controller;
        m_session.script(kResetPath, FixtureServer::Response::json("{}"));
        SignalLog log;
        log.watch(&controller);
        QSignalSpy refused(&controller, &ResetPasswordController::resetError);

        controller.resetPassword(kNumber, QStringLiteral("12"), newPassword, confirmPassword);

        QCOMPARE(log.events(), (QStringList{QStringLiteral("failureChanged"), QStringLiteral("resetError")}));
        QCOMPARE(lastFailure(refused), mismatchFailure());
        QCOMPARE(controller.failure(), mismatchFailure());
        QVERIFY(!controller.isLoading());

        // A matching pair afterwards is the first request the server sees.
        QSignalSpy succeeded(&controller, &ResetPasswordController::resetSuccess);
        controller.resetPassword(kNumber, QStringLiteral("12"), newPassword, newPassword);
        QVERIFY(succeeded.wait(10000));
        QCOMPARE(server().totalRequestCount(), 1);
        // A success leaves the earlier failure where it was.
        QCOMPARE(controller.failure(), mismatchFailure());
    }

    void valuesGoOutAsGiven_data()
    {
        QTest::addColumn<QString>("mobileNumber");
        QTest::addColumn<QString>("otp");
        QTest::addColumn<QString>("password");
        QTest::newRow("empty passwords and code") << kNumber << QString() << QString();
        QTest::newRow("incomplete code") << kNumber << QStringLiteral("12") << QStringLiteral("secret");
        QTest::newRow("spaces kept") << QStringLiteral(" 01012345678 ") << QStringLiteral(" 1234 ")
                                     << QStringLiteral(" secret ");
    }

    void valuesGoOutAsGiven()
    {
        QFETCH(QString, mobileNumber);
        QFETCH(QString, otp);
        QFETCH(QString, password);
        ResetPasswordController controller;
        m_session.script(kResetPath, FixtureServer::Response::json("{}"));
        QSignalSpy succeeded(&controller, &ResetPasswordController::resetSuccess);

        controller.resetPassword(mobileNumber, otp, password, password);
        QVERIFY(succeeded.wait(10000));

        QCOMPARE(bodiesSentTo(kResetPath),
                 (QList<QJsonObject>{{{QStringLiteral("mobileNumber"), mobileNumber},
                                      {QStringLiteral("otp"), otp},
                                      {QStringLiteral("newPassword"), password},
                                      {QStringLiteral("confirmPassword"), password}}}));
    }

    void callsWhileARequestIsOutstandingDoNothing_data()
    {
        QTest::addColumn<bool>("resetFirst");
        QTest::newRow("code request outstanding") << false;
        QTest::newRow("reset outstanding") << true;
    }

    void callsWhileARequestIsOutstandingDoNothing()
    {
        QFETCH(bool, resetFirst);
        ResetPasswordController controller;
        m_session.script(kCodeRequestPath, ProcessWideSession::held(FixtureServer::Response::json("{}")));
        m_session.script(kResetPath, ProcessWideSession::held(FixtureServer::Response::json("{}")));
        const QString outstanding = resetFirst ? kResetPath : kCodeRequestPath;
        if (resetFirst)
            controller.resetPassword(kNumber, QStringLiteral("1234"), QStringLiteral("pw"),
                                     QStringLiteral("pw"));
        else
            controller.requestPasswordReset(kNumber);
        QTRY_COMPARE_WITH_TIMEOUT(server().totalRequestCount(), 1, 10000);
        SignalLog log;
        log.watch(&controller);

        controller.requestPasswordReset(kNumber);
        controller.resetPassword(kNumber, QStringLiteral("1234"), QStringLiteral("pw"), QStringLiteral("pw"));
        // Ignored before the passwords are compared: not even a validation failure.
        controller.resetPassword(kNumber, QStringLiteral("1234"), QStringLiteral("Abc"),
                                 QStringLiteral("abc"));
        QCOMPARE(log.events(), QStringList());
        QCOMPARE(controller.failure(), AppFailure());

        m_session.release(outstanding);
        QTRY_VERIFY_WITH_TIMEOUT(!controller.isLoading(), 10000);
        QCOMPARE(server().totalRequestCount(), 1);
        QCOMPARE(server().requests().first().target, ProcessWideSession::route(outstanding).toUtf8());
    }

    void successesLeaveTheEarlierFailure_data()
    {
        QTest::addColumn<bool>("resetStep");
        QTest::newRow("code request") << false;
        QTest::newRow("reset") << true;
    }

    void successesLeaveTheEarlierFailure()
    {
        QFETCH(bool, resetStep);
        ResetPasswordController controller;
        failOnce(controller);
        m_session.script(kCodeRequestPath, FixtureServer::Response::json("{}"));
        m_session.script(kResetPath, FixtureServer::Response::json("{}"));
        QSignalSpy failureChanged(&controller, &ResetPasswordController::failureChanged);
        QSignalSpy requested(&controller, &ResetPasswordController::requestSuccess);
        QSignalSpy reset(&controller, &ResetPasswordController::resetSuccess);

        if (resetStep)
            controller.resetPassword(kNumber, QStringLiteral("1234"), QStringLiteral("pw"),
                                     QStringLiteral("pw"));
        else
            controller.requestPasswordReset(kNumber);
        QVERIFY((resetStep ? reset : requested).wait(10000));

        QCOMPARE(controller.failure(), mismatchFailure());
        QCOMPARE(failureChanged.count(), 0);
    }

    void answerForAControllerThatIsGoneIsDropped()
    {
        auto controller = std::make_unique<ResetPasswordController>();
        m_session.script(kCodeRequestPath, ProcessWideSession::held(FixtureServer::Response::json("{}")));
        controller->requestPasswordReset(kNumber);
        QTRY_COMPARE_WITH_TIMEOUT(server().totalRequestCount(), 1, 10000);
        controller.reset();
        QVERIFY(m_session.releaseAndAwaitHandOver(kCodeRequestPath));
    }
};

QTEST_GUILESS_MAIN(tst_ResetPasswordController)
#include "tst_ResetPasswordController.moc"
