import QtQuick
import QtQuick.Controls
import Qt5Compat.GraphicalEffects
import Quorin
import Quorin.Controllers

// The body of the window: the interface's one page stack. The pages navigate themselves
// through their attached StackView.view; this item chooses the first page, blurs the pages
// while a modal surface is open, dismisses the snackbar on a last Escape, hosts the
// picture-in-picture window and ends the video playback on events of the whole application.
Item {
    id: root

    // 1 while a counting modal surface is shown; the blur fades over a fixed 250 ms.
    property real blurValue: Theme.activeDialogs > 0 ? 1.0 : 0.0

    // Brings the playing video back from picture-in-picture onto a new player page, over
    // whatever page is on top. The session is still playing: the page only takes the picture.
    function returnVideoInline() {
        const descriptor = VideoPlaybackSession.descriptor
        if (!VideoPlaybackSession.active || !descriptor || !descriptor.videoUrl)
            return
        restoreWindow(true)
        stackView.push("../components/QuorinVideoPlayer.qml", descriptor)
    }

    // Shows the main window normally, out of full screen, maximised or minimised; with activate
    // also raises it and asks for the keyboard.
    function restoreWindow(activate) {
        const window = root.Window.window
        if (!window)
            return
        window.showNormal()
        if (activate) {
            window.raise()
            window.requestActivate()
        }
    }

    anchors.fill: parent
    focus: true

    Behavior on blurValue {
        NumberAnimation {
            duration: 250
            easing.type: Easing.InOutQuad
        }
    }

    // Pop-ups, viewers and overlays take Escape first; what reaches here only closes a snackbar.
    Keys.onEscapePressed: event => {
        if (!Snackbar.visible) {
            event.accepted = false
            return
        }
        Snackbar.dismiss()
        event.accepted = true
    }

    StackView {
        id: stackView

        objectName: "stackView"
        anchors.fill: parent
        // Drawn through a layer only while blurred.
        layer.enabled: root.blurValue > 0
        layer.effect: FastBlur {
            objectName: "pageBlur"
            radius: 32 * root.blurValue
        }

        Component.onCompleted: replace(NetworkManager.isAuthenticated ? "Home.qml" : "Login.qml", {},
                                       StackView.Immediate)
    }

    VideoPictureInPicture {
        id: pictureInPictureWindow

        ownerWindow: root.Window.window
    }

    Connections {
        target: VideoPlaybackSession

        function onReturnInlineRequested() {
            root.returnVideoInline()
        }
    }

    Connections {
        target: NetworkManager

        // Sign-out clears the tokens first, so a playing video has already stopped with
        // "logout" by the time the end of the session is announced.
        function onSessionExpired() {
            VideoPlaybackSession.stop("session_expired")
            if (!NetworkManager.isAuthenticated)
                stackView.replace("Login.qml", {}, StackView.Immediate)
        }

        function onIsAuthenticatedChanged() {
            if (!NetworkManager.isAuthenticated)
                VideoPlaybackSession.stop("logout")
        }
    }

    Connections {
        target: UpdateController

        function onCandidateChanged() {
            if (UpdateController.required)
                VideoPlaybackSession.stop("required_update")
        }
    }

    // Failures and headphone changes of an inline player are the player page's to show; in
    // picture-in-picture there is no page, so they end the playback here.
    Connections {
        target: StreamController

        function onPlaybackFailure(code, provenance, message, terminal, retryable) {
            if (!VideoPlaybackSession.inPictureInPicture || !terminal)
                return
            VideoPlaybackSession.stop("terminal_playback_failure")
            root.restoreWindow(true)
            Snackbar.show(message, "error")
        }
    }

    Connections {
        target: HeadphoneMonitor

        function onActiveRouteChanged() {
            if (!VideoPlaybackSession.inPictureInPicture
                    || VideoPlaybackSession.descriptor.headphonesRequired !== true
                    || HeadphoneMonitor.permitsRequiredVideo())
                return
            VideoPlaybackSession.stop("headphones_disconnected")
            root.restoreWindow(false)
            Snackbar.show(qsTr("Headphones were disconnected. Reconnect them and reopen the video."), "error")
        }
    }

    Component.onDestruction: VideoPlaybackSession.stop("application_exit")
}
