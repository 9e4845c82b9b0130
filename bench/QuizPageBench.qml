import QtQuick
import QtQuick.Controls
import Quorin
import Quorin.Controllers
import Quorin.Testing

// The scene of bench_QuizPage: the real quiz page on a quiz of 300 questions from the in-process
// fixture server, and beside it, shown in turn, a list whose 300 integers are replaced whole.
Window {
    id: window

    property var page: stack.currentItem
    property int round: 0

    function openQuiz() {
        const questions = []
        for (let i = 1; i <= 300; ++i)
            questions.push({ id: "q" + i, order: i, type: "MCQ", text: "Question " + i,
                             options: ["One", "Two", "Three", "Four"], correctOptionIndex: 1,
                             updatedAt: "2024-05-01T10:00:00.000Z" })
        Fixture.respond("quizzes/bench", 200, {
                            quiz: { id: "bench", title: "Bench", type: "ORDINARY", questions: questions },
                            activeAttempt: { id: "a-bench", revision: 1, status: "ACTIVE", answers: [],
                                             startedAt: "2024-05-01T10:00:00.000Z" } })
        Fixture.respond("quizzes/bench/attempts", 200, [])
        Fixture.respond("attempts/a-bench/answers", 200, {})
        stack.push("qrc:/qt/qml/Quorin/ui/screens/Quiz.qml", { quizId: "bench" }, StackView.Immediate)
    }

    function showBaseline() {
        stack.visible = false
        baseline.visible = true
    }

    function replaceBaselineModel() {
        round += 1
        const model = []
        for (let i = 0; i < 300; ++i)
            model.push(i + round)
        baseline.model = model
    }

    width: 1000
    height: 700
    visible: true

    StackView {
        id: stack

        anchors.fill: parent
    }

    ListView {
        id: baseline

        anchors.fill: parent
        visible: false
        model: []
        delegate: Rectangle {
            required property int modelData

            width: ListView.view.width
            height: 48
            border.width: 1

            Text {
                anchors.centerIn: parent
                text: parent.modelData
            }
        }
    }
}
