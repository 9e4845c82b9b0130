import QtQuick
import QtQuick.Controls
import Quorin

// The lecture video player page until the player is built: it shows the video descriptor it was
// opened with and opens the playback session with it (for the lecture the session is already
// playing, the session only takes the picture back). Leaving stops the playback; the
// picture-in-picture button hands the playback over and pops the page.
PlaceholderPage {
    id: page

    property string videoUrl: ""
    property var videoRenditions: []
    property real videoFileSizeBytes: 0
    property var downloadQualities: []
    property string courseId: ""
    property string lectureId: ""
    property string sectionId: ""
    property string videoTitle: ""
    property string courseTitle: ""
    property string posterUrl: ""
    property int initialPositionMs: 0
    property bool watermarkEnabled: true
    property bool headphonesRequired: false

    // The session's descriptor: every key of the page but the start position.
    function sessionDescriptor() {
        return {
            videoUrl: videoUrl,
            videoRenditions: videoRenditions,
            videoFileSizeBytes: videoFileSizeBytes,
            downloadQualities: downloadQualities,
            courseId: courseId,
            lectureId: lectureId,
            sectionId: sectionId,
            videoTitle: videoTitle,
            courseTitle: courseTitle,
            posterUrl: posterUrl,
            watermarkEnabled: watermarkEnabled,
            headphonesRequired: headphonesRequired
        }
    }

    function leave() {
        VideoPlaybackSession.stop("navigation")
        StackView.view.pop()
    }

    function handOverToPictureInPicture() {
        VideoPlaybackSession.enterPictureInPicture("")
        StackView.view.pop()
    }

    objectName: "videoPlayerPage"
    title: videoTitle !== "" ? videoTitle : qsTr("Lecture video")
    showBack: true
    details: [
        describe("videoUrl", videoUrl), describe("lectureId", lectureId), describe("courseId", courseId),
        describe("sectionId", sectionId), describe("courseTitle", courseTitle),
        describe("posterUrl", posterUrl), describe("videoFileSizeBytes", videoFileSizeBytes),
        describe("videoRenditions", videoRenditions), describe("downloadQualities", downloadQualities),
        describe("initialPositionMs", initialPositionMs), describe("watermarkEnabled", watermarkEnabled),
        describe("headphonesRequired", headphonesRequired)
    ]
    onBackRequested: leave()

    Component.onCompleted: VideoPlaybackSession.open(sessionDescriptor(), null, initialPositionMs)
    Component.onDestruction: {
        if (VideoPlaybackSession.sameVideo(sessionDescriptor()) && !VideoPlaybackSession.inPictureInPicture)
            VideoPlaybackSession.stop("player_destruction")
    }

    QuorinButton {
        objectName: "playerPictureInPictureButton"
        text: qsTr("Picture in picture")
        iconSource: "qrc:/qt/qml/Quorin/assets/icons/picture-in-picture.svg"
        enabled: VideoPlaybackSession.active
        onClicked: page.handOverToPictureInPicture()
    }
}
