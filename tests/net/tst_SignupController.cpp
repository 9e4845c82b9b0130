#include "net/SignupController.h"
#include "tests/net/ProcessWideSession.h"
#include "testsupport/SignalLog.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::ProcessWideSession;
using quorin::test::SignalLog;

Q_DECLARE_METATYPE(quorin::test::FixtureServer::Response)

namespace {

const QString kInstitutionsPath = QStringLiteral("institutions");
const QString kSignupPath = QStringLiteral("auth/signup");

// Two schools (one of them with its level in lower case), a university whose years are under
// "academicYears" with an empty "years", and a university with no years at all.
const QByteArray kInstitutions = R"([
    {"id":"i-school","name":"North School","educationLevel":"SCHOOL",
     "years":[{"id":"y-s1","value":1},{"id":"y-s2","value":2}]},
    {"id":"i-lower","name":"Lower School","educationLevel":"school","years":[{"id":"y-l1","value":1}]},
    {"id":"i-uni","name":"Cairo University","educationLevel":"UNIVERSITY","years":[],
     "academicYears":[{"id":"y-u1","name":"1"}]},
    {"id":"i-empty","name":"New College","educationLevel":"UNIVERSITY"},
    {"id":"i-school-2","name":"South School","educationLevel":"SCHOOL","academicYears":[{"id":"y-s9"}]}
])";

QVariantList allRecords()
{
    return QJsonDocument::fromJson(kInstitutions).array().toVariantList();
}

QVariantList recordsWithIds(const QStringList &ids)
{
    QVariantList records;
    for (const QVariant &record : allRecords()) {
        if (ids.contains(record.toMap().value(QStringLiteral("id")).toString()))
            records.append(record);
    }
    return records;
}

QVariantList yearsOf(const QString &institutionId)
{
    const QVariantMap record = recordsWithIds({institutionId}).value(0).toMap();
    const QVariantList years = record.value(QStringLiteral("years")).toList();
    return years.isEmpty() ? record.value(QStringLiteral("academicYears")).toList() : years;
}

AppFailure nicknameFailure()
{
    return AppFailure::local(QStringLiteral("NICKNAME_INVALID"),
                             QStringLiteral("Nickname must contain 1–64 characters."),
                             QStringLiteral("validation"), false);
}

} // namespace

class tst_SignupController : public QObject
{
    Q_OBJECT

private:
    ProcessWideSession m_session;

    FixtureServer &server() { return m_session.server(); }

    void loadInstitutions(SignupController &controller, const QByteArray &answer = kInstitutions)
    {
        m_session.script(kInstitutionsPath, FixtureServer::Response::json(answer));
        controller.fetchInstitutions();
        QTRY_VERIFY_WITH_TIMEOUT(!controller.isLoading(), 10000);
        QCOMPARE(controller.failure(), AppFailure());
    }

    static void registerSample(SignupController &controller,
                               const QString &nickname = QStringLiteral("salma"))
    {
        controller.registerUser(QStringLiteral("Salma Adel"), nickname, ProcessWideSession::kNumber,
                                QStringLiteral("secret-1"), QStringLiteral("secret-1"),
                                QStringLiteral("i-school"), QStringLiteral("y-s1"));
    }

    static AppFailure lastFailure(const QSignalSpy &spy) { return spy.last().first().value<AppFailure>(); }

private Q_SLOTS:
    void initTestCase() { m_session.initTestCase(); }
    void init() { m_session.init(); }

    void startsEmpty()
    {
        const SignupController controller;
        QCOMPARE(controller.institutions(), QVariantList());
        QCOMPARE(controller.academicYears(), QVariantList());
        QVERIFY(!controller.isLoading());
        QCOMPARE(controller.failure(), AppFailure());
    }

    void everyAnswerShapeIsRead_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::newRow("array") << kInstitutions;
        QTest::newRow("data") << QByteArray("{\"data\":" + kInstitutions + "}");
        QTest::newRow("institutions") << QByteArray("{\"institutions\":" + kInstitutions + "}");
    }

    void everyAnswerShapeIsRead()
    {
        QFETCH(QByteArray, answer);
        SignupController controller;
        m_session.script(kInstitutionsPath, FixtureServer::Response::json(answer));
        SignalLog log;
        log.watch(&controller);
        log.watchServer(server(), QStringLiteral("/api/v1/"));

        controller.fetchInstitutions();
        QTRY_VERIFY_WITH_TIMEOUT(!controller.isLoading(), 10000);

        // No level chosen yet: the list the form shows is left alone.
        QCOMPARE(
            log.events(),
            (QStringList{QStringLiteral("isLoadingChanged:true"), QStringLiteral("request:GET institutions"),
                         QStringLiteral("isLoadingChanged:false"), QStringLiteral("failureChanged")}));
        QCOMPARE(controller.institutions(), QVariantList());
        QCOMPARE(m_session.requests("GET", kInstitutionsPath).first().hasHeader("Authorization"), false);

        controller.selectStage(QStringLiteral("UNIVERSITY"));
        QCOMPARE(controller.institutions(),
                 recordsWithIds({QStringLiteral("i-uni"), QStringLiteral("i-empty")}));
    }

    void stageChosenBeforeTheAnswerIsAppliedOnArrival()
    {
        SignupController controller;
        m_session.script(kInstitutionsPath,
                         ProcessWideSession::held(FixtureServer::Response::json(kInstitutions)));
        SignalLog log;
        log.watch(&controller);

        controller.selectStage(QStringLiteral("SCHOOL"));
        QCOMPARE(controller.institutions(), QVariantList());
        controller.fetchInstitutions();
        QTRY_COMPARE_WITH_TIMEOUT(m_session.requests("GET", kInstitutionsPath).size(), 1, 10000);
        m_session.release(kInstitutionsPath);
        QTRY_VERIFY_WITH_TIMEOUT(!controller.isLoading(), 10000);

        QCOMPARE(log.events(),
                 (QStringList{QStringLiteral("institutionsChanged"), QStringLiteral("isLoadingChanged:true"),
                              QStringLiteral("isLoadingChanged:false"), QStringLiteral("failureChanged"),
                              QStringLiteral("institutionsChanged")}));
        // "school" in lower case is another level.
        QCOMPARE(controller.institutions(),
                 recordsWithIds({QStringLiteral("i-school"), QStringLiteral("i-school-2")}));
    }

    void callsWhileARequestIsOutstandingDoNothing_data()
    {
        QTest::addColumn<bool>("registrationFirst");
        QTest::newRow("institutions outstanding") << false;
        QTest::newRow("registration outstanding") << true;
    }

    void callsWhileARequestIsOutstandingDoNothing()
    {
        QFETCH(bool, registrationFirst);
        SignupController controller;
        m_session.script(kInstitutionsPath,
                         ProcessWideSession::held(FixtureServer::Response::json(kInstitutions)));
        m_session.script(kSignupPath,
                         ProcessWideSession::held(FixtureServer::Response::json(R"({"success":true})")));
        const QString outstanding = registrationFirst ? kSignupPath : kInstitutionsPath;
        if (registrationFirst)
            registerSample(controller);
        else
            controller.fetchInstitutions();
        QTRY_COMPARE_WITH_TIMEOUT(server().totalRequestCount(), 1, 10000);
        SignalLog log;
        log.watch(&controller);

        controller.fetchInstitutions();
        registerSample(controller);
        // Ignored before the nickname is looked at: not even a validation failure.
        registerSample(controller, QStringLiteral("   "));
        QCOMPARE(log.events(), QStringList());

        m_session.release(outstanding);
        QTRY_VERIFY_WITH_TIMEOUT(!controller.isLoading(), 10000);
        QCOMPARE(server().totalRequestCount(), 1);
        QCOMPARE(server().requests().first().target, ProcessWideSession::route(outstanding).toUtf8());
    }

    void choosingTheLevelKeepsTheYears()
    {
        SignupController controller;
        loadInstitutions(controller);
        controller.selectStage(QStringLiteral("SCHOOL"));
        controller.selectInstitution(QStringLiteral("i-school"));
        QCOMPARE(controller.academicYears(), yearsOf(QStringLiteral("i-school")));
        QSignalSpy yearsChanged(&controller, &SignupController::academicYearsChanged);

        controller.selectStage(QStringLiteral("UNIVERSITY"));

        QCOMPARE(controller.academicYears(), yearsOf(QStringLiteral("i-school")));
        QCOMPARE(yearsChanged.count(), 0);
    }

    void pickingAnInstitution_data()
    {
        QTest::addColumn<QString>("stage");
        QTest::addColumn<QString>("institutionId");
        QTest::addColumn<QVariantList>("expectedYears");

        QTest::newRow("years") << QStringLiteral("SCHOOL") << QStringLiteral("i-school")
                               << yearsOf(QStringLiteral("i-school"));
        QTest::newRow("academicYears only") << QStringLiteral("SCHOOL") << QStringLiteral("i-school-2")
                                            << yearsOf(QStringLiteral("i-school-2"));
        QTest::newRow("empty years, academicYears")
            << QStringLiteral("UNIVERSITY") << QStringLiteral("i-uni") << yearsOf(QStringLiteral("i-uni"));
        QTest::newRow("no years at all")
            << QStringLiteral("UNIVERSITY") << QStringLiteral("i-empty") << QVariantList();
        QTest::newRow("of another level")
            << QStringLiteral("UNIVERSITY") << QStringLiteral("i-school") << QVariantList();
        QTest::newRow("of the lower-case level")
            << QStringLiteral("SCHOOL") << QStringLiteral("i-lower") << QVariantList();
        QTest::newRow("unknown id") << QStringLiteral("SCHOOL") << QStringLiteral("i-none") << QVariantList();
        QTest::newRow("id with a space")
            << QStringLiteral("SCHOOL") << QStringLiteral(" i-school") << QVariantList();
    }

    void pickingAnInstitution()
    {
        QFETCH(QString, stage);
        QFETCH(QString, institutionId);
        QFETCH(QVariantList, expectedYears);
        SignupController controller;
        loadInstitutions(controller);
        // Years of an earlier pick, so that an empty result shows they were dropped.
        controller.selectStage(QStringLiteral("SCHOOL"));
        controller.selectInstitution(QStringLiteral("i-school"));
        controller.selectStage(stage);
        QSignalSpy yearsChanged(&controller, &SignupController::academicYearsChanged);

        controller.selectInstitution(institutionId);

        QCOMPARE(controller.academicYears(), expectedYears);
        QCOMPARE(yearsChanged.count(), 1);
    }

    void registrationSendsTheSignupBody()
    {
        SignupController controller;
        m_session.script(kSignupPath, FixtureServer::Response::json(R"({"success":true})"));
        QSignalSpy succeeded(&controller, &SignupController::registerSuccess);

        controller.registerUser(QStringLiteral(" Full "), QStringLiteral(" nick "),
                                QStringLiteral("+201012345678"), QStringLiteral("pw"), QStringLiteral("pw2"),
                                QStringLiteral("i1"), QStringLiteral("y1"));
        QVERIFY(succeeded.wait(10000));

        QCOMPARE(server().totalRequestCount(), 1);
        const QList<FixtureServer::Request> sent = m_session.requests("POST", kSignupPath);
        QCOMPARE(sent.size(), 1);
        QVERIFY(!sent.first().hasHeader("Authorization"));
        QCOMPARE(sent.first().header("Content-Type"), QByteArray("application/json"));
        QVERIFY(!m_session.network().getDeviceId().isEmpty());
        QCOMPARE(QJsonDocument::fromJson(sent.first().body).object(),
                 (QJsonObject{{QStringLiteral("fullName"), QStringLiteral("Full")},
                              {QStringLiteral("nickname"), QStringLiteral("nick")},
                              {QStringLiteral("mobileNumber"), QStringLiteral("+201012345678")},
                              {QStringLiteral("password"), QStringLiteral("pw")},
                              {QStringLiteral("confirmPassword"), QStringLiteral("pw2")},
                              {QStringLiteral("institutionId"), QStringLiteral("i1")},
                              {QStringLiteral("yearId"), QStringLiteral("y1")},
                              {QStringLiteral("deviceType"), QStringLiteral("DESKTOP")},
                              {QStringLiteral("deviceId"), m_session.network().getDeviceId()}}));
    }

    void registrationAnswers_data()
    {
        QTest::addColumn<FixtureServer::Response>("answer");
        QTest::addColumn<bool>("succeeds");
        QTest::addColumn<AppFailure>("expected");

        const AppFailure registrationFailed =
            AppFailure::local(QStringLiteral("REGISTRATION_FAILED"), QStringLiteral("Registration failed"),
                              QStringLiteral("server"), true);
        QTest::newRow("success true")
            << FixtureServer::Response::json(R"({"success":true})") << true << AppFailure();
        QTest::newRow("success as text")
            << FixtureServer::Response::json(R"({"success":"true"})") << false << registrationFailed;
        QTest::newRow("success 1") << FixtureServer::Response::json(R"({"success":1})") << false
                                   << registrationFailed;
        QTest::newRow("success false")
            << FixtureServer::Response::json(R"({"success":false})") << false << registrationFailed;
        QTest::newRow("empty object") << FixtureServer::Response::json("{}") << false << registrationFailed;
        QTest::newRow("array") << FixtureServer::Response::json("[]") << false << registrationFailed;
        QTest::newRow("array holding success")
            << FixtureServer::Response::json(R"([{"success":true}])") << false << registrationFailed;
        QTest::newRow("no JSON") << FixtureServer::Response(200, "created", "text/plain") << false
                                 << registrationFailed;

        const QByteArray taken = R"({"error":"mobile-taken","message":"This number is already registered."})";
        // A request failure is passed on exactly as the pipeline classified it.
        const AppFailure numberTaken =
            AppFailure::fromResponse(409, QNetworkReply::ContentConflictError, taken, QString());
        QCOMPARE(numberTaken.code, QStringLiteral("MOBILE_TAKEN"));
        QCOMPARE(numberTaken.userMessage, QStringLiteral("This number is already registered."));
        QTest::newRow("number taken") << FixtureServer::Response::json(taken, 409) << false << numberTaken;
    }

    void registrationAnswers()
    {
        QFETCH(FixtureServer::Response, answer);
        QFETCH(bool, succeeds);
        QFETCH(AppFailure, expected);
        SignupController controller;
        m_session.script(kSignupPath, answer);
        SignalLog log;
        log.watch(&controller);
        QSignalSpy refused(&controller, &SignupController::registerError);

        registerSample(controller);
        QTRY_VERIFY_WITH_TIMEOUT(!controller.isLoading(), 10000);

        QStringList expectedEvents{QStringLiteral("isLoadingChanged:true"),
                                   QStringLiteral("isLoadingChanged:false")};
        if (succeeds) {
            expectedEvents.append(QStringLiteral("registerSuccess"));
            QCOMPARE(controller.failure(), AppFailure());
        } else {
            expectedEvents += QStringList{QStringLiteral("failureChanged"), QStringLiteral("registerError")};
            QCOMPARE(lastFailure(refused), expected);
            QCOMPARE(controller.failure(), expected);
        }
        QCOMPARE(log.events(), expectedEvents);
        QCOMPARE(m_session.requests("POST", kSignupPath).size(), 1);
        QCOMPARE(server().totalRequestCount(), 1);
    }

    void invalidNicknameIsRefusedBeforeSending_data()
    {
        QTest::addColumn<QString>("nickname");
        QTest::newRow("empty") << QString();
        QTest::newRow("spaces") << QStringLiteral("    ");
        QTest::newRow("65 characters") << QStringLiteral("n").repeated(65);
    }

    void invalidNicknameIsRefusedBeforeSending()
    {
        QFETCH(QString, nickname);
        SignupController controller;
        m_session.script(kSignupPath, FixtureServer::Response::json(R"({"success":true})"));
        SignalLog log;
        log.watch(&controller);
        QSignalSpy refused(&controller, &SignupController::registerError);

        registerSample(controller, nickname);

        QCOMPARE(log.events(),
                 (QStringList{QStringLiteral("failureChanged"), QStringLiteral("registerError")}));
        QCOMPARE(lastFailure(refused), nicknameFailure());
        QCOMPARE(controller.failure(), nicknameFailure());
        QVERIFY(!controller.isLoading());

        // A later success leaves the failure where it was.
        QSignalSpy succeeded(&controller, &SignupController::registerSuccess);
        registerSample(controller);
        QVERIFY(succeeded.wait(10000));
        QCOMPARE(server().totalRequestCount(), 1);
        QCOMPARE(controller.failure(), nicknameFailure());
    }

    void failedInstitutionsLoadKeepsTheLists()
    {
        SignupController controller;
        loadInstitutions(controller);
        controller.selectStage(QStringLiteral("SCHOOL"));
        controller.selectInstitution(QStringLiteral("i-school"));
        const QVariantList institutions = controller.institutions();
        const QVariantList years = controller.academicYears();
        m_session.script(kInstitutionsPath, FixtureServer::Response::json(R"({"message":"down"})", 500));
        SignalLog log;
        log.watch(&controller);
        QSignalSpy failed(&controller, &SignupController::institutionsError);

        controller.fetchInstitutions();
        QTRY_VERIFY_WITH_TIMEOUT(!controller.isLoading(), 10000);

        QCOMPARE(
            log.events(),
            (QStringList{QStringLiteral("isLoadingChanged:true"), QStringLiteral("isLoadingChanged:false"),
                         QStringLiteral("failureChanged"), QStringLiteral("institutionsError")}));
        QCOMPARE(lastFailure(failed).code, QStringLiteral("HTTP_500"));
        QCOMPARE(controller.failure(), lastFailure(failed));
        QCOMPARE(controller.institutions(), institutions);
        QCOMPARE(controller.academicYears(), years);
        // Every record of the earlier load is still there to narrow.
        controller.selectStage(QStringLiteral("UNIVERSITY"));
        QCOMPARE(controller.institutions(),
                 recordsWithIds({QStringLiteral("i-uni"), QStringLiteral("i-empty")}));

        // Only a successful load clears the failure.
        loadInstitutions(controller);
    }

    void failedRegistrationKeepsTheFailureUntilInstitutionsLoad()
    {
        SignupController controller;
        m_session.script(kSignupPath, FixtureServer::Response::json(R"({"success":false})"));
        QSignalSpy refused(&controller, &SignupController::registerError);
        registerSample(controller);
        QVERIFY(refused.wait(10000));
        QCOMPARE(controller.failure().code, QStringLiteral("REGISTRATION_FAILED"));

        loadInstitutions(controller);
    }

    void answerForAControllerThatIsGoneIsDropped()
    {
        auto controller = std::make_unique<SignupController>();
        m_session.script(kSignupPath,
                         ProcessWideSession::held(FixtureServer::Response::json(R"({"success":true})")));
        registerSample(*controller);
        QTRY_COMPARE_WITH_TIMEOUT(m_session.requests("POST", kSignupPath).size(), 1, 10000);
        controller.reset();
        QVERIFY(m_session.releaseAndAwaitHandOver(kSignupPath));
    }
};

QTEST_GUILESS_MAIN(tst_SignupController)
#include "tst_SignupController.moc"
