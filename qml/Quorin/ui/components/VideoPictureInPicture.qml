import QtQuick
import QtQuick.Window
import Quorin

// The picture-in-picture window of the video playback: shown while the session is in
// picture-in-picture, hidden otherwise. Closing it ends the playback. Until the video player is
// built it shows the lecture's titles and a way back to the player page.
Window {
    id: pictureInPicture

    // The main window; transient parent of this one where the platform needs it.
    property var ownerWindow: null

    objectName: "pictureInPictureWindow"
    width: 480
    height: 270
    title: VideoPlaybackSession.descriptor.videoTitle || ""
    color: Theme.mediaBackground
    visible: false

    function followSession() {
        if (VideoPlaybackSession.inPictureInPicture)
            show()
        else
            hide()
    }

    Connections {
        target: VideoPlaybackSession

        function onInPictureInPictureChanged() {
            pictureInPicture.followSession()
        }
    }

    onClosing: {
        if (VideoPlaybackSession.inPictureInPicture)
            VideoPlaybackSession.stop("pip_close")
    }

    Column {
        anchors.centerIn: parent
        spacing: Theme.spacing

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: VideoPlaybackSession.descriptor.videoTitle || ""
            color: Theme.mediaForeground
            font.family: Theme.fontFamily
            font.pixelSize: 16
            font.bold: true
        }

        Text {
            anchors.horizontalCenter: parent.horizontalCenter
            text: VideoPlaybackSession.descriptor.courseTitle || ""
            color: Theme.mediaTextSecondary
            font.family: Theme.fontFamily
            font.pixelSize: 14
        }

        QuorinButton {
            objectName: "pictureInPictureReturnButton"
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("Back to the player")
            onClicked: VideoPlaybackSession.returnInline()
        }
    }
}
