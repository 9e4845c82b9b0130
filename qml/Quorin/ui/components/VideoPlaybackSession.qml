pragma Singleton

import QtQml

// The one lecture video playback of the application and where its picture is shown: inline on
// the player page or in the picture-in-picture window. Until the video player is built it keeps
// the presentation modes, the descriptor and the signals without a media player.
QtObject {
    id: session

    enum PresentationMode {
        Stopped,
        Inline,
        PictureInPicture
    }

    // A PresentationMode. The document writes the values as numbers: a singleton cannot name its
    // own type while it is being created.
    property int presentationMode: 0
    // Grows by one for every new video; never reset.
    property int generation: 0
    // The playing video's descriptor; an empty map while stopped.
    property var descriptor: ({})
    property string handoffSnapshot: ""

    readonly property bool active: presentationMode !== 0 // Stopped
    readonly property bool inPictureInPicture: presentationMode === 2 // PictureInPicture

    signal pictureInPictureEntered()
    signal returnInlineRequested()
    signal sessionStopped(string reason)

    function sameVideo(candidate) {
        const lectureId = candidate && candidate.lectureId ? String(candidate.lectureId) : ""
        return active && lectureId !== "" && lectureId === String(descriptor.lectureId || "")
    }

    // Starts the lecture, or takes the picture back inline when it is already the session's
    // video. True when a new video started.
    function open(candidate, output, startPositionMs) {
        if (sameVideo(candidate)) {
            presentationMode = 1 // Inline
            return false
        }
        if (active)
            stop("replacement")
        descriptor = candidate || {}
        generation += 1
        handoffSnapshot = ""
        presentationMode = 1 // Inline
        return true
    }

    function enterPictureInPicture(snapshot) {
        if (!active)
            return
        handoffSnapshot = snapshot ? String(snapshot) : ""
        presentationMode = 2 // PictureInPicture
        pictureInPictureEntered()
    }

    function returnInline() {
        if (!inPictureInPicture)
            return
        presentationMode = 1 // Inline
        returnInlineRequested()
    }

    function stop(reason) {
        if (!active)
            return
        descriptor = {}
        handoffSnapshot = ""
        presentationMode = 0 // Stopped
        sessionStopped(reason ? String(reason) : "stop")
    }
}
