#include "app/DiagnosticLogger.h"
#include "app/UiPerformanceTracker.h"
#include "testsupport/LogLineParser.h"

#include <QDateTime>
#include <QMetaEnum>
#include <QPointingDevice>
#include <QQuickWindow>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <memory>

using quorin::test::LogLineParser;

namespace {

enum class Input { None, MousePress, KeyPress, TouchBegin, MouseMove, KeyRelease, PressOnAnotherWindow };

std::unique_ptr<QQuickWindow> shownWindow()
{
    auto window = std::make_unique<QQuickWindow>();
    window->resize(320, 240);
    window->show();
    window->requestActivate();
    return window;
}

} // namespace

// The tracker over a real window shown offscreen, with time set by hand: every moment below is
// a reading of the test's clock, and frames are the window's own frameSwapped, emitted by the test.
class tst_UiPerformanceTracker : public QObject
{
    Q_OBJECT

private:
    qint64 m_now = 0;
    std::unique_ptr<QQuickWindow> m_window;
    std::unique_ptr<UiPerformanceTracker> m_tracker;
    qsizetype m_logStart = 0;

    void frameAt(qint64 moment, QQuickWindow *window = nullptr)
    {
        m_now = moment;
        Q_EMIT(window ? window : m_window.get())->frameSwapped();
    }

    [[nodiscard]] qint64 budget() const
    {
        return UiPerformanceTracker::frameBudgetMs(m_window->screen()->refreshRate());
    }

    static void setDetailed(bool on)
    {
        DiagnosticLogger::setDetailedUntil(on ? QDateTime::currentDateTimeUtc().addSecs(3600) : QDateTime());
    }

    // The tracker's records written since the test began.
    QList<LogLineParser::Record> records(const QString &event = QString())
    {
        if (!DiagnosticLogger::waitUntilWritten(std::chrono::seconds(10)))
            return {};
        const QList<LogLineParser::Record> all = LogLineParser::parseFile(DiagnosticLogger::logFilePath());
        QList<LogLineParser::Record> found;
        for (qsizetype index = m_logStart; index < all.size(); ++index) {
            const LogLineParser::Record &record = all.at(index);
            if (record.value(QStringLiteral("category")) == QLatin1String("ui_performance") &&
                (event.isEmpty() || record.event() == event))
                found.append(record);
        }
        return found;
    }

    // The only record of the test, which must be an action_complete.
    [[nodiscard]] LogLineParser::Record onlyRecord()
    {
        const QList<LogLineParser::Record> written = records();
        if (written.size() != 1 || written.first().event() != QLatin1String("action_complete"))
            return {};
        return written.first();
    }

    // A normal action of the given length, begun at the current time.
    void normalAction(qint64 durationMs)
    {
        const QString token = m_tracker->beginAction(UiPerformanceTracker::HomeCardActivate);
        QVERIFY(!token.isEmpty());
        m_now += durationMs;
        m_tracker->complete(token);
    }

    void applyInput(Input input, QQuickWindow *other)
    {
        const QPoint inside(20, 20);
        switch (input) {
        case Input::None:
            break;
        case Input::MousePress:
            QTest::mousePress(m_window.get(), Qt::LeftButton, {}, inside);
            break;
        case Input::KeyPress:
            QTest::keyPress(m_window.get(), Qt::Key_A);
            break;
        case Input::TouchBegin: {
            static QPointingDevice *const touchscreen = QTest::createTouchDevice();
            QTest::touchEvent(m_window.get(), touchscreen).press(0, inside, m_window.get());
            break;
        }
        case Input::MouseMove:
            QTest::mouseMove(m_window.get(), inside);
            break;
        case Input::KeyRelease:
            QTest::keyRelease(m_window.get(), Qt::Key_A);
            break;
        case Input::PressOnAnotherWindow:
            QTest::mousePress(other, Qt::LeftButton, {}, inside);
            break;
        }
    }

private Q_SLOTS:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
        QCoreApplication::setApplicationName(QStringLiteral("desktop"));
        DiagnosticLogger::initialize();
    }

    void init()
    {
        m_now = 0;
        setDetailed(false);
        m_window = shownWindow();
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        m_tracker = UiPerformanceTracker::createWithClock([this] { return m_now; });
        m_tracker->attachWindow(m_window.get());
        QVERIFY(DiagnosticLogger::waitUntilWritten(std::chrono::seconds(10)));
        m_logStart = LogLineParser::parseFile(DiagnosticLogger::logFilePath()).size();
    }

    void cleanup()
    {
        m_tracker.reset();
        m_window.reset();
    }

    void frameBudget_data()
    {
        QTest::addColumn<qreal>("refreshRate");
        QTest::addColumn<qint64>("budget");
        QTest::newRow("60 Hz") << qreal(60) << qint64(25);
        QTest::newRow("120 Hz") << qreal(120) << qint64(12);
        QTest::newRow("144 Hz") << qreal(144) << qint64(10);
        QTest::newRow("30 Hz") << qreal(30) << qint64(49);
        QTest::newRow("20 Hz counts as 30") << qreal(20) << qint64(49);
    }

    void frameBudget()
    {
        QFETCH(qreal, refreshRate);
        QFETCH(qint64, budget);
        QCOMPARE(UiPerformanceTracker::frameBudgetMs(refreshRate), budget);
    }

    void logNames_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("name");
        const QMetaEnum kinds = QMetaEnum::fromType<UiPerformanceTracker::ActionKind>();
        QCOMPARE(kinds.keyCount(), 13);
        QTest::newRow("HomeReady") << int(UiPerformanceTracker::HomeReady) << QStringLiteral("homeready");
        QTest::newRow("CourseSectionToggle")
            << int(UiPerformanceTracker::CourseSectionToggle) << QStringLiteral("coursesectiontoggle");
        QTest::newRow("VaultCardActivate")
            << int(UiPerformanceTracker::VaultCardActivate) << QStringLiteral("vaultcardactivate");
        QTest::newRow("outside the enum") << 13 << QString();
        QTest::newRow("negative") << -1 << QString();
    }

    void logNames()
    {
        QFETCH(int, kind);
        QFETCH(QString, name);
        QCOMPARE(UiPerformanceTracker::logName(UiPerformanceTracker::ActionKind(kind)), name);
    }

    void classification_data()
    {
        QTest::addColumn<bool>("detailed");
        QTest::addColumn<qint64>("clickBefore");      // ms before beginAction; -1: no click
        QTest::addColumn<QList<qint64>>("frameGaps"); // frames after beginAction, as gaps
        QTest::addColumn<qint64>("stall");            // noted right after beginAction; 0: none
        QTest::addColumn<qint64>("completeAfter");    // ms after beginAction
        QTest::addColumn<QString>("classification");  // empty: nothing is written
        QTest::addColumn<QString>("level");
        QTest::addColumn<qint64>("duration");
        QTest::addColumn<int>("lateFrames");
        QTest::addColumn<qint64>("maxFrameGap");

        const QList<qint64> none;
        const QString severe = QStringLiteral("severe");
        const QString slow = QStringLiteral("slow");
        const QString normal = QStringLiteral("normal");
        const QString warning = QStringLiteral("warning");
        const QString info = QStringLiteral("info");
        QTest::newRow("click, begin 400 ms later, complete 100 ms after that")
            << false << qint64(400) << none << qint64(0) << qint64(100) << severe << warning << qint64(500)
            << 0 << qint64(0);
        QTest::newRow("click more than a second before counts from the begin")
            << true << qint64(1001) << none << qint64(0) << qint64(100) << normal << info << qint64(100) << 0
            << qint64(0);
        QTest::newRow("click exactly a second before still counts")
            << false << qint64(1000) << none << qint64(0) << qint64(100) << severe << warning << qint64(1100)
            << 0 << qint64(0);
        QTest::newRow("249 ms, one late frame")
            << false << qint64(-1) << QList<qint64>{26} << qint64(0) << qint64(249) << QString() << QString()
            << qint64(0) << 0 << qint64(0);
        QTest::newRow("249 ms, two late frames")
            << false << qint64(-1) << QList<qint64>{26, 26} << qint64(0) << qint64(249) << slow << info
            << qint64(249) << 2 << qint64(26);
        QTest::newRow("250 ms is slow") << false << qint64(-1) << none << qint64(0) << qint64(250) << slow
                                        << info << qint64(250) << 0 << qint64(0);
        QTest::newRow("500 ms is severe") << false << qint64(-1) << none << qint64(0) << qint64(500) << severe
                                          << warning << qint64(500) << 0 << qint64(0);
        QTest::newRow("600 ms stall in a 50 ms action")
            << false << qint64(-1) << none << qint64(600) << qint64(50) << severe << warning << qint64(50)
            << 0 << qint64(0);
        QTest::newRow("300 ms stall in a 50 ms action")
            << false << qint64(-1) << none << qint64(300) << qint64(50) << slow << info << qint64(50) << 0
            << qint64(0);
        QTest::newRow("a 25 ms gap is on time at the budget")
            << true << qint64(-1) << QList<qint64>{25, 25} << qint64(0) << qint64(60) << normal << info
            << qint64(60) << 0 << qint64(25);
        QTest::newRow("a 26 ms gap is late") << true << qint64(-1) << QList<qint64>{26, 10} << qint64(0)
                                             << qint64(60) << normal << info << qint64(60) << 1 << qint64(26);
    }

    void classification()
    {
        QFETCH(bool, detailed);
        QFETCH(qint64, clickBefore);
        QFETCH(QList<qint64>, frameGaps);
        QFETCH(qint64, stall);
        QFETCH(qint64, completeAfter);
        QFETCH(QString, classification);
        QFETCH(QString, level);
        QFETCH(qint64, duration);
        QFETCH(int, lateFrames);
        QFETCH(qint64, maxFrameGap);
        QCOMPARE(budget(), qint64(25)); // the offscreen screen runs at 60 Hz

        setDetailed(detailed);
        const qint64 begin = 5000;
        if (clickBefore >= 0) {
            m_now = begin - clickBefore;
            QTest::mouseClick(m_window.get(), Qt::LeftButton, {}, QPoint(20, 20));
        }
        frameAt(begin);
        const QString token = m_tracker->beginAction(UiPerformanceTracker::CourseSearch);
        QCOMPARE(token.size(), 36);
        if (stall > 0)
            m_tracker->noteEventLoopStall(stall);
        for (const qint64 gap : std::as_const(frameGaps))
            frameAt(m_now + gap);
        m_now = begin + completeAfter;
        m_tracker->complete(token);

        if (classification.isEmpty()) {
            QCOMPARE(records().size(), 0);
            return;
        }
        const LogLineParser::Record record = onlyRecord();
        QVERIFY(record.valid);
        QCOMPARE(record.value(QStringLiteral("classification")), classification);
        QCOMPARE(record.value(QStringLiteral("level")), level);
        QCOMPARE(record.value(QStringLiteral("action")), QStringLiteral("coursesearch"));
        QCOMPARE(record.value(QStringLiteral("duration_ms")).toLongLong(), duration);
        QCOMPARE(record.value(QStringLiteral("late_frames")).toInt(), lateFrames);
        QCOMPARE(record.value(QStringLiteral("max_frame_gap_ms")).toLongLong(), maxFrameGap);
        QCOMPARE(record.value(QStringLiteral("event_loop_stall_ms")).toLongLong(), stall);
        QCOMPARE(record.value(QStringLiteral("outcome")), QStringLiteral("success"));
    }

    void unsetMarksAreWrittenAsMinusOne()
    {
        m_now = 1000;
        const QString token = m_tracker->beginAction(UiPerformanceTracker::HomeReady);
        m_now = 1300;
        m_tracker->complete(token, QStringLiteral("timeout"));
        const LogLineParser::Record record = onlyRecord();
        QCOMPARE(record.value(QStringLiteral("action")), QStringLiteral("homeready"));
        QCOMPARE(record.value(QStringLiteral("first_frame_ms")), QStringLiteral("-1"));
        QCOMPARE(record.value(QStringLiteral("content_ready_ms")), QStringLiteral("-1"));
        QCOMPARE(record.value(QStringLiteral("outcome")), QStringLiteral("timeout"));
    }

    void marksKeepTheFirstFrameAndTheLastReady()
    {
        frameAt(1000);
        const QString token = m_tracker->beginAction(UiPerformanceTracker::CourseReady);
        frameAt(1010);
        m_now = 1020;
        m_tracker->markFirstFrame(token);
        m_now = 1030;
        m_tracker->markReady(token);
        m_now = 1040;
        m_tracker->markReady(token);
        m_now = 1300;
        m_tracker->abandon(token);
        const LogLineParser::Record record = onlyRecord();
        QCOMPARE(record.value(QStringLiteral("first_frame_ms")), QStringLiteral("10"));
        QCOMPARE(record.value(QStringLiteral("content_ready_ms")), QStringLiteral("40"));
        QCOMPARE(record.value(QStringLiteral("outcome")), QStringLiteral("abandoned"));
    }

    void firstFrameMarkedBeforeAnyFrameKeepsTheMark()
    {
        frameAt(1000);
        const QString token = m_tracker->beginAction(UiPerformanceTracker::VaultReady);
        m_now = 1005;
        m_tracker->markFirstFrame(token);
        frameAt(1015);
        m_now = 1300;
        m_tracker->complete(token);
        QCOMPARE(onlyRecord().value(QStringLiteral("first_frame_ms")), QStringLiteral("5"));
    }

    void normalActionsAreSummarisedTwentyFiveAtATime()
    {
        // Durations 1 to 24, then 30: 330 ms in all, a mean of 13.2.
        for (qint64 duration = 1; duration <= 24; ++duration)
            normalAction(duration);
        QCOMPARE(records().size(), 0);
        normalAction(30);
        QList<LogLineParser::Record> summaries = records(QStringLiteral("action_summary"));
        QCOMPARE(summaries.size(), 1);
        QCOMPARE(summaries.first().value(QStringLiteral("level")), QStringLiteral("info"));
        QCOMPARE(summaries.first().value(QStringLiteral("completed")), QStringLiteral("25"));
        QCOMPARE(summaries.first().value(QStringLiteral("duration_ms")), QStringLiteral("13"));

        // The 26th starts a new count: 25 actions of 100 ms give a mean of 100.
        for (int action = 0; action < 24; ++action)
            normalAction(100);
        QCOMPARE(records().size(), 1);
        normalAction(100);
        summaries = records(QStringLiteral("action_summary"));
        QCOMPARE(summaries.size(), 2);
        QCOMPARE(summaries.last().value(QStringLiteral("completed")), QStringLiteral("25"));
        QCOMPARE(summaries.last().value(QStringLiteral("duration_ms")), QStringLiteral("100"));
        QCOMPARE(records(QStringLiteral("action_complete")).size(), 0);
    }

    void detailedLoggingWritesEachNormalAction()
    {
        setDetailed(true);
        for (int action = 0; action < 25; ++action)
            normalAction(20);
        const QList<LogLineParser::Record> completed = records(QStringLiteral("action_complete"));
        QCOMPARE(completed.size(), 25);
        for (const LogLineParser::Record &record : completed)
            QCOMPARE(record.value(QStringLiteral("classification")), QStringLiteral("normal"));
        QCOMPARE(records(QStringLiteral("action_summary")).size(), 0);
    }

    void userInputStartsTheWait_data()
    {
        QTest::addColumn<Input>("input");
        QTest::addColumn<qint64>("duration");
        QTest::newRow("mouse press") << Input::MousePress << qint64(310);
        QTest::newRow("key press") << Input::KeyPress << qint64(310);
        QTest::newRow("touch begin") << Input::TouchBegin << qint64(310);
        QTest::newRow("mouse move") << Input::MouseMove << qint64(10);
        QTest::newRow("key release") << Input::KeyRelease << qint64(10);
        QTest::newRow("press on another window") << Input::PressOnAnotherWindow << qint64(10);
        // The clock starts at 0 like a fresh tracker's; no input yet is no recent input.
        QTest::newRow("no input yet") << Input::None << qint64(10);
    }

    void userInputStartsTheWait()
    {
        QFETCH(Input, input);
        QFETCH(qint64, duration);

        setDetailed(true);
        QQuickWindow other;
        if (input == Input::PressOnAnotherWindow) {
            other.resize(100, 100);
            other.show();
            QVERIFY(QTest::qWaitForWindowExposed(&other));
            m_window->requestActivate();
            QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        }
        m_now = 0;
        applyInput(input, &other);
        frameAt(300);
        const QString token = m_tracker->beginAction(UiPerformanceTracker::HomeResponsiveMode);
        m_now = 310;
        m_tracker->complete(token);
        QCOMPARE(onlyRecord().value(QStringLiteral("duration_ms")).toLongLong(), duration);
    }

    void unobservableWindowIsNotMeasured_data()
    {
        QTest::addColumn<QString>("state");
        QTest::newRow("hidden") << QStringLiteral("hidden");
        QTest::newRow("minimised") << QStringLiteral("minimised");
        QTest::newRow("inactive") << QStringLiteral("inactive");
    }

    void unobservableWindowIsNotMeasured()
    {
        QFETCH(QString, state);

        frameAt(1000);
        const QString open = m_tracker->beginAction(UiPerformanceTracker::CourseViewMode);
        QVERIFY(!open.isEmpty());

        QQuickWindow other;
        if (state == QLatin1String("hidden")) {
            m_window->hide();
        } else if (state == QLatin1String("minimised")) {
            m_window->showMinimized();
        } else {
            other.resize(100, 100);
            other.show();
            other.requestActivate();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            QTRY_VERIFY(!m_window->isActive());
        }

        m_now = 1010;
        QCOMPARE(m_tracker->beginAction(UiPerformanceTracker::CourseViewMode), QString());
        // A stall and a late frame while the window cannot be seen are not the interface's fault.
        m_tracker->noteEventLoopStall(700);
        frameAt(1100);

        if (state == QLatin1String("hidden") || state == QLatin1String("inactive")) {
            m_window->show();
            m_window->requestActivate();
        } else {
            m_window->showNormal();
        }
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        m_now = 1200;
        m_tracker->complete(open);

        setDetailed(false);
        QCOMPARE(records().size(), 0); // 200 ms, no stall, no late frame: counted only
    }

    void reducedMotionStopsMeasuring()
    {
        QSignalSpy changed(m_tracker.get(), &UiPerformanceTracker::reducedMotionChanged);
        frameAt(1000);
        const QString open = m_tracker->beginAction(UiPerformanceTracker::VaultResponsiveMode);
        QVERIFY(!open.isEmpty());

        m_tracker->setReducedMotion(true);
        QCOMPARE(changed.size(), 1);
        m_tracker->setReducedMotion(true);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(m_tracker->beginAction(UiPerformanceTracker::VaultResponsiveMode), QString());

        // The open action was dropped: completing it writes nothing, even a severe one.
        m_tracker->setReducedMotion(false);
        QCOMPARE(changed.size(), 2);
        m_now = 2000;
        m_tracker->complete(open);
        QCOMPARE(records().size(), 0);
    }

    void attachingTheSameWindowAgainChangesNothing()
    {
        setDetailed(true);
        frameAt(1000);
        const QString token = m_tracker->beginAction(UiPerformanceTracker::CourseOutlineBuild);
        m_now = 1100;
        m_tracker->attachWindow(m_window.get());
        // Measured from the frame at 1000, not from the second attach; counted once.
        frameAt(1130);
        m_now = 1140;
        m_tracker->complete(token);
        const LogLineParser::Record record = onlyRecord();
        QCOMPARE(record.value(QStringLiteral("max_frame_gap_ms")), QStringLiteral("130"));
        QCOMPARE(record.value(QStringLiteral("late_frames")), QStringLiteral("1"));
    }

    void attachingAnotherWindowMovesInputAndFrames()
    {
        setDetailed(true);
        auto second = shownWindow();
        QVERIFY(QTest::qWaitForWindowActive(second.get()));
        m_tracker->attachWindow(second.get());

        m_now = 1000;
        QTest::mousePress(m_window.get(), Qt::LeftButton, {}, QPoint(20, 20));
        frameAt(1300, second.get());
        const QString token = m_tracker->beginAction(UiPerformanceTracker::CourseResourceAction);
        QVERIFY(!token.isEmpty());
        frameAt(1340, m_window.get());
        frameAt(1350, second.get());
        m_now = 1360;
        m_tracker->complete(token);

        const LogLineParser::Record record = onlyRecord();
        QCOMPARE(record.value(QStringLiteral("duration_ms")), QStringLiteral("60"));
        QCOMPARE(record.value(QStringLiteral("first_frame_ms")), QStringLiteral("50"));
        QCOMPARE(record.value(QStringLiteral("max_frame_gap_ms")), QStringLiteral("50"));
        m_tracker->attachWindow(nullptr);
    }
};

QTEST_MAIN(tst_UiPerformanceTracker)
#include "tst_UiPerformanceTracker.moc"
