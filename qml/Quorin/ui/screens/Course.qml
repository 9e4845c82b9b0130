import QtQuick
import QtQuick.Controls
import Quorin

// The course page until the course screen is built: it shows what it was opened with, and its
// back button pops it.
PlaceholderPage {
    id: page

    property string courseId: ""
    property real courseProgress: 0
    property string initialSectionId: ""
    property string initialResourceId: ""

    objectName: "coursePage"
    enabled: StackView.status === StackView.Active
    title: qsTr("Course")
    showBack: true
    details: [
        describe("courseId", courseId), describe("courseProgress", courseProgress),
        describe("initialSectionId", initialSectionId), describe("initialResourceId", initialResourceId)
    ]
    onBackRequested: StackView.view.pop()
}
