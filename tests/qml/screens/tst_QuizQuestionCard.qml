import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

// The quiz page's question card on the real controller against the fixture server: options by
// pointer, strike-outs, the immediate verdict, the read-only card, the written answer and its
// hand-over (including when saving is refused and when time runs out) and the self-grade.
Item {
    id: root

    width: 1000
    height: 700

    QuizPageHost {
        id: host
    }

    TestCase {
        id: testCase

        name: "QuizQuestionCard"
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
            TestSetup.setQuizClock(new Date(NaN))
        }

        // Five questions, the second written with a model answer.
        function mixedQuestions() {
            const questions = host.questions(5)
            questions[1] = { id: "q2", order: 2, type: "WRITTEN", text: "Explain.", modelAnswer: "Forty-two",
                             updatedAt: "2024-05-01T10:00:00.000Z" }
            return questions
        }

        function openPage(options) {
            options = options || {}
            const page = host.openActive(options)
            verify(page)
            if (options.saves)
                Fixture.script("attempts/" + host.attemptIdOf(page) + "/answers", options.saves)
            tryCompare(page.quizController, "state", QuizController.Active)
            page.quizController.currentQuestionIndex = options.current !== undefined ? options.current : 0
            page.forceActiveFocus()
            return page
        }

        function named(page, name) {
            const item = findChild(page, name)
            verify(item, name)
            return item
        }

        function tile(page, questionIndex) {
            const list = findChild(page, "verticalQuestionNavigator")
            const position = page.filteredQuestionIndexes.indexOf(questionIndex)
            list.positionViewAtIndex(position, ListView.Contain)
            const item = list.itemAtIndex(position)
            verify(item)
            return item
        }

        function savedAnswers(page) {
            const saves = Fixture.requests("attempts/" + host.attemptIdOf(page) + "/answers")
            const seen = []
            for (const request of saves) {
                for (const entry of request.body.answers || [])
                    seen.push([entry.questionId, entry.answer])
            }
            return seen
        }

        function saved(page, questionId, answer) {
            return savedAnswers(page).some(entry => entry[0] === questionId && entry[1] === answer)
        }

        function typeText(text) {
            for (const character of text)
                keyClick(character)
        }

        function fill(colour, alpha) {
            return Qt.rgba(colour.r, colour.g, colour.b, alpha)
        }

        function test_noImageNoGap() {
            const page = openPage()
            verify(!findChild(page, "questionImage"))
            const loader = named(page, "questionImageLoader")
            verify(!loader.visible)
            const text = named(page, "questionText")
            const options = named(page, "answerOptions")
            compare(options.y, text.y + text.height + Theme.spacing)
        }

        function test_imageQuestion() {
            const svg = "<svg xmlns='http://www.w3.org/2000/svg' width='400' height='800'>"
                    + "<rect width='400' height='800' fill='#3366cc'/></svg>"
            Fixture.script("/media/question.svg", [{ body: svg, headers: { "Content-Type": "image/svg+xml" } }])
            const questions = host.questions(2)
            questions[0].imageUrl = Fixture.url("/media/question.svg")
            const page = openPage({ questions: questions })
            const image = findChild(page, "questionImage")
            verify(image)
            verify(image.asynchronous)
            compare(image.Accessible.name, "Question image")
            tryCompare(image, "status", Image.Ready)
            compare(image.height, 320)
            compare(image.width, named(page, "questionColumn").width)
            const options = named(page, "answerOptions")
            const loader = named(page, "questionImageLoader")
            // The text above may still be settling its height: the gap is read each time.
            tryVerify(() => options.y === loader.y + loader.height + Theme.spacing, 5000,
                      "the options follow the image after one spacing")
        }

        function test_strikeOutAndChoose() {
            const page = openPage()
            const controller = page.quizController
            mouseClick(named(page, "answerPointer-1"))
            compare(controller.answers["q1"], 1)
            verify(named(page, "answerRow-1").selected)
            mouseClick(named(page, "answerPointer-1"), 10, 10, Qt.RightButton)
            verify(!page.hasAnswer("q1"))
            const row = named(page, "answerRow-1")
            verify(row.eliminated)
            compare(row.opacity, 0.56)
            verify(named(page, "answerText-1").font.strikeout)
            mouseClick(named(page, "answerPointer-1"))
            compare(controller.answers["q1"], 1)
            verify(!row.eliminated)
            compare(row.opacity, 1)
            verify(!named(page, "answerText-1").font.strikeout)
        }

        function test_immediateCorrectness_data() {
            return [
                { tag: "a wrong choice", correct: 1, choose: 0,
                  looks: [["error", 0.12, "error"], ["success", 0.14, "success"], [null, 0, "borderStrong"]] },
                { tag: "the right choice", correct: 1, choose: 1,
                  looks: [[null, 0, "borderStrong"], ["success", 0.14, "success"], [null, 0, "borderStrong"]] },
                { tag: "no correct option", correct: -1, choose: 0,
                  looks: [["primary", 0.12, "primary"], [null, 0, "borderStrong"], [null, 0, "borderStrong"]] }
            ]
        }

        function test_immediateCorrectness(data) {
            const questions = host.questions(3)
            questions[0].correctOptionIndex = data.correct
            const page = openPage({ questions: questions })
            page.showImmediateCorrectness = true
            try {
                const controller = page.quizController
                mouseClick(named(page, "answerPointer-" + data.choose))
                verify(page.questionLocked())
                for (let i = 0; i < 3; ++i) {
                    const row = named(page, "answerRow-" + i)
                    const look = data.looks[i]
                    const expected = look[0] === null ? Qt.rgba(0, 0, 0, 0) : fill(Theme[look[0]], look[1])
                    verify(Qt.colorEqual(row.color, expected), "fill of row " + i)
                    verify(Qt.colorEqual(row.border.color, Theme[look[2]]), "border of row " + i)
                }
                // The first choice is final and the strike-outs are frozen.
                const other = (data.choose + 1) % 3
                verify(!named(page, "answerPointer-" + other).enabled)
                mouseClick(named(page, "answerPointer-" + other))
                mouseClick(named(page, "answerPointer-" + other), 10, 10, Qt.RightButton)
                compare(controller.answers["q1"], data.choose)
                compare(controller.eliminatedOptions["q1"], undefined)
            } finally {
                page.showImmediateCorrectness = false
            }
        }

        function test_offlineCardIsReadOnly() {
            const page = openPage({ questions: mixedQuestions(), answers: { q2: "Stored essay" },
                                    saves: [{ drop: true }] })
            const controller = page.quizController
            controller.toggleEliminated("q1", 2)
            controller.setAnswer("q1", 1)
            tryCompare(controller, "state", QuizController.OfflineReadOnly)
            verify(named(page, "answerRow-1").selected)
            verify(named(page, "answerRow-1").visible)
            compare(named(page, "answerRow-2").opacity, 0.56)
            for (let i = 0; i < 3; ++i)
                verify(!named(page, "answerPointer-" + i).enabled)
            page.navigateTo(1)
            const field = named(page, "writtenAnswer")
            verify(!field.enabled)
            compare(field.text, "Stored essay")
            verify(named(page, "selfGradeBlock").visible)
            verify(!named(page, "selfGradeCorrectButton").enabled)
            verify(!named(page, "selfGradeIncorrectButton").enabled)
        }

        function test_writtenTextGoesToTheQuestionTypedIn() {
            const page = openPage({ questions: mixedQuestions(), current: 1, saves: [{ status: 200, body: {} }] })
            const field = named(page, "writtenAnswer")
            verify(!named(page, "selfGradeBlock").visible)
            mouseClick(field)
            verify(field.activeFocus)
            typeText("abc")
            compare(page.quizController.answers["q2"], undefined)
            mouseClick(tile(page, 3))
            compare(page.quizController.currentQuestionIndex, 3)
            compare(page.quizController.answers["q2"], "abc")
            tryVerify(() => saved(page, "q2", "abc"), 3000, "the save carries the text")
        }

        function test_clickBesideTheFieldStoresTheText() {
            const page = openPage({ questions: mixedQuestions(), current: 1, saves: [{ status: 200, body: {} }] })
            const field = named(page, "writtenAnswer")
            mouseClick(field)
            typeText("abc")
            const card = named(page, "questionCard")
            mouseClick(card, card.width / 2, card.height - 40)
            verify(!field.activeFocus)
            compare(page.quizController.currentQuestionIndex, 1)
            compare(page.quizController.answers["q2"], "abc")
            verify(named(page, "selfGradeBlock").visible)
            tryVerify(() => saved(page, "q2", "abc"), 3000, "the save carries the text")
            // A click inside the field keeps typing there.
            mouseClick(field)
            verify(field.activeFocus)
        }

        function test_writtenAnswerStoredAsTyped_data() {
            return [
                { tag: "cleared", text: "", answered: false },
                { tag: "white space", text: "   ", answered: false },
                { tag: "text", text: "Because.", answered: true }
            ]
        }

        function test_writtenAnswerStoredAsTyped(data) {
            const page = openPage({ questions: mixedQuestions(), current: 1, answers: { q2: "Earlier" } })
            const controller = page.quizController
            const field = named(page, "writtenAnswer")
            compare(field.text, "Earlier")
            verify(named(page, "selfGradeBlock").visible)
            compare(named(page, "modelAnswerText").text, "Model answer: Forty-two")
            mouseClick(field)
            field.selectAll()
            keyClick(Qt.Key_Delete)
            typeText(data.text)
            mouseClick(tile(page, 2))
            compare(controller.answers["q2"], data.text)
            compare(page.hasAnswer("q2"), data.answered)
            compare(page.unansweredCount, data.answered ? 4 : 5)
            page.navigateTo(1)
            compare(named(page, "selfGradeBlock").visible, data.answered)
            // A blank answer shows as an empty field.
            compare(field.text, data.answered ? data.text : "")
        }

        function test_timedQuizHasNoGradeBlock() {
            const page = openPage({ type: "TIMED", questions: mixedQuestions(), current: 1, answers: { q2: "Essay" } })
            verify(page.hasAnswer("q2"))
            verify(named(page, "writtenAnswer").visible)
            verify(!named(page, "selfGradeBlock").visible)
        }

        function test_selfGradeButtons() {
            const page = openPage({ questions: mixedQuestions(), current: 1, answers: { q2: "Essay" } })
            const correct = named(page, "selfGradeCorrectButton")
            const incorrect = named(page, "selfGradeIncorrectButton")
            verify(correct.isOutline)
            verify(incorrect.isOutline)
            verify(Qt.colorEqual(correct.buttonColor, Theme.success))
            verify(Qt.colorEqual(incorrect.buttonColor, Theme.error))
            mouseClick(correct)
            compare(page.quizController.selfGrades["q2"], true)
            verify(!correct.isOutline)
            verify(incorrect.isOutline)
            mouseClick(incorrect)
            compare(page.quizController.selfGrades["q2"], false)
            verify(correct.isOutline)
            verify(!incorrect.isOutline)
            compare(page.questionResultState(page.quizController.questions[1]), "incorrect")
        }

        function test_optionTextIsPlain() {
            const questions = host.questions(2)
            questions[0].options = ["a<b and c>d", "<b>bold</b>", "C"]
            const page = openPage({ questions: questions })
            for (const [index, text] of [[0, "a<b and c>d"], [1, "<b>bold</b>"]]) {
                const label = named(page, "answerText-" + index)
                compare(label.textFormat, Text.PlainText)
                compare(label.text, text)
            }
        }

        function test_leavingByBackButtonKeepsTheText() {
            host.stack.push(baseComponent, {}, StackView.Immediate)
            const page = openPage({ questions: mixedQuestions(), current: 1 })
            const quizId = page.quizId
            const field = named(page, "writtenAnswer")
            mouseClick(field)
            typeText("unsaved")
            mouseClick(named(page, "quizBackButton"))
            tryCompare(host.stack, "depth", 1)
            // The text reached the attempt kept on this machine: the page opened again shows it.
            const again = host.push(quizId)
            tryCompare(again.quizController, "state", QuizController.Active)
            compare(again.quizController.answers["q2"], "unsaved")
        }

        function test_refusedTextIsKeptAndHandedOverLater() {
            const page = openPage({ questions: mixedQuestions(), current: 1, saves: [{ drop: true }] })
            const controller = page.quizController
            const field = named(page, "writtenAnswer")
            mouseClick(field)
            typeText("essay")
            // Another save fails while the field is being typed in.
            controller.setAnswer("q1", 1)
            tryCompare(controller, "state", QuizController.OfflineReadOnly)
            verify(!field.enabled)
            compare(field.text, "essay")
            compare(controller.answers["q2"], undefined)
            Fixture.respond("attempts/" + host.attemptIdOf(page) + "/answers", 200, {})
            controller.retry()
            tryCompare(controller, "state", QuizController.Active)
            tryVerify(() => saved(page, "q2", "essay"), 3000, "a save carries the kept text")
            compare(controller.answers["q2"], "essay")
            compare(field.text, "essay")
        }

        function test_draftTypedOfflineSurvivesBack() {
            host.stack.push(baseComponent, {}, StackView.Immediate)
            const page = openPage({ questions: mixedQuestions(), current: 1, saves: [{ drop: true }] })
            const quizId = page.quizId
            const saves = "attempts/" + host.attemptIdOf(page) + "/answers"
            const field = named(page, "writtenAnswer")
            mouseClick(field)
            typeText("essay")
            // A save fails while the field is being typed in: the text cannot be stored, so it is kept.
            page.quizController.setAnswer("q1", 1)
            tryCompare(page.quizController, "state", QuizController.OfflineReadOnly)
            tryVerify(() => page.quizController.writtenDrafts["q2"] === "essay", 3000, "the text is kept")
            compare(page.quizController.answers["q2"], undefined)
            compare(field.text, "essay")
            mouseClick(named(page, "quizBackButton"))
            tryCompare(host.stack, "depth", 1)
            // The stack takes no clicks while the page slides away.
            tryCompare(host.stack, "busy", false)

            // Opened again with the connection back: the text is in the field and goes out once.
            // The client may have asked again after the dropped save: only what follows counts.
            const savesBefore = Fixture.requests(saves).length
            Fixture.script(saves, [{ held: true, status: 200, body: {} }])
            const again = host.push(quizId)
            tryCompare(again.quizController, "state", QuizController.Active)
            compare(again.quizController.currentQuestionIndex, 1)
            tryCompare(named(again, "writtenAnswer"), "text", "essay")
            tryVerify(() => Fixture.requests(saves).length === savesBefore + 1, 3000, "the text goes out")
            Fixture.release(saves)
            tryCompare(again.quizController, "syncing", false)
            compare(again.quizController.answers["q2"], "essay")
            compare(again.quizController.writtenDrafts["q2"], undefined)
            const carrying = Fixture.requests(saves).filter(
                request => (request.body.answers || []).some(entry => entry.questionId === "q2"))
            compare(carrying.length, 1)
            compare(carrying[0].body.answers.find(entry => entry.questionId === "q2").answer, "essay")
        }

        function test_timeUpTakesTheTypedText() {
            const now = new Date(Date.UTC(2024, 4, 1, 10, 0, 0))
            TestSetup.setQuizClock(now)
            const id = host.nextQuizId()
            const details = host.activeDetails(id, { type: "TIMED", questions: mixedQuestions() })
            details.activeAttempt.expiresAt = new Date(now.getTime() + 30000).toISOString()
            Fixture.respond("quizzes/" + id, 200, details)
            Fixture.respond("quizzes/" + id + "/attempts", 200, [])
            Fixture.script("attempts/a-" + id + "/answers", [{ held: true }])
            Fixture.script("attempts/a-" + id + "/submit", [{ held: true }])
            const page = host.push(id)
            tryCompare(page.quizController, "state", QuizController.Active)
            page.quizController.currentQuestionIndex = 1
            const field = named(page, "writtenAnswer")
            mouseClick(field)
            typeText("last words")
            TestSetup.setQuizClock(new Date(now.getTime() + 31000))
            tryVerify(() => Fixture.requests("attempts/a-" + id + "/submit").length > 0, 5000, "submission")
            const body = Fixture.requests("attempts/a-" + id + "/submit")[0].body
            verify(body.answers.some(entry => entry.questionId === "q2" && entry.answer === "last words"),
                   JSON.stringify(body))
        }
    }

    Component {
        id: baseComponent

        Item {}
    }
}
