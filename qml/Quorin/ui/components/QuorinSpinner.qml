import QtQuick
import Quorin

// The busy indicator: a thin ring with an accent disc that turns once a second. Its turn is a
// fixed speed, so it keeps turning with animations switched off.
Item {
    id: spinner

    property bool running: true
    property color ringColor: Theme.border
    property color accentColor: Theme.primary

    width: 24
    height: 24

    Rectangle {
        id: ring

        objectName: "spinnerRing"
        anchors.fill: parent
        radius: width / 2
        color: "transparent"
        border.color: spinner.ringColor
        border.width: Math.max(2, width / 8)
        visible: spinner.running

        Rectangle {
            objectName: "spinnerAccent"
            width: ring.width / 2
            height: ring.height / 2
            radius: width / 2
            color: spinner.accentColor
            anchors.top: parent.top
            anchors.horizontalCenter: parent.horizontalCenter
        }

        RotationAnimation on rotation {
            objectName: "spinnerTurn"
            from: 0
            to: 360
            duration: 1000
            direction: RotationAnimation.Clockwise
            loops: Animation.Infinite
            running: spinner.running && spinner.visible
        }
    }
}
