import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

// The quiz page's own state and input, on the real controller against the fixture server: the
// filtered list and its neighbours, the navigation and answer keys, choosing with auto-advance,
// question switches, scroll memory and the stored preferences.
Item {
    id: root

    width: 1000
    height: 700

    QuizPageHost {
        id: host
    }

    Component {
        id: textFieldComponent

        QuorinTextField {
            width: 200
            text: "abc"
        }
    }

    Component {
        id: popupComponent

        QuorinPopup {
            width: 200
            height: 100

            contentItem: Rectangle {
                color: "grey"
                focus: true
            }
        }
    }

    TestCase {
        id: testCase

        name: "QuizPageState"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            Fixture.reset()
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
            root.width = 1000
            host.keysReachingHost = []
        }

        function cleanup() {
            host.stack.clear(StackView.Immediate)
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
            TestSetup.setQuizClock(new Date(NaN))
        }

        // An open attempt of five questions with question 3 (index 2) on screen.
        function openPage(options) {
            options = options || {}
            const page = host.openActive(options)
            verify(page)
            tryCompare(page.quizController, "state", QuizController.Active)
            page.quizController.currentQuestionIndex = options.current !== undefined ? options.current : 2
            page.forceActiveFocus()
            return page
        }

        function sendKey(key, text, modifiers) {
            TestSetup.sendKey(root.Window.window, key, text, modifiers || 0)
        }

        function test_filters_data() {
            return [
                { tag: "all", filter: "all", answers: {}, marks: [], filtered: [0, 1, 2, 3, 4], previous: 1, next: 3 },
                { tag: "unanswered, 0 and 2 answered", filter: "unanswered", answers: { q1: 0, q3: 1 }, marks: [],
                  filtered: [1, 2, 3, 4], previous: 1, next: 3 },
                { tag: "marked, no marks", filter: "marked", answers: {}, marks: [], filtered: [2], previous: -1,
                  next: -1 },
                { tag: "marked, 0 and 4 marked", filter: "marked", answers: {}, marks: ["q1", "q5"],
                  filtered: [0, 2, 4], previous: 0, next: 4 }
            ]
        }

        function test_filters(data) {
            const page = openPage({ answers: data.answers })
            for (const id of data.marks)
                page.quizController.toggleMarked(id)
            page.questionFilter = data.filter
            compare(page.filteredQuestionIndexes, data.filtered)
            compare(page.previousQuestionIndex, data.previous)
            compare(page.nextQuestionIndex, data.next)
            compare(page.adjacentFiltered(-1), data.previous)
            compare(page.adjacentFiltered(1), data.next)
        }

        function test_answeredCurrentLeavesUnansweredFilterOnceLeft() {
            const page = openPage({ answers: { q1: 0 } })
            page.questionFilter = "unanswered"
            compare(page.filteredQuestionIndexes, [1, 2, 3, 4])
            page.chooseAnswer("q3", 0)
            compare(page.filteredQuestionIndexes, [1, 2, 3, 4])
            page.navigateTo(3)
            compare(page.quizController.currentQuestionIndex, 3)
            compare(page.filteredQuestionIndexes, [1, 3, 4])
            compare(page.previousQuestionIndex, 1)
        }

        function test_navigationKeys_data() {
            return [
                { tag: "wide Down", width: 1000, language: "en", key: Qt.Key_Down, expected: 3 },
                { tag: "wide Up", width: 1000, language: "en", key: Qt.Key_Up, expected: 1 },
                { tag: "wide Right is no navigation", width: 1000, language: "en", key: Qt.Key_Right, expected: 2,
                  reachesHost: true },
                { tag: "compact left-to-right Right", width: 800, language: "en", key: Qt.Key_Right, expected: 3 },
                { tag: "compact left-to-right Left", width: 800, language: "en", key: Qt.Key_Left, expected: 1 },
                { tag: "compact right-to-left Right", width: 800, language: "ar", key: Qt.Key_Right, expected: 1 },
                { tag: "compact right-to-left Left", width: 800, language: "ar", key: Qt.Key_Left, expected: 3 },
                { tag: "compact Down is no navigation", width: 800, language: "en", key: Qt.Key_Down, expected: 2,
                  reachesHost: true },
                { tag: "Down on the last question", width: 1000, language: "en", key: Qt.Key_Down, current: 4,
                  expected: 4 }
            ]
        }

        function test_navigationKeys(data) {
            SettingsController.language = data.language
            root.width = data.width
            const page = openPage({ current: data.current })
            keyClick(data.key)
            compare(page.quizController.currentQuestionIndex, data.expected)
            compare(host.keysReachingHost.indexOf(data.key) >= 0, data.reachesHost === true)
        }

        function test_navigationKeysMuted_data() {
            return [
                { tag: "a dialog is visible", mute: "dialog" },
                { tag: "a text field has the focus", mute: "textField" },
                { tag: "an open popup holds the focus", mute: "popup" }
            ]
        }

        function test_navigationKeysMuted(data) {
            root.width = 800
            const page = openPage()
            let field = null
            if (data.mute === "dialog") {
                Theme.activeDialogs += 1
            } else if (data.mute === "textField") {
                field = createTemporaryObject(textFieldComponent, page)
                field.forceActiveFocus()
                field.cursorPosition = 3
            } else {
                const popup = createTemporaryObject(popupComponent, page)
                popup.open()
                tryCompare(popup, "opened", true)
                popup.contentItem.forceActiveFocus()
                verify(popup.contentItem.activeFocus)
            }
            try {
                verify(page.navigationShortcutBlocked())
                keyClick(Qt.Key_Right)
                compare(page.quizController.currentQuestionIndex, 2)
                if (field) {
                    // The caret moves instead, and a letter is typed, not chosen.
                    compare(field.cursorPosition, 3)
                    keyClick(Qt.Key_Left)
                    compare(field.cursorPosition, 2)
                    keyClick(Qt.Key_C)
                    compare(field.text, "abcc")
                    compare(page.quizController.answers["q3"], undefined)
                }
            } finally {
                if (data.mute === "dialog")
                    Theme.activeDialogs -= 1
            }
        }

        function test_keysDoNothingOutsideActive_data() {
            return [
                { tag: "offline read-only", state: "offline" },
                { tag: "review required", state: "review" }
            ]
        }

        function test_keysDoNothingOutsideActive(data) {
            const id = host.nextQuizId()
            const changed = host.questions(5)
            changed[0].text = "Question 1, corrected"
            changed[0].updatedAt = "2024-05-02T08:00:00.000Z"
            Fixture.script("quizzes/" + id, [{ body: host.activeDetails(id, {}) },
                                             { body: host.activeDetails(id, { questions: changed }) }])
            Fixture.respond("quizzes/" + id + "/attempts", 200, [])
            if (data.state === "offline")
                Fixture.script("attempts/a-" + id + "/answers", [{ drop: true }])
            else
                Fixture.script("attempts/a-" + id + "/answers",
                               [{ status: 409, body: { code: "QUESTION_VERSION_CONFLICT", message: "Conflict" } },
                                { held: true }])
            const page = host.push(id)
            tryCompare(page.quizController, "state", QuizController.Active)
            page.quizController.setAnswer("q1", 1)
            tryCompare(page.quizController, "state", data.state === "offline" ? QuizController.OfflineReadOnly
                                                                              : QuizController.ReviewRequired)
            page.quizController.currentQuestionIndex = 2
            page.forceActiveFocus()
            const before = JSON.stringify(page.quizController.answers)
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_B)
            compare(page.quizController.currentQuestionIndex, 2)
            compare(JSON.stringify(page.quizController.answers), before)
            // The navigator and the buttons still move.
            page.navigateTo(3)
            compare(page.quizController.currentQuestionIndex, 3)
        }

        function test_answerKeys_data() {
            return [
                { tag: "C", key: Qt.Key_C, text: "c", choose: 2 },
                { tag: "3", key: Qt.Key_3, text: "3", choose: 2 },
                { tag: "Arabic-Indic 3", key: 0, text: "\u0663", choose: 2 },
                { tag: "extended Arabic-Indic 3", key: 0, text: "\u06F3", choose: 2 },
                { tag: "keypad 2", key: Qt.Key_2, text: "2", modifiers: Qt.KeypadModifier, choose: 1 },
                { tag: "Shift+B", key: Qt.Key_B, text: "B", modifiers: Qt.ShiftModifier, strike: 1 },
                { tag: "Shift+2 on a US keyboard", key: Qt.Key_At, text: "@", modifiers: Qt.ShiftModifier, strike: 1 },
                { tag: "0", key: Qt.Key_0, text: "0" },
                { tag: "D, beyond the options", key: Qt.Key_D, text: "d" },
                { tag: "Ctrl+C", key: Qt.Key_C, text: "\u0003", modifiers: Qt.ControlModifier },
                { tag: "Alt+C", key: Qt.Key_C, text: "c", modifiers: Qt.AltModifier },
                { tag: "Meta+C", key: Qt.Key_C, text: "c", modifiers: Qt.MetaModifier }
            ]
        }

        function test_answerKeys(data) {
            const page = openPage()
            sendKey(data.key, data.text, data.modifiers)
            const controller = page.quizController
            if (data.choose !== undefined) {
                compare(controller.answers["q3"], data.choose)
            } else {
                compare(controller.answers["q3"], undefined)
            }
            const struck = controller.eliminatedOptions["q3"] || []
            compare(struck.length, data.strike !== undefined ? 1 : 0)
            if (data.strike !== undefined)
                compare(Number(struck[0]), data.strike)
            const accepted = data.choose !== undefined || data.strike !== undefined
            compare(host.keysReachingHost.indexOf(data.key) >= 0, !accepted)
            // Nothing refused is ever saved.
            if (!accepted) {
                wait(60)
                compare(Fixture.requestCount("attempts/a-" + page.quizId + "/answers"), 0)
            }
        }

        function test_answerKeysClosed_data() {
            return [
                { tag: "written question", setup: "written" },
                { tag: "locked question", setup: "locked" },
                { tag: "cannot edit", setup: "readOnly" }
            ]
        }

        function test_answerKeysClosed(data) {
            const questions = host.questions(5)
            questions[2] = { id: "q3", order: 3, type: "WRITTEN", text: "Explain", modelAnswer: "Because",
                             updatedAt: "2024-05-01T10:00:00.000Z" }
            const page = openPage(data.setup === "written" ? { questions: questions }
                                                           : data.setup === "locked" ? { answers: { q3: 0 } } : {})
            if (data.setup === "locked") {
                page.showImmediateCorrectness = true
                verify(page.questionLocked())
            } else if (data.setup === "readOnly") {
                Fixture.script("attempts/a-" + page.quizId + "/answers", [{ drop: true }])
                page.quizController.setAnswer("q1", 0)
                tryCompare(page.quizController, "canEdit", false)
                page.forceActiveFocus()
            }
            const before = page.quizController.answers["q3"]
            keyClick(Qt.Key_B)
            compare(page.quizController.answers["q3"], before)
            page.showImmediateCorrectness = false
        }

        function test_autoAdvance_data() {
            return [
                { tag: "auto-advance alone", advance: true, show: false, type: "ORDINARY", choice: 0, moves: true },
                { tag: "with correctness, wrong", advance: true, show: true, type: "ORDINARY", choice: 0, moves: false },
                { tag: "with correctness, right", advance: true, show: true, type: "ORDINARY", choice: 1, moves: true },
                { tag: "with correctness, no correct option", advance: true, show: true, type: "ORDINARY", choice: 1,
                  noCorrect: true, moves: false },
                { tag: "timed, with correctness, wrong", advance: true, show: true, type: "TIMED", choice: 0,
                  moves: true },
                { tag: "last filtered question", advance: true, show: false, type: "ORDINARY", choice: 0, current: 4,
                  moves: false },
                { tag: "auto-advance off", advance: false, show: false, type: "ORDINARY", choice: 1, moves: false }
            ]
        }

        function test_autoAdvance(data) {
            const questions = host.questions(5)
            if (data.noCorrect)
                questions[0].correctOptionIndex = -1
            const current = data.current !== undefined ? data.current : 0
            const page = openPage({ type: data.type, questions: questions, current: current })
            page.autoAdvance = data.advance
            page.showImmediateCorrectness = data.show
            page.chooseAnswer("q" + (current + 1), data.choice)
            compare(page.quizController.answers["q" + (current + 1)], data.choice)
            compare(page.quizController.currentQuestionIndex, data.moves ? current + 1 : current)
            page.autoAdvance = false
            page.showImmediateCorrectness = false
        }

        function test_choosingTheChosenOptionAgain() {
            const page = openPage({ current: 0, answers: { q1: 2 } })
            page.autoAdvance = true
            const saves = "attempts/a-" + page.quizId + "/answers"
            page.chooseAnswer("q1", 2)
            compare(page.quizController.currentQuestionIndex, 1)
            page.navigateTo(0)
            page.chooseAnswer("q1", 2)
            compare(page.quizController.currentQuestionIndex, 1)
            page.autoAdvance = false
        }

        function test_navigateToIgnoresCurrentAndOutOfRange() {
            SettingsController.animationSpeedMultiplier = 1
            const page = openPage()
            const motion = findChild(page, "questionMotion")
            for (const index of [2, -1, 5, 99]) {
                page.navigateTo(index)
                compare(page.pendingQuestionIndex, -1)
                compare(motion.opacity, 1)
                compare(page.quizController.currentQuestionIndex, 2)
            }
        }

        function test_twoNavigationsWithinOneSwitch() {
            SettingsController.animationSpeedMultiplier = 1
            const page = openPage()
            // Every question index the controller takes from now on; its other changes (a save,
            // the clock) leave the index as it was.
            const seen = []
            let last = page.quizController.currentQuestionIndex
            const note = () => {
                const index = page.quizController.currentQuestionIndex
                if (index !== last)
                    seen.push(index)
                last = index
            }
            page.quizController.changed.connect(note)
            page.navigateTo(3)
            compare(page.pendingQuestionIndex, 3)
            page.navigateTo(4)
            compare(page.pendingQuestionIndex, 4)
            compare(page.questionTransitionDirection, 1)
            tryCompare(page.quizController, "currentQuestionIndex", 4)
            tryCompare(findChild(page, "questionMotion"), "opacity", 1)
            page.quizController.changed.disconnect(note)
            compare(seen, [4])
        }

        function test_reducedMotionSwitchesAtOnce() {
            const page = openPage()
            verify(page.reducedMotion)
            page.navigateTo(4)
            compare(page.quizController.currentQuestionIndex, 4)
            compare(page.pendingQuestionIndex, -1)
            const navigator = findChild(page, "verticalQuestionNavigator")
            tryCompare(navigator, "currentIndex", 4)
        }

        function test_scrollMemory() {
            const page = openPage({ current: 0 })
            const flick = findChild(page, "questionScroll")
            flick.contentHeight = flick.height + 1000
            flick.contentY = 300
            page.navigateTo(1)
            compare(flick.contentY, 0)
            page.navigateTo(0)
            compare(flick.contentY, 300)
            // Its content has shrunk: the stored offset is clamped to what there is.
            page.navigateTo(1)
            flick.contentHeight = flick.height + 100
            page.navigateTo(0)
            compare(flick.contentY, 100)
        }

        function test_accessibleDescription() {
            const page = openPage({ answers: { q3: 1 } })
            page.showImmediateCorrectness = true
            page.quizController.toggleMarked("q3")
            compare(page.questionAccessibleDescription(2), "Current, Marked, Correct")
            compare(page.questionAccessibleDescription(3), "Unanswered")
            compare(page.questionAccessibleDescription(17), "Unanswered")
            page.showImmediateCorrectness = false
            compare(page.questionAccessibleDescription(2), "Current, Marked, Answered")
        }

        function test_preferencesOutliveThePage() {
            const first = openPage()
            verify(!first.autoAdvance)
            first.autoAdvance = true
            host.stack.clear(StackView.Immediate)
            tryVerify(() => TestSetup.storedSetting("quiz/autoAdvance") === true
                      || TestSetup.storedSetting("quiz/autoAdvance") === "true")
            const second = openPage()
            verify(second.autoAdvance)
            second.autoAdvance = false
        }

        function test_pageWithoutQuizId_data() {
            return [{ tag: "empty", quizId: "" }, { tag: "white space", quizId: "   " }]
        }

        function test_pageWithoutQuizId(data) {
            Fixture.clearRequests()
            const page = host.push(data.quizId)
            wait(50)
            compare(page.quizController.state, QuizController.Idle)
            verify(findChild(page, "quizBackButton").visible)
            for (const name of ["centeredQuizMetadata", "quizHelpButton", "quizLoadingSpinner", "quizWorkingArea",
                                "quizReadyPanel", "quizSubmittingOverlay", "quizResultsPanel", "quizNotice"])
                verify(!findChild(page, name).visible, name)
            compare(Fixture.requests().filter(request => request.path.indexOf("quiz") >= 0
                                              || request.path.indexOf("attempt") >= 0).length, 0)
        }
    }
}
