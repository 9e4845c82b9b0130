import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

// The quiz page's question navigator on the real controller against the fixture server: the two
// arrangements by width, the filter pills of both, the tiles' looks and clicks, the right-to-left
// layout and a quiz without questions.
Item {
    id: root

    width: 1000
    height: 700

    QuizPageHost {
        id: host
    }

    TestCase {
        id: testCase

        name: "QuizNavigator"
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

        function visibleList(page) {
            return named(page, page.wideNavigation ? "verticalQuestionNavigator" : "compactQuestionList")
        }

        function tileOf(page, list, questionIndex) {
            const position = page.filteredQuestionIndexes.indexOf(questionIndex)
            verify(position >= 0)
            list.positionViewAtIndex(position, ListView.Contain)
            const tile = list.itemAtIndex(position)
            verify(tile, "tile of question " + questionIndex)
            return tile
        }

        // The current tile stands in the middle of the list, or the list is scrolled to an end.
        function currentTileCentred(page, list) {
            const position = page.filteredQuestionIndexes.indexOf(page.quizController.currentQuestionIndex)
            const tile = list.itemAtIndex(position)
            if (!tile)
                return false
            const horizontal = list.orientation === ListView.Horizontal
            const centre = horizontal ? tile.mapToItem(list, tile.width / 2, 0).x : tile.mapToItem(list, 0, tile.height / 2).y
            const middle = (horizontal ? list.width : list.height) / 2
            return Math.abs(centre - middle) <= 1 || (horizontal ? list.atXBeginning || list.atXEnd
                                                                  : list.atYBeginning || list.atYEnd)
        }

        function test_arrangementByWidth_data() {
            return [
                { tag: "850 shows the sidebar", width: 850, startWidth: 700, wide: true },
                { tag: "849 shows the compact bars", width: 849, startWidth: 1000, wide: false }
            ]
        }

        function test_arrangementByWidth(data) {
            root.width = data.startWidth
            const page = openPage({ questions: host.questions(40), current: 20 })
            root.width = data.width
            compare(page.wideNavigation, data.wide)
            const sidebar = named(page, "questionSidebar")
            const filters = named(page, "compactQuestionFilters")
            const strip = named(page, "compactQuestionNavigator")
            const card = named(page, "questionCard")
            const bar = named(page, "quizBottomBar")
            const column = named(page, "quizMainColumn")
            compare(sidebar.visible, data.wide)
            compare(filters.visible, !data.wide)
            compare(strip.visible, !data.wide)
            if (data.wide)
                tryCompare(sidebar, "width", 220)
            // A hidden bar asks for no height and the layout gives it none.
            compare(filters.Layout.preferredHeight, data.wide ? 0 : 86)
            compare(strip.Layout.preferredHeight, data.wide ? 0 : 60)
            compare(sidebar.Layout.preferredWidth, data.wide ? 220 : 0)
            if (!data.wide) {
                tryCompare(filters, "height", 86)
                tryCompare(strip, "height", 60)
            }
            const taken = data.wide ? bar.height + 8 : 86 + 60 + bar.height + 3 * 8
            tryCompare(card, "height", column.height - taken)
            tryCompare(column, "width", named(page, "quizWorkingArea").width - (data.wide ? 220 + 16 : 0))
            const list = visibleList(page)
            tryVerify(() => currentTileCentred(page, list), 2000, "current tile centred")
            compare(list.currentIndex, 20)
        }

        // The notice above the working area takes height from the column: the card gives it, the
        // compact bars keep theirs and nothing runs into the action bar.
        function test_compactBarsKeepTheirHeightUnderANotice() {
            root.width = 700
            const id = host.nextQuizId()
            const changed = host.questions(5)
            changed[0].text = "Question 1, corrected"
            changed[0].updatedAt = "2024-05-02T08:00:00.000Z"
            Fixture.script("quizzes/" + id, [{ body: host.activeDetails(id, {}) },
                                             { body: host.activeDetails(id, { questions: changed }) }])
            Fixture.respond("quizzes/" + id + "/attempts", 200, [])
            Fixture.script("attempts/a-" + id + "/answers",
                           [{ status: 409, body: { code: "QUESTION_VERSION_CONFLICT", message: "Conflict" } },
                            { held: true }])
            const page = host.push(id)
            tryCompare(page.quizController, "state", QuizController.Active)
            page.quizController.setAnswer("q1", 1)
            tryCompare(page.quizController, "state", QuizController.ReviewRequired)
            tryCompare(named(page, "quizNotice"), "visible", true)
            const column = named(page, "quizMainColumn")
            const bar = named(page, "quizBottomBar")
            tryCompare(named(page, "compactQuestionFilters"), "height", 86)
            tryCompare(named(page, "compactQuestionNavigator"), "height", 60)
            tryCompare(named(page, "questionCard"), "height", column.height - 86 - 60 - bar.height - 3 * 8)
            compare(bar.y + bar.height, column.height)
        }

        function test_pillCounts() {
            const page = openPage({ answers: { q1: 0, q2: 1 } })
            const wide = name => named(page, "wideQuestionFilter-" + name)
            compare(wide("all").count, 5)
            compare(wide("unanswered").count, 3)
            compare(wide("marked").count, 0)
            compare(wide("unanswered").Accessible.name, "Unanswered, 3 questions")
            compare(wide("all").checked, true)
        }

        function test_unansweredFilterKeepsTheCurrentTile() {
            const page = openPage()
            const list = named(page, "verticalQuestionNavigator")
            mouseClick(named(page, "wideQuestionFilter-unanswered"))
            compare(page.questionFilter, "unanswered")
            compare(list.count, 5)
            mouseClick(named(page, "answerPointer-0"))
            compare(named(page, "wideQuestionFilter-unanswered").count, 4)
            compare(list.count, 5)
            page.navigateTo(3)
            compare(list.count, 4)
            compare(page.filteredQuestionIndexes, [0, 1, 3, 4])
        }

        function test_markedChosenCompactShowsInSidebar() {
            root.width = 849
            const page = openPage()
            const compactPill = named(page, "compactQuestionFilter-marked")
            mouseClick(compactPill)
            compare(page.questionFilter, "marked")
            compare(compactPill.count, 0)
            compare(named(page, "compactQuestionList").count, 1)
            compare(named(page, "compactQuestionFilter-all").checked, false)
            root.width = 1000
            verify(named(page, "wideQuestionFilter-marked").checked)
            verify(!named(page, "wideQuestionFilter-all").checked)
            compare(named(page, "verticalQuestionNavigator").count, 1)
        }

        function test_clickOnTheCurrentTileChangesNothing() {
            SettingsController.animationSpeedMultiplier = 1
            const page = openPage()
            const list = named(page, "verticalQuestionNavigator")
            const motion = named(page, "questionMotion")
            const changes = createTemporaryObject(signalSpyComponent, testCase,
                                                  { target: page.quizController, signalName: "changed" })
            mouseClick(tileOf(page, list, 2))
            compare(changes.count, 0)
            compare(page.pendingQuestionIndex, -1)
            compare(motion.opacity, 1)
            compare(page.quizController.currentQuestionIndex, 2)
            mouseClick(tileOf(page, list, 4))
            tryCompare(page.quizController, "currentQuestionIndex", 4)
            tryCompare(motion, "opacity", 1)
        }

        function test_tileLook_data() {
            return [
                { tag: "unanswered", answer: undefined, fill: "transparent", border: "borderStrong" },
                { tag: "answered without a correct option", answer: 0, noCorrect: true, fill: "surfaceMuted",
                  border: "borderStrong" },
                { tag: "correct", answer: 1, fill: "success", alpha: 0.12, border: "success" },
                { tag: "incorrect", answer: 0, fill: "error", alpha: 0.10, border: "error" }
            ]
        }

        function test_tileLook(data) {
            const questions = host.questions(5)
            if (data.noCorrect)
                questions[3].correctOptionIndex = -1
            const answers = data.answer === undefined ? {} : { q4: data.answer }
            const page = openPage({ questions: questions, answers: answers, current: 0 })
            page.showImmediateCorrectness = true
            try {
                const list = named(page, "verticalQuestionNavigator")
                const tile = tileOf(page, list, 3)
                compare(tile.resultState, data.tag.split(" ")[0])
                const expectedFill = data.fill === "transparent" ? Qt.rgba(0, 0, 0, 0)
                                   : data.alpha !== undefined ? Qt.rgba(Theme[data.fill].r, Theme[data.fill].g,
                                                                        Theme[data.fill].b, data.alpha)
                                                              : Theme[data.fill]
                tryVerify(() => Qt.colorEqual(tile.background.color, expectedFill), 1000, "fill")
                verify(Qt.colorEqual(tile.background.border.color, Theme[data.border]), "border")
                const current = tileOf(page, list, 0)
                verify(Qt.colorEqual(current.background.border.color, Theme.primary))
            } finally {
                page.showImmediateCorrectness = false
            }
        }

        function test_tileNameAndMarkGlyph() {
            const page = openPage({ answers: { q3: 1 } })
            const list = named(page, "verticalQuestionNavigator")
            const tile = tileOf(page, list, 2)
            compare(tile.Accessible.name, "Question 3")
            compare(tile.Accessible.description, page.questionAccessibleDescription(2))
            compare(tile.Accessible.description, "Current, Answered")
            const glyph = findChild(tile, "questionMarkGlyph-2")
            verify(glyph)
            verify(!glyph.visible)
            page.quizController.toggleMarked("q3")
            verify(glyph.visible)
            compare(tile.Accessible.description, "Current, Marked, Answered")
            page.quizController.toggleMarked("q3")
            verify(!glyph.visible)
        }

        function test_rightToLeft() {
            SettingsController.language = "ar"
            root.width = 849
            const page = openPage({ current: 0 })
            const list = named(page, "compactQuestionList")
            verify(page.compactFlowRightToLeft)
            const first = tileOf(page, list, 0)
            const right = first.mapToItem(list, first.width, 0).x
            verify(Math.abs(right - list.width) <= 1, "question 1 at the right end: " + right + " of " + list.width)
            const second = tileOf(page, list, 1)
            verify(second.mapToItem(list, 0, 0).x < first.mapToItem(list, 0, 0).x)
            root.width = 1000
            const sidebar = named(page, "questionSidebar")
            const card = named(page, "questionCard")
            tryVerify(() => sidebar.width === 220
                      && sidebar.mapToItem(page, 0, 0).x > card.mapToItem(page, 0, 0).x + card.width - 1,
                      1000, "the sidebar at the right of the card")
        }

        function test_noQuestions() {
            const page = openPage({ questions: [], current: -1 })
            for (const name of ["all", "unanswered", "marked"])
                compare(named(page, "wideQuestionFilter-" + name).count, 0, name)
            compare(named(page, "verticalQuestionNavigator").count, 0)
            root.width = 800
            for (const name of ["all", "unanswered", "marked"])
                compare(named(page, "compactQuestionFilter-" + name).count, 0, name)
            compare(named(page, "compactQuestionList").count, 0)
        }
    }

    Component {
        id: signalSpyComponent

        SignalSpy {}
    }
}
