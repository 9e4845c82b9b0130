import QtQuick
import QtQuick.Controls
import Quorin
import Quorin.Controllers

// The real quiz page filling the gallery window, on the quizzes of the sample platform, brought
// into one of its states as a user would bring it there. Each quiz gallery names its scene;
// "ready" turns true once the scene stands, or once the page has settled in a state from which the
// scene cannot be reached (a platform without the quiz).
Item {
    id: gallery

    // "loading", "failed", "active", "review", "submitDialog", "sheet", "startOrdinary", "startTimed",
    // "startLater", "starting", "mcq", "reveal", "image", "written" or "results".
    property string scene: "active"
    readonly property bool followsWindowSize: true
    // The loading scene stands from the start: the shot must come before the quiz's answer does.
    property bool ready: scene === "loading"
    property int step: 0
    // The sample platform's quizzes by scene: qz-205 ordinary (the start panel is shot before any
    // gallery starts it), qz-202 timed and open (its starts are held by the screenshot run's
    // platform, and refused after the hold, so every start shows the placeholder), qz-203 timed and
    // opening later, qz-204 its leaderboard only, qz-206 ordinary with pictures.
    readonly property var sceneQuizzes: ({ failed: "qz-unknown", startTimed: "qz-202", startLater: "qz-203",
                                           starting: "qz-202", image: "qz-206", results: "qz-204" })
    readonly property string quizId: sceneQuizzes[scene] || "qz-205"
    readonly property bool startScene: scene === "startOrdinary" || scene === "startTimed" || scene === "startLater"
    readonly property var page: stack.currentItem

    function find(item, objectName) {
        if (!item)
            return null
        if (item.objectName === objectName)
            return item
        for (let index = 0; index < item.children.length; ++index) {
            const found = find(item.children[index], objectName)
            if (found)
                return found
        }
        return null
    }

    // The page's dialogs and sheets, which are not items of its tree.
    function pageObject(objectName) {
        for (let index = 0; index < page.data.length; ++index) {
            if (page.data[index].objectName === objectName)
                return page.data[index]
        }
        return null
    }

    function settledElsewhere(controller) {
        return controller.state === QuizController.Failed || controller.state === QuizController.Result
                || controller.state === QuizController.Leaderboard
    }

    function questionIndexOf(controller, type, skip) {
        let seen = 0
        for (let index = 0; index < controller.questions.length; ++index) {
            if (controller.questions[index].type === type && seen++ === skip)
                return index
        }
        return -1
    }

    // The first question answered wrongly with another option struck out, the first and third
    // marked.
    function showMultipleChoice(controller) {
        const questions = controller.questions
        const first = questions[0]
        const options = first.options.length
        const wrong = (Number(first.correctOptionIndex) + 1) % options
        if (!page.hasAnswer(first.id))
            controller.setAnswer(first.id, wrong)
        const struck = (wrong + 1) % options
        if (options > 2 && !page.isEliminated(first.id, struck) && Number(page.answerFor(first.id)) !== struck)
            controller.toggleEliminated(first.id, struck)
        for (const index of [0, 2]) {
            if (index < questions.length && !page.isMarked(questions[index].id))
                controller.toggleMarked(questions[index].id)
        }
        controller.currentQuestionIndex = 0
        return true
    }

    // The first multiple-choice question's choice with its verdict.
    function showVerdict(controller) {
        const index = questionIndexOf(controller, "MCQ", 0)
        if (index < 0)
            return true
        const question = controller.questions[index]
        controller.currentQuestionIndex = index
        if (!page.hasAnswer(question.id)) {
            const options = question.options.length
            controller.setAnswer(question.id, (Number(question.correctOptionIndex) + 1) % options)
        }
        return true
    }

    // The first question with a picture, once the picture has come.
    function showImage(controller) {
        const index = controller.questions.findIndex(question => !!question.imageUrl)
        if (index < 0)
            return true
        controller.currentQuestionIndex = index
        const image = find(page, "questionImage")
        return image !== null && (image.status === Image.Ready || image.status === Image.Error || step > 100)
    }

    // The first written question answered and graded, with its model answer.
    function showGradedAnswer(controller) {
        const index = questionIndexOf(controller, "WRITTEN", 0)
        if (index < 0)
            return true
        const question = controller.questions[index]
        if (!page.hasAnswer(question.id))
            controller.setAnswer(question.id, "The net force on a body equals its mass times its acceleration.")
        if (controller.selfGrades[question.id] !== true)
            controller.setSelfGrade(question.id, true)
        controller.currentQuestionIndex = index
        return true
    }

    // One step a tick; false while the scene still waits for something.
    function advance() {
        const controller = page.quizController
        step += 1
        // The placeholder stands while the start is outstanding; a start that was answered at
        // once (a platform that holds none) settles where it led.
        if (scene === "starting" && controller.state === QuizController.Ready) {
            if (!controller.startingAttempt) {
                page.nickname = "Nour"
                controller.startAttempt(page.nickname)
            }
            return controller.startingAttempt
        }
        if (controller.state === QuizController.Idle || controller.state === QuizController.Loading
                || controller.state === QuizController.Submitting || controller.startingAttempt)
            return false
        if (scene === "failed" || settledElsewhere(controller))
            return true
        if (controller.state === QuizController.Ready && startScene) {
            if (scene === "startTimed")
                page.nickname = "Nour"
            return true
        }
        if (controller.state === QuizController.Ready) {
            controller.startAttempt("")
            return false
        }
        // The preference is stored: every scene says what it wants.
        page.showImmediateCorrectness = scene === "reveal"
        switch (scene) {
        case "review":
            if (controller.state === QuizController.ReviewRequired) {
                const reviewed = controller.questions.findIndex(
                                   question => question.id === controller.reviewQuestionIds[0])
                controller.currentQuestionIndex = Math.max(0, reviewed)
                return true
            }
            if (controller.state !== QuizController.Active || step > 100)
                return step > 100
            // The first save lets the teacher's change in; the next answer to it meets the change.
            if (step % 10 === 0) {
                controller.setAnswer(controller.questions[0].id, 1)
                if (controller.questions.length > 1)
                    controller.setAnswer(controller.questions[1].id, step % 20 === 0 ? 0 : 1)
            }
            return false
        case "submitDialog":
            pageObject("submitDialog").open()
            return true
        case "sheet":
            pageObject("quizShortcutsOverlay").open()
            return true
        case "mcq":
            return showMultipleChoice(controller)
        case "reveal":
            return showVerdict(controller)
        case "image":
            return showImage(controller)
        case "written":
            return showGradedAnswer(controller)
        default:
            return true
        }
    }

    StackView {
        id: stack

        anchors.fill: parent
    }

    Component.onCompleted: stack.push("qrc:/qt/qml/Quorin/ui/screens/Quiz.qml", { quizId: gallery.quizId },
                                      StackView.Immediate)

    Timer {
        interval: 100
        repeat: true
        running: !gallery.ready
        onTriggered: gallery.ready = gallery.advance()
    }
}
