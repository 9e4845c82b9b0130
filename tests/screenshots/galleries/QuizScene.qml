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

    // "loading", "failed", "active", "review", "submitDialog" or "sheet".
    property string scene: "active"
    readonly property bool followsWindowSize: true
    property bool ready: false
    property int step: 0
    readonly property string quizId: scene === "failed" ? "qz-unknown" : "qz-205"
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

    // One step a tick; false while the scene still waits for something.
    function advance() {
        const controller = page.quizController
        step += 1
        if (scene === "loading")
            return true
        if (controller.state === QuizController.Idle || controller.state === QuizController.Loading
                || controller.state === QuizController.Submitting || controller.startingAttempt)
            return false
        if (scene === "failed" || settledElsewhere(controller))
            return true
        if (controller.state === QuizController.Ready) {
            controller.startAttempt("")
            return false
        }
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
