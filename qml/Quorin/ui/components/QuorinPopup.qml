import QtQuick
import QtQuick.Controls
import Quorin

// The surface of the interface's non-dialog pop-ups. The colour roles are for the content placed
// inside; with mediaStyle they switch to the always-dark media palette, so a pop-up over a video
// stays dark in the light theme too. It never counts itself in Theme.activeDialogs.
Popup {
    id: popup

    property bool mediaStyle: false

    readonly property color surfaceColor: mediaStyle ? Theme.mediaSurfaceElevated : Theme.surfaceElevated
    readonly property color borderColor: mediaStyle ? Theme.mediaBorder : Theme.borderStrong
    readonly property color textColor: mediaStyle ? Theme.mediaForeground : Theme.text
    readonly property color secondaryTextColor: mediaStyle ? Theme.mediaTextSecondary : Theme.textSecondary
    readonly property color mutedTextColor: mediaStyle ? Theme.mediaTextMuted : Theme.textMuted
    readonly property color hoverColor: mediaStyle ? Theme.mediaHover : Theme.hover
    readonly property color pressedColor: mediaStyle ? Theme.mediaPressed : Theme.pressed

    padding: 0
    focus: true
    // A press outside must not throw away what the user is choosing; users that want it set
    // their own policy.
    closePolicy: Popup.CloseOnEscape

    background: Rectangle {
        objectName: "quorinPopupBackground"
        color: popup.surfaceColor
        radius: Theme.radius
        border.width: 1
        border.color: popup.borderColor
    }

    enter: Transition {
        ParallelAnimation {
            NumberAnimation {
                property: "opacity"
                from: 0.0
                to: 1.0
                duration: Theme.animDuration
                easing.type: Easing.OutCubic
            }
            NumberAnimation {
                property: "scale"
                from: 0.95
                to: 1.0
                duration: Theme.animDuration
                easing.type: Easing.OutBack
            }
        }
    }

    exit: Transition {
        ParallelAnimation {
            NumberAnimation {
                property: "opacity"
                from: 1.0
                to: 0.0
                duration: Theme.animDuration
                easing.type: Easing.InCubic
            }
            NumberAnimation {
                property: "scale"
                from: 1.0
                to: 0.95
                duration: Theme.animDuration
                easing.type: Easing.InCubic
            }
        }
    }
}
