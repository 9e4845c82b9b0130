import QtQuick
import QtQuick.Controls
import Quorin.Controllers
import Quorin.Testing

// A page stack that opens the real quiz page on quizzes the fixture server answers, in a tree that
// mirrors in Arabic as the window does. Key presses the page leaves alone reach this host, which
// notes them.
FocusScope {
    id: host

    readonly property url quizDocument: "qrc:/qt/qml/Quorin/ui/screens/Quiz.qml"
    property alias stack: stack
    property var keysReachingHost: []
    property int serial: 0

    // Multiple choice questions "q1" … "qN" of three options, the second one correct.
    function questions(count) {
        const list = []
        for (let i = 1; i <= count; ++i)
            list.push({ id: "q" + i, order: i, type: "MCQ", text: "Question " + i, options: ["A", "B", "C"],
                        correctOptionIndex: 1, updatedAt: "2024-05-01T10:00:00.000Z" })
        return list
    }

    function quiz(id, options) {
        return { id: id, title: options.title !== undefined ? options.title : "Sample quiz",
                 type: options.type || "ORDINARY", questions: options.questions || questions(5) }
    }

    function attempt(id, status, answers) {
        const list = []
        for (const questionId in answers)
            list.push({ questionId: questionId, answer: answers[questionId] })
        return { id: id, revision: 3, status: status, answers: list, startedAt: "2024-05-01T10:00:00.000Z" }
    }

    // The details of an open attempt, as the server gives them.
    function activeDetails(id, options) {
        const details = { quiz: quiz(id, options), activeAttempt: attempt("a-" + id, "ACTIVE", options.answers || {}) }
        if (options.remainingSeconds !== undefined)
            details.activeAttempt.remainingSeconds = options.remainingSeconds
        if (options.customGptLink !== undefined)
            details.customGptLink = options.customGptLink
        return details
    }

    function nextQuizId() {
        serial += 1
        return "quiz-" + serial
    }

    // Pushes a page for the quiz at once and returns it; the routes must be scripted first.
    function push(quizId) {
        stack.push(quizDocument, { quizId: quizId }, StackView.Immediate)
        return stack.currentItem
    }

    // A page whose attempt is open: options.answers (question id to answer), options.type,
    // options.questions, options.current (the question on screen). Saves are held, so the
    // answers stay as the page made them.
    function openActive(options) {
        const id = nextQuizId()
        Fixture.respond("quizzes/" + id, 200, activeDetails(id, options))
        Fixture.respond("quizzes/" + id + "/attempts", 200, [])
        Fixture.script("attempts/a-" + id + "/answers", [{ held: true }])
        return push(id)
    }

    function attemptIdOf(page) {
        return "a-" + page.quizId
    }

    anchors.fill: parent
    focus: true
    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
    LayoutMirroring.childrenInherit: true
    Keys.onPressed: event => { keysReachingHost = keysReachingHost.concat([event.key]) }

    StackView {
        id: stack

        anchors.fill: parent
        focus: true
    }
}
