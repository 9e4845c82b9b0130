import QtQuick
import QtQuick.Controls.Basic as Basic
import Quorin

// The horizontal progress bar. Progress is a quantity on an axis, so the bar never mirrors: the
// zero end stays on the left in every language. Its glide (300 ms) and sweep (1100 ms) are fixed
// and do not follow the animation speed.
Basic.ProgressBar {
    id: bar

    property real smoothedPosition: position
    property color trackColor: Theme.surfaceMuted
    property color fillColor: Theme.primary

    LayoutMirroring.enabled: false
    LayoutMirroring.childrenInherit: true

    Behavior on smoothedPosition {
        NumberAnimation {
            duration: 300
            easing.type: Easing.OutQuad
        }
    }

    Accessible.description: indeterminate ? "" : DisplayFormat.percent(position)

    background: Rectangle {
        objectName: "progressTrack"
        implicitWidth: 200
        implicitHeight: 6
        color: bar.trackColor
        radius: 3
    }

    contentItem: Item {
        implicitWidth: 200
        implicitHeight: 6
        // The sweep runs from wholly left to wholly right of the track; only the track shows it.
        clip: bar.indeterminate

        Rectangle {
            id: fill

            readonly property real sweepWidth: parent.width * 0.3
            property real indeterminateX: -sweepWidth

            objectName: "progressFill"
            height: parent.height
            width: bar.indeterminate ? sweepWidth : bar.smoothedPosition * parent.width
            x: bar.indeterminate ? indeterminateX : 0
            radius: 3
            color: bar.fillColor

            NumberAnimation on indeterminateX {
                objectName: "progressSweep"
                from: -fill.sweepWidth
                to: fill.parent.width
                duration: 1100
                easing.type: Easing.InOutQuad
                loops: Animation.Infinite
                running: bar.indeterminate && bar.visible
            }
        }
    }
}
