import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

// The ordinary quiz "Units and measurement" taken on the sample platform as the sample account
// takes it: started, answered by key and by click, an option struck out, a question marked, a
// written answer graded; the page left and opened again with all of it back and the question its
// teacher changed meanwhile under review; its answer kept; submitted through the dialog.
Item {
    id: root

    width: 1000
    height: 700

    QuizPageHost {
        id: host
    }

    TestCase {
        id: testCase

        readonly property string quizId: "qz-205"

        name: "QuizPageJourney"
        when: windowShown

        function initTestCase() {
            verify(TestSetup.signInAsSampleAccount(), "the sample account signs in")
        }

        function init() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
        }

        function cleanup() {
            host.stack.clear(StackView.Immediate)
            SettingsController.animationSpeedMultiplier = 1
        }

        function named(page, name) {
            const item = findChild(page, name)
            verify(item, name)
            return item
        }

        function indexOfQuestion(controller, questionId) {
            for (let i = 0; i < controller.questions.length; ++i) {
                if (controller.questions[i].id === questionId)
                    return i
            }
            return -1
        }

        function goTo(page, questionId) {
            const controller = page.quizController
            const index = indexOfQuestion(controller, questionId)
            verify(index >= 0, questionId)
            if (controller.currentQuestionIndex !== index)
                page.navigateTo(index)
            tryCompare(controller, "currentQuestionIndex", index)
            tryCompare(named(page, "questionText"), "text", controller.questions[index].text)
            // The new question's options stand where a click finds them.
            waitForItemPolished(named(page, "answerOptions"))
        }

        // Waits until the platform has taken the changes made since the attempt stood at
        // revisionBefore, without a question changed under them.
        function settle(page, revisionBefore) {
            const controller = page.quizController
            tryVerify(() => controller.revision > revisionBefore, 10000, "the platform takes the changes")
            compare(controller.state, QuizController.Active)
            tryCompare(controller, "syncing", false, 10000)
        }

        function submitThroughTheDialog(page) {
            const controller = page.quizController
            tryCompare(controller, "syncing", false, 10000)
            const dialog = named(page, "submitDialog")
            const submitButton = named(page, "submitQuizButton")
            tryCompare(submitButton, "enabled", true)
            mouseClick(submitButton)
            tryCompare(dialog, "opened", true)
            mouseClick(findChild(dialog, "quorinDialogConfirmButton"))
            tryCompare(controller, "state", QuizController.Result, 10000)
        }

        function openQuiz() {
            const page = host.push(quizId)
            verify(page)
            return page
        }

        function test_ordinaryQuizFromStartToSubmission() {
            let page = openQuiz()
            let controller = page.quizController
            tryCompare(controller, "state", QuizController.Ready, 10000)
            compare(named(page, "quizReadyTitle").text, "Units and measurement")
            const start = named(page, "startQuizButton")
            tryCompare(start, "enabled", true)
            mouseClick(start)
            tryCompare(controller, "state", QuizController.Active, 10000)
            compare(controller.questions.length, 3)

            // The second question first, by key: "B" chooses the kilogram. The platform takes it,
            // and its teacher then changes that question.
            goTo(page, "qz-205-q2")
            const askedFirst = controller.currentQuestion.text
            page.forceActiveFocus()
            let revision = controller.revision
            keyClick(Qt.Key_B)
            tryVerify(() => controller.answers["qz-205-q2"] === 1, 5000, "the key chose the second option")
            settle(page, revision)
            // A right click strikes the last option out; the question is marked.
            const optionCount = controller.currentQuestion.options.length
            const struck = optionCount - 1
            mouseClick(named(page, "answerPointer-" + struck), 5, 5, Qt.RightButton)
            tryVerify(() => (controller.eliminatedOptions["qz-205-q2"] || []).indexOf(struck) >= 0, 5000,
                      "the last option is struck out")
            compare(controller.answers["qz-205-q2"], 1)
            mouseClick(named(page, "markQuestionButton"))
            tryVerify(() => controller.markedQuestionIds.indexOf("qz-205-q2") >= 0, 5000, "the question is marked")

            // The first by a click on "1000".
            goTo(page, "qz-205-q1")
            revision = controller.revision
            mouseClick(named(page, "answerPointer-1"))
            tryCompare(controller.answers, "qz-205-q1", 1)
            settle(page, revision)

            // The written answer, handed over when the field lets the focus go, then graded.
            goTo(page, "qz-205-q3")
            const field = named(page, "writtenAnswer")
            mouseClick(field)
            tryCompare(field, "activeFocus", true)
            for (const character of "si units")
                keyClick(character)
            compare(field.text, "si units")
            page.forceActiveFocus()
            revision = controller.revision
            tryCompare(controller.answers, "qz-205-q3", "si units")
            const grade = named(page, "selfGradeCorrectButton")
            tryCompare(grade, "visible", true)
            mouseClick(grade)
            tryCompare(controller.selfGrades, "qz-205-q3", true)
            settle(page, revision)
            goTo(page, "qz-205-q3")

            compare(controller.answers["qz-205-q1"], 1)
            compare(controller.answers["qz-205-q2"], 1)
            compare(controller.answers["qz-205-q3"], "si units")
            compare(controller.markedQuestionIds, ["qz-205-q2"])
            compare(controller.eliminatedOptions["qz-205-q2"], [struck])

            // Left and opened again: everything is where it was, and the question the teacher
            // changed since it was answered waits for the student's word.
            host.stack.clear(StackView.Immediate)
            page = openQuiz()
            controller = page.quizController
            tryCompare(controller, "state", QuizController.ReviewRequired, 10000)
            compare(controller.reviewQuestionIds, ["qz-205-q2"])
            compare(named(page, "quizNotice").message,
                    "Some questions changed. Review your answers before continuing.")
            compare(controller.answers["qz-205-q1"], 1)
            compare(controller.answers["qz-205-q2"], 1)
            compare(controller.answers["qz-205-q3"], "si units")
            compare(controller.selfGrades["qz-205-q3"], true)
            compare(controller.markedQuestionIds, ["qz-205-q2"])
            compare(controller.eliminatedOptions["qz-205-q2"], [struck])
            compare(controller.currentQuestionIndex, indexOfQuestion(controller, "qz-205-q3"))
            tryCompare(named(page, "writtenAnswer"), "text", "si units")
            goTo(page, "qz-205-q2")
            verify(findChild(page, "questionMarkGlyph-" + indexOfQuestion(controller, "qz-205-q2")).visible,
                   "the mark glyph is back")
            verify(controller.currentQuestion.text !== askedFirst, "the question shows as the teacher changed it")
            const notice = named(page, "quizNotice")
            tryCompare(notice, "actionText", "Keep this answer")
            notice.actionTriggered()
            tryCompare(controller, "state", QuizController.Active)
            compare(controller.answers["qz-205-q2"], 1)

            // Submitted through the dialog, the kept answer with it.
            submitThroughTheDialog(page)
            tryCompare(named(page, "quizResultsTitle"), "text", "Quiz completed")
            compare(named(page, "quizResultsStatus").text, "Your answers were submitted successfully.")
        }
    }
}
