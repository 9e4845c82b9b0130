#include "app/PreferencesStore.h"
#include "net/UserIdentityController.h"
#include "tests/net/ProcessWideSession.h"
#include "tests/net/UserKeys.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

using quorin::test::FixtureServer;
using quorin::test::InMemoryKeychain;
using quorin::test::ProcessWideSession;
using quorin::test::profileCacheKey;
using quorin::test::watermarkPhoneItem;

namespace {

const QString kProfilePath = QStringLiteral("users/me?include=enrollments");
const QString kSessionExpiredText = QStringLiteral("Your session has expired. Please sign in again.");

UserIdentityController *identity()
{
    return UserIdentityController::instance();
}

std::unique_ptr<QSettings> preferences()
{
    return quorin::PreferencesStore::open();
}

FixtureServer::Response answer(const QByteArray &profile)
{
    return FixtureServer::Response::json(profile);
}

FixtureServer::Response heldAnswer(const QByteArray &profile)
{
    FixtureServer::Response response = FixtureServer::Response::json(profile);
    response.held = true;
    return response;
}

// The course ids of the enrollments, which is all the tests put in them.
QStringList courseIds(const QVariantList &enrollments)
{
    QStringList ids;
    for (const QVariant &enrollment : enrollments)
        ids.append(enrollment.toMap().value(QStringLiteral("courseId")).toString());
    return ids;
}

// The identity as seen at one moment: "id|name|phone|course,course".
QString identityAt()
{
    return QStringList{identity()->userId(), identity()->fullName(), identity()->phoneNumber(),
                       courseIds(identity()->enrollments()).join(QLatin1Char(','))}
        .join(QLatin1Char('|'));
}

// Names of the identity's signals in the order they come.
class IdentitySignals
{
public:
    IdentitySignals()
    {
        UserIdentityController *controller = identity();
        QObject::connect(controller, &UserIdentityController::identityChanged, &m_context,
                         [this] { events.append(QStringLiteral("identityChanged")); });
        QObject::connect(controller, &UserIdentityController::loadingChanged, &m_context,
                         [this] { events.append(QStringLiteral("loadingChanged")); });
        QObject::connect(controller, &UserIdentityController::profileStateChanged, &m_context,
                         [this] { events.append(QStringLiteral("profileStateChanged")); });
        QObject::connect(controller, &UserIdentityController::profileError, &m_context,
                         [this] { events.append(QStringLiteral("profileError")); });
    }

    QStringList events;

private:
    QObject m_context;
};

// Every identity the controller announces, as identityAt() sees it.
class IdentityHistory
{
public:
    IdentityHistory()
    {
        QObject::connect(identity(), &UserIdentityController::identityChanged, &m_context,
                         [this] { seen.append(identityAt()); });
    }

    QStringList seen;

private:
    QObject m_context;
};

} // namespace

class tst_UserIdentityController : public QObject
{
    Q_OBJECT

private:
    ProcessWideSession m_session;

    void scriptProfile(const FixtureServer::Response &response)
    {
        m_session.server().setResponse(ProcessWideSession::route(kProfilePath), response);
    }

    void releaseProfile() { m_session.server().release(ProcessWideSession::route(kProfilePath)); }

    void waitForProfileRequests(int count)
    {
        QTRY_COMPARE_WITH_TIMEOUT(m_session.requestCount(kProfilePath), count, 10000);
    }

    void waitForFetchEnd() { QTRY_VERIFY_WITH_TIMEOUT(!identity()->loading(), 10000); }

    // Signs in with the profile answer scripted and waits until the identity has it.
    void signInWith(const QString &tokenUser, const QByteArray &profile,
                    const QString &signInText = ProcessWideSession::kNumber)
    {
        scriptProfile(answer(profile));
        QVERIFY(m_session.signIn(tokenUser, signInText));
        QVERIFY(identity()->loading());
        waitForFetchEnd();
    }

    void fetchWith(const QByteArray &profile)
    {
        scriptProfile(answer(profile));
        identity()->fetchProfile();
        waitForFetchEnd();
    }

    [[nodiscard]] QStringList keysNaming(const QStringList &rawIds)
    {
        const QStringList names = preferences()->allKeys() + m_session.keychain().accounts();
        QStringList found;
        for (const QString &name : names) {
            for (const QString &id : rawIds) {
                if (name.contains(id))
                    found.append(name);
            }
        }
        return found;
    }

private Q_SLOTS:
    void initTestCase() { m_session.initTestCase(); }
    void init() { m_session.init(); }

    void fetchSendsNothingWhileSignedOut()
    {
        IdentitySignals signals_;
        identity()->fetchProfile();
        QVERIFY(signals_.events.isEmpty());
        QVERIFY(!identity()->loading());

        // The sign-in's own fetch is the first request the server sees.
        signInWith(QStringLiteral("u-1"), R"({"id":"u-1","enrollments":[]})");
        QCOMPARE(m_session.requestCount(kProfilePath), 1);
    }

    void fetchSendsNothingWhileAFetchIsInFlight()
    {
        scriptProfile(heldAnswer(R"({"id":"u-1","enrollments":[]})"));
        QVERIFY(m_session.signIn(QStringLiteral("u-1")));
        waitForProfileRequests(1);
        QCOMPARE(identity()->profileState(), UserIdentityController::Loading);

        IdentitySignals signals_;
        identity()->fetchProfile();
        QVERIFY(signals_.events.isEmpty());

        releaseProfile();
        waitForFetchEnd();
        QCOMPARE(signals_.events,
                 (QStringList{QStringLiteral("loadingChanged"), QStringLiteral("identityChanged"),
                              QStringLiteral("profileStateChanged")}));
        QCOMPARE(m_session.requestCount(kProfilePath), 1);
    }

    void userIdComesFromTheAnswerOrTheToken_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QString>("expected");

        QTest::newRow("numeric id") << QByteArray(R"({"id":42,"enrollments":[]})") << QStringLiteral("42");
        QTest::newRow("padded text id")
            << QByteArray(R"({"id":" 42 ","enrollments":[]})") << QStringLiteral("42");
        QTest::newRow("userId without id")
            << QByteArray(R"({"userId":"u7","enrollments":[]})") << QStringLiteral("u7");
        QTest::newRow("userId after a blank id")
            << QByteArray(R"({"id":"  ","userId":" u7 ","enrollments":[]})") << QStringLiteral("u7");
        QTest::newRow("the token's user")
            << QByteArray(R"({"enrollments":[]})") << QStringLiteral("token-user");
        QTest::newRow("ids that are neither text nor number")
            << QByteArray(R"({"id":true,"userId":{"id":"u7"},"enrollments":[]})")
            << QStringLiteral("token-user");
    }

    void userIdComesFromTheAnswerOrTheToken()
    {
        QFETCH(QByteArray, profile);
        QFETCH(QString, expected);

        signInWith(QStringLiteral("token-user"), profile);

        QCOMPARE(identity()->userId(), expected);
        QVERIFY(identity()->ready());
        QCOMPARE(identity()->profileState(), UserIdentityController::Ready);
        QCOMPARE(preferences()->value(profileCacheKey(expected, QStringLiteral("enrollments"))).toByteArray(),
                 QByteArray("[]"));
    }

    void anotherUserStartsFromTheirOwnCache_data()
    {
        QTest::addColumn<bool>("secondUserPhoneInKeychain");
        QTest::newRow("second user's phone in the keychain") << true;
        QTest::newRow("no phone for the second user") << false;
    }

    void anotherUserStartsFromTheirOwnCache()
    {
        QFETCH(bool, secondUserPhoneInKeychain);
        const QString first = QStringLiteral("user-a-17");
        const QString second = QStringLiteral("user-b-42");
        // A sign-in text that is not a number, so a phone can only come from an answer or the keychain.
        signInWith(first,
                   R"({"id":"user-a-17","fullName":"Alia","mobileNumber":"+201011112222",
                       "enrollments":[{"courseId":"c-a"}]})",
                   QStringLiteral("alia"));
        QCOMPARE(identityAt(), QStringLiteral("user-a-17|Alia|+201011112222|c-a"));
        const QByteArray firstEnrollments =
            preferences()->value(profileCacheKey(first, "enrollments")).toByteArray();
        QCOMPARE(firstEnrollments, QByteArray(R"([{"courseId":"c-a"}])"));
        QCOMPARE(preferences()->value(profileCacheKey(first, "fullName")).toString(), QStringLiteral("Alia"));

        preferences()->setValue(profileCacheKey(second, "enrollments"),
                                QByteArray(R"([{"courseId":"c-b-cached"}])"));
        preferences()->setValue(profileCacheKey(second, "fullName"), QStringLiteral("Bea Cached"));
        if (secondUserPhoneInKeychain)
            m_session.keychain().setValue(watermarkPhoneItem(second), QStringLiteral("+966598765432"));
        IdentityHistory history;

        fetchWith(R"({"id":"user-b-42","fullName":"Bea","enrollments":[{"courseId":"c-b"}]})");

        // The keychain phone is announced as soon as it is read: by then the first user's values
        // are gone and the second user's cached courses are in, the answer's not yet.
        const QStringList expected =
            secondUserPhoneInKeychain ? QStringList{QStringLiteral("user-b-42|Bea|+966598765432|c-b-cached"),
                                                    QStringLiteral("user-b-42|Bea|+966598765432|c-b")}
                                      : QStringList{QStringLiteral("user-b-42|Bea||c-b")};
        QCOMPARE(history.seen, expected);
        QVERIFY(!identity()->usingCachedProfile());

        QCOMPARE(preferences()->value(profileCacheKey(first, "enrollments")).toByteArray(), firstEnrollments);
        QCOMPARE(preferences()->value(profileCacheKey(first, "fullName")).toString(), QStringLiteral("Alia"));
        QCOMPARE(preferences()->value(profileCacheKey(second, "enrollments")).toByteArray(),
                 QByteArray(R"([{"courseId":"c-b"}])"));
        QCOMPARE(preferences()->value(profileCacheKey(second, "fullName")).toString(), QStringLiteral("Bea"));
        QCOMPARE(m_session.keychain().value(watermarkPhoneItem(first)), QStringLiteral("+201011112222"));
        QCOMPARE(m_session.keychain().value(QStringLiteral("watermarkLastUserId")),
                 secondUserPhoneInKeychain ? second : first);
        QCOMPARE(keysNaming({first, second}), QStringList());
    }

    void phoneNumberSources_data()
    {
        QTest::addColumn<QString>("signInText");
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QString>("keychainPhone");
        QTest::addColumn<QString>("expected");

        const QString number = ProcessWideSession::kNumber;
        const QString stored = QStringLiteral("+966598765432");
        QTest::newRow("phone after an empty mobile number")
            << number << QByteArray(R"({"mobileNumber":"","phone":" +966512345678 "})") << stored
            << QStringLiteral("+966512345678");
        QTest::newRow("phone number member") << number << QByteArray(R"({"phoneNumber":"+966500000001"})")
                                             << QString() << QStringLiteral("+966500000001");
        QTest::newRow("sign-in number") << number << QByteArray("{}") << stored << number;
        QTest::newRow("sign-in number with separators")
            << QStringLiteral(" +20 (10) 1234-5678 ") << QByteArray("{}") << QString()
            << QStringLiteral("+20 (10) 1234-5678");
        QTest::newRow("sign-in text, phone from the keychain")
            << QStringLiteral("abc") << QByteArray("{}") << stored << stored;
        QTest::newRow("too short for a number, phone from the keychain")
            << QStringLiteral("+2010") << QByteArray("{}") << stored << stored;
        QTest::newRow("sign-in text, nothing stored")
            << QStringLiteral("abc") << QByteArray("{}") << QString() << QString();
    }

    void phoneNumberSources()
    {
        QFETCH(QString, signInText);
        QFETCH(QByteArray, profile);
        QFETCH(QString, keychainPhone);
        QFETCH(QString, expected);
        const QString user = QStringLiteral("u-phone");
        if (!keychainPhone.isEmpty())
            m_session.keychain().setValue(watermarkPhoneItem(user), keychainPhone);
        QJsonObject answerObject = QJsonDocument::fromJson(profile).object();
        answerObject.insert(QStringLiteral("id"), user);
        answerObject.insert(QStringLiteral("enrollments"), QJsonArray());

        signInWith(user, QJsonDocument(answerObject).toJson(), signInText);

        QCOMPARE(identity()->phoneNumber(), expected);
        if (expected.isEmpty()) {
            QVERIFY(!m_session.keychain().value(watermarkPhoneItem(user)));
            QVERIFY(!m_session.keychain().value(QStringLiteral("watermarkLastUserId")));
        } else {
            QCOMPARE(m_session.keychain().value(watermarkPhoneItem(user)), expected);
            QCOMPARE(m_session.keychain().value(QStringLiteral("watermarkLastUserId")), user);
        }
    }

    void phoneStaysWhenNoSourceHasOne()
    {
        const QString user = QStringLiteral("u-phone");
        signInWith(user, R"({"id":"u-phone","mobileNumber":"+201011112222","enrollments":[]})",
                   QStringLiteral("abc"));
        (void)m_session.keychain().createStore()->remove(watermarkPhoneItem(user));

        fetchWith(R"({"id":"u-phone","enrollments":[]})");

        QCOMPARE(identity()->phoneNumber(), QStringLiteral("+201011112222"));
        QCOMPARE(m_session.keychain().value(watermarkPhoneItem(user)), QStringLiteral("+201011112222"));
    }

    void watermarkFromThePhoneNumber_data()
    {
        QTest::addColumn<QString>("phone");
        QTest::addColumn<UserIdentityController::WatermarkSource>("source");
        QTest::addColumn<QString>("text");

        QTest::newRow("Egyptian number") << QStringLiteral("+201012345678")
                                         << UserIdentityController::PhoneWatermark << QStringLiteral("45678");
        QTest::newRow("four characters")
            << QStringLiteral("1234") << UserIdentityController::DeviceWatermark << QString();
        QTest::newRow("five characters, three digits")
            << QStringLiteral("1a2b3") << UserIdentityController::PhoneWatermark << QString();
        QTest::newRow("separators skipped")
            << QStringLiteral("+20 10-1234 5678") << UserIdentityController::PhoneWatermark
            << QStringLiteral("45678");
        QTest::newRow("Arabic-Indic digits kept as written")
            << QStringLiteral("٠١٠١٢٣٤٥٦٧٨") << UserIdentityController::PhoneWatermark
            << QStringLiteral("٤٥٦٧٨");
        QTest::newRow("digits outside the BMP kept whole")
            << QString::fromUcs4(U"+\U0001D7CE\U0001D7CF\U0001D7D0\U0001D7D1\U0001D7D2\U0001D7D3")
            << UserIdentityController::PhoneWatermark
            << QString::fromUcs4(U"\U0001D7CF\U0001D7D0\U0001D7D1\U0001D7D2\U0001D7D3");
        QTest::newRow("no phone") << QString() << UserIdentityController::DeviceWatermark << QString();
    }

    void watermarkFromThePhoneNumber()
    {
        QFETCH(QString, phone);
        QFETCH(UserIdentityController::WatermarkSource, source);
        QFETCH(QString, text);
        const QJsonObject profile{{QStringLiteral("id"), QStringLiteral("u-mark")},
                                  {QStringLiteral("mobileNumber"), phone},
                                  {QStringLiteral("enrollments"), QJsonArray()}};

        signInWith(QStringLiteral("u-mark"), QJsonDocument(profile).toJson(), QStringLiteral("abc"));

        QCOMPARE(identity()->phoneNumber(), phone);
        QCOMPARE(identity()->watermarkSource(), source);
        QCOMPARE(identity()->watermarkText(), text);
        QCOMPARE(identity()->property("watermarkText").toString(), text);
    }

    void failedFetchKeepsTheIdentity_data()
    {
        QTest::addColumn<QString>("cause");
        QTest::addColumn<bool>("holdsEnrollments");
        QTest::addColumn<UserIdentityController::ProfileState>("state");
        QTest::addColumn<QString>("code");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("httpStatus");

        const QString unavailable =
            QStringLiteral("The server is temporarily unavailable. Courses could not be refreshed.");
        const QString invalid =
            QStringLiteral("The server returned an invalid course list. Please try again.");
        for (const bool holds : {true, false}) {
            const QByteArray suffix = holds ? " with courses" : " without courses";
            QTest::newRow("refused connection" + suffix)
                << QStringLiteral("refused") << holds << UserIdentityController::Offline
                << QStringLiteral("offline")
                << QStringLiteral("You are offline. Cached courses and downloads remain available.") << 0;
            QTest::newRow("server error" + suffix)
                << QStringLiteral("500") << holds << UserIdentityController::TemporarilyUnavailable
                << QStringLiteral("server_unavailable") << unavailable << 500;
            QTest::newRow("enrollments missing" + suffix)
                << QStringLiteral("missing") << holds << UserIdentityController::TemporarilyUnavailable
                << QStringLiteral("invalid_profile_response") << invalid << 0;
            QTest::newRow("enrollments an object" + suffix)
                << QStringLiteral("object") << holds << UserIdentityController::TemporarilyUnavailable
                << QStringLiteral("invalid_profile_response") << invalid << 0;
        }
    }

    void failedFetchKeepsTheIdentity()
    {
        QFETCH(QString, cause);
        QFETCH(bool, holdsEnrollments);
        QFETCH(UserIdentityController::ProfileState, state);
        QFETCH(QString, code);
        QFETCH(QString, message);
        QFETCH(int, httpStatus);
        signInWith(
            QStringLiteral("u-fail"),
            holdsEnrollments
                ? R"({"id":"u-fail","fullName":"Farah","mobileNumber":"+201011112222","enrollments":[{"courseId":"c-1"}]})"
                : R"({"id":"u-fail","fullName":"Farah","mobileNumber":"+201011112222","enrollments":[]})");
        const QString before = identityAt();
        const QByteArray cachedBefore =
            preferences()->value(profileCacheKey("u-fail", "enrollments")).toByteArray();

        if (cause == QLatin1String("refused"))
            m_session.stopServer();
        else if (cause == QLatin1String("500"))
            scriptProfile(FixtureServer::Response::json(R"({"message":"down"})", 500));
        else if (cause == QLatin1String("missing"))
            scriptProfile(answer(R"({"id":"someone-else","fullName":"X"})"));
        else
            scriptProfile(answer(R"({"id":"someone-else","fullName":"X","enrollments":{"courseId":"c-9"}})"));
        IdentitySignals signals_;
        QSignalSpy errors(identity(), &UserIdentityController::profileError);
        identity()->fetchProfile();
        QVERIFY(errors.wait(20000));

        const AppFailure failure = errors.first().first().value<AppFailure>();
        QCOMPARE(failure.code, code);
        QCOMPARE(failure.userMessage, message);
        QCOMPARE(failure.httpStatus, httpStatus);
        if (code == QLatin1String("invalid_profile_response")) {
            QCOMPARE(failure, AppFailure::local(code, message, QStringLiteral("server"), true));
        }
        QCOMPARE(identity()->profileState(), state);
        QCOMPARE(identity()->profileErrorCode(), code);
        QCOMPARE(identity()->profileErrorText(), message);
        QCOMPARE(identity()->profileFailure(), failure);
        QCOMPARE(identity()->usingCachedProfile(), holdsEnrollments);
        QCOMPARE(identityAt(), before);
        QCOMPARE(preferences()->value(profileCacheKey("u-fail", "enrollments")).toByteArray(), cachedBefore);
        QCOMPARE(signals_.events,
                 (QStringList{QStringLiteral("loadingChanged"), QStringLiteral("profileStateChanged"),
                              QStringLiteral("loadingChanged"), QStringLiteral("profileStateChanged"),
                              QStringLiteral("profileError")}));
    }

    void refusedRefreshAfter401EndsTheSession()
    {
        signInWith(
            QStringLiteral("u-auth"),
            R"({"id":"u-auth","fullName":"Amal","mobileNumber":"+201011112222","enrollments":[{"courseId":"c-1"}]})");
        scriptProfile(FixtureServer::Response::json(R"({"message":"expired"})", 401));
        m_session.server().setResponse(ProcessWideSession::route(QStringLiteral("auth/refresh")),
                                       FixtureServer::Response::json(R"({"message":"no"})", 401));
        struct Seen
        {
            bool usingCachedProfile = false;
            UserIdentityController::ProfileState state = UserIdentityController::Idle;
            QString userId;
        } atError;
        QObject context;
        connect(identity(), &UserIdentityController::profileError, &context, [&atError] {
            atError = {identity()->usingCachedProfile(), identity()->profileState(), identity()->userId()};
        });
        QSignalSpy errors(identity(), &UserIdentityController::profileError);

        identity()->fetchProfile();
        QVERIFY(errors.wait(20000));

        const AppFailure failure = errors.first().first().value<AppFailure>();
        QCOMPARE(failure.code, QStringLiteral("authentication_required"));
        QCOMPARE(failure.userMessage, kSessionExpiredText);
        QCOMPARE(failure.httpStatus, 401);
        QCOMPARE(atError.state, UserIdentityController::AuthenticationRequired);
        QVERIFY(atError.usingCachedProfile);
        QCOMPARE(atError.userId, QStringLiteral("u-auth"));
        // The refused refresh also ended the session, which forgets the identity.
        QVERIFY(!m_session.network().isAuthenticated());
        QCOMPARE(identity()->profileState(), UserIdentityController::AuthenticationRequired);
        QCOMPARE(identity()->profileErrorCode(), QStringLiteral("authentication_required"));
        QCOMPARE(identityAt(), QStringLiteral("|||"));
    }

    void clearOnAnEmptyIdentityEmitsNothing()
    {
        IdentitySignals signals_;
        identity()->clear();
        QVERIFY(signals_.events.isEmpty());
        QVERIFY(!identity()->ready());
    }

    void clearForgetsTheIdentityButKeepsItsStores()
    {
        const QString user = QStringLiteral("u-clear");
        signInWith(
            user,
            R"({"id":"u-clear","fullName":"Cyra","mobileNumber":"+201011112222","enrollments":[{"courseId":"c-1"}]})",
            QStringLiteral("abc"));
        scriptProfile(heldAnswer(R"({"id":"u-clear","enrollments":[]})"));
        identity()->fetchProfile();
        QVERIFY(identity()->loading());
        IdentitySignals signals_;

        identity()->clear();

        QCOMPARE(signals_.events,
                 (QStringList{QStringLiteral("identityChanged"), QStringLiteral("profileStateChanged")}));
        QVERIFY(identity()->loading());
        QCOMPARE(identityAt(), QStringLiteral("|||"));
        QVERIFY(!identity()->ready());
        QCOMPARE(identity()->watermarkText(), QString());
        QCOMPARE(identity()->watermarkSource(), UserIdentityController::DeviceWatermark);
        QCOMPARE(identity()->profileState(), UserIdentityController::AuthenticationRequired);
        QCOMPARE(identity()->profileErrorCode(), QStringLiteral("authentication_required"));
        QCOMPARE(identity()->profileErrorText(), kSessionExpiredText);
        QCOMPARE(identity()->profileFailure(),
                 AppFailure::local(QStringLiteral("authentication_required"), kSessionExpiredText,
                                   QStringLiteral("authentication"), false));
        QVERIFY(!identity()->usingCachedProfile());
        QCOMPARE(m_session.keychain().value(watermarkPhoneItem(user)), QStringLiteral("+201011112222"));
        QCOMPARE(m_session.keychain().value(QStringLiteral("watermarkLastUserId")), user);
        QCOMPARE(preferences()->value(profileCacheKey(user, "fullName")).toString(), QStringLiteral("Cyra"));

        // The same user signing in again finds the name, the courses and the phone.
        releaseProfile();
        waitForFetchEnd();
        m_session.signOut();
        IdentityHistory history;
        signInWith(user, R"({"id":"u-clear","fullName":"Cyra","enrollments":[]})", QStringLiteral("abc"));
        QCOMPARE(history.seen, (QStringList{QStringLiteral("u-clear|Cyra|+201011112222|c-1"),
                                            QStringLiteral("u-clear|Cyra|+201011112222|")}));
    }

    void keychainWriteFailureKeepsThePhoneInMemory_data()
    {
        QTest::addColumn<bool>("phoneItemExists");
        QTest::addColumn<QList<InMemoryKeychain::Operation>>("failing");
        QTest::addColumn<QString>("warning");

        QTest::newRow("phone") << false
                               << QList<InMemoryKeychain::Operation>{InMemoryKeychain::Operation::Update,
                                                                     InMemoryKeychain::Operation::Add}
                               << QStringLiteral(
                                      "Unable to persist the watermark phone securely: vault locked");
        QTest::newRow("owner") << true << QList<InMemoryKeychain::Operation>{InMemoryKeychain::Operation::Add}
                               << QStringLiteral(
                                      "Unable to persist the offline identity owner securely: vault locked");
    }

    void keychainWriteFailureKeepsThePhoneInMemory()
    {
        QFETCH(bool, phoneItemExists);
        QFETCH(QList<InMemoryKeychain::Operation>, failing);
        QFETCH(QString, warning);
        const QString user = QStringLiteral("u-vault");
        if (phoneItemExists)
            m_session.keychain().setValue(watermarkPhoneItem(user), QStringLiteral("+966500000000"));
        scriptProfile(heldAnswer(R"({"id":"u-vault","mobileNumber":"+201011112222","enrollments":[]})"));
        QVERIFY(m_session.signIn(user));
        waitForProfileRequests(1);
        for (const InMemoryKeychain::Operation operation : failing)
            m_session.keychain().fail(operation, QStringLiteral("vault locked"));

        QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
        releaseProfile();
        waitForFetchEnd();

        QCOMPARE(identity()->phoneNumber(), QStringLiteral("+201011112222"));
        QCOMPARE(identity()->watermarkText(), QStringLiteral("12222"));
        QCOMPARE(identity()->profileState(), UserIdentityController::Ready);
        QCOMPARE(m_session.keychain().value(watermarkPhoneItem(user)),
                 phoneItemExists ? std::optional<QString>(QStringLiteral("+201011112222")) : std::nullopt);
        QVERIFY(!m_session.keychain().value(QStringLiteral("watermarkLastUserId")));
    }

    // A late answer belongs to a session that has ended: it must not bring its user back.
    void answerAfterSignOutIsDropped_data()
    {
        QTest::addColumn<bool>("filledBefore");
        QTest::newRow("first fetch of the session") << false;
        QTest::newRow("fetch of a known identity") << true;
    }

    void answerAfterSignOutIsDropped()
    {
        QFETCH(bool, filledBefore);
        const QString user = QStringLiteral("u-late");
        const QByteArray late = R"({"id":"u-late","fullName":"Late","mobileNumber":"+966511112222",
                                    "enrollments":[{"courseId":"c-late"}]})";
        if (filledBefore) {
            signInWith(
                user, R"({"id":"u-late","fullName":"Lina","mobileNumber":"+201011112222","enrollments":[]})");
            scriptProfile(heldAnswer(late));
            identity()->fetchProfile();
        } else {
            scriptProfile(heldAnswer(late));
            QVERIFY(m_session.signIn(user));
        }
        waitForProfileRequests(filledBefore ? 2 : 1);
        m_session.signOut();
        QCOMPARE(identity()->profileState(), UserIdentityController::AuthenticationRequired);
        IdentitySignals signals_;

        releaseProfile();
        waitForFetchEnd();

        QCOMPARE(signals_.events, QStringList{QStringLiteral("loadingChanged")});
        QCOMPARE(identityAt(), QStringLiteral("|||"));
        QCOMPARE(identity()->profileState(), UserIdentityController::AuthenticationRequired);
        QCOMPARE(m_session.keychain().value(watermarkPhoneItem(user)),
                 filledBefore ? std::optional<QString>(QStringLiteral("+201011112222")) : std::nullopt);
        QCOMPARE(preferences()->value(profileCacheKey(user, "fullName")),
                 filledBefore ? QVariant(QStringLiteral("Lina")) : QVariant());
        QCOMPARE(m_session.requestCount(kProfilePath), filledBefore ? 2 : 1);
    }

    void answerForTheSignedOutUserIsDroppedForTheNextUser()
    {
        const QString first = QStringLiteral("user-first");
        const QString second = QStringLiteral("user-second");
        scriptProfile(heldAnswer(R"({"id":"user-first","fullName":"First","mobileNumber":"+201011112222",
                                     "enrollments":[{"courseId":"c-first"}]})"));
        QVERIFY(m_session.signIn(first));
        waitForProfileRequests(1);
        m_session.signOut();
        scriptProfile(answer(R"({"id":"user-second","fullName":"Second","mobileNumber":"+966511112222",
                                 "enrollments":[{"courseId":"c-second"}]})"));
        QVERIFY(m_session.signIn(second, QStringLiteral("abc")));
        QVERIFY(identity()->loading());
        IdentityHistory history;

        releaseProfile();
        QTRY_COMPARE_WITH_TIMEOUT(identity()->profileState(), UserIdentityController::Ready, 10000);

        QCOMPARE(history.seen, QStringList{QStringLiteral("user-second|Second|+966511112222|c-second")});
        QCOMPARE(m_session.requestCount(kProfilePath), 2);
        QVERIFY(!m_session.keychain().value(watermarkPhoneItem(first)));
        QVERIFY(!preferences()->contains(profileCacheKey(first, "fullName")));
        QCOMPARE(m_session.keychain().value(QStringLiteral("watermarkLastUserId")), second);
    }
};

QTEST_GUILESS_MAIN(tst_UserIdentityController)
#include "tst_UserIdentityController.moc"
