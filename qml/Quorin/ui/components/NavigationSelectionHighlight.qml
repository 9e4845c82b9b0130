import QtQuick
import Quorin

// The tinted bar behind the selected row of a side list. It glides to each new target, from
// wherever it is, also from the middle of a running movement; a list that uses it as its
// highlight switches its own highlight movement off.
Rectangle {
    id: highlight

    property real targetY: 0
    property real targetHeight: 0

    y: targetY
    height: targetHeight
    width: parent ? parent.width : 0
    radius: Theme.radius
    color: Theme.navigationHighlight
    border.width: 0

    Behavior on y {
        enabled: Theme.animDuration > 0

        NumberAnimation {
            duration: Theme.animDuration
            easing.type: Easing.OutCubic
        }
    }

    Behavior on height {
        enabled: Theme.animDuration > 0

        NumberAnimation {
            duration: Theme.animDuration
            easing.type: Easing.OutCubic
        }
    }
}
