#include "net/ProfileController.h"
#include "net/UserIdentityController.h"
#include "tests/net/ProcessWideSession.h"
#include "testsupport/LogRecorder.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMetaMethod>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <memory>

using quorin::test::FixtureServer;
using quorin::test::LogRecorder;
using quorin::test::ProcessWideSession;

namespace {

const QString kProfilePath = QStringLiteral("users/me?include=enrollments");
const QString kUserPath = QStringLiteral("users/me");
const QString kPasswordPath = QStringLiteral("users/me/change-password");
const QString kInstitutionsPath = QStringLiteral("institutions");
const QByteArray kFullProfile = R"({"id":"u-profile","fullName":"Salma Adel","nickname":"salma",
    "mobileNumber":"+201012345678","yearId":"y-2",
    "year":{"id":"y-2","value":2,"institution":{"id":"i-1","name":"Cairo University","educationLevel":"UNIVERSITY"}},
    "enrollments":[{"courseId":"c-101"}]})";

UserIdentityController *identity()
{
    return UserIdentityController::instance();
}

// Every signal of the objects it watches, by name and in order ("stateChanged" with the state it
// announces), the requests as the server receives them, and the "education_shape" records where
// they fall among the signals.
class EventLog : public QObject
{
    Q_OBJECT

public:
    explicit EventLog(const LogRecorder &log)
        : m_log(log)
        , m_shapesSeen(log.withEvent(QStringLiteral("education_shape")).size())
    {
    }

    QStringList events;

    void watch(QObject *object, const QString &prefix = QString())
    {
        const QMetaObject *meta = object->metaObject();
        const QMetaMethod record = staticMetaObject.method(staticMetaObject.indexOfSlot("record()"));
        for (int index = meta->methodOffset(); index < meta->methodCount(); ++index) {
            if (meta->method(index).methodType() == QMetaMethod::Signal)
                connect(object, meta->method(index), this, record);
        }
        m_prefixes.insert(object, prefix);
    }

    void watchServer(FixtureServer &server)
    {
        connect(&server, &FixtureServer::requestReceived, this,
                [this](const FixtureServer::Request &request) {
                    noteRecords();
                    events.append(QStringLiteral("request:%1 %2")
                                      .arg(QString::fromUtf8(request.method),
                                           QString::fromUtf8(request.target.mid(8)))); // after "/api/v1/"
                });
    }

private Q_SLOTS:
    void record()
    {
        noteRecords();
        QString name = m_prefixes.value(sender()) + QString::fromLatin1(senderSignal().name());
        if (name == QLatin1String("stateChanged"))
            name += QLatin1Char(':') + sender()->property("state").toString();
        events.append(name);
    }

private:
    [[nodiscard]] QMetaMethod senderSignal() const
    {
        return sender()->metaObject()->method(senderSignalIndex());
    }

    void noteRecords()
    {
        const qsizetype shapes = m_log.withEvent(QStringLiteral("education_shape")).size();
        for (; m_shapesSeen < shapes; ++m_shapesSeen)
            events.append(QStringLiteral("education_shape"));
    }

    QHash<QObject *, QString> m_prefixes;
    const LogRecorder &m_log;
    qsizetype m_shapesSeen;
};

QVariantMap profileValues(const ProfileController &controller)
{
    QVariantMap values;
    for (const char *name :
         {"fullName", "phoneNumber", "nickname", "institutionId", "yearId", "educationLevel", "enrollments"})
        values.insert(QLatin1String(name), controller.property(name));
    return values;
}

} // namespace

class tst_ProfileController : public QObject
{
    Q_OBJECT

private:
    ProcessWideSession m_session;
    std::unique_ptr<LogRecorder> m_log;

    FixtureServer &server() { return m_session.server(); }

    void script(const QString &path, const FixtureServer::Response &response)
    {
        m_session.script(path, response);
    }
    void scriptSequence(const QString &path, const QList<FixtureServer::Response> &responses)
    {
        m_session.scriptSequence(path, responses);
    }
    void release(const QString &path) { m_session.release(path); }
    [[nodiscard]] QList<FixtureServer::Request> requests(const QByteArray &method, const QString &path)
    {
        return m_session.requests(method, path);
    }
    static FixtureServer::Response held(FixtureServer::Response response)
    {
        return ProcessWideSession::held(std::move(response));
    }

    void waitForRequests(const QByteArray &method, const QString &path, int count)
    {
        QTRY_COMPARE_WITH_TIMEOUT(requests(method, path).size(), count, 10000);
    }

    // Signed in, with the identity's own fetch of the sign-in done.
    void signIn()
    {
        script(kProfilePath, FixtureServer::Response::json(kFullProfile));
        QVERIFY(m_session.signIn(QStringLiteral("u-profile")));
        QTRY_COMPARE_WITH_TIMEOUT(identity()->profileState(), UserIdentityController::Ready, 10000);
        server().clearLog();
    }

    void loadProfile(ProfileController &controller, const FixtureServer::Response &response)
    {
        script(kProfilePath, response);
        QSignalSpy loaded(&controller, &ProfileController::profileLoaded);
        controller.fetchProfile();
        QVERIFY(loaded.wait(10000));
    }

private Q_SLOTS:
    void initTestCase() { m_session.initTestCase(); }
    void init()
    {
        m_session.init();
        m_log = std::make_unique<LogRecorder>();
    }
    void cleanup() { m_log.reset(); }

    void startsIdle()
    {
        const ProfileController controller;
        QCOMPARE(controller.state(), QStringLiteral("idle"));
        QVERIFY(!controller.isLoading());
        QCOMPARE(controller.failure(), AppFailure());
        QCOMPARE(controller.institutions(), QVariantList());
    }

    void callsWhileLoadingDoNothing()
    {
        signIn();
        ProfileController controller;
        script(kProfilePath, held(FixtureServer::Response::json(kFullProfile)));
        script(kInstitutionsPath, FixtureServer::Response::json(R"([{"id":"i-1"}])"));
        controller.fetchProfile();
        QVERIFY(controller.isLoading());
        waitForRequests("GET", kProfilePath, 1);
        EventLog log(*m_log);
        log.watch(&controller);

        controller.fetchProfile();
        controller.updateProfile(QStringLiteral("Salma"), QStringLiteral("salma"), QString());
        controller.changePassword(QStringLiteral("old"), QStringLiteral("new"));
        controller.deleteAccount();
        QCOMPARE(log.events, QStringList());

        // The institutions are not guarded: they go out while the profile loads.
        controller.fetchInstitutions();
        waitForRequests("GET", kInstitutionsPath, 1);
        QTRY_COMPARE(log.events, QStringList{QStringLiteral("institutionsChanged")});
        release(kProfilePath);
        QTRY_VERIFY(!controller.isLoading());

        QCOMPARE(requests("GET", kProfilePath).size(), 1);
        QCOMPARE(requests("PATCH", kUserPath).size(), 0);
        QCOMPARE(requests("POST", kPasswordPath).size(), 0);
        QCOMPARE(requests("DELETE", kUserPath).size(), 0);
        QCOMPARE(server().totalRequestCount(), 2);
    }

    void invalidEditsAreRefusedBeforeSending_data()
    {
        QTest::addColumn<QString>("fullName");
        QTest::addColumn<QString>("nickname");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");

        const QString nicknameMessage = QStringLiteral("Nickname must contain 1–64 characters.");
        const QString requiredMessage = QStringLiteral("Enter a full name and quiz nickname.");
        QTest::newRow("all empty: the nickname first")
            << QString() << QString() << QStringLiteral("NICKNAME_INVALID") << nicknameMessage;
        QTest::newRow("nickname of spaces") << QStringLiteral("Salma") << QStringLiteral("   ")
                                            << QStringLiteral("NICKNAME_INVALID") << nicknameMessage;
        QTest::newRow("nickname of 65") << QStringLiteral("Salma") << QStringLiteral("n").repeated(65)
                                        << QStringLiteral("NICKNAME_INVALID") << nicknameMessage;
        QTest::newRow("full name of spaces") << QStringLiteral("   ") << QStringLiteral("salma")
                                             << QStringLiteral("PROFILE_REQUIRED_FIELDS") << requiredMessage;
    }

    void invalidEditsAreRefusedBeforeSending()
    {
        QFETCH(QString, fullName);
        QFETCH(QString, nickname);
        QFETCH(QString, code);
        QFETCH(QString, message);
        signIn();
        ProfileController controller;
        EventLog log(*m_log);
        log.watch(&controller);
        QSignalSpy refused(&controller, &ProfileController::profileUpdateError);

        controller.updateProfile(fullName, nickname, QString());

        const AppFailure expected = AppFailure::local(code, message, QStringLiteral("validation"), false);
        QCOMPARE(log.events,
                 (QStringList{QStringLiteral("failureChanged"), QStringLiteral("stateChanged:failed"),
                              QStringLiteral("profileUpdateError")}));
        QCOMPARE(refused.first().first().value<AppFailure>(), expected);
        QCOMPARE(controller.failure(), expected);
        QVERIFY(!controller.isLoading());

        // A valid save afterwards is the first request the server sees.
        script(kUserPath, held(FixtureServer::Response::json("{}")));
        controller.updateProfile(QStringLiteral("Salma"), QStringLiteral("salma"), QString());
        waitForRequests("PATCH", kUserPath, 1);
        QCOMPARE(server().totalRequestCount(), 1);
    }

    void saveSendsTheTrimmedEditWithANullYear()
    {
        signIn();
        script(kUserPath, FixtureServer::Response::json("{}"));
        ProfileController controller;
        QSignalSpy updated(&controller, &ProfileController::profileUpdated);

        controller.updateProfile(QStringLiteral(" Salma Adel "), QStringLiteral(" salma "),
                                 QStringLiteral("  "));
        QVERIFY(updated.wait(10000));

        const QList<FixtureServer::Request> sent = requests("PATCH", kUserPath);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().header("Content-Type"), QByteArray("application/json"));
        QCOMPARE(QJsonDocument::fromJson(sent.first().body).object(),
                 (QJsonObject{{QStringLiteral("fullName"), QStringLiteral("Salma Adel")},
                              {QStringLiteral("nickname"), QStringLiteral("salma")},
                              {QStringLiteral("yearId"), QJsonValue::Null}}));
    }

    void successfulSaveAnnouncesItselfWhenTheIdentityCaughtUp()
    {
        signIn();
        ProfileController controller;
        script(kUserPath, FixtureServer::Response::json("{}"));
        // The page's reload answers at once; the identity's refresh after it waits.
        scriptSequence(kProfilePath, {FixtureServer::Response::json(kFullProfile),
                                      held(FixtureServer::Response::json(kFullProfile))});
        EventLog log(*m_log);
        log.watch(&controller);
        log.watch(identity(), QStringLiteral("identity:"));
        log.watchServer(server());

        controller.updateProfile(QStringLiteral("Salma Adel"), QStringLiteral("salma"),
                                 QStringLiteral("y-2"));
        waitForRequests("GET", kProfilePath, 2);

        const QStringList untilIdentityRefresh{
            QStringLiteral("failureChanged"),
            QStringLiteral("stateChanged:ready"),
            QStringLiteral("loadingStatusChanged"),
            QStringLiteral("stateChanged:loading"),
            QStringLiteral("request:PATCH users/me"),
            QStringLiteral("loadingStatusChanged"),
            QStringLiteral("stateChanged:ready"),
            QStringLiteral("failureChanged"),
            QStringLiteral("stateChanged:ready"),
            QStringLiteral("loadingStatusChanged"),
            QStringLiteral("stateChanged:loading"),
            QStringLiteral("request:GET users/me?include=enrollments"),
            QStringLiteral("loadingStatusChanged"),
            QStringLiteral("stateChanged:ready"),
            QStringLiteral("education_shape"),
            QStringLiteral("profileLoaded"),
            QStringLiteral("identity:loadingChanged"),
            QStringLiteral("identity:profileStateChanged"),
            QStringLiteral("request:GET users/me?include=enrollments"),
        };
        QCOMPARE(log.events, untilIdentityRefresh);

        release(kProfilePath);
        QTRY_VERIFY(!identity()->loading());
        QCOMPARE(log.events.mid(untilIdentityRefresh.size()),
                 (QStringList{QStringLiteral("identity:loadingChanged"),
                              QStringLiteral("identity:identityChanged"), QStringLiteral("profileUpdated"),
                              QStringLiteral("identity:profileStateChanged")}));
        QCOMPARE(controller.fullName(), QStringLiteral("Salma Adel"));
        QCOMPARE(controller.state(), QStringLiteral("ready"));
    }

    void saveIsDoneAtOnceWhenTheIdentityStartsNoRefresh()
    {
        signIn();
        ProfileController controller;
        script(kUserPath, FixtureServer::Response::json("{}"));
        script(kProfilePath, held(FixtureServer::Response::json(kFullProfile)));
        controller.updateProfile(QStringLiteral("Salma Adel"), QStringLiteral("salma"), QString());
        waitForRequests("GET", kProfilePath, 1);
        // Signed out, the identity has nothing to fetch.
        m_session.signOut();
        EventLog log(*m_log);
        log.watch(&controller);

        release(kProfilePath);
        QTRY_VERIFY(log.events.contains(QStringLiteral("profileUpdated")));

        QCOMPARE(log.events,
                 (QStringList{QStringLiteral("loadingStatusChanged"), QStringLiteral("stateChanged:ready"),
                              QStringLiteral("education_shape"), QStringLiteral("profileLoaded"),
                              QStringLiteral("profileUpdated")}));
        QVERIFY(!identity()->loading());
        QCOMPARE(requests("GET", kProfilePath).size(), 1);
    }

    void saveWaitsForTheIdentityRefreshAlreadyRunning()
    {
        signIn();
        ProfileController controller;
        script(kUserPath, FixtureServer::Response::json("{}"));
        scriptSequence(kProfilePath, {held(FixtureServer::Response::json(kFullProfile)),
                                      FixtureServer::Response::json(kFullProfile)});
        identity()->fetchProfile();
        waitForRequests("GET", kProfilePath, 1);
        QSignalSpy updated(&controller, &ProfileController::profileUpdated);
        QSignalSpy loaded(&controller, &ProfileController::profileLoaded);

        controller.updateProfile(QStringLiteral("Salma Adel"), QStringLiteral("salma"), QString());
        QVERIFY(loaded.wait(10000));
        QCOMPARE(updated.count(), 0);

        release(kProfilePath);
        QVERIFY(updated.wait(10000));
        QCOMPARE(requests("GET", kProfilePath).size(), 2);
        QTRY_VERIFY(!identity()->loading());
        QCOMPARE(updated.count(), 1);
    }

    void saveWhoseReloadFailsIsNeverAnnounced()
    {
        signIn();
        ProfileController controller;
        script(kUserPath, FixtureServer::Response::json("{}"));
        script(kProfilePath, FixtureServer::Response::json(R"({"message":"down"})", 500));
        QSignalSpy updated(&controller, &ProfileController::profileUpdated);
        QSignalSpy failed(&controller, &ProfileController::profileError);

        controller.updateProfile(QStringLiteral("Salma Adel"), QStringLiteral("salma"), QString());
        QVERIFY(failed.wait(10000));

        QCOMPARE(failed.first().first().value<AppFailure>().code, QStringLiteral("HTTP_500"));
        QCOMPARE(controller.state(), QStringLiteral("failed"));
        // A later load does not take the failed save's identity refresh with it.
        loadProfile(controller, FixtureServer::Response::json(kFullProfile));
        QCOMPARE(requests("GET", kProfilePath).size(), 2);
        QVERIFY(!identity()->loading());
        QCOMPARE(updated.count(), 0);
        QCOMPARE(controller.state(), QStringLiteral("ready"));
    }

    void answerThatIsNotAnObjectEmptiesTheProfile_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("array") << QByteArray(R"([{"fullName":"Salma"}])");
        QTest::newRow("no body") << QByteArray();
        QTest::newRow("not JSON") << QByteArray("<html>");
    }

    void answerThatIsNotAnObjectEmptiesTheProfile()
    {
        QFETCH(QByteArray, body);
        signIn();
        ProfileController controller;
        loadProfile(controller, FixtureServer::Response::json(kFullProfile));
        const QVariantMap full = profileValues(controller);
        for (auto value = full.constBegin(); value != full.constEnd(); ++value)
            QVERIFY2(!value.value().toString().isEmpty() || !value.value().toList().isEmpty(),
                     qPrintable(value.key()));
        EventLog log(*m_log);
        log.watch(&controller);

        loadProfile(controller, FixtureServer::Response(200, body, "application/json"));

        const QVariantMap empty{{"fullName", QString()},        {"phoneNumber", QString()},
                                {"nickname", QString()},        {"institutionId", QString()},
                                {"yearId", QString()},          {"educationLevel", QString()},
                                {"enrollments", QVariantList()}};
        QCOMPARE(profileValues(controller), empty);
        QCOMPARE(log.events.count(QStringLiteral("profileLoaded")), 1);
        QCOMPARE(controller.failure(), AppFailure());
    }

    void loadReportsTheEducationShape_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QVariantMap>("shape");

        const auto shape = [](bool yearId, bool yearObject, bool nested, bool topLevel) {
            return QVariantMap{{"has_year_id", yearId},
                               {"has_year_object", yearObject},
                               {"has_nested_institution", nested},
                               {"has_top_level_institution", topLevel}};
        };
        QTest::newRow("everything") << kFullProfile.left(kFullProfile.size() - 1) +
                                           R"(,"institution":{"id":"i-1"}})"
                                    << shape(true, true, true, true);
        QTest::newRow("null year id only")
            << QByteArray(R"({"yearId":null})") << shape(true, false, false, false);
        QTest::newRow("empty year object")
            << QByteArray(R"({"year":{}})") << shape(false, false, false, false);
        QTest::newRow("year without an institution object")
            << QByteArray(R"({"year":{"id":"y-1","institution":"i-1"},"institution":{}})")
            << shape(false, true, false, true);
        QTest::newRow("top-level institution that is text")
            << QByteArray(R"({"institution":"i-1"})") << shape(false, false, false, false);
        QTest::newRow("array") << QByteArray("[]") << shape(false, false, false, false);
    }

    void loadReportsTheEducationShape()
    {
        QFETCH(QByteArray, body);
        QFETCH(QVariantMap, shape);
        signIn();
        ProfileController controller;

        loadProfile(controller, FixtureServer::Response::json(body));

        const QList<LogRecorder::Record> records = m_log->withEvent(QStringLiteral("education_shape"));
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().category, QStringLiteral("profile"));
        QCOMPARE(records.first().level, QStringLiteral("info"));
        QCOMPARE(records.first().fields, shape);
    }

    void institutionsFailureOutlastsTheProfileLoad()
    {
        signIn();
        ProfileController controller;
        script(kProfilePath, held(FixtureServer::Response::json(kFullProfile)));
        script(kInstitutionsPath, FixtureServer::Response::json(R"({"message":"down"})", 500));
        QSignalSpy failed(&controller, &ProfileController::profileError);
        QSignalSpy loaded(&controller, &ProfileController::profileLoaded);
        controller.fetchProfile();
        waitForRequests("GET", kProfilePath, 1);

        controller.fetchInstitutions();
        QVERIFY(failed.wait(10000));
        QCOMPARE(controller.state(), QStringLiteral("failed"));
        QCOMPARE(controller.failure().code, QStringLiteral("HTTP_500"));
        QVERIFY(controller.isLoading());

        release(kProfilePath);
        QVERIFY(loaded.wait(10000));
        QCOMPARE(controller.state(), QStringLiteral("ready"));
        QCOMPARE(controller.failure().code, QStringLiteral("HTTP_500"));
        QCOMPARE(failed.count(), 1);
    }

    void institutionsAreKeptWhole()
    {
        signIn();
        ProfileController controller;
        const QByteArray body = R"({"data":[{"id":"i-1","name":"North School","educationLevel":"SCHOOL",
                                    "years":[{"id":"y-1","value":1}]},{"id":"i-2","academicYears":[]}]})";
        script(kInstitutionsPath, FixtureServer::Response::json(body));
        QSignalSpy changed(&controller, &ProfileController::institutionsChanged);

        controller.fetchInstitutions();
        QVERIFY(changed.wait(10000));

        QCOMPARE(
            controller.institutions(),
            QJsonDocument::fromJson(body).object().value(QStringLiteral("data")).toArray().toVariantList());
        QCOMPARE(controller.state(), QStringLiteral("idle"));
    }

    void passwordChange_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("errorCode");
        QTest::addColumn<QString>("errorMessage");

        QTest::newRow("accepted") << 200 << QByteArray("{}") << QString() << QString();
        QTest::newRow("wrong current password")
            << 400 << QByteArray(R"({"error":"invalid-password","message":"Current password is incorrect"})")
            << QStringLiteral("INVALID_PASSWORD") << QStringLiteral("Current password is incorrect");
    }

    void passwordChange()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, answer);
        QFETCH(QString, errorCode);
        QFETCH(QString, errorMessage);
        signIn();
        ProfileController controller;
        script(kPasswordPath, FixtureServer::Response::json(answer, status));
        EventLog log(*m_log);
        log.watch(&controller);
        QSignalSpy refused(&controller, &ProfileController::passwordChangeError);

        controller.changePassword(QStringLiteral(" old pass "), QStringLiteral(" new pass "));
        QTRY_VERIFY(!controller.isLoading());

        const QList<FixtureServer::Request> sent = requests("POST", kPasswordPath);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(QJsonDocument::fromJson(sent.first().body).object(),
                 (QJsonObject{{QStringLiteral("currentPassword"), QStringLiteral(" old pass ")},
                              {QStringLiteral("newPassword"), QStringLiteral(" new pass ")}}));
        QStringList expected{QStringLiteral("failureChanged"),       QStringLiteral("stateChanged:ready"),
                             QStringLiteral("loadingStatusChanged"), QStringLiteral("stateChanged:loading"),
                             QStringLiteral("loadingStatusChanged"), QStringLiteral("stateChanged:ready")};
        if (errorCode.isEmpty()) {
            expected.append(QStringLiteral("passwordChanged"));
        } else {
            expected += QStringList{QStringLiteral("failureChanged"), QStringLiteral("stateChanged:failed"),
                                    QStringLiteral("passwordChangeError")};
            QCOMPARE(refused.first().first().value<AppFailure>().code, errorCode);
            QCOMPARE(controller.failure().userMessage, errorMessage);
        }
        QCOMPARE(log.events, expected);
    }

    void accountDeletion_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("deleted") << 204;
        QTest::newRow("server error") << 500;
    }

    void accountDeletion()
    {
        QFETCH(int, status);
        signIn();
        ProfileController controller;
        script(kUserPath, FixtureServer::Response(status));
        EventLog log(*m_log);
        log.watch(&controller);
        QSignalSpy sessionEnded(&m_session.network(), &NetworkManager::sessionExpired);

        controller.deleteAccount();
        QTRY_VERIFY(!controller.isLoading());

        QCOMPARE(requests("DELETE", kUserPath).size(), 1);
        QStringList expected{QStringLiteral("failureChanged"),       QStringLiteral("stateChanged:ready"),
                             QStringLiteral("loadingStatusChanged"), QStringLiteral("stateChanged:loading"),
                             QStringLiteral("loadingStatusChanged"), QStringLiteral("stateChanged:ready")};
        if (status == 204)
            expected.append(QStringLiteral("accountDeleted"));
        else
            expected += QStringList{QStringLiteral("failureChanged"), QStringLiteral("stateChanged:failed"),
                                    QStringLiteral("accountDeleteError")};
        QCOMPARE(log.events, expected);
        // Signing out is the page's task.
        QVERIFY(m_session.network().isAuthenticated());
        QCOMPARE(sessionEnded.count(), 0);
        QVERIFY(identity()->ready());
    }

    void pageClosedDuringASaveLeavesNoTrace()
    {
        signIn();
        auto controller = std::make_unique<ProfileController>();
        const QPointer<ProfileController> watched(controller.get());
        script(kUserPath, held(FixtureServer::Response::json("{}")));
        script(kProfilePath, FixtureServer::Response::json(kFullProfile));
        controller->updateProfile(QStringLiteral("Salma Adel"), QStringLiteral("salma"), QString());
        waitForRequests("PATCH", kUserPath, 1);
        EventLog log(*m_log);
        log.watch(identity(), QStringLiteral("identity:"));
        m_log->clear();

        controller.reset();
        release(kUserPath);
        // The pipeline logs the answer just before it hands it over.
        QTRY_VERIFY_WITH_TIMEOUT(!m_log->withEvent(QStringLiteral("request_complete")).isEmpty(), 10000);
        QCOMPARE(
            m_log->withEvent(QStringLiteral("request_complete")).first().field(QStringLiteral("endpoint")),
            kUserPath);

        QVERIFY(!watched);
        QCOMPARE(requests("GET", kProfilePath).size(), 0);
        QCOMPARE(log.events, QStringList());
        QVERIFY(!identity()->loading());
    }
};

QTEST_GUILESS_MAIN(tst_ProfileController)
#include "tst_ProfileController.moc"
