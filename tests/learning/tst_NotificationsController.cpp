#include "learning/NotificationRecords.h"
#include "learning/NotificationsController.h"
#include "tests/net/NetworkManagerHarness.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <memory>

using quorin::NotificationRecords;
using quorin::test::FixtureServer;
using quorin::test::NetworkManagerHarness;
using Request = FixtureServer::Request;
using Response = FixtureServer::Response;

namespace {

const QString kList = QStringLiteral("/api/v1/notifications");
const QString kCount = QStringLiteral("/api/v1/notifications/unread-count");
const QString kMarkPrefix = QStringLiteral("/api/v1/notifications/");
const QString kListAll = QStringLiteral("/api/v1/notifications?filter=all&page=1&limit=50");
const QString kListUnread = QStringLiteral("/api/v1/notifications?filter=unread&page=1&limit=50");

QJsonDocument documentFrom(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test JSON: %s", json.constData());
    return document;
}

QVariantMap mapFrom(const QByteArray &json)
{
    return documentFrom(json).object().toVariantMap();
}

Response held(Response response)
{
    response.held = true;
    return response;
}

Response countAnswer(int count)
{
    return Response::json(QJsonDocument(QJsonObject{{QStringLiteral("count"), count}}).toJson());
}

// The list the fixture serves: n1, n3 and 4 unread, n2 read; "unread" leaves n2 out.
Response standardList(const Request &request)
{
    QJsonArray list = documentFrom(R"([{"id": "n1", "isRead": false, "object": {"title": "First"}},
                                       {"id": "n2", "isRead": true},
                                       {"id": "n3", "isRead": false},
                                       {"id": 4, "isRead": 0}])")
                          .array();
    if (request.queryItems().queryItemValue(QStringLiteral("filter")) == QLatin1String("unread"))
        list.removeAt(1);
    return Response::json(QJsonDocument(QJsonObject{{QStringLiteral("data"), list}}).toJson());
}

// Each record as "<id>:read" or "<id>:unread", in list order.
QStringList stateOf(const NotificationsController &controller)
{
    QStringList state;
    for (const QVariant &entry : controller.notifications()) {
        const QVariantMap record = entry.toMap();
        state.append(record.value(QStringLiteral("id")).toString() + (NotificationRecords::isRead(record)
                                                                          ? QStringLiteral(":read")
                                                                          : QStringLiteral(":unread")));
    }
    return state;
}

// Appends the name of every signal of the controller as it comes.
void recordSignals(NotificationsController &controller, QStringList &events)
{
    const auto note = [&events](const char *name) {
        return [&events, name] { events.append(QLatin1String(name)); };
    };
    QObject::connect(&controller, &NotificationsController::notificationsChanged, &controller,
                     note("notificationsChanged"));
    QObject::connect(&controller, &NotificationsController::unreadCountChanged, &controller,
                     note("unreadCountChanged"));
    QObject::connect(&controller, &NotificationsController::loadingStatusChanged, &controller,
                     note("loadingStatusChanged"));
    QObject::connect(&controller, &NotificationsController::filterChanged, &controller,
                     note("filterChanged"));
    QObject::connect(&controller, &NotificationsController::failureChanged, &controller,
                     note("failureChanged"));
    QObject::connect(&controller, &NotificationsController::notificationsError, &controller,
                     [&events](const AppFailure &failure) {
                         events.append(QStringLiteral("notificationsError:") + failure.code);
                     });
}

} // namespace

class tst_NotificationsController : public QObject
{
    Q_OBJECT

private:
    NetworkManagerHarness m_harness;
    std::unique_ptr<NetworkManager> m_manager;

    FixtureServer &server() { return m_harness.server(); }

    void signIn(const QString &subject = QStringLiteral("u-1"))
    {
        QVERIFY(!m_harness.signIn(*m_manager, subject).isEmpty());
    }

    void settle() { QVERIFY(m_harness.settle(*m_manager)); }

    [[nodiscard]] QStringList sent(const QByteArray &method) const
    {
        QStringList matching;
        for (const QString &request : m_harness.sentByCodeUnderTest()) {
            if (request.startsWith(QString::fromLatin1(method + ' ')))
                matching.append(request.mid(method.size() + 1));
        }
        return matching;
    }

    [[nodiscard]] QStringList listRequests() const
    {
        QStringList lists;
        for (const QString &target : sent("GET")) {
            if (target.startsWith(kList + QLatin1Char('?')))
                lists.append(target);
        }
        return lists;
    }

    [[nodiscard]] static QTimer *pollTimer(NotificationsController &controller)
    {
        return controller.findChild<QTimer *>();
    }

    // A signed-in controller holding the fixture's list. The count answers 5 at sign-in and then
    // countAfterList, so each reply is seen to arrive before the test goes on.
    [[nodiscard]] std::unique_ptr<NotificationsController> loadedController(bool unreadFilter,
                                                                            int countAfterList)
    {
        server().setHandler(kList, standardList);
        server().setResponses(kCount, {countAnswer(5), countAnswer(countAfterList)});
        server().setPrefixHandler(kMarkPrefix, [](const Request &) { return Response::json("{}"); });
        signIn();
        auto controller = std::make_unique<NotificationsController>(m_manager.get(), 60000);
        if (!QTest::qWaitFor([&] { return controller->unreadCount() == 5; }, 10000))
            return nullptr;
        if (unreadFilter)
            controller->setFilterUnread(true);
        else
            controller->fetchNotifications();
        if (!QTest::qWaitFor([&] { return controller->unreadCount() == countAfterList; }, 10000))
            return nullptr;
        return controller;
    }

private Q_SLOTS:
    void initTestCase() { m_harness.initTestCase(); }

    void init()
    {
        m_harness.init();
        m_manager = m_harness.makeManager();
    }

    void cleanup()
    {
        m_manager.reset();
        m_harness.cleanup();
    }

    // Reading the replies

    void listShapes_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QVariantList>("expected");
        const QVariantList ab{mapFrom(R"({"id": "a"})"), mapFrom(R"({"id": "b"})")};
        QTest::newRow("data") << QByteArray(R"({"data": [{"id": "a"}, {"id": "b"}]})") << ab;
        QTest::newRow("notifications")
            << QByteArray(R"({"notifications": [{"id": "a"}, {"id": "b"}]})") << ab;
        QTest::newRow("bare array") << QByteArray(R"([{"id": "a"}, {"id": "b"}])") << ab;
        QTest::newRow("data first") << QByteArray(
                                           R"({"data": [{"id": "a"}, {"id": "b"}], "notifications": []})")
                                    << ab;
        QTest::newRow("data not a list")
            << QByteArray(R"({"data": {}, "notifications": [{"id": "a"}, {"id": "b"}]})") << ab;
        QTest::newRow("data an object alone") << QByteArray(R"({"data": {}})") << QVariantList();
        QTest::newRow("another object") << QByteArray(R"({"x": 1})") << QVariantList();
        QTest::newRow("not JSON") << QByteArray() << QVariantList();
        QTest::newRow("non-object element") << QByteArray(R"({"data": [{"id": "a"}, 5, "b"]})")
                                            << QVariantList{ab.first(), QVariantMap(), QVariantMap()};
    }

    void listShapes()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QVariantList, expected);
        QVariantList records;
        const QJsonDocument document = QJsonDocument::fromJson(reply);
        for (const QJsonValue &notification : NotificationRecords::listFromReply(document))
            records.append(NotificationRecords::recordFrom(notification));
        QCOMPARE(records, expected);
    }

    void objectMember_data()
    {
        QTest::addColumn<QByteArray>("notification");
        QTest::addColumn<QVariantMap>("expected");
        QTest::newRow("object with a body only")
            << QByteArray(
                   R"({"id": "n1", "isRead": true, "title": "Own", "entityId": "e", "object": {"body": "B"}})")
            << mapFrom(R"({"id": "n1", "isRead": true, "object": {"body": "B"}, "body": "B", "title": "",
                           "entityType": "", "entityId": "", "createdAt": ""})");
        QTest::newRow("every text")
            << QByteArray(R"({"id": "n2", "object": {"title": "T", "body": "B", "entityType": "course",
                              "entityId": "c-1", "createdAt": "2024-05-01T10:00:00Z"}})")
            << mapFrom(R"({"id": "n2", "object": {"title": "T", "body": "B", "entityType": "course",
                           "entityId": "c-1", "createdAt": "2024-05-01T10:00:00Z"},
                           "title": "T", "body": "B", "entityType": "course", "entityId": "c-1",
                           "createdAt": "2024-05-01T10:00:00Z"})");
        QTest::newRow("numeric entity id")
            << QByteArray(R"({"object": {"entityId": 12, "title": null}})")
            << mapFrom(
                   R"({"object": {"entityId": 12, "title": null}, "title": "", "body": "", "entityType": "",
                           "entityId": "", "createdAt": ""})");
        QTest::newRow("metadata object")
            << QByteArray(
                   R"({"metadata": {"old": 1}, "object": {"metadata": {"courseId": "c-1", "sectionId": null}}})")
            << mapFrom(R"({"object": {"metadata": {"courseId": "c-1", "sectionId": null}},
                           "metadata": {"courseId": "c-1", "sectionId": null}, "title": "", "body": "",
                           "entityType": "", "entityId": "", "createdAt": ""})");
        QTest::newRow("metadata text keeps the record's own")
            << QByteArray(R"({"metadata": {"courseId": "own"}, "object": {"metadata": "c-1"}})")
            << mapFrom(
                   R"({"metadata": {"courseId": "own"}, "object": {"metadata": "c-1"}, "title": "", "body": "",
                           "entityType": "", "entityId": "", "createdAt": ""})");
        QTest::newRow("no object") << QByteArray(R"({"id": "n3", "title": 5})")
                                   << mapFrom(R"({"id": "n3", "title": 5})");
        QTest::newRow("object not an object") << QByteArray(R"({"id": "n4", "title": "Own", "object": "x"})")
                                              << mapFrom(R"({"id": "n4", "title": "Own", "object": "x"})");
    }

    void objectMember()
    {
        QFETCH(QByteArray, notification);
        QFETCH(QVariantMap, expected);
        QCOMPARE(NotificationRecords::recordFrom(documentFrom(notification).object()), expected);
    }

    void unreadCount_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("expected");
        QTest::newRow("integer") << QByteArray(R"({"count": 3})") << 3;
        QTest::newRow("integral double") << QByteArray(R"({"count": 3.0})") << 3;
        QTest::newRow("negative") << QByteArray(R"({"count": -2})") << -2;
        QTest::newRow("largest 32-bit") << QByteArray(R"({"count": 2147483647})") << 2147483647;
        QTest::newRow("text") << QByteArray(R"({"count": "3"})") << 0;
        QTest::newRow("fraction") << QByteArray(R"({"count": 2.5})") << 0;
        QTest::newRow("beyond 32 bits") << QByteArray(R"({"count": 3000000000})") << 0;
        QTest::newRow("null") << QByteArray(R"({"count": null})") << 0;
        QTest::newRow("no count") << QByteArray("{}") << 0;
        QTest::newRow("bare array") << QByteArray("[3]") << 0;
        QTest::newRow("not JSON") << QByteArray("3") << 0;
    }

    void unreadCount()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, expected);
        QCOMPARE(NotificationRecords::unreadCountFromReply(QJsonDocument::fromJson(reply)), expected);
    }

    void isRead_data()
    {
        QTest::addColumn<QByteArray>("notification");
        QTest::addColumn<bool>("expected");
        QTest::newRow("true") << QByteArray(R"({"isRead": true})") << true;
        QTest::newRow("false") << QByteArray(R"({"isRead": false})") << false;
        QTest::newRow("missing") << QByteArray("{}") << false;
        QTest::newRow("null") << QByteArray(R"({"isRead": null})") << false;
        QTest::newRow("zero") << QByteArray(R"({"isRead": 0})") << false;
        QTest::newRow("number") << QByteArray(R"({"isRead": 2})") << true;
        QTest::newRow("text false any case") << QByteArray(R"({"isRead": "FaLsE"})") << false;
        QTest::newRow("text zero") << QByteArray(R"({"isRead": "0"})") << false;
        QTest::newRow("empty text") << QByteArray(R"({"isRead": ""})") << false;
        QTest::newRow("other text") << QByteArray(R"({"isRead": "no"})") << true;
    }

    void isRead()
    {
        QFETCH(QByteArray, notification);
        QFETCH(bool, expected);
        QCOMPARE(NotificationRecords::isRead(mapFrom(notification)), expected);
    }

    // Polling and the sign-in state

    void signInStartsPolling()
    {
        server().setResponse(kCount, countAnswer(1));
        NotificationsController controller(m_manager.get(), 60000);
        QTimer *timer = pollTimer(controller);
        QVERIFY(timer);
        QVERIFY(!timer->isActive());
        QVERIFY(!timer->isSingleShot());

        signIn();
        QTRY_COMPARE(server().requestCount(kCount), 1);
        settle();
        // Nothing went out before the sign-in, and the sign-in brought exactly one count.
        QCOMPARE(m_harness.sentByCodeUnderTest(), QStringList{QStringLiteral("GET ") + kCount});
        QVERIFY(timer->isActive());
        QCOMPARE(timer->interval(), 60000);
        QTRY_COMPARE(controller.unreadCount(), 1);
    }

    void eachTickSendsOneCount()
    {
        server().setResponse(kCount, countAnswer(1));
        signIn();
        NotificationsController controller(m_manager.get(), 50);
        QTimer *timer = pollTimer(controller);
        QSignalSpy ticks(timer, &QTimer::timeout);
        QTRY_VERIFY_WITH_TIMEOUT(ticks.size() >= 3, 10000);
        timer->stop();
        const int tickCount = int(ticks.size());
        QTRY_COMPARE(server().requestCount(kCount), 1 + tickCount);
        settle();
        QCOMPARE(server().requestCount(kCount), 1 + tickCount);
    }

    void tokenRefreshBringsOneCount()
    {
        server().setResponse(kCount, countAnswer(1));
        signIn();
        NotificationsController controller(m_manager.get(), 60000);
        QTRY_COMPARE(server().requestCount(kCount), 1);

        m_harness.answerRefresh(m_harness.tokenExpiringIn(3600), QStringLiteral("refresh-2"));
        bool refreshed = false;
        m_manager->refreshTokens(
            [&refreshed](const AuthRefreshResult &result) { refreshed = result.success; });
        QTRY_VERIFY(refreshed);
        QTRY_COMPARE(server().requestCount(kCount), 2);
        settle();
        QCOMPARE(server().requestCount(kCount), 2);
        QVERIFY(pollTimer(controller)->isActive());
        // A refresh is no sign-out: the list and count stay.
        QCOMPARE(controller.unreadCount(), 1);
    }

    void signOutEmptiesEverything_data()
    {
        QTest::addColumn<bool>("loaded");
        QTest::newRow("holding a list and a count") << true;
        QTest::newRow("already empty") << false;
    }

    void signOutEmptiesEverything()
    {
        QFETCH(bool, loaded);
        std::unique_ptr<NotificationsController> controller;
        if (loaded) {
            controller = loadedController(true, 3);
            QVERIFY(controller);
            QVERIFY(!controller->notifications().isEmpty());
        } else {
            server().setResponse(kCount, countAnswer(0));
            signIn();
            controller = std::make_unique<NotificationsController>(m_manager.get(), 60000);
            QTRY_COMPARE(server().requestCount(kCount), 1);
            settle();
        }
        QStringList events;
        recordSignals(*controller, events);

        m_manager->logout();

        QCOMPARE(events,
                 (QStringList{QStringLiteral("notificationsChanged"), QStringLiteral("unreadCountChanged")}));
        QCOMPARE(controller->notifications(), QVariantList());
        QCOMPARE(controller->unreadCount(), 0);
        QVERIFY(!pollTimer(*controller)->isActive());
        QCOMPARE(controller->isFilterUnread(), loaded);
    }

    void signedOutOperationsDoNothing_data()
    {
        QTest::addColumn<bool>("signedInBefore");
        QTest::newRow("never signed in") << false;
        QTest::newRow("signed out") << true;
    }

    void signedOutOperationsDoNothing()
    {
        QFETCH(bool, signedInBefore);
        std::unique_ptr<NotificationsController> controller;
        if (signedInBefore) {
            controller = loadedController(false, 3);
            QVERIFY(controller);
            m_manager->logout();
        } else {
            controller = std::make_unique<NotificationsController>(m_manager.get(), 60000);
        }
        const int before = server().totalRequestCount();
        QStringList events;
        recordSignals(*controller, events);

        controller->fetchNotifications();
        controller->fetchUnreadCount();
        controller->markAsRead(QStringLiteral("n1"));
        controller->markAllAsRead();
        settle();

        QCOMPARE(events, QStringList());
        QCOMPARE(server().totalRequestCount(), before + 1);
        QVERIFY(!controller->isLoading());
    }

    // Lists and failures

    void listRepliesAndFailures()
    {
        server().setResponses(kList, {Response::json(R"({"data": [{"id": "n1"}, {"id": "n2"}]})"),
                                      Response::json(R"({"message": "Down"})", 500),
                                      Response::json(R"({"data": [{"id": "n3"}]})")});
        server().setResponses(kCount, {countAnswer(5), countAnswer(2), countAnswer(7), countAnswer(1)});
        signIn();
        NotificationsController controller(m_manager.get(), 60000);
        QTRY_COMPARE(controller.unreadCount(), 5);
        QStringList events;
        recordSignals(controller, events);

        controller.fetchNotifications();
        QTRY_COMPARE(controller.unreadCount(), 2);
        QCOMPARE(stateOf(controller),
                 (QStringList{QStringLiteral("n1:unread"), QStringLiteral("n2:unread")}));
        QCOMPARE(events,
                 (QStringList{QStringLiteral("loadingStatusChanged"), QStringLiteral("loadingStatusChanged"),
                              QStringLiteral("failureChanged"), QStringLiteral("notificationsChanged"),
                              QStringLiteral("unreadCountChanged")}));
        events.clear();

        controller.fetchNotifications();
        QTRY_VERIFY(!controller.isLoading());
        settle();
        QCOMPARE(
            events,
            (QStringList{QStringLiteral("loadingStatusChanged"), QStringLiteral("loadingStatusChanged"),
                         QStringLiteral("failureChanged"), QStringLiteral("notificationsError:HTTP_500")}));
        QCOMPARE(controller.failure().code, QStringLiteral("HTTP_500"));
        QCOMPARE(stateOf(controller),
                 (QStringList{QStringLiteral("n1:unread"), QStringLiteral("n2:unread")}));
        // No count follows a failed list.
        QCOMPARE(server().requestCount(kCount), 2);

        controller.fetchUnreadCount();
        QTRY_COMPARE(controller.unreadCount(), 7);
        QCOMPARE(controller.failure().code, QStringLiteral("HTTP_500"));

        controller.fetchNotifications();
        QTRY_COMPARE(controller.unreadCount(), 1);
        QCOMPARE(controller.failure(), AppFailure());
        QCOMPARE(stateOf(controller), QStringList{QStringLiteral("n3:unread")});
    }

    void equalCountEmitsNothing()
    {
        server().setResponses(kCount, {countAnswer(3), countAnswer(3), countAnswer(4)});
        signIn();
        NotificationsController controller(m_manager.get(), 60000);
        QSignalSpy changed(&controller, &NotificationsController::unreadCountChanged);
        QTRY_COMPARE(controller.unreadCount(), 3);
        controller.fetchUnreadCount();
        controller.fetchUnreadCount();
        QTRY_COMPARE(controller.unreadCount(), 4);
        QCOMPARE(changed.size(), 2);
    }

    // Marking read

    void markAsRead_data()
    {
        QTest::addColumn<bool>("unreadFilter");
        QTest::addColumn<QString>("id");
        QTest::addColumn<int>("countBefore");
        QTest::addColumn<QStringList>("expectedState");
        QTest::addColumn<int>("expectedCount");

        QTest::newRow("unread, all shown")
            << false << QStringLiteral("n1") << 3
            << QStringList{QStringLiteral("n1:read"), QStringLiteral("n2:read"), QStringLiteral("n3:unread"),
                           QStringLiteral("4:unread")}
            << 2;
        QTest::newRow("unread, unread shown")
            << true << QStringLiteral("n1") << 3
            << QStringList{QStringLiteral("n3:unread"), QStringLiteral("4:unread")} << 2;
        QTest::newRow("numeric id matched as text")
            << false << QStringLiteral("4") << 3
            << QStringList{QStringLiteral("n1:unread"), QStringLiteral("n2:read"),
                           QStringLiteral("n3:unread"), QStringLiteral("4:read")}
            << 2;
        QTest::newRow("already read") << false << QStringLiteral("n2") << 3
                                      << QStringList{QStringLiteral("n1:unread"), QStringLiteral("n2:read"),
                                                     QStringLiteral("n3:unread"), QStringLiteral("4:unread")}
                                      << 3;
        QTest::newRow("unknown id") << false << QStringLiteral("n9") << 3
                                    << QStringList{QStringLiteral("n1:unread"), QStringLiteral("n2:read"),
                                                   QStringLiteral("n3:unread"), QStringLiteral("4:unread")}
                                    << 3;
        QTest::newRow("count already zero")
            << false << QStringLiteral("n3") << 0
            << QStringList{QStringLiteral("n1:unread"), QStringLiteral("n2:read"), QStringLiteral("n3:read"),
                           QStringLiteral("4:unread")}
            << 0;
    }

    void markAsRead()
    {
        QFETCH(bool, unreadFilter);
        QFETCH(QString, id);
        QFETCH(int, countBefore);
        QFETCH(QStringList, expectedState);
        QFETCH(int, expectedCount);
        const auto controller = loadedController(unreadFilter, countBefore);
        QVERIFY(controller);
        const QStringList stateBefore = stateOf(*controller);
        QSignalSpy listChanged(controller.get(), &NotificationsController::notificationsChanged);
        QSignalSpy countChanged(controller.get(), &NotificationsController::unreadCountChanged);

        controller->markAsRead(id);
        QCOMPARE(stateOf(*controller), expectedState);
        QCOMPARE(controller->unreadCount(), expectedCount);
        QCOMPARE(listChanged.size(), stateBefore == expectedState ? 0 : 1);
        QCOMPARE(countChanged.size(), expectedCount == countBefore ? 0 : 1);

        const QString route = kMarkPrefix + id + QStringLiteral("/read");
        QTRY_COMPARE(server().requestCount(route), 1);
        const QList<Request> marks = server().requests(route);
        QCOMPARE(marks.first().method, QByteArray("PATCH"));
        QCOMPARE(marks.first().body, QByteArray("{}"));
        settle();
        // A successful mark is not followed by a fetch.
        QCOMPARE(listRequests().size(), 1);
        QCOMPARE(stateOf(*controller), expectedState);
    }

    void markedIdIsOnePathSegment_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("target");
        QTest::newRow("slash") << QStringLiteral("a/b") << QStringLiteral("/api/v1/notifications/a%2Fb/read");
        QTest::newRow("query and fragment")
            << QStringLiteral("n1?x#y") << QStringLiteral("/api/v1/notifications/n1%3Fx%23y/read");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("dot") << QStringLiteral(".") << QString();
        QTest::newRow("dot dot") << QStringLiteral("..") << QString();
    }

    void markedIdIsOnePathSegment()
    {
        QFETCH(QString, id);
        QFETCH(QString, target);
        QJsonArray list;
        for (const char *unreadId : {"", "..", "a/b", "n1?x#y"})
            list.append(QJsonObject{{QStringLiteral("id"), QLatin1String(unreadId)},
                                    {QStringLiteral("isRead"), false}});
        server().setResponse(
            kList, Response::json(QJsonDocument(QJsonObject{{QStringLiteral("data"), list}}).toJson()));
        server().setResponses(kCount, {countAnswer(5), countAnswer(3)});
        server().setPrefixHandler(kMarkPrefix, [](const Request &) { return Response::json("{}"); });
        signIn();
        NotificationsController controller(m_manager.get(), 60000);
        QTRY_COMPARE(controller.unreadCount(), 5);
        controller.fetchNotifications();
        QTRY_COMPARE(controller.unreadCount(), 3);
        const QStringList before = stateOf(controller);

        controller.markAsRead(id);
        QStringList expected;
        if (!target.isEmpty())
            expected.append(target);
        QTRY_COMPARE(sent("PATCH"), expected);
        settle();
        QCOMPARE(sent("PATCH"), expected);
        QCOMPARE(controller.unreadCount(), target.isEmpty() ? 3 : 2);
        QCOMPARE(stateOf(controller) == before, target.isEmpty());
    }

    void markAllAsRead_data()
    {
        QTest::addColumn<bool>("unreadFilter");
        QTest::addColumn<QStringList>("expectedState");
        QTest::newRow("unread shown: records stay")
            << true
            << QStringList{QStringLiteral("n1:read"), QStringLiteral("n3:read"), QStringLiteral("4:read")};
        QTest::newRow("all shown") << false
                                   << QStringList{QStringLiteral("n1:read"), QStringLiteral("n2:read"),
                                                  QStringLiteral("n3:read"), QStringLiteral("4:read")};
    }

    void markAllAsRead()
    {
        QFETCH(bool, unreadFilter);
        QFETCH(QStringList, expectedState);
        const auto controller = loadedController(unreadFilter, 3);
        QVERIFY(controller);
        QStringList events;
        recordSignals(*controller, events);

        controller->markAllAsRead();
        QCOMPARE(stateOf(*controller), expectedState);
        QCOMPARE(controller->unreadCount(), 0);
        QCOMPARE(events,
                 (QStringList{QStringLiteral("notificationsChanged"), QStringLiteral("unreadCountChanged")}));

        // Nothing left to change: no signal, but the server is still told.
        events.clear();
        controller->markAllAsRead();
        QCOMPARE(events, QStringList());

        QTRY_COMPARE(server().requestCount(kMarkPrefix + QStringLiteral("read-all")), 2);
        for (const Request &request : server().requests(kMarkPrefix + QStringLiteral("read-all"))) {
            QCOMPARE(request.method, QByteArray("POST"));
            QCOMPARE(request.body, QByteArray("{}"));
        }
    }

    void failedMarkFetchesTheListAgain_data()
    {
        QTest::addColumn<bool>("all");
        QTest::addColumn<bool>("unreadFilter");
        QTest::newRow("one, all shown") << false << false;
        QTest::newRow("one, unread shown") << false << true;
        QTest::newRow("all, all shown") << true << false;
        QTest::newRow("all, unread shown") << true << true;
    }

    void failedMarkFetchesTheListAgain()
    {
        QFETCH(bool, all);
        QFETCH(bool, unreadFilter);
        const auto controller = loadedController(unreadFilter, 3);
        QVERIFY(controller);
        server().setPrefixHandler(
            kMarkPrefix, [](const Request &) { return Response::json(R"({"message": "Down"})", 500); });
        QSignalSpy errors(controller.get(), &NotificationsController::notificationsError);

        if (all)
            controller->markAllAsRead();
        else
            controller->markAsRead(QStringLiteral("n1"));
        QVERIFY(errors.wait(10000));
        QCOMPARE(errors.first().first().value<AppFailure>().code, QStringLiteral("HTTP_500"));
        QCOMPARE(controller->failure().code, QStringLiteral("HTTP_500"));

        // The refetch puts the server's state back; the count follows it.
        QTRY_COMPARE(controller->unreadCount(), 3);
        settle();
        QCOMPARE(errors.size(), 1);
        const QString expected = unreadFilter ? kListUnread : kListAll;
        QCOMPARE(listRequests(), (QStringList{expected, expected}));
        QVERIFY(controller->failure().code.isEmpty());
    }

    // The filter

    void filterSwitches()
    {
        server().setHandler(kList, standardList);
        server().setResponse(kCount, countAnswer(3));
        signIn();
        NotificationsController controller(m_manager.get(), 60000);
        QSignalSpy filterChanged(&controller, &NotificationsController::filterChanged);

        controller.setFilterUnread(true);
        controller.setFilterUnread(true);
        QCOMPARE(filterChanged.size(), 1);
        QVERIFY(controller.isFilterUnread());
        QTRY_COMPARE(listRequests().size(), 1);
        settle();
        QCOMPARE(listRequests(), QStringList{kListUnread});

        controller.setFilterUnread(false);
        controller.setFilterUnread(true);
        controller.setFilterUnread(false);
        QCOMPARE(filterChanged.size(), 4);
        QTRY_COMPARE(listRequests().size(), 4);
        settle();
        const QStringList lists = listRequests();
        QCOMPARE(lists.count(kListUnread), 2);
        QCOMPARE(lists.count(kListAll), 2);
    }

    void lastReplyToArriveSetsTheList_data()
    {
        QTest::addColumn<bool>("unreadLast");
        QTest::newRow("all answered last") << false;
        QTest::newRow("unread answered last") << true;
    }

    void lastReplyToArriveSetsTheList()
    {
        QFETCH(bool, unreadLast);
        server().setResponse(kListAll,
                             held(Response::json(R"({"data": [{"id": "all-1"}, {"id": "all-2"}]})")));
        server().setResponse(kListUnread, held(Response::json(R"({"data": [{"id": "unread-1"}]})")));
        server().setResponse(kCount, countAnswer(0));
        signIn();
        NotificationsController controller(m_manager.get(), 60000);

        controller.fetchNotifications();
        controller.setFilterUnread(true);
        QTRY_COMPARE(listRequests().size(), 2);
        QVERIFY(controller.isLoading());

        const QString first = unreadLast ? kListAll : kListUnread;
        const QString last = unreadLast ? kListUnread : kListAll;
        const QStringList firstIds =
            unreadLast ? QStringList{QStringLiteral("all-1:unread"), QStringLiteral("all-2:unread")}
                       : QStringList{QStringLiteral("unread-1:unread")};
        const QStringList lastIds =
            unreadLast ? QStringList{QStringLiteral("unread-1:unread")}
                       : QStringList{QStringLiteral("all-1:unread"), QStringLiteral("all-2:unread")};
        server().release(first);
        QTRY_COMPARE(stateOf(controller), firstIds);
        // Loading ends with the first list reply.
        QVERIFY(!controller.isLoading());
        server().release(last);
        QTRY_COMPARE(stateOf(controller), lastIds);
    }

    // Late replies

    void controllerGoneBeforeTheReply()
    {
        server().setResponse(kList, held(Response::json(R"({"data": [{"id": "n1"}]})")));
        server().setResponse(kCount, countAnswer(2));
        signIn();
        auto controller = std::make_unique<NotificationsController>(m_manager.get(), 60000);
        QTRY_COMPARE(controller->unreadCount(), 2);
        controller->fetchNotifications();
        QTRY_COMPARE(listRequests().size(), 1);
        QSignalSpy listChanged(controller.get(), &NotificationsController::notificationsChanged);
        QSignalSpy loading(controller.get(), &NotificationsController::loadingStatusChanged);
        controller.reset();

        QSignalSpy answered(&server(), &FixtureServer::responseFinished);
        server().release(kList);
        QTRY_VERIFY_WITH_TIMEOUT(!answered.isEmpty(), 10000);
        settle();
        QCOMPARE(listChanged.size(), 0);
        QCOMPARE(loading.size(), 0);
        // The follow-up count of a list reply would show that the reply reached the controller.
        QCOMPARE(server().requestCount(kCount), 1);
    }

    // A reply to a request of the signed-out user never refills the list or count, for nobody
    // or for the next user.
    void repliesAfterSignOutChangeNothing_data()
    {
        QTest::addColumn<bool>("nextUserSignsIn");
        QTest::newRow("nobody signs in") << false;
        QTest::newRow("another account signs in") << true;
    }

    void repliesAfterSignOutChangeNothing()
    {
        QFETCH(bool, nextUserSignsIn);
        const QByteArray firstToken = m_harness.tokenExpiringIn(3600, QStringLiteral("u-1"));
        const auto isFirstUser = [firstToken](const Request &request) {
            return request.header("Authorization") == "Bearer " + firstToken;
        };
        server().setHandler(kList, [isFirstUser](const Request &request) {
            return isFirstUser(request) ? held(Response::json(R"({"data": [{"id": "first-1"}]})"))
                                        : Response::json(R"({"data": [{"id": "second-1"}]})");
        });
        server().setHandler(kCount, [isFirstUser](const Request &request) {
            return isFirstUser(request) ? held(countAnswer(9)) : countAnswer(1);
        });
        signIn(QStringLiteral("u-1"));
        NotificationsController controller(m_manager.get(), 60000);
        controller.fetchNotifications();
        QTRY_COMPARE(server().requestCount(kCount), 1);
        QTRY_COMPARE(listRequests().size(), 1);

        QStringList seen;
        connect(&controller, &NotificationsController::notificationsChanged, &controller,
                [&] { seen.append(stateOf(controller)); });
        connect(&controller, &NotificationsController::unreadCountChanged, &controller,
                [&] { seen.append(QString::number(controller.unreadCount())); });
        m_manager->logout();
        if (nextUserSignsIn) {
            signIn(QStringLiteral("u-2"));
            QTRY_COMPARE(controller.unreadCount(), 1);
        }
        QSignalSpy loading(&controller, &NotificationsController::loadingStatusChanged);

        QSignalSpy answered(&server(), &FixtureServer::responseFinished);
        server().release(kList);
        server().release(kCount);
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 2, 10000);
        QTRY_VERIFY(!controller.isLoading());
        settle();

        QCOMPARE(loading.size(), 1);
        QCOMPARE(controller.notifications(), QVariantList());
        QCOMPARE(controller.unreadCount(), nextUserSignsIn ? 1 : 0);
        QVERIFY(!seen.contains(QStringLiteral("first-1:unread")));
        QVERIFY(!seen.contains(QStringLiteral("9")));
        QVERIFY(controller.failure().code.isEmpty());
    }

    void failedMarkOfTheSignedOutUserStartsNoFetch()
    {
        const auto controller = loadedController(false, 3);
        QVERIFY(controller);
        server().setPrefixHandler(
            kMarkPrefix, [](const Request &) { return held(Response::json(R"({"message": "Down"})", 500)); });
        controller->markAsRead(QStringLiteral("n1"));
        QTRY_COMPARE(server().requestCount(kMarkPrefix + QStringLiteral("n1/read")), 1);
        m_manager->logout();
        signIn(QStringLiteral("u-2"));
        QSignalSpy errors(controller.get(), &NotificationsController::notificationsError);

        QSignalSpy answered(&server(), &FixtureServer::responseFinished);
        server().release(kMarkPrefix + QStringLiteral("n1/read"));
        QTRY_VERIFY_WITH_TIMEOUT(!answered.isEmpty(), 10000);
        settle();

        QCOMPARE(errors.size(), 0);
        QVERIFY(controller->failure().code.isEmpty());
        QCOMPARE(listRequests().size(), 1);
    }
};

QTEST_MAIN(tst_NotificationsController)
#include "tst_NotificationsController.moc"
