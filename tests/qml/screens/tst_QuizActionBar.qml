import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

// The quiz page's action bar on the real controller against the fixture server: its two layouts,
// the previous/next slots, the arrows by width and direction, marking, and Submit while saving,
// offline and before the confirmation.
Item {
    id: root

    width: 1000
    height: 700

    QuizPageHost {
        id: host
    }

    TestCase {
        id: testCase

        name: "QuizActionBar"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Fixture.reset()
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
            root.width = 1000
        }

        function cleanup() {
            host.stack.clear(StackView.Immediate)
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function openPage(options) {
            options = options || {}
            const page = host.openActive(options)
            verify(page)
            if (options.saves)
                Fixture.script("attempts/" + host.attemptIdOf(page) + "/answers", options.saves)
            tryCompare(page.quizController, "state", QuizController.Active)
            page.quizController.currentQuestionIndex = options.current !== undefined ? options.current : 2
            page.forceActiveFocus()
            return page
        }

        function named(page, name) {
            const item = findChild(page, name)
            verify(item, name)
            return item
        }

        function test_layoutByWidth_data() {
            return [
                { tag: "759", width: 759, columns: 2, height: 104 },
                { tag: "760", width: 760, columns: 5, height: 52 },
                // Beside the sidebar one row would run past the column's edge.
                { tag: "850", width: 850, columns: 2, height: 104 },
                { tag: "1100", width: 1100, columns: 5, height: 52 }
            ]
        }

        function test_layoutByWidth(data) {
            root.width = data.width
            const page = openPage()
            const bar = named(page, "quizBottomBar")
            compare(bar.columns, data.columns)
            tryCompare(bar, "height", data.height)
            const submitButton = named(page, "submitQuizButton")
            verify(submitButton.mapToItem(root, submitButton.width, 0).x <= root.width - 16, "Submit stays on the page")
            const group = named(page, "quizPreviousNextGroup")
            compare(group.height, 48)
            const discuss = named(page, "discussQuestionButton")
            const mark = named(page, "markQuestionButton")
            const submit = named(page, "submitQuizButton")
            if (data.columns === 5) {
                compare(group.width, 240)
                compare(named(page, "previousQuestionSlot").width, 116)
                compare(named(page, "nextQuestionSlot").width, 116)
                verify(named(page, "quizBottomBarSpacer").visible)
                // One row: Discuss, Mark, spacer, group, Submit from the start edge.
                verify(discuss.x < mark.x && mark.x < group.x && group.x < submit.x)
                compare(submit.x + submit.width, bar.width)
            } else {
                verify(!named(page, "quizBottomBarSpacer").visible)
                compare(discuss.y + discuss.height / 2, mark.y + mark.height / 2)
                compare(group.y + group.height / 2, submit.y + submit.height / 2)
                verify(group.y > discuss.y)
                // Each control fills its cell: the columns hold one width each.
                compare(discuss.width, group.width)
                compare(mark.width, submit.width)
                compare(discuss.width + 8 + mark.width, bar.width)
                compare(named(page, "previousQuestionSlot").width, (group.width - 8) / 2)
            }
        }

        function test_endsOfTheList_data() {
            return [
                { tag: "first", count: 5, current: 0, previous: false, next: true },
                { tag: "middle", count: 5, current: 2, previous: true, next: true },
                { tag: "last", count: 5, current: 4, previous: true, next: false },
                { tag: "only question", count: 1, current: 0, previous: false, next: false }
            ]
        }

        function test_endsOfTheList(data) {
            const page = openPage({ questions: host.questions(data.count), current: data.current })
            const previous = named(page, "previousQuestionButton")
            const next = named(page, "nextQuestionButton")
            const group = named(page, "quizPreviousNextGroup")
            compare(previous.visible, data.previous)
            compare(next.visible, data.next)
            compare(group.width, 240)
            compare(named(page, "nextQuestionSlot").mapToItem(group, 0, 0).x, 124)
            compare(named(page, "previousQuestionSlot").mapToItem(group, 0, 0).x, 0)
            // A hidden button is out of the Tab order.
            const discuss = named(page, "discussQuestionButton")
            discuss.forceActiveFocus()
            const seen = []
            for (let i = 0; i < 6; ++i) {
                keyClick(Qt.Key_Tab)
                const item = root.Window.window.activeFocusItem
                seen.push(item ? item.objectName : "")
            }
            compare(seen.indexOf("previousQuestionButton") >= 0, data.previous, JSON.stringify(seen))
            compare(seen.indexOf("nextQuestionButton") >= 0, data.next, JSON.stringify(seen))
            if (data.next) {
                mouseClick(next)
                compare(page.quizController.currentQuestionIndex, data.current + 1)
            }
        }

        function test_noQuestions() {
            const page = openPage({ questions: [], current: -1 })
            verify(!named(page, "discussQuestionButton").enabled)
            verify(!named(page, "markQuestionButton").enabled)
            verify(named(page, "submitQuizButton").enabled)
            verify(!named(page, "previousQuestionButton").visible)
            verify(!named(page, "nextQuestionButton").visible)
        }

        function test_markedFilterStepsToNearestMarked() {
            const page = openPage({ questions: host.questions(7), current: 3 })
            page.quizController.toggleMarked("q1")
            page.quizController.toggleMarked("q2")
            page.quizController.toggleMarked("q6")
            page.questionFilter = "marked"
            mouseClick(named(page, "previousQuestionButton"))
            compare(page.quizController.currentQuestionIndex, 1)
            page.quizController.currentQuestionIndex = 3
            mouseClick(named(page, "nextQuestionButton"))
            compare(page.quizController.currentQuestionIndex, 5)
        }

        function test_arrows_data() {
            return [
                { tag: "900 left-to-right", width: 900, language: "en", previous: "arrow-up.svg", next: "arrow-down.svg" },
                { tag: "900 right-to-left", width: 900, language: "ar", previous: "arrow-up.svg", next: "arrow-down.svg" },
                { tag: "800 left-to-right", width: 800, language: "en", previous: "arrow-back.svg", previousLeft: true,
                  next: "arrow-forward.svg" },
                { tag: "800 right-to-left", width: 800, language: "ar", previous: "arrow-forward.svg", previousLeft: false,
                  next: "arrow-back.svg" }
            ]
        }

        function test_arrows(data) {
            SettingsController.language = data.language
            root.width = data.width
            const page = openPage()
            const previous = named(page, "previousQuestionButton")
            const next = named(page, "nextQuestionButton")
            const folder = "qrc:/qt/qml/Quorin/assets/icons/"
            compare(String(previous.iconSource), folder + data.previous)
            compare(String(next.iconSource), folder + data.next)
            if (data.previousLeft !== undefined) {
                const previousX = previous.mapToItem(root, 0, 0).x
                const nextX = next.mapToItem(root, 0, 0).x
                compare(previousX < nextX, data.previousLeft)
            }
            // Discuss stands at the start edge of the language.
            const discuss = named(page, "discussQuestionButton")
            const submit = named(page, "submitQuizButton")
            compare(discuss.mapToItem(root, 0, 0).x > submit.mapToItem(root, 0, 0).x, data.language === "ar")
        }

        function test_markButton() {
            const page = openPage()
            const mark = named(page, "markQuestionButton")
            verify(mark.compact)
            verify(Qt.colorEqual(mark.buttonColor, Theme.warning))
            compare(String(mark.iconSource), String(page.markIconSource))
            compare(mark.text, "Mark")
            verify(mark.isOutline)
            mouseClick(mark)
            verify(page.isMarked("q3"))
            verify(!mark.isOutline)
            const list = named(page, "verticalQuestionNavigator")
            const glyph = findChild(list.itemAtIndex(2), "questionMarkGlyph-2")
            verify(glyph.visible)
            mouseClick(mark)
            verify(!page.isMarked("q3"))
            verify(mark.isOutline)
            compare(mark.text, "Mark")
            verify(!glyph.visible)
        }

        function test_submitWhileSaving() {
            const page = openPage()
            const submit = named(page, "submitQuizButton")
            const dialog = named(page, "submitDialog")
            compare(submit.text, "Submit quiz")
            page.chooseAnswer("q3", 0)
            tryCompare(page.quizController, "syncing", true)
            compare(submit.text, "Saving…")
            verify(!submit.enabled)
            mouseClick(submit)
            verify(!dialog.opened)
            verify(!dialog.visible)
        }

        function test_offlineKeepsNavigationAndMarks() {
            const page = openPage({ saves: [{ drop: true }] })
            const controller = page.quizController
            controller.setAnswer("q1", 1)
            tryCompare(controller, "state", QuizController.OfflineReadOnly)
            const submit = named(page, "submitQuizButton")
            compare(submit.text, "Submit quiz")
            verify(!submit.enabled)
            verify(named(page, "discussQuestionButton").enabled)
            verify(named(page, "markQuestionButton").enabled)
            mouseClick(named(page, "nextQuestionButton"))
            compare(controller.currentQuestionIndex, 3)
            mouseClick(named(page, "previousQuestionButton"))
            compare(controller.currentQuestionIndex, 2)
        }

        // Nothing here times the snackbar: a step that queued behind the one on show would not
        // appear.
        function test_discussCountdownStepsReplaceEachOther() {
            while (Snackbar.visible)
                Snackbar.dismiss()
            const page = openPage({ customGptLink: "https://chat.example/tutor" })
            Snackbar.show("Saved", "info")
            mouseClick(named(page, "discussQuestionButton"))
            compare(Snackbar.message, "Saved")
            Snackbar.dismiss()
            compare(Snackbar.message, "Question copied. Opening AI in 5…")
            tryCompare(Snackbar, "message", "Question copied. Opening AI in 4…", 3000)
            tryCompare(Snackbar, "message", "Question copied. Opening AI in 1…", 3000)
            compare(Snackbar.pending.length, 0)
            tryCompare(page.quizController, "aiRedirectSeconds", 0)
            // The page has opened: a later message queues as usual.
            Snackbar.show("Saved", "info")
            compare(Snackbar.message, "Question copied. Opening AI in 1…")
            compare(Snackbar.pending.length, 1)
            while (Snackbar.visible)
                Snackbar.dismiss()
        }

        function test_submitOnlyOpensTheDialog() {
            const page = openPage()
            const submitPath = "attempts/" + host.attemptIdOf(page) + "/submit"
            Fixture.script(submitPath, [{ held: true }])
            const dialog = named(page, "submitDialog")
            mouseClick(named(page, "submitQuizButton"))
            tryCompare(dialog, "opened", true)
            wait(50)
            compare(Fixture.requestCount(submitPath), 0)
            mouseClick(findChild(dialog, "quorinDialogConfirmButton"))
            tryVerify(() => Fixture.requestCount(submitPath) === 1, 3000, "the submission after confirming")
        }
    }
}
