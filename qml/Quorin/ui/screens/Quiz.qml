import QtQuick
import QtQuick.Controls
import Quorin

// The quiz page until the quiz screen is built: it shows its quiz id, and its back button pops it.
PlaceholderPage {
    id: page

    property string quizId: ""

    objectName: "quizPage"
    title: qsTr("Quiz")
    showBack: true
    details: [describe("quizId", quizId)]
    onBackRequested: StackView.view.pop()
}
