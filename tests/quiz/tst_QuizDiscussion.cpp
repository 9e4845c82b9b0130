#include "app/DiagnosticLogger.h"
#include "quiz/QuizController.h"
#include "tests/quiz/QuizControllerHarness.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QUrlQuery>
#include <memory>

using quorin::test::QuizControllerHarness;

namespace {

const QString kCannotOpen = QStringLiteral("Could not open the AI discussion.");
const QString kLink = QStringLiteral("https://tutor.test.example/room?topic=motion");

QString countdownText(int seconds)
{
    return QStringLiteral("Question copied. Opening AI in %1…").arg(seconds);
}

QJsonObject question(const QString &type, const QJsonValue &text, const QJsonArray &options = {})
{
    return {{QStringLiteral("id"), QStringLiteral("q1")},
            {QStringLiteral("type"), type},
            {QStringLiteral("text"), text},
            {QStringLiteral("options"), options},
            {QStringLiteral("updatedAt"), QStringLiteral("2024-05-01T10:00:00.000Z")}};
}

} // namespace

// Catches what the controller hands the desktop to open, as the browser would receive it.
class OpenedPages : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls.append(url); }
};

// Handing the question on screen to an AI chat page: the prompt, the quiz's own page after a
// countdown with the prompt on the clipboard, and the outside page with the prompt in its address.
class tst_QuizDiscussion : public QObject
{
    Q_OBJECT

private:
    QuizControllerHarness m_harness;
    OpenedPages m_opened;

    static QuizController::Intervals ticking(int aiRedirectMs = 20)
    {
        QuizController::Intervals chosen = QuizControllerHarness::quietIntervals();
        chosen.aiRedirectMs = aiRedirectMs;
        return chosen;
    }

    static QJsonObject detailsWith(const QJsonArray &questions, const QString &link = {},
                                   const QJsonObject &members = {})
    {
        QJsonObject quiz = QuizControllerHarness::quiz();
        quiz.insert(QStringLiteral("questions"), questions);
        QJsonObject response = members;
        if (!link.isEmpty())
            response.insert(QStringLiteral("customGptLink"), link);
        return QuizControllerHarness::details(quiz, response);
    }

    static QJsonArray sampleQuestion()
    {
        return {question(QStringLiteral("MCQ"), QStringLiteral("Is C++ & C# one language?\nThink = twice"),
                         {QStringLiteral("a+b"), QStringLiteral("No")})};
    }

    static QString samplePrompt()
    {
        return QStringLiteral("Q. Is C++ & C# one language?\nThink = twice\na. a+b\nb. No");
    }

    static void setClipboard(const QString &text) { QGuiApplication::clipboard()->setText(text); }
    static QString clipboard() { return QGuiApplication::clipboard()->text(); }

    // The prompt carried by a page of the outside chat, checked to be that page.
    static QString promptOf(const QUrl &page)
    {
        if (page.scheme() != QLatin1String("https") || page.host() != QLatin1String("chat.test.example") ||
            page.path() != QLatin1String("/"))
            return QStringLiteral("<not the chat page: %1>").arg(page.toString());
        const QList<QPair<QString, QString>> items = QUrlQuery(page).queryItems(QUrl::FullyDecoded);
        if (items.size() != 2 || items.at(0) != qMakePair(QStringLiteral("model"), QStringLiteral("auto")) ||
            items.at(1).first != QLatin1String("q"))
            return QStringLiteral("<unexpected query: %1>").arg(page.query());
        return items.at(1).second;
    }

    // A controller in the given situation over quiz details with the sample question.
    std::unique_ptr<QuizController> situated(const QString &situation, const QString &link,
                                             int aiRedirectMs = 20)
    {
        QJsonObject members;
        if (situation == QLatin1String("result"))
            members.insert(QStringLiteral("attempt"),
                           QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("SUBMITTED")));
        else
            members.insert(QStringLiteral("activeAttempt"),
                           QuizControllerHarness::attempt(QStringLiteral("a1"), QStringLiteral("ACTIVE")));
        auto controller =
            m_harness.loaded(detailsWith(sampleQuestion(), link, members), ticking(aiRedirectMs));
        if (controller && situation == QLatin1String("offline")) {
            m_harness.answerDetails({QuizControllerHarness::dropped()});
            if (!m_harness.load(*controller) || controller->online())
                return nullptr;
        }
        return controller;
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_harness.initTestCase();
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_opened, "open");
    }

    void cleanupTestCase() { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

    void init()
    {
        m_harness.init();
        m_opened.urls.clear();
        setClipboard(QStringLiteral("before"));
    }

    void cleanup() { m_harness.cleanup(); }

    void promptOfTheCurrentQuestion_data()
    {
        QTest::addColumn<QJsonArray>("questions");
        QTest::addColumn<QString>("prompt");
        QTest::newRow("options") << QJsonArray{question(QStringLiteral("MCQ"), QStringLiteral("T"),
                                                        {QStringLiteral("X"), QStringLiteral("Y")})}
                                 << QStringLiteral("Q. T\na. X\nb. Y");
        QTest::newRow("written") << QJsonArray{question(QStringLiteral("WRITTEN"), QStringLiteral("T"))}
                                 << QStringLiteral("Q. T");
        QTest::newRow("no question on screen") << QJsonArray() << QStringLiteral("Q.");
        QTest::newRow("percent signs stay")
            << QJsonArray{question(QStringLiteral("MCQ"), QStringLiteral("T"),
                                   {QStringLiteral("50% off"), QStringLiteral("%1 %2")})}
            << QStringLiteral("Q. T\na. 50% off\nb. %1 %2");
        QTest::newRow("rich text")
            << QJsonArray{question(
                   QStringLiteral("MCQ"),
                   QJsonObject{
                       {QStringLiteral("ops"),
                        QJsonArray{QJsonObject{{QStringLiteral("insert"), QStringLiteral("Rich ")}},
                                   QJsonObject{{QStringLiteral("insert"), QStringLiteral("text\n")}}}}},
                   {QStringLiteral("X")})}
            << QStringLiteral("Q. Rich text\na. X");
        QTest::newRow("characters a query reserves") << sampleQuestion() << samplePrompt();
    }

    // Without a page of the quiz's own, the outside page opens at once with the prompt in its
    // address, and nothing else changes.
    void promptOfTheCurrentQuestion()
    {
        QFETCH(QJsonArray, questions);
        QFETCH(QString, prompt);
        const auto controller = m_harness.loaded(detailsWith(questions), ticking());
        QVERIFY(controller);
        QSignalSpy changed(controller.get(), &QuizController::changed);
        QSignalSpy feedback(controller.get(), &QuizController::feedback);

        controller->discussCurrentQuestion();

        QCOMPARE(m_opened.urls.size(), 1);
        QCOMPARE(promptOf(m_opened.urls.first()), prompt);
        QCOMPARE(clipboard(), QStringLiteral("before"));
        QCOMPARE(changed.size(), 0);
        QCOMPARE(feedback.size(), 0);
        QCOMPARE(controller->aiRedirectSeconds(), 0);
        QVERIFY(!controller->timerForTests(QuizController::Timer::AiRedirect).active);
    }

    void plusSurvivesTheAddress()
    {
        const auto controller = m_harness.loaded(detailsWith(sampleQuestion()), ticking());
        QVERIFY(controller);

        controller->discussCurrentQuestion();

        QCOMPARE(m_opened.urls.size(), 1);
        // A bare "+" in a query reads as a space on the other side.
        const QByteArray encoded = m_opened.urls.first().toEncoded();
        QVERIFY2(encoded.contains("C%2B%2B") && !encoded.contains('+'), encoded.constData());
    }

    void linkThatIsNotSecureFallsBack_data()
    {
        QTest::addColumn<QString>("link");
        QTest::newRow("plain http") << QStringLiteral("http://tutor.test.example/room");
        QTest::newRow("no host") << QStringLiteral("https:///room");
        QTest::newRow("not a link") << QStringLiteral("ask the tutor");
    }

    void linkThatIsNotSecureFallsBack()
    {
        QFETCH(QString, link);
        const auto controller = m_harness.loaded(detailsWith(sampleQuestion(), link), ticking());
        QVERIFY(controller);

        controller->discussCurrentQuestion();

        QCOMPARE(m_opened.urls.size(), 1);
        QCOMPARE(promptOf(m_opened.urls.first()), samplePrompt());
        QCOMPARE(clipboard(), QStringLiteral("before"));
    }

    void quizPageOpensAfterTheCountdown()
    {
        const auto controller = m_harness.loaded(detailsWith(sampleQuestion(), kLink), ticking());
        QVERIFY(controller);
        QSignalSpy feedback(controller.get(), &QuizController::feedback);
        QSignalSpy changed(controller.get(), &QuizController::changed);

        controller->discussCurrentQuestion();

        QCOMPARE(clipboard(), samplePrompt());
        QCOMPARE(controller->aiRedirectSeconds(), 5);
        QCOMPARE(QuizControllerHarness::feedbackOf(feedback),
                 QStringList{countdownText(5) + QStringLiteral("|info")});
        QCOMPARE(changed.size(), 1);
        QVERIFY(m_opened.urls.isEmpty());

        QTRY_COMPARE(m_opened.urls.size(), 1);
        QCOMPARE(m_opened.urls.first(), QUrl(kLink));
        QCOMPARE(QuizControllerHarness::feedbackOf(feedback),
                 QStringList(
                     {countdownText(5) + QStringLiteral("|info"), countdownText(4) + QStringLiteral("|info"),
                      countdownText(3) + QStringLiteral("|info"), countdownText(2) + QStringLiteral("|info"),
                      countdownText(1) + QStringLiteral("|info")}));
        QCOMPARE(controller->aiRedirectSeconds(), 0);
        QVERIFY(!controller->timerForTests(QuizController::Timer::AiRedirect).active);
        // One change for the call and one for each of the five ticks.
        QCOMPARE(changed.size(), 6);
    }

    void pressingAgainStartsTheCountdownAfresh()
    {
        const auto controller = m_harness.loaded(detailsWith(sampleQuestion(), kLink), ticking());
        QVERIFY(controller);
        QSignalSpy feedback(controller.get(), &QuizController::feedback);
        bool pressedAgain = false;
        connect(controller.get(), &QuizController::feedback, controller.get(), [&](const QString &message) {
            if (!pressedAgain && message == countdownText(2)) {
                pressedAgain = true;
                controller->discussCurrentQuestion();
            }
        });

        controller->discussCurrentQuestion();

        QTRY_COMPARE(m_opened.urls.size(), 1);
        QStringList counts;
        for (const QList<QVariant> &arguments : std::as_const(feedback))
            counts.append(arguments.at(0).toString().section(QLatin1Char(' '), -1));
        QCOMPARE(counts, QStringList({"5…", "4…", "3…", "2…", "5…", "4…", "3…", "2…", "1…"}));
        QVERIFY(m_harness.settle());
        QCOMPARE(m_opened.urls.size(), 1);
    }

    void worksWhateverTheAttemptsState_data()
    {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<QString>("link");
        QTest::newRow("finished, quiz page") << QStringLiteral("result") << kLink;
        QTest::newRow("finished, outside page") << QStringLiteral("result") << QString();
        QTest::newRow("offline, quiz page") << QStringLiteral("offline") << kLink;
        QTest::newRow("offline, outside page") << QStringLiteral("offline") << QString();
    }

    void worksWhateverTheAttemptsState()
    {
        QFETCH(QString, situation);
        QFETCH(QString, link);
        const auto controller = situated(situation, link);
        QVERIFY(controller);
        const int sent = m_harness.server().totalRequestCount();

        controller->discussCurrentQuestion();

        QTRY_COMPARE(m_opened.urls.size(), 1);
        if (link.isEmpty())
            QCOMPARE(promptOf(m_opened.urls.first()), samplePrompt());
        else
            QCOMPARE(m_opened.urls.first(), QUrl(link));
        // Nothing goes to the backend.
        QVERIFY(m_harness.settle());
        QCOMPARE(m_harness.server().totalRequestCount(), sent + 1);
    }

    void refusedOpeningIsReported_data()
    {
        QTest::addColumn<QString>("link");
        QTest::newRow("quiz page") << kLink;
        QTest::newRow("outside page") << QString();
    }

    void refusedOpeningIsReported()
    {
        QFETCH(QString, link);
        QList<QUrl> asked;
        m_harness.openUrl = [&asked](const QUrl &url) {
            asked.append(url);
            return false;
        };
        const auto controller = m_harness.loaded(detailsWith(sampleQuestion(), link), ticking());
        QVERIFY(controller);
        QSignalSpy feedback(controller.get(), &QuizController::feedback);

        controller->discussCurrentQuestion();

        QTRY_COMPARE(asked.size(), 1);
        QCOMPARE(QuizControllerHarness::feedbackOf(feedback).last(), kCannotOpen + QStringLiteral("|error"));
        QVERIFY(!controller->timerForTests(QuizController::Timer::AiRedirect).active);
    }

    void logNamesThePageByItsOriginOnly()
    {
        const auto controller = m_harness.loaded(detailsWith(sampleQuestion()), ticking());
        QVERIFY(controller);

        controller->discussCurrentQuestion();

        const QList<quorin::test::LogLineParser::Record> records =
            m_harness.logRecords(QStringLiteral("ai_discussion_opened"));
        QCOMPARE(records.size(), 1);
        const quorin::test::LogLineParser::Record &record = records.first();
        QCOMPARE(record.value(QStringLiteral("page")), QStringLiteral("fallback"));
        QCOMPARE(record.value(QStringLiteral("origin_fp")),
                 DiagnosticLogger::fingerprint(QStringLiteral("https://chat.test.example")));
        QCOMPARE(record.value(QStringLiteral("opened")), QStringLiteral("true"));
        for (const auto &[key, value] : record.fields)
            QVERIFY2(!value.contains(QStringLiteral("C++")) && !value.contains(QStringLiteral("chat.test")),
                     qPrintable(key));
    }
};

QTEST_MAIN(tst_QuizDiscussion)
#include "tst_QuizDiscussion.moc"
