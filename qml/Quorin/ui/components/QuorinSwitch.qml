import QtQuick
import QtQuick.Controls.Basic as Basic
import Quorin

// The on/off switch: a pill track with a sliding handle and no text of its own. It keeps the
// standard switch contract (a user toggle flips checked, then emits toggled) and never mirrors:
// on is always the handle at the right.
Basic.Switch {
    id: control

    readonly property bool quorinStyled: true

    text: ""
    implicitWidth: 44
    implicitHeight: 24
    padding: 0
    topPadding: 0
    bottomPadding: 0
    leftPadding: 0
    rightPadding: 0
    contentItem: Item {}

    HoverHandler {
        objectName: "switchCursor"
        cursorShape: Qt.PointingHandCursor
    }

    indicator: Rectangle {
        objectName: "switchTrack"
        implicitWidth: 44
        implicitHeight: 24
        x: 0
        y: 0
        radius: 12
        color: control.checked ? Theme.primary : Theme.secondary
        border.color: control.checked ? Theme.primary : Theme.border

        Behavior on color {
            ColorAnimation {
                duration: Theme.animDurationShort
            }
        }

        Rectangle {
            objectName: "switchHandle"
            width: 20
            height: 20
            radius: 10
            y: 2
            x: control.checked ? parent.width - 20 - 2 : 2
            color: Theme.accentForeground

            Behavior on x {
                NumberAnimation {
                    duration: Theme.animDurationShort
                    easing.type: Easing.InOutQuad
                }
            }
        }
    }
}
