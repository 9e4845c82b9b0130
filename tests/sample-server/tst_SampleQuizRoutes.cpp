#include "net/NetworkManager.h"
#include "quiz/QuizController.h"
#include "sample-server/SampleQuizRoutes.h"
#include "tests/sample-server/SamplePlatformSession.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>
#include <memory>

using quorin::test::SamplePlatformSession;

namespace {

const QString kOriginalStamp = QStringLiteral("2025-01-20T10:00:00.000Z");

QJsonObject answer(const QString &questionId, const QJsonValue &value, const QString &stamp = kOriginalStamp)
{
    return {{QStringLiteral("questionId"), questionId},
            {QStringLiteral("questionUpdatedAt"), stamp},
            {QStringLiteral("answer"), value}};
}

QJsonObject answers(int baseRevision, const QJsonArray &entries)
{
    return {{QStringLiteral("baseRevision"), baseRevision}, {QStringLiteral("answers"), entries}};
}

// The answers of an attempt as question id -> answer.
QVariantMap answersOf(const QJsonObject &attempt)
{
    QVariantMap found;
    const QJsonArray list = attempt.value(QStringLiteral("answers")).toArray();
    for (const QJsonValue &entry : list)
        found.insert(entry.toObject().value(QStringLiteral("questionId")).toString(),
                     entry.toObject().value(QStringLiteral("answer")).toVariant());
    return found;
}

} // namespace

// The sample platform's quiz routes, as the demo client meets them: through the real quiz
// controller, signed in with the sample account.
class tst_SampleQuizRoutes : public QObject
{
    Q_OBJECT

private:
    quorin::test::InMemoryKeychain m_keychain;
    std::unique_ptr<SamplePlatformSession> m_platform;
    std::unique_ptr<NetworkManager> m_manager;
    QNetworkAccessManager m_network;

    [[nodiscard]] QByteArray accessToken() const
    {
        return m_manager->mediaAuthenticationSnapshot().authorization;
    }

    // One request outside the client: the answer's status and its body read as JSON.
    QPair<int, QJsonDocument> fetch(const QByteArray &method, const QString &path,
                                    const QByteArray &authorization, const QJsonObject &body = {})
    {
        QNetworkRequest request(m_platform->apiBase().resolved(QUrl(path)));
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        if (!authorization.isEmpty())
            request.setRawHeader("Authorization", authorization);
        const QByteArray content = method == "POST" || method == "PUT"
                                       ? QJsonDocument(body).toJson(QJsonDocument::Compact)
                                       : QByteArray();
        std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(request, method, content));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        if (!finished.wait(10000))
            return {-1, {}};
        return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                QJsonDocument::fromJson(reply->readAll())};
    }

    // Starts an attempt at the quiz outside the client; its id, or empty text.
    QString started(const QString &quizId, const QJsonObject &body = {})
    {
        const auto answer =
            fetch("POST", QStringLiteral("quizzes/%1/attempts").arg(quizId), accessToken(), body);
        return answer.first == 201 ? answer.second.object().value(QStringLiteral("id")).toString()
                                   : QString();
    }

    QJsonObject quizDetails(const QString &quizId)
    {
        return fetch("GET", QStringLiteral("quizzes/") + quizId, accessToken()).second.object();
    }

    std::unique_ptr<QuizController> controllerFor(const QString &quizId)
    {
        QuizController::Configuration configuration;
        configuration.network = m_manager.get();
        configuration.intervals.syncMs = 20;
        configuration.userId = [] { return QStringLiteral("u-1001"); };
        configuration.currentUtc = [] { return QDateTime::currentDateTimeUtc(); };
        auto controller = std::make_unique<QuizController>(std::move(configuration));
        controller->setQuizId(quizId);
        return controller;
    }

    // Loads the quiz and waits for its history too.
    [[nodiscard]] static bool load(QuizController &controller, int historySize)
    {
        controller.open();
        return QTest::qWaitFor([&controller] { return controller.state() != QuizController::Loading; },
                               10000) &&
               QTest::qWaitFor([&] { return controller.attempts().size() == historySize; }, 10000);
    }

    // A platform of these options, the client signed in to it.
    void startPlatform(const SampleServer::Options &options)
    {
        m_manager.reset();
        m_platform = std::make_unique<SamplePlatformSession>();
        QVERIFY2(m_platform->start(options), qPrintable(m_platform->errorString()));

        m_keychain.clear();
        NetworkManager::Configuration client;
        client.baseUrl = m_platform->apiBase().toString();
        client.credentialStore = m_keychain.createStore();
        m_manager = std::make_unique<NetworkManager>(std::move(client));
        QSignalSpy signedIn(m_manager.get(), &NetworkManager::loginSuccess);
        m_manager->login(SamplePlatformSession::kNumber, SamplePlatformSession::kPassword, QString());
        QVERIFY(signedIn.wait(10000));
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        m_keychain.installAsNative();
    }

    // A fresh platform for every test: the attempts live in its memory.
    void init() { startPlatform(SamplePlatformSession::defaultOptions()); }

    void cleanup()
    {
        m_manager.reset();
        m_platform.reset();
    }

    void routesNeedASignedInUser_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::newRow("quiz") << QByteArray("GET") << QStringLiteral("quizzes/qz-201");
        QTest::newRow("attempts") << QByteArray("GET") << QStringLiteral("quizzes/qz-201/attempts");
        QTest::newRow("start") << QByteArray("POST") << QStringLiteral("quizzes/qz-205/attempts");
        QTest::newRow("unknown quiz") << QByteArray("GET") << QStringLiteral("quizzes/qz-999");
        QTest::newRow("save") << QByteArray("PUT") << QStringLiteral("attempts/qz-201-att-1/answers");
        QTest::newRow("submission") << QByteArray("POST") << QStringLiteral("attempts/qz-201-att-1/submit");
        QTest::newRow("singular submission")
            << QByteArray("POST") << QStringLiteral("attempt/qz-201-att-1/submit");
    }

    void routesNeedASignedInUser()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        QCOMPARE(fetch(method, path, QByteArray()).first, 401);
        QCOMPARE(fetch(method, path, QByteArrayLiteral("Bearer not-a-token")).first, 401);

        // The refused start began nothing.
        QCOMPARE(fetch("GET", QStringLiteral("quizzes/qz-205/attempts"), accessToken()).second.array(),
                 QJsonArray());
    }

    void unknownQuizIsNotFound_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("path");
        QTest::newRow("unknown id") << QByteArray("GET") << QStringLiteral("quizzes/qz-999");
        QTest::newRow("unknown id's attempts")
            << QByteArray("GET") << QStringLiteral("quizzes/qz-999/attempts");
        QTest::newRow("start of an unknown id")
            << QByteArray("POST") << QStringLiteral("quizzes/qz-999/attempts");
        QTest::newRow("id naming another file") << QByteArray("GET") << QStringLiteral("quizzes/..%2Fme");
        QTest::newRow("id with a path") << QByteArray("GET") << QStringLiteral("quizzes/quizzes%2Fqz-201");
        QTest::newRow("other member") << QByteArray("GET") << QStringLiteral("quizzes/qz-201/answers");
        QTest::newRow("unknown attempt") << QByteArray("PUT") << QStringLiteral("attempts/att-999/answers");
        QTest::newRow("unknown attempt's submission")
            << QByteArray("POST") << QStringLiteral("attempts/att-999/submit");
        QTest::newRow("saving on the singular path")
            << QByteArray("PUT") << QStringLiteral("attempt/qz-201-att-1/answers");
        QTest::newRow("attempt id with a path")
            << QByteArray("PUT") << QStringLiteral("attempts/x%2F..%2Fy/answers");
    }

    void unknownQuizIsNotFound()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, path);
        const auto answer = fetch(method, path, accessToken());
        QCOMPARE(answer.first, 404);
        QVERIFY(!answer.second.object().value(QStringLiteral("message")).toString().isEmpty());
    }

    void everySampleQuizLoads_data()
    {
        QTest::addColumn<QString>("quizId");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("questionCount");
        QTest::addColumn<QStringList>("history");
        QTest::addColumn<bool>("available");
        QTest::addColumn<int>("leaderboardSize");

        QTest::newRow("practice with two finished attempts")
            << QStringLiteral("qz-201") << int(QuizController::Result) << QStringLiteral("ORDINARY") << 6
            << QStringList({"qz-201-att-2", "qz-201-att-1"}) << true << 0;
        QTest::newRow("timed, open since the platform started")
            << QStringLiteral("qz-202") << int(QuizController::Ready) << QStringLiteral("TIMED") << 3
            << QStringList() << true << 3;
        QTest::newRow("timed, opening later") << QStringLiteral("qz-203") << int(QuizController::Ready)
                                              << QStringLiteral("TIMED") << 2 << QStringList() << false << 0;
        QTest::newRow("leaderboard only") << QStringLiteral("qz-204") << int(QuizController::Leaderboard)
                                          << QStringLiteral("TIMED") << 2 << QStringList() << false << 3;
        QTest::newRow("ordinary") << QStringLiteral("qz-205") << int(QuizController::Ready)
                                  << QStringLiteral("ORDINARY") << 3 << QStringList() << true << 0;
        QTest::newRow("ordinary, with pictures")
            << QStringLiteral("qz-206") << int(QuizController::Ready) << QStringLiteral("ORDINARY") << 3
            << QStringList() << true << 0;
    }

    void everySampleQuizLoads()
    {
        QFETCH(QString, quizId);
        QFETCH(int, state);
        QFETCH(QString, type);
        QFETCH(int, questionCount);
        QFETCH(QStringList, history);
        QFETCH(bool, available);
        QFETCH(int, leaderboardSize);
        const auto controller = controllerFor(quizId);

        QVERIFY(load(*controller, int(history.size())));

        QCOMPARE(int(controller->state()), state);
        QCOMPARE(controller->errorMessage(), QString());
        QCOMPARE(controller->quizType(), type);
        QVERIFY(!controller->title().isEmpty());
        QCOMPARE(controller->questions().size(), questionCount);
        QCOMPARE(SamplePlatformSession::idsOf(controller->attempts()), history);
        QCOMPARE(controller->available(), available);
        QCOMPARE(controller->leaderboard().size(), leaderboardSize);
    }

    void finishedAttemptIsTheNewest()
    {
        const auto answer = fetch("GET", QStringLiteral("quizzes/qz-201"), accessToken());
        QCOMPARE(answer.first, 200);
        const QJsonObject details = answer.second.object();
        QVERIFY(details.value(QStringLiteral("activeAttempt")).isNull());
        QCOMPARE(details.value(QStringLiteral("attempt")).toObject().value(QStringLiteral("id")).toString(),
                 QStringLiteral("qz-201-att-2"));
        // Links are written for the demo's port and answered on the server's own origin.
        const QString link = details.value(QStringLiteral("quiz"))
                                 .toObject()
                                 .value(QStringLiteral("customGptLink"))
                                 .toString();
        QVERIFY2(link.startsWith(m_platform->apiBase().resolved(QUrl(QStringLiteral("/"))).toString()),
                 qPrintable(link));
    }

    void ordinaryQuizStartsOnce()
    {
        const auto controller = controllerFor(QStringLiteral("qz-205"));
        QVERIFY(load(*controller, 0));

        controller->startAttempt();
        QTRY_COMPARE(controller->state(), QuizController::Active);
        QCOMPARE(controller->revision(), 1);
        QCOMPARE(controller->answers(), QVariantMap());
        QVERIFY(controller->canEdit());

        // The open attempt comes back as it is, and a reload finds it open.
        const auto again = fetch("POST", QStringLiteral("quizzes/qz-205/attempts"), accessToken());
        QCOMPARE(again.first, 200);
        const QJsonObject attempt = again.second.object();
        QCOMPARE(attempt.value(QStringLiteral("status")).toString(), QStringLiteral("ACTIVE"));
        QCOMPARE(attempt.value(QStringLiteral("revision")).toInt(), 1);
        QVERIFY(!attempt.contains(QStringLiteral("expiresAt")));

        const auto reopened = controllerFor(QStringLiteral("qz-205"));
        QVERIFY(load(*reopened, 0));
        QCOMPARE(reopened->state(), QuizController::Active);
        QCOMPARE(reopened->localPath(), controller->localPath());
        QCOMPARE(fetch("GET", QStringLiteral("quizzes/qz-205/attempts"), accessToken()).second.array().size(),
                 1);
    }

    // The hold that lets the start placeholder be seen: each start of the held quiz waits, then is
    // refused, and begins nothing, so the quiz can be started (and held) again.
    void heldQuizStartIsRefusedAfterItsHold()
    {
        SampleServer::Options options = SamplePlatformSession::defaultOptions();
        options.heldStartQuiz = QStringLiteral("qz-205");
        options.startHoldMs = 400;
        startPlatform(options);
        if (QTest::currentTestFailed())
            return;

        for (int round = 0; round < 2; ++round) {
            const auto controller = controllerFor(QStringLiteral("qz-205"));
            QVERIFY(load(*controller, 0));
            QCOMPARE(controller->state(), QuizController::Ready);
            QSignalSpy feedback(controller.get(), &QuizController::feedback);
            QElapsedTimer held;
            held.start();
            controller->startAttempt();
            QVERIFY(controller->startingAttempt());

            QTRY_VERIFY_WITH_TIMEOUT(!controller->startingAttempt(), 10000);
            // A coarse timer may fire a little early.
            QVERIFY2(held.elapsed() >= 350, qPrintable(QString::number(held.elapsed())));
            QCOMPARE(controller->state(), QuizController::Ready);
            QCOMPARE(feedback.size(), 1);
            QCOMPARE(feedback.first().at(1).toString(), QStringLiteral("error"));
            QCOMPARE(fetch("GET", QStringLiteral("quizzes/qz-205/attempts"), accessToken()).second.array(),
                     QJsonArray());
            QVERIFY(quizDetails(QStringLiteral("qz-205")).value(QStringLiteral("activeAttempt")).isNull());
        }

        // Other quizzes start as before.
        QVERIFY(!started(QStringLiteral("qz-206")).isEmpty());
    }

    // Every picture a sample question shows is on the platform's media origin.
    void questionImagesAreServed()
    {
        QStringList images;
        for (const char *quizId : {"qz-201", "qz-202", "qz-203", "qz-204", "qz-205", "qz-206"}) {
            const QJsonArray questions = quizDetails(QString::fromLatin1(quizId))
                                             .value(QStringLiteral("quiz"))
                                             .toObject()
                                             .value(QStringLiteral("questions"))
                                             .toArray();
            for (const QJsonValue &question : questions) {
                const QString image = question.toObject().value(QStringLiteral("imageUrl")).toString();
                if (!image.isEmpty())
                    images.append(image);
            }
        }
        QVERIFY(!images.isEmpty());
        const QString origin = m_platform->apiBase().resolved(QUrl(QStringLiteral("/"))).toString();
        for (const QString &image : std::as_const(images)) {
            QVERIFY2(image.startsWith(origin), qPrintable(image));
            std::unique_ptr<QNetworkReply> reply(m_network.get(QNetworkRequest(QUrl(image))));
            QSignalSpy finished(reply.get(), &QNetworkReply::finished);
            QVERIFY(finished.wait(10000));
            QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
            QVERIFY2(reply->readAll().startsWith("\x89PNG\r\n\x1a\n"), qPrintable(image));
        }
    }

    void timedQuizStartFollowsItsWindow()
    {
        QCOMPARE(fetch("POST", QStringLiteral("quizzes/qz-202/attempts"), accessToken(),
                       {{QStringLiteral("nickname"), QStringLiteral("  ")}})
                     .first,
                 400);
        const auto early = fetch("POST", QStringLiteral("quizzes/qz-203/attempts"), accessToken(),
                                 {{QStringLiteral("nickname"), QStringLiteral("bob")}});
        QCOMPARE(early.first, 403);
        QVERIFY(!early.second.object().value(QStringLiteral("message")).toString().isEmpty());
        QCOMPARE(fetch("POST", QStringLiteral("quizzes/qz-204/attempts"), accessToken(),
                       {{QStringLiteral("nickname"), QStringLiteral("bob")}})
                     .first,
                 403);

        const auto controller = controllerFor(QStringLiteral("qz-202"));
        QVERIFY(load(*controller, 0));
        controller->startAttempt(QStringLiteral(" bob "));
        QTRY_COMPARE(controller->state(), QuizController::Active);

        const QJsonObject quiz = fetch("GET", QStringLiteral("quizzes/qz-202"), accessToken())
                                     .second.object()
                                     .value(QStringLiteral("quiz"))
                                     .toObject();
        const QJsonObject attempt = fetch("GET", QStringLiteral("quizzes/qz-202/attempts"), accessToken())
                                        .second.array()
                                        .first()
                                        .toObject();
        QCOMPARE(attempt.value(QStringLiteral("nickname")).toString(), QStringLiteral("bob"));
        const QDateTime startsAt =
            QDateTime::fromString(quiz.value(QStringLiteral("startsAt")).toString(), Qt::ISODateWithMs);
        QVERIFY(startsAt.isValid());
        QCOMPARE(
            QDateTime::fromString(attempt.value(QStringLiteral("expiresAt")).toString(), Qt::ISODateWithMs),
            startsAt.addSecs(3600));
    }

    void saveAppliesAnswersAndRaisesTheRevision()
    {
        const QString attemptId = started(QStringLiteral("qz-205"));
        QVERIFY(!attemptId.isEmpty());
        const QString path = QStringLiteral("attempts/%1/answers").arg(attemptId);

        QJsonObject graded = answer(QStringLiteral("qz-205-q3"), QStringLiteral("To compare"));
        graded.insert(QStringLiteral("selfGradedCorrect"), true);
        const auto first =
            fetch("PUT", path, accessToken(), answers(1, {answer(QStringLiteral("qz-205-q1"), 1), graded}));
        QCOMPARE(first.first, 200);
        const QJsonObject saved = first.second.object();
        QCOMPARE(saved.value(QStringLiteral("revision")).toInt(), 2);
        QCOMPARE(answersOf(saved),
                 (QVariantMap{{QStringLiteral("qz-205-q1"), 1},
                              {QStringLiteral("qz-205-q3"), QStringLiteral("To compare")}}));
        QCOMPARE(saved.value(QStringLiteral("answers"))
                     .toArray()
                     .last()
                     .toObject()
                     .value(QStringLiteral("selfGradedCorrect")),
                 QJsonValue(true));

        const auto cleared = fetch("PUT", path, accessToken(),
                                   answers(2, {answer(QStringLiteral("qz-205-q1"), QJsonValue::Null)}));
        QCOMPARE(cleared.first, 200);
        QCOMPARE(cleared.second.object().value(QStringLiteral("revision")).toInt(), 3);
        QCOMPARE(answersOf(cleared.second.object()),
                 (QVariantMap{{QStringLiteral("qz-205-q3"), QStringLiteral("To compare")}}));
        // The reload shows what was saved.
        const QJsonObject open =
            quizDetails(QStringLiteral("qz-205")).value(QStringLiteral("activeAttempt")).toObject();
        QCOMPARE(open.value(QStringLiteral("revision")).toInt(), 3);
        QCOMPARE(answersOf(open), answersOf(cleared.second.object()));
    }

    void refusedSavesCarryTheirCode_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("code");
        QTest::newRow("old revision")
            << QStringLiteral("old revision") << QStringLiteral("ATTEMPT_REVISION_CONFLICT");
        QTest::newRow("old question stamp")
            << QStringLiteral("old stamp") << QStringLiteral("QUESTION_VERSION_CONFLICT");
        QTest::newRow("submitted attempt") << QStringLiteral("submitted") << QStringLiteral("ATTEMPT_CLOSED");
    }

    void refusedSavesCarryTheirCode()
    {
        QFETCH(QString, situation);
        QFETCH(QString, code);
        const QString attemptId = started(QStringLiteral("qz-205"));
        QVERIFY(!attemptId.isEmpty());
        const QString path = QStringLiteral("attempts/%1/answers").arg(attemptId);
        // The first accepted save: the teacher then changes the second question.
        QCOMPARE(
            fetch("PUT", path, accessToken(), answers(1, {answer(QStringLiteral("qz-205-q1"), 1)})).first,
            200);
        QJsonObject request = answers(2, {answer(QStringLiteral("qz-205-q1"), 2)});
        if (situation == QLatin1String("old revision"))
            request = answers(1, {answer(QStringLiteral("qz-205-q1"), 2)});
        else if (situation == QLatin1String("old stamp"))
            request = answers(2, {answer(QStringLiteral("qz-205-q2"), 1)});
        else
            QCOMPARE(fetch("POST", QStringLiteral("attempts/%1/submit").arg(attemptId), accessToken(),
                           answers(2, {}))
                         .first,
                     200);

        const auto refused = fetch("PUT", path, accessToken(), request);

        QCOMPARE(refused.first, 409);
        const QJsonObject body = refused.second.object();
        QCOMPARE(body.value(QStringLiteral("code")).toString(), code);
        QVERIFY(!body.value(QStringLiteral("message")).toString().isEmpty());
        const QJsonObject attempt = body.value(QStringLiteral("attempt")).toObject();
        QCOMPARE(attempt.value(QStringLiteral("id")).toString(), attemptId);
        // Nothing of the refused save was kept.
        QCOMPARE(answersOf(attempt), (QVariantMap{{QStringLiteral("qz-205-q1"), 1}}));
        QCOMPARE(attempt.value(QStringLiteral("revision")).toInt(),
                 situation == QLatin1String("submitted") ? 3 : 2);
    }

    void submissionScoresAndRanks()
    {
        const QString attemptId =
            started(QStringLiteral("qz-202"), {{QStringLiteral("nickname"), QStringLiteral("Bob")}});
        QVERIFY(!attemptId.isEmpty());
        const QString stamp = QStringLiteral("2025-02-01T08:00:00.000Z");

        // The singular path submits as well.
        const auto submitted =
            fetch("POST", QStringLiteral("attempt/%1/submit").arg(attemptId), accessToken(),
                  answers(1, {answer(QStringLiteral("qz-202-q1"), 1, stamp),
                              answer(QStringLiteral("qz-202-q2"), 0, stamp),
                              answer(QStringLiteral("qz-202-q3"), 1, stamp)}));

        QCOMPARE(submitted.first, 200);
        const QJsonObject attempt = submitted.second.object();
        QCOMPARE(attempt.value(QStringLiteral("status")).toString(), QStringLiteral("SUBMITTED"));
        QVERIFY(
            QDateTime::fromString(attempt.value(QStringLiteral("submittedAt")).toString(), Qt::ISODateWithMs)
                .isValid());
        QCOMPARE(attempt.value(QStringLiteral("score")).toInt(), 2);
        QCOMPARE(attempt.value(QStringLiteral("maxScore")).toInt(), 3);
        const QJsonObject details = quizDetails(QStringLiteral("qz-202"));
        QVERIFY(details.value(QStringLiteral("activeAttempt")).isNull());
        QCOMPARE(details.value(QStringLiteral("attempt")).toObject().value(QStringLiteral("id")).toString(),
                 attemptId);
        const QJsonArray leaderboard = details.value(QStringLiteral("leaderboard")).toArray();
        QCOMPARE(leaderboard.size(), 4);
        QJsonObject own;
        for (const QJsonValue &entry : leaderboard) {
            QVERIFY(!entry.toObject().contains(QStringLiteral("userId")));
            if (entry.toObject().value(QStringLiteral("isCurrentUser")).toBool())
                own = entry.toObject();
        }
        QCOMPARE(own.value(QStringLiteral("nickname")).toString(), QStringLiteral("Bob"));
        QCOMPARE(own.value(QStringLiteral("score")).toInt(), 2);
        QCOMPARE(own.value(QStringLiteral("rank")).toInt(), 2);
        QCOMPARE(details.value(QStringLiteral("rank")).toInt(), 2);
    }

    void writtenAnswersAwaitGrading()
    {
        const QString attemptId = started(QStringLiteral("qz-205"));
        QVERIFY(!attemptId.isEmpty());
        QCOMPARE(quizDetails(QStringLiteral("qz-205")).value(QStringLiteral("pendingAnswersCount")).toInt(),
                 0);

        const auto submitted =
            fetch("POST", QStringLiteral("attempts/%1/submit").arg(attemptId), accessToken(),
                  answers(1, {answer(QStringLiteral("qz-205-q1"), 1),
                              answer(QStringLiteral("qz-205-q3"), QStringLiteral("To compare"))}));

        QCOMPARE(submitted.first, 200);
        QCOMPARE(submitted.second.object().value(QStringLiteral("score")).toInt(), 1);
        QCOMPARE(submitted.second.object().value(QStringLiteral("maxScore")).toInt(), 2);
        QCOMPARE(quizDetails(QStringLiteral("qz-205")).value(QStringLiteral("pendingAnswersCount")).toInt(),
                 1);
    }

    // The client against the platform: a save, the question the teacher changes after it, the
    // review, and the submission.
    void changedQuestionIsReviewedThroughTheClient()
    {
        const auto controller = controllerFor(QStringLiteral("qz-205"));
        QVERIFY(load(*controller, 0));
        controller->startAttempt();
        QTRY_COMPARE(controller->state(), QuizController::Active);

        controller->setAnswer(QStringLiteral("qz-205-q1"), 1);
        QTRY_COMPARE(controller->revision(), 2);
        controller->setAnswer(QStringLiteral("qz-205-q2"), 1);

        QTRY_COMPARE(controller->questions().at(1).toMap().value(QStringLiteral("options")).toList().size(),
                     4);
        QTRY_COMPARE(controller->state(), QuizController::ReviewRequired);
        QCOMPARE(controller->reviewQuestionIds(), QVariantList{QStringLiteral("qz-205-q2")});
        controller->keepChangedAnswer(QStringLiteral("qz-205-q2"));
        controller->syncNow();
        QTRY_COMPARE(controller->revision(), 3);
        QCOMPARE(controller->state(), QuizController::Active);

        controller->submit();
        QTRY_COMPARE(controller->state(), QuizController::Result);
        QCOMPARE(controller->revision(), 4);
        const QJsonObject finished =
            quizDetails(QStringLiteral("qz-205")).value(QStringLiteral("attempt")).toObject();
        QCOMPARE(answersOf(finished),
                 (QVariantMap{{QStringLiteral("qz-205-q1"), 1}, {QStringLiteral("qz-205-q2"), 1}}));
        QCOMPARE(finished.value(QStringLiteral("score")).toInt(), 2);
    }

    void attemptExpiresThirtySecondsAfterItsDeadline()
    {
        // The routes alone, on a clock of the test's own.
        QDateTime clock = QDateTime::currentDateTimeUtc();
        SampleQuizRoutes routes(
            QStringLiteral(QUORIN_SAMPLE_DATA_DIR),
            [](const SampleQuizRoutes::Request &request) {
                return request.hasHeader("Authorization") ? QStringLiteral("u-1001") : QString();
            },
            [&clock] { return clock; });
        quorin::test::FixtureServer server;
        QVERIFY(server.listen());
        routes.addTo(server);
        const auto send = [&](const QByteArray &method, const QString &path, const QJsonObject &body) {
            QNetworkRequest request(server.url(QStringLiteral("/api/v1/") + path));
            request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
            request.setRawHeader("Authorization", "Bearer any");
            std::unique_ptr<QNetworkReply> reply(m_network.sendCustomRequest(
                request, method, QJsonDocument(body).toJson(QJsonDocument::Compact)));
            QSignalSpy finished(reply.get(), &QNetworkReply::finished);
            if (!finished.wait(10000))
                return qMakePair(-1, QJsonObject());
            return qMakePair(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(),
                             QJsonDocument::fromJson(reply->readAll()).object());
        };
        const auto start = send("POST", QStringLiteral("quizzes/qz-202/attempts"),
                                {{QStringLiteral("nickname"), QStringLiteral("Bob")}});
        QCOMPARE(start.first, 201);
        const QString attemptId = start.second.value(QStringLiteral("id")).toString();
        const QDateTime expiresAt = QDateTime::fromString(
            start.second.value(QStringLiteral("expiresAt")).toString(), Qt::ISODateWithMs);
        QVERIFY(expiresAt.isValid());
        const QString stamp = QStringLiteral("2025-02-01T08:00:00.000Z");
        const QString path = QStringLiteral("attempts/%1/answers").arg(attemptId);

        clock = expiresAt.addSecs(29);
        QCOMPARE(send("PUT", path, answers(1, {answer(QStringLiteral("qz-202-q1"), 1, stamp)})).first, 200);
        clock = expiresAt.addSecs(30);
        const auto expired = send("PUT", path, answers(2, {answer(QStringLiteral("qz-202-q1"), 2, stamp)}));
        QCOMPARE(expired.first, 409);
        QCOMPARE(expired.second.value(QStringLiteral("code")).toString(), QStringLiteral("ATTEMPT_EXPIRED"));
        const auto late = send("POST", QStringLiteral("attempts/%1/submit").arg(attemptId), answers(2, {}));
        QCOMPARE(late.second.value(QStringLiteral("code")).toString(), QStringLiteral("ATTEMPT_EXPIRED"));
    }

    void chatPagesShowWhatTheyWereAsked()
    {
        QNetworkRequest outside(m_platform->apiBase().resolved(
            QUrl(QStringLiteral("/?model=auto&q=C%2B%2B%20%26%20%3Cb%3E%0Ax"))));
        std::unique_ptr<QNetworkReply> reply(m_network.get(outside));
        QSignalSpy finished(reply.get(), &QNetworkReply::finished);
        QVERIFY(finished.wait(10000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
        QVERIFY(reply->header(QNetworkRequest::ContentTypeHeader)
                    .toString()
                    .startsWith(QStringLiteral("text/html")));
        const QString page = QString::fromUtf8(reply->readAll());
        QVERIFY2(page.contains(QStringLiteral("C++ &amp; &lt;b&gt;<br>x")), qPrintable(page));

        // The quiz's own page, as the details name it.
        const QString link = quizDetails(QStringLiteral("qz-201"))
                                 .value(QStringLiteral("quiz"))
                                 .toObject()
                                 .value(QStringLiteral("customGptLink"))
                                 .toString();
        std::unique_ptr<QNetworkReply> own(m_network.get(QNetworkRequest(QUrl(link))));
        QSignalSpy ownFinished(own.get(), &QNetworkReply::finished);
        QVERIFY(ownFinished.wait(10000));
        QCOMPARE(own->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), 200);
    }
};

QTEST_GUILESS_MAIN(tst_SampleQuizRoutes)
#include "tst_SampleQuizRoutes.moc"
