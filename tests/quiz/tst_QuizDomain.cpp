#include "quiz/QuizDomain.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {

const QString QuizDataFolder = QStringLiteral(QUORIN_SAMPLE_DATA_DIR "/quizzes");
const QString SampleCourseFile = QStringLiteral(QUORIN_SAMPLE_DATA_DIR "/courses/c-101.json");

QJsonObject object(const char *json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (!document.isObject())
        qFatal("bad JSON object in the test: %s (%s)", json, qPrintable(error.errorString()));
    return document.object();
}

QJsonArray array(const char *json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (!document.isArray())
        qFatal("bad JSON array in the test: %s", json);
    return document.array();
}

// Any JSON value written as text; the empty text stands for a missing member.
QJsonValue value(const char *json)
{
    if (!*json)
        return QJsonValue(QJsonValue::Undefined);
    return object(QByteArray("{\"v\":").append(json).append('}').constData()).value(QLatin1String("v"));
}

QJsonObject responseWithQuiz(const QJsonObject &quiz)
{
    return {{QStringLiteral("quiz"), quiz}};
}

QJsonObject responseWithQuestions(const QJsonArray &questions)
{
    return responseWithQuiz({{QStringLiteral("id"), QStringLiteral("quiz-1")},
                             {QStringLiteral("type"), QStringLiteral("ORDINARY")},
                             {QStringLiteral("questions"), questions}});
}

QVariantMap parsed(const QJsonObject &response)
{
    QVariantMap details;
    QString error;
    if (!QuizDomain::parseDetails(response, &details, &error))
        qWarning("parse failed: %s", qPrintable(error));
    return details;
}

QVariantMap onlyQuestion(const QJsonObject &question)
{
    const QVariantList questions =
        parsed(responseWithQuestions(QJsonArray{question})).value(QStringLiteral("questions")).toList();
    return questions.size() == 1 ? questions.first().toMap() : QVariantMap();
}

QVariant nullVariant()
{
    return QVariant::fromValue(nullptr);
}

} // namespace

class tst_QuizDomain : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void refusesBadResponses_data();
    void refusesBadResponses();
    void readsQuizMembersLeniently_data();
    void readsQuizMembersLeniently();
    void readsQuestionMembersLeniently_data();
    void readsQuestionMembersLeniently();
    void keepsExactlyTheTwelveQuestionKeys();
    void tellsAbsentTextFromNullText();
    void ordersQuestions_data();
    void ordersQuestions();
    void judgesLinks_data();
    void judgesLinks();
    void choosesTheChatLink_data();
    void choosesTheChatLink();
    void readsAttempts_data();
    void readsAttempts();
    void extractsPlainText_data();
    void extractsPlainText();
    void buildsTheAnswerBody_data();
    void buildsTheAnswerBody();
    void convertsHeldAnswerValues_data();
    void convertsHeldAnswerValues();
    void readsConflictCodes_data();
    void readsConflictCodes();
    void readsConflictCodesAtTheParserDepthLimit();
    void countsRemainingSeconds_data();
    void countsRemainingSeconds();
    void parsesEverySampleQuiz();
};

void tst_QuizDomain::refusesBadResponses_data()
{
    QTest::addColumn<QJsonObject>("response");
    QTest::addColumn<bool>("withOutput");
    QTest::addColumn<QString>("error");

    const QString noId = QStringLiteral("Quiz response has no id");
    const QString badType = QStringLiteral("Quiz response has an invalid type");
    const QString badQuestion = QStringLiteral("Quiz contains an invalid question");
    const QString outOfRange = QStringLiteral("Quiz correct option is out of range");

    QTest::newRow("no output") << object(R"({"quiz":{"id":"q","type":"ORDINARY"}})") << false
                               << QStringLiteral("Missing quiz output");
    QTest::newRow("no quiz") << object("{}") << true << noId;
    QTest::newRow("quiz is an array") << object(R"({"quiz":[{"id":"q","type":"ORDINARY"}]})") << true << noId;
    QTest::newRow("numeric id") << object(R"({"quiz":{"id":7,"type":"ORDINARY"}})") << true << noId;
    QTest::newRow("blank id") << object(R"({"quiz":{"id":"  ","type":"ORDINARY"}})") << true << noId;
    QTest::newRow("no id before a bad type") << object(R"({"quiz":{"type":"EXAM"}})") << true << noId;
    QTest::newRow("no type") << object(R"({"quiz":{"id":"q"}})") << true << badType;
    QTest::newRow("type EXAM") << object(R"({"quiz":{"id":"q","type":"EXAM"}})") << true << badType;
    QTest::newRow("bad type before bad questions")
        << object(R"({"quiz":{"id":"q","type":"EXAM","questions":[5]}})") << true << badType;
    QTest::newRow("question is a number") << responseWithQuestions(array("[5]")) << true << badQuestion;
    QTest::newRow("numeric question id")
        << responseWithQuestions(array(R"([{"id":5,"type":"MCQ"}])")) << true << badQuestion;
    QTest::newRow("question type essay")
        << responseWithQuestions(array(R"([{"id":"x","type":"essay"}])")) << true << badQuestion;
    QTest::newRow("correct option equal to the option count")
        << responseWithQuestions(
               array(R"([{"id":"x","type":"MCQ","options":["a","b"],"correctOptionIndex":2}])"))
        << true << outOfRange;
    QTest::newRow("correct option -2")
        << responseWithQuestions(
               array(R"([{"id":"x","type":"MCQ","options":["a","b"],"correctOptionIndex":-2}])"))
        << true << outOfRange;
    QTest::newRow("correct option without options")
        << responseWithQuestions(array(R"([{"id":"x","type":"WRITTEN","correctOptionIndex":0}])")) << true
        << outOfRange;
    QTest::newRow("one bad question among good ones")
        << responseWithQuestions(array(R"([{"id":"a","type":"MCQ"},{"id":"b","type":"WRITTEN"},
                                           {"id":"","type":"MCQ"},{"id":"d","type":"MCQ"}])"))
        << true << badQuestion;
    QTest::newRow("the first bad question decides")
        << responseWithQuestions(array(R"([{"id":"a","type":"MCQ","correctOptionIndex":3},{"id":5}])"))
        << true << outOfRange;
}

void tst_QuizDomain::refusesBadResponses()
{
    QFETCH(QJsonObject, response);
    QFETCH(bool, withOutput);
    QFETCH(QString, error);

    const QVariantMap earlier{{QStringLiteral("id"), QStringLiteral("earlier")},
                              {QStringLiteral("questions"), QVariantList{1, 2}}};
    QVariantMap details = earlier;
    QVariantMap *output = withOutput ? &details : nullptr;
    QString reported = QStringLiteral("earlier error");
    QVERIFY(!QuizDomain::parseDetails(response, output, &reported));
    QCOMPARE(reported, error);
    QCOMPARE(details, earlier);

    QVERIFY(!QuizDomain::parseDetails(response, output, nullptr));
    QCOMPARE(details, earlier);
}

void tst_QuizDomain::readsQuizMembersLeniently_data()
{
    QTest::addColumn<QJsonObject>("response");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("expected");

    const auto quizWith = [](const char *members) {
        return object(
            QByteArray(R"({"quiz":{"id":"q","type":"ORDINARY")").append(members).append("}}").constData());
    };
    const auto responseWith = [](const char *members) {
        return object(
            QByteArray(R"({"quiz":{"id":"q","type":"ORDINARY"})").append(members).append("}").constData());
    };

    QTest::newRow("id trimmed") << object(R"({"quiz":{"id":" q7 ","type":"TIMED"}})") << "id"
                                << QVariant(QStringLiteral("q7"));
    QTest::newRow("type trimmed and upper-cased")
        << object(R"({"quiz":{"id":"q","type":" timed "}})") << "type" << QVariant(QStringLiteral("TIMED"));
    QTest::newRow("title copied") << quizWith(R"(,"title":"Kinematics")") << "title"
                                  << QVariant(QStringLiteral("Kinematics"));
    QTest::newRow("startsAt copied") << quizWith(R"(,"startsAt":"2024-05-01T10:00:00Z")") << "startsAt"
                                     << QVariant(QStringLiteral("2024-05-01T10:00:00Z"));
    QTest::newRow("unknown member copied whole")
        << quizWith(R"(,"extra":{"list":[true,null,"x"]})") << "extra"
        << QVariant(
               QVariantMap{{QStringLiteral("list"), QVariantList{true, nullVariant(), QStringLiteral("x")}}});
    QTest::newRow("no questions") << quizWith("") << "questions" << QVariant(QVariantList());
    QTest::newRow("questions not an array")
        << quizWith(R"(,"questions":{"id":"x"})") << "questions" << QVariant(QVariantList());
    QTest::newRow("quiz leaderboard replaced by the response's")
        << object(
               R"({"quiz":{"id":"q","type":"ORDINARY","leaderboard":[1]},"leaderboard":[{"nickname":"n"}]})")
        << "leaderboard"
        << QVariant(QVariantList{QVariantMap{{QStringLiteral("nickname"), QStringLiteral("n")}}});
    QTest::newRow("quiz leaderboard replaced by an absent one")
        << quizWith(R"(,"leaderboard":[1])") << "leaderboard" << QVariant(QVariantList());
    QTest::newRow("quiz rank replaced") << quizWith(R"(,"rank":4)") << "rank" << QVariant(0);
    QTest::newRow("leaderboardOnly true")
        << responseWith(R"(,"leaderboardOnly":true)") << "leaderboardOnly" << QVariant(true);
    QTest::newRow("leaderboardOnly as a string")
        << responseWith(R"(,"leaderboardOnly":"true")") << "leaderboardOnly" << QVariant(false);
    QTest::newRow("leaderboardOnly as a number")
        << responseWith(R"(,"leaderboardOnly":1)") << "leaderboardOnly" << QVariant(false);
    QTest::newRow("leaderboardStatus") << responseWith(R"(,"leaderboardStatus":" published ")")
                                       << "leaderboardStatus" << QVariant(QStringLiteral("PUBLISHED"));
    QTest::newRow("message keeps its blanks")
        << responseWith(R"(,"message":"  Soon  ")") << "message" << QVariant(QStringLiteral("  Soon  "));
    QTest::newRow("numeric message") << responseWith(R"(,"message":5)") << "message" << QVariant(QString());
    QTest::newRow("rank") << responseWith(R"(,"rank":3)") << "rank" << QVariant(3);
    QTest::newRow("fractional rank") << responseWith(R"(,"rank":3.5)") << "rank" << QVariant(0);
    QTest::newRow("rank past 32 bits") << responseWith(R"(,"rank":3000000000)") << "rank" << QVariant(0);
    QTest::newRow("rank written 2.0") << responseWith(R"(,"rank":2.0)") << "rank" << QVariant(2);
    QTest::newRow("pendingAnswersCount as a string")
        << responseWith(R"(,"pendingAnswersCount":"2")") << "pendingAnswersCount" << QVariant(0);
    QTest::newRow("activeAttempt as an array")
        << responseWith(R"(,"activeAttempt":[{"id":"a"}])") << "activeAttempt" << QVariant(QVariantMap());
    QTest::newRow("attempt read")
        << responseWith(R"(,"attempt":{"id":"a1","status":"submitted","revision":4})") << "attempt"
        << QVariant(QVariantMap{{QStringLiteral("id"), QStringLiteral("a1")},
                                {QStringLiteral("status"), QStringLiteral("SUBMITTED")},
                                {QStringLiteral("revision"), 4}});
}

void tst_QuizDomain::readsQuizMembersLeniently()
{
    QFETCH(QJsonObject, response);
    QFETCH(QString, key);
    QFETCH(QVariant, expected);

    QVariantMap details;
    QString error = QStringLiteral("earlier error");
    QVERIFY(QuizDomain::parseDetails(response, &details, &error));
    QVERIFY(error.isEmpty());
    QVERIFY2(details.contains(key), qPrintable(key));
    QCOMPARE(details.value(key), expected);
}

void tst_QuizDomain::readsQuestionMembersLeniently_data()
{
    QTest::addColumn<QJsonObject>("question");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("expected");

    const auto mcq = [](const char *members) {
        return object(QByteArray(R"({"id":"x","type":"MCQ","options":["a","b"])")
                          .append(members)
                          .append("}")
                          .constData());
    };

    QTest::newRow("id trimmed") << object(R"({"id":" x1 ","type":"MCQ"})") << "id"
                                << QVariant(QStringLiteral("x1"));
    QTest::newRow("type trimmed and upper-cased")
        << object(R"({"id":"x","type":" written "})") << "type" << QVariant(QStringLiteral("WRITTEN"));
    QTest::newRow("correct option index")
        << mcq(R"(,"correctOptionIndex":1)") << "correctOptionIndex" << QVariant(1);
    QTest::newRow("correct option as a string")
        << mcq(R"(,"correctOptionIndex":"1")") << "correctOptionIndex" << QVariant(-1);
    QTest::newRow("correct option missing") << mcq("") << "correctOptionIndex" << QVariant(-1);
    QTest::newRow("written without options")
        << object(R"({"id":"x","type":"WRITTEN","correctOptionIndex":-1})") << "options"
        << QVariant(QStringList());
    QTest::newRow("order written 2.0") << mcq(R"(,"order":2.0)") << "order" << QVariant(2);
    QTest::newRow("fractional order falls back to the position")
        << mcq(R"(,"order":2.5)") << "order" << QVariant(0);
    QTest::newRow("rich text") << mcq(R"(,"text":{"ops":[{"insert":"What "},{"insert":"is?\n"}]})") << "text"
                               << QVariant(QStringLiteral("What is?"));
    QTest::newRow("options as plain text")
        << object(R"({"id":"x","type":"MCQ","options":[" a ",{"ops":[{"insert":"b"}]},7,null]})") << "options"
        << QVariant(QStringList{QStringLiteral("a"), QStringLiteral("b"), QString(), QString()});
    QTest::newRow("options not an array")
        << object(R"({"id":"x","type":"MCQ","options":"a"})") << "options" << QVariant(QStringList());
    QTest::newRow("option documents copied whole")
        << object(R"({"id":"x","type":"MCQ","options":[{"ops":[{"insert":"b"}]}]})") << "optionsDocuments"
        << QVariant(QVariantList{
               QVariantMap{{QStringLiteral("ops"),
                            QVariantList{QVariantMap{{QStringLiteral("insert"), QStringLiteral("b")}}}}}});
    QTest::newRow("explanation") << mcq(R"(,"explanation":"  Because.  ")") << "explanation"
                                 << QVariant(QStringLiteral("Because."));
    QTest::newRow("model answer") << object(
                                         R"({"id":"x","type":"WRITTEN","modelAnswer":[{"insert":"F = ma"}]})")
                                  << "modelAnswer" << QVariant(QStringLiteral("F = ma"));
    QTest::newRow("secure image trimmed") << mcq(R"(,"imageUrl":"  https://h/i.png  ")") << "imageUrl"
                                          << QVariant(QStringLiteral("https://h/i.png"));
    QTest::newRow("http image dropped")
        << mcq(R"(,"imageUrl":"http://h/i.png")") << "imageUrl" << QVariant(QString());
    QTest::newRow("image with user information dropped")
        << mcq(R"(,"imageUrl":"https://u:p@h/i.png")") << "imageUrl" << QVariant(QString());
    QTest::newRow("image without host dropped")
        << mcq(R"(,"imageUrl":"https:///i.png")") << "imageUrl" << QVariant(QString());
    QTest::newRow("image in capitals kept") << mcq(R"(,"imageUrl":"HTTPS://H/i.png")") << "imageUrl"
                                            << QVariant(QStringLiteral("HTTPS://H/i.png"));
    QTest::newRow("updatedAt not trimmed") << mcq(R"(,"updatedAt":" 2024-01-01T00:00:00Z ")") << "updatedAt"
                                           << QVariant(QStringLiteral(" 2024-01-01T00:00:00Z "));
    QTest::newRow("numeric updatedAt") << mcq(R"(,"updatedAt":5)") << "updatedAt" << QVariant(QString());
}

void tst_QuizDomain::readsQuestionMembersLeniently()
{
    QFETCH(QJsonObject, question);
    QFETCH(QString, key);
    QFETCH(QVariant, expected);

    QCOMPARE(onlyQuestion(question).value(key), expected);
}

void tst_QuizDomain::keepsExactlyTheTwelveQuestionKeys()
{
    const QVariantMap question = onlyQuestion(object(
        R"({"id":"x","type":"MCQ","points":5,"hint":"h","options":["a"],"updatedAt":"t","secret":{}})"));
    const QStringList expectedKeys{
        QStringLiteral("correctOptionIndex"), QStringLiteral("explanation"), QStringLiteral("id"),
        QStringLiteral("imageUrl"),           QStringLiteral("modelAnswer"), QStringLiteral("options"),
        QStringLiteral("optionsDocuments"),   QStringLiteral("order"),       QStringLiteral("text"),
        QStringLiteral("textDocument"),       QStringLiteral("type"),        QStringLiteral("updatedAt"),
    };
    QCOMPARE(question.keys(), expectedKeys);
}

void tst_QuizDomain::tellsAbsentTextFromNullText()
{
    const QVariantMap absent = onlyQuestion(object(R"({"id":"x","type":"MCQ"})"));
    QVERIFY(absent.contains(QStringLiteral("textDocument")));
    QVERIFY(!absent.value(QStringLiteral("textDocument")).isValid());
    QCOMPARE(absent.value(QStringLiteral("text")), QVariant(QString()));

    const QVariantMap null = onlyQuestion(object(R"({"id":"x","type":"MCQ","text":null})"));
    QVERIFY(null.value(QStringLiteral("textDocument")).isValid());
    QVERIFY(null.value(QStringLiteral("textDocument")).isNull());

    const QVariantMap document = onlyQuestion(object(R"({"id":"x","type":"MCQ","text":{"ops":[]}})"));
    QCOMPARE(document.value(QStringLiteral("textDocument")),
             QVariant(QVariantMap{{QStringLiteral("ops"), QVariantList()}}));
}

void tst_QuizDomain::ordersQuestions_data()
{
    QTest::addColumn<QJsonArray>("questions");
    QTest::addColumn<QStringList>("expected"); // "id text" of each question, in the order given

    QTest::newRow("order, then id as text")
        << array(R"([{"id":"9","type":"MCQ","order":1},{"id":"10","type":"MCQ","order":1},
                     {"id":"b","type":"MCQ"},{"id":"a","type":"MCQ","order":2}])")
        << QStringList{QStringLiteral("10 "), QStringLiteral("9 "), QStringLiteral("a "),
                       QStringLiteral("b ")};
    QTest::newRow("equal keys keep their arrival order")
        << array(R"([{"id":"x","type":"MCQ","order":1,"text":"second"},
                     {"id":"w","type":"MCQ","order":1,"text":"first"},
                     {"id":"x","type":"MCQ","order":1,"text":"third"},
                     {"id":"x","type":"MCQ","order":1,"text":"fourth"}])")
        << QStringList{QStringLiteral("w first"), QStringLiteral("x second"), QStringLiteral("x third"),
                       QStringLiteral("x fourth")};
    QTest::newRow("case is significant")
        << array(R"([{"id":"a","type":"MCQ","order":0},{"id":"B","type":"MCQ","order":0},
                     {"id":"A","type":"MCQ","order":0}])")
        << QStringList{QStringLiteral("A "), QStringLiteral("B "), QStringLiteral("a ")};
    QTest::newRow("negative orders first")
        << array(R"([{"id":"p","type":"MCQ"},{"id":"n","type":"MCQ","order":-5}])")
        << QStringList{QStringLiteral("n "), QStringLiteral("p ")};
}

void tst_QuizDomain::ordersQuestions()
{
    QFETCH(QJsonArray, questions);
    QFETCH(QStringList, expected);

    QStringList order;
    const QVariantList parsedQuestions =
        parsed(responseWithQuestions(questions)).value(QStringLiteral("questions")).toList();
    for (const QVariant &question : parsedQuestions) {
        const QVariantMap record = question.toMap();
        order.append(record.value(QStringLiteral("id")).toString() + u' ' +
                     record.value(QStringLiteral("text")).toString());
    }
    QCOMPARE(order, expected);
}

void tst_QuizDomain::judgesLinks_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<bool>("secure");

    QTest::newRow("https") << "https://h/x" << true;
    QTest::newRow("scheme in capitals") << "HTTPS://h/x" << true;
    QTest::newRow("with port and query") << "https://h:8443/x?q=1#f" << true;
    QTest::newRow("http") << "http://h" << false;
    QTest::newRow("user and password") << "https://u:p@h" << false;
    QTest::newRow("user name") << "https://u@h" << false;
    QTest::newRow("password only") << "https://:p@h" << false;
    QTest::newRow("no host") << "https:///x" << false;
    QTest::newRow("no authority") << "https:x" << false;
    QTest::newRow("relative") << "/x" << false;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("javascript") << "javascript:alert(1)" << false;
}

void tst_QuizDomain::judgesLinks()
{
    QFETCH(QString, link);
    QFETCH(bool, secure);

    QCOMPARE(QuizDomain::isSecureLink(link), secure);
}

void tst_QuizDomain::choosesTheChatLink_data()
{
    QTest::addColumn<QJsonValue>("responseLink");
    QTest::addColumn<QJsonValue>("quizLink");
    QTest::addColumn<QString>("expected");

    const QJsonValue absent(QJsonValue::Undefined);
    const QJsonValue quizLink(QStringLiteral(" https://quiz.example/chat "));

    QTest::newRow("the response's link")
        << QJsonValue(QStringLiteral("https://top.example/chat")) << quizLink << "https://top.example/chat";
    QTest::newRow("blank falls back to the quiz's")
        << QJsonValue(QStringLiteral("   ")) << quizLink << "https://quiz.example/chat";
    QTest::newRow("absent falls back to the quiz's") << absent << quizLink << "https://quiz.example/chat";
    QTest::newRow("numeric falls back to the quiz's")
        << QJsonValue(5) << quizLink << "https://quiz.example/chat";
    QTest::newRow("insecure gives none, without falling back")
        << QJsonValue(QStringLiteral("http://top.example/chat")) << quizLink << "";
    QTest::newRow("insecure quiz link")
        << absent << QJsonValue(QStringLiteral("http://quiz.example/chat")) << "";
    QTest::newRow("none") << absent << absent << "";
}

void tst_QuizDomain::choosesTheChatLink()
{
    QFETCH(QJsonValue, responseLink);
    QFETCH(QJsonValue, quizLink);
    QFETCH(QString, expected);

    QJsonObject quiz{{QStringLiteral("id"), QStringLiteral("q")},
                     {QStringLiteral("type"), QStringLiteral("TIMED")}};
    if (!quizLink.isUndefined())
        quiz.insert(QStringLiteral("customGptLink"), quizLink);
    QJsonObject response = responseWithQuiz(quiz);
    if (!responseLink.isUndefined())
        response.insert(QStringLiteral("customGptLink"), responseLink);
    QCOMPARE(parsed(response).value(QStringLiteral("customGptLink")), QVariant(expected));
}

void tst_QuizDomain::readsAttempts_data()
{
    QTest::addColumn<QJsonObject>("attempt");
    QTest::addColumn<QVariantMap>("expected");

    QTest::newRow("id trimmed, members copied")
        << object(R"({"id":" a1 ","revision":3,"status":" active ","answers":{"q1":2},"expiresAt":null})")
        << QVariantMap{{QStringLiteral("id"), QStringLiteral("a1")},
                       {QStringLiteral("revision"), 3},
                       {QStringLiteral("status"), QStringLiteral("ACTIVE")},
                       {QStringLiteral("answers"), QVariantMap{{QStringLiteral("q1"), 2}}},
                       {QStringLiteral("expiresAt"), nullVariant()}};
    QTest::newRow("revision as a string")
        << object(R"({"id":"a1","revision":"3","status":"SUBMITTED"})")
        << QVariantMap{{QStringLiteral("id"), QStringLiteral("a1")},
                       {QStringLiteral("revision"), 0},
                       {QStringLiteral("status"), QStringLiteral("SUBMITTED")}};
    QTest::newRow("no revision, numeric status") << object(R"({"id":"a1","status":1})")
                                                 << QVariantMap{{QStringLiteral("id"), QStringLiteral("a1")},
                                                                {QStringLiteral("revision"), 0},
                                                                {QStringLiteral("status"), QString()}};
    QTest::newRow("numeric id") << object(R"({"id":5,"status":"ACTIVE"})") << QVariantMap();
    QTest::newRow("blank id") << object(R"({"id":" ","status":"ACTIVE"})") << QVariantMap();
    QTest::newRow("empty") << object("{}") << QVariantMap();
}

void tst_QuizDomain::readsAttempts()
{
    QFETCH(QJsonObject, attempt);
    QFETCH(QVariantMap, expected);

    QCOMPARE(QuizDomain::parseAttempt(attempt), expected);
}

void tst_QuizDomain::extractsPlainText_data()
{
    QTest::addColumn<QJsonValue>("rich");
    QTest::addColumn<QString>("text");

    const char *helloWorld = R"([{"insert":"Hello "},{"insert":{"image":"u"}},{"insert":"World\n"}])";

    QTest::newRow("string trimmed") << value(R"("  x  ")") << "x";
    QTest::newRow("document") << value(QByteArray(R"({"ops":)").append(helloWorld).append('}').constData())
                              << "Hello World";
    QTest::newRow("bare operations") << value(helloWorld) << "Hello World";
    QTest::newRow("line breaks inside stay") << value(R"({"ops":[{"insert":"\n a\n\nb \n"}]})") << "a\n\nb";
    QTest::newRow("formatting ignored")
        << value(R"({"ops":[{"insert":"bold","attributes":{"bold":true}},{"insert":" plain"}]})")
        << "bold plain";
    QTest::newRow("operations that are not objects")
        << value(R"([5,"x",null,{"insert":"y"},[{"insert":"z"}]])") << "y";
    QTest::newRow("ops not an array") << value(R"({"ops":"x"})") << "";
    QTest::newRow("object without ops") << value(R"({"insert":"x"})") << "";
    QTest::newRow("number") << value("42") << "";
    QTest::newRow("boolean") << value("true") << "";
    QTest::newRow("null") << value("null") << "";
    QTest::newRow("missing") << value("") << "";
}

void tst_QuizDomain::extractsPlainText()
{
    QFETCH(QJsonValue, rich);
    QFETCH(QString, text);

    QCOMPARE(QuizDomain::richPlainText(rich), text);
}

void tst_QuizDomain::buildsTheAnswerBody_data()
{
    QTest::addColumn<int>("revision");
    QTest::addColumn<QJsonArray>("questions");
    QTest::addColumn<QJsonObject>("answers");
    QTest::addColumn<QJsonObject>("grades");
    QTest::addColumn<QJsonObject>("body");
    // Question id to the stamp each answer was given against; none in most rows.
    QTest::addColumn<QJsonObject>("answerStamps");

    const QJsonArray fourQuestions = array(R"([{"id":"a","type":"MCQ","updatedAt":"t1"},
                                               {"id":"b","type":"MCQ","updatedAt":"t2"},
                                               {"id":"a","type":"WRITTEN","updatedAt":"t3"},
                                               {"id":"c","type":"WRITTEN","updatedAt":"t4"}])");

    QTest::newRow("later stamp wins, unknown and unstamped left out")
        << 3 << fourQuestions << object(R"({"b":1,"a":"txt","z":2,"c":null})")
        << object(R"({"a":true,"z":false})") << object(R"({"baseRevision":3,"answers":[
                {"questionId":"a","questionUpdatedAt":"t3","answer":"txt","selfGradedCorrect":true},
                {"questionId":"b","questionUpdatedAt":"t2","answer":1},
                {"questionId":"c","questionUpdatedAt":"t4","answer":null}]})")
        << QJsonObject();
    QTest::newRow("no answers") << 7 << fourQuestions << QJsonObject() << object(R"({"a":true})")
                                << object(R"({"baseRevision":7,"answers":[]})") << QJsonObject();
    QTest::newRow("question without a stamp")
        << 0 << array(R"([{"id":"a","type":"MCQ"},{"id":"b","type":"MCQ","updatedAt":""}])")
        << object(R"({"a":0,"b":1})") << QJsonObject() << object(R"({"baseRevision":0,"answers":[]})")
        << QJsonObject();
    QTest::newRow("ids ordered as text, case significant")
        << 1 << array(R"([{"id":"9","updatedAt":"s9"},{"id":"10","updatedAt":"s10"},
                     {"id":"a","updatedAt":"sa"},{"id":"B","updatedAt":"sB"}])")
        << object(R"({"a":true,"9":"nine","B":false,"10":0})") << object(R"({"9":false})")
        << object(R"({"baseRevision":1,"answers":[
                {"questionId":"10","questionUpdatedAt":"s10","answer":0},
                {"questionId":"9","questionUpdatedAt":"s9","answer":"nine","selfGradedCorrect":false},
                {"questionId":"B","questionUpdatedAt":"sB","answer":false},
                {"questionId":"a","questionUpdatedAt":"sa","answer":true}]})")
        << QJsonObject();
    QTest::newRow("answers keep the stamp they were given against")
        << 2 << fourQuestions << object(R"({"a":"txt","b":1,"c":null})") << QJsonObject()
        << object(R"({"baseRevision":2,"answers":[
                {"questionId":"a","questionUpdatedAt":"given-a","answer":"txt"},
                {"questionId":"b","questionUpdatedAt":"t2","answer":1},
                {"questionId":"c","questionUpdatedAt":"given-c","answer":null}]})")
        << object(R"({"a":"given-a","c":"given-c","z":"given-z"})");
    QTest::newRow("stamp of the answer where the question has none")
        << 0 << array(R"([{"id":"a","type":"MCQ"}])") << object(R"({"a":0,"b":1})") << QJsonObject()
        << object(
               R"({"baseRevision":0,"answers":[{"questionId":"a","questionUpdatedAt":"given","answer":0}]})")
        << object(R"({"a":"given","b":"given"})");
}

void tst_QuizDomain::buildsTheAnswerBody()
{
    QFETCH(int, revision);
    QFETCH(QJsonArray, questions);
    QFETCH(QJsonObject, answers);
    QFETCH(QJsonObject, grades);
    QFETCH(QJsonObject, body);
    QFETCH(QJsonObject, answerStamps);

    QHash<QString, QString> stamps;
    for (auto stamp = answerStamps.constBegin(); stamp != answerStamps.constEnd(); ++stamp)
        stamps.insert(stamp.key(), stamp.value().toString());
    const QJsonObject built = QuizDomain::mutationPayload(
        revision, questions.toVariantList(), answers.toVariantMap(), grades.toVariantMap(), stamps);
    QCOMPARE(QJsonDocument(built).toJson(QJsonDocument::Compact),
             QJsonDocument(body).toJson(QJsonDocument::Compact));
}

void tst_QuizDomain::convertsHeldAnswerValues_data()
{
    QTest::addColumn<QVariant>("held");
    QTest::addColumn<QJsonValue>("sent");

    QTest::newRow("text") << QVariant(QStringLiteral("F = ma")) << QJsonValue(QStringLiteral("F = ma"));
    QTest::newRow("option index") << QVariant(2) << QJsonValue(2);
    QTest::newRow("number") << QVariant(2.5) << QJsonValue(2.5);
    QTest::newRow("flag") << QVariant(true) << QJsonValue(true);
    QTest::newRow("cleared, held as an empty value") << QVariant() << QJsonValue(QJsonValue::Null);
    QTest::newRow("null from the interface") << nullVariant() << QJsonValue(QJsonValue::Null);
}

void tst_QuizDomain::convertsHeldAnswerValues()
{
    QFETCH(QVariant, held);
    QFETCH(QJsonValue, sent);

    const QVariantList questions{QVariantMap{{QStringLiteral("id"), QStringLiteral("q")},
                                             {QStringLiteral("updatedAt"), QStringLiteral("t")}}};
    const QJsonObject body = QuizDomain::mutationPayload(0, questions, {{QStringLiteral("q"), held}}, {});
    const QJsonArray answers = body.value(QLatin1String("answers")).toArray();
    QCOMPARE(answers.size(), 1);
    const QJsonObject entry = answers.first().toObject();
    QVERIFY(entry.contains(QLatin1String("answer")));
    QCOMPARE(entry.value(QLatin1String("answer")), sent);
}

void tst_QuizDomain::readsConflictCodes_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("code");

    QTest::newRow("code") << R"({"code":" attempt_closed "})"
                          << "ATTEMPT_CLOSED";
    QTest::newRow("numeric code, then errorCode") << R"({"code":5,"errorCode":"x"})"
                                                  << "X";
    QTest::newRow("error text before details") << R"({"error":"x","details":{"code":"Y"}})"
                                               << "X";
    QTest::newRow("blank error text ends the search") << R"({"error":"  ","details":{"code":"Y"}})"
                                                      << "";
    QTest::newRow("details errorCode") << R"({"details":{"errorCode":" question_version_conflict "}})"
                                       << "QUESTION_VERSION_CONFLICT";
    QTest::newRow("empty details, then error object") << R"({"details":{},"error":{"code":"e"}})"
                                                      << "E";
    QTest::newRow("details nested twice") << R"({"details":{"details":{"code":"attempt_expired"}}})"
                                          << "ATTEMPT_EXPIRED";
    QTest::newRow("error object without a code") << R"({"error":{"message":"m"},"code":""})"
                                                 << "";
    QTest::newRow("details as text") << R"({"details":"ATTEMPT_CLOSED"})"
                                     << "";
    QTest::newRow("upper-casing is Unicode") << R"({"code":"straße"})"
                                             << "STRASSE";
    QTest::newRow("not JSON") << "not json"
                              << "";
    QTest::newRow("array") << "[]"
                           << "";
    QTest::newRow("array of objects") << R"([{"code":"X"}])"
                                      << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("text after the object") << R"({"code":"X"} trailing)"
                                           << "";
}

void tst_QuizDomain::readsConflictCodes()
{
    QFETCH(QString, body);
    QFETCH(QString, code);

    QCOMPARE(QuizDomain::conflictCode(body), code);
}

void tst_QuizDomain::readsConflictCodesAtTheParserDepthLimit()
{
    const auto nestedDetails = [](int depth) {
        QString body;
        for (int level = 0; level < depth; ++level)
            body += QStringLiteral(R"({"details":)");
        body += QStringLiteral(R"({"code":"deep"})");
        body += QString(depth, u'}');
        return body;
    };
    // The parser takes documents up to its nesting limit: the search follows all of it.
    QCOMPARE(QuizDomain::conflictCode(nestedDetails(1000)), QStringLiteral("DEEP"));
    // Past the limit the parser refuses the body, so the search never runs.
    QCOMPARE(QuizDomain::conflictCode(nestedDetails(3000)), QString());
    QString errors;
    for (int level = 0; level < 3000; ++level)
        errors += QStringLiteral(R"({"error":)");
    errors += QStringLiteral("{}") + QString(3000, u'}');
    QCOMPARE(QuizDomain::conflictCode(errors), QString());
}

void tst_QuizDomain::countsRemainingSeconds_data()
{
    QTest::addColumn<QDateTime>("deadline");
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<qint64>("seconds");

    const QDateTime now =
        QDateTime::fromString(QStringLiteral("2024-05-01T10:00:00.250Z"), Qt::ISODateWithMs);
    const QString offsetForm = now.addSecs(90).toOffsetFromUtc(2 * 3600).toString(Qt::ISODateWithMs);
    Q_ASSERT(offsetForm.endsWith(QLatin1String("+02:00")));

    QTest::newRow("invalid deadline") << QDateTime() << now << qint64(-1);
    QTest::newRow("in the past") << now.addSecs(-30) << now << qint64(0);
    QTest::newRow("half a second past") << now.addMSecs(-500) << now << qint64(0);
    QTest::newRow("now") << now << now << qint64(0);
    QTest::newRow("1.9 s ahead") << now.addMSecs(1900) << now << qint64(1);
    QTest::newRow("+02:00 form of now + 90 s")
        << QDateTime::fromString(offsetForm, Qt::ISODate) << now << qint64(90);
    QTest::newRow("now given at an offset")
        << now.addSecs(60) << now.toOffsetFromUtc(-5 * 3600) << qint64(60);
    QTest::newRow("three days ahead") << now.addDays(3) << now << qint64(3 * 86400);
}

void tst_QuizDomain::countsRemainingSeconds()
{
    QFETCH(QDateTime, deadline);
    QFETCH(QDateTime, now);
    QFETCH(qint64, seconds);

    QCOMPARE(QuizDomain::remainingSeconds(deadline, now), seconds);
}

void tst_QuizDomain::parsesEverySampleQuiz()
{
    const QStringList files =
        QDir(QuizDataFolder).entryList({QStringLiteral("*.json")}, QDir::Files, QDir::Name);
    QVERIFY(!files.isEmpty());
    QSet<QString> quizIds;
    for (const QString &name : files) {
        QFile file(QDir(QuizDataFolder).filePath(name));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(name));
        const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
        QVERIFY2(document.isObject(), qPrintable(name));

        QVariantMap details;
        QString error;
        QVERIFY2(QuizDomain::parseDetails(responseWithQuiz(document.object()), &details, &error),
                 qPrintable(name + u' ' + error));
        const QString id = details.value(QStringLiteral("id")).toString();
        QCOMPARE(name, id + QStringLiteral(".json"));
        quizIds.insert(id);
        // Every answer goes out with its question's version stamp, so each sample question needs one.
        const QVariantList questions = details.value(QStringLiteral("questions")).toList();
        for (const QVariant &question : questions)
            QVERIFY2(!question.toMap().value(QStringLiteral("updatedAt")).toString().isEmpty(),
                     qPrintable(name + u' ' + question.toMap().value(QStringLiteral("id")).toString()));
    }

    // The sample course lists exactly the sample quizzes.
    QFile course(SampleCourseFile);
    QVERIFY(course.open(QIODevice::ReadOnly));
    QSet<QString> listed;
    const QJsonArray sections =
        QJsonDocument::fromJson(course.readAll()).object().value(QLatin1String("sections")).toArray();
    for (const QJsonValue &section : sections) {
        const QJsonArray quizzes = section.toObject().value(QLatin1String("quizzes")).toArray();
        for (const QJsonValue &quiz : quizzes)
            listed.insert(quiz.toObject().value(QLatin1String("id")).toString());
    }
    QCOMPARE(listed, quizIds);
}

QTEST_APPLESS_MAIN(tst_QuizDomain)
#include "tst_QuizDomain.moc"
