import QtQuick
import QtQuick.Controls.Basic as Basic
import Quorin

// The scroll bar: a thin pill with no track, shown only while the content can scroll and the
// user scrolls, points at it or drags it, and kept 700 ms after that before it fades.
Basic.ScrollBar {
    id: control

    readonly property bool quorinStyled: true
    property bool scrollable: size < 1.0
    readonly property color normalColor: Theme.textMuted
    readonly property color hoverColor: Theme.borderStrong
    readonly property color pressedColor: Theme.primary
    readonly property Flickable attachedFlickable: parent instanceof Flickable ? parent : null
    property bool lingering: false

    function lingerFromNow() {
        lingering = true
        lingerTimer.restart()
    }

    objectName: "quorinScrollBar"
    policy: Basic.ScrollBar.AsNeeded
    interactive: true
    // Linux platforms without a desktop theme switch hover off for the controls by default.
    hoverEnabled: true
    implicitWidth: orientation === Qt.Vertical ? 8 : 80
    implicitHeight: orientation === Qt.Horizontal ? 8 : 80
    padding: 2
    // A thumb of at least 24 px; a track of 24 px or less is filled by it.
    minimumSize: {
        const track = orientation === Qt.Vertical ? height - topPadding - bottomPadding
                                                  : width - leftPadding - rightPadding
        return Math.min(1.0, 24 / Math.max(24, track))
    }
    visible: scrollable
    opacity: scrollable && (active || hovered || pressed || lingering) ? 1.0 : 0.0

    // The fade never drops below 120 ms, even with animations switched off.
    NumberAnimation {
        id: fade

        objectName: "quorinScrollBarFade"
        duration: Math.max(120, Theme.animDuration)
        easing.type: Easing.InOutQuad
    }
    Behavior on opacity {
        animation: fade
    }

    onActiveChanged: {
        if (active) {
            lingering = false
            lingerTimer.stop()
        } else if (visible) {
            lingerFromNow()
        }
    }

    onHoveredChanged: {
        if (!hovered && !active && visible)
            lingerFromNow()
    }

    contentItem: Rectangle {
        objectName: "quorinScrollBarThumb"
        implicitWidth: control.orientation === Qt.Vertical ? 4 : 40
        implicitHeight: control.orientation === Qt.Vertical ? 40 : 4
        radius: Math.min(width, height) / 2
        opacity: 1.0
        color: control.pressed ? control.pressedColor : control.hovered ? control.hoverColor : control.normalColor

        Behavior on color {
            ColorAnimation {
                duration: Theme.animDurationShort
            }
        }
    }

    background: Item {
        objectName: "quorinScrollBarTrack"
    }

    Timer {
        id: lingerTimer

        interval: 700
        onTriggered: control.lingering = false
    }

    // A view that is still moving keeps the bar shown for the whole movement.
    Connections {
        target: control.attachedFlickable
        ignoreUnknownSignals: true

        function onMovingChanged() {
            if (control.attachedFlickable.moving) {
                control.lingering = true
                lingerTimer.stop()
            } else if (control.visible) {
                control.lingerFromNow()
            }
        }
    }
}
