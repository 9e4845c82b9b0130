import QtQuick
import QtQuick.Controls
import Quorin

// The home page until the home screen is built: one button for each page it opens, with sample
// arguments from the sample course, one for each sample quiz, and the settings page.
PlaceholderPage {
    id: page

    // The arguments each page is opened with, as the home and course screens hand them.
    readonly property var sampleCourse: ({ courseId: "c-101", courseProgress: 0.25 })
    // The sample platform's quizzes: results, a timed quiz open now, one opening later, a
    // leaderboard, an ordinary quiz to start, and one whose questions show pictures.
    readonly property var sampleQuizIds: ["qz-201", "qz-202", "qz-203", "qz-204", "qz-205", "qz-206"]
    readonly property var sampleVideo: ({
        videoUrl: "https://localhost:8443/media/master/master.m3u8",
        lectureId: "r-1001",
        courseId: "c-101",
        sectionId: "s-101",
        videoTitle: "Velocity and acceleration",
        courseTitle: "Foundations of Physics",
        posterUrl: "",
        videoFileSizeBytes: 0,
        watermarkEnabled: true,
        initialPositionMs: 0
    })
    readonly property var sampleDocument: ({
        sourceUrl: "https://localhost:8443/media/pdf/lecture.pdf",
        resourceId: "r-1002",
        courseId: "c-101",
        sectionId: "s-101",
        pdfTitle: "Lecture notes: motion",
        watermarkEnabled: true,
        isShareable: false,
        initialPageIndex: -1
    })

    function open(file, properties) {
        StackView.view.push(file, properties)
    }

    objectName: "homePage"
    enabled: StackView.status === StackView.Active
    title: qsTr("Home")

    QuorinButton {
        objectName: "homeOpenCourseButton"
        text: qsTr("Open the course")
        onClicked: page.open("Course.qml", page.sampleCourse)
    }

    Repeater {
        model: page.sampleQuizIds

        QuorinButton {
            required property string modelData
            required property int index

            // The first keeps the name the page-stack tests and the screenshots know.
            objectName: index === 0 ? "homeOpenQuizButton" : "homeOpenQuizButton-" + modelData
            text: qsTr("Open quiz %1").arg(modelData)
            onClicked: page.open("Quiz.qml", { quizId: modelData })
        }
    }

    QuorinButton {
        objectName: "homeOpenVideoButton"
        text: qsTr("Play the lecture")
        onClicked: page.open("../components/QuorinVideoPlayer.qml", page.sampleVideo)
    }

    QuorinButton {
        objectName: "homeOpenDocumentButton"
        text: qsTr("Read the notes")
        onClicked: page.open("../components/QuorinPdfViewer.qml", page.sampleDocument)
    }

    QuorinButton {
        objectName: "homeOpenSettingsButton"
        text: qsTr("Settings")
        isOutline: true
        onClicked: page.open("ProfileSettings.qml", {})
    }

    QuorinButton {
        objectName: "homeShowMessageButton"
        text: qsTr("Show a message")
        isOutline: true
        onClicked: Snackbar.show(qsTr("Your progress is saved."), "success")
    }

    QuorinButton {
        objectName: "homeOpenDialogButton"
        text: qsTr("Open a dialog")
        isOutline: true
        onClicked: sampleDialog.open()
    }

    QuorinDialog {
        id: sampleDialog

        objectName: "homeSampleDialog"
        headerText: qsTr("Remove the download?")
        bodyText: qsTr("The lecture stays available online. You can download it again at any time.")
        confirmText: qsTr("Remove")
        cancelText: qsTr("Cancel")
        confirmColor: Theme.error
        headerColor: Theme.error
    }
}
