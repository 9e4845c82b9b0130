import QtQuick
import Quorin

// The one back control of the interface: a primary circle with a white arrow that points the
// other way in Arabic. Its colour changes take a fixed 150 ms, whatever the animation speed.
Item {
    id: root

    signal clicked

    property bool pointerHovered: false
    property bool suppressHoverUntilExit: false

    function blend(base, accent, weight) {
        return Qt.rgba(base.r * (1 - weight) + accent.r * weight,
                       base.g * (1 - weight) + accent.g * weight,
                       base.b * (1 - weight) + accent.b * weight, 1)
    }

    function pointerEntered() {
        if (!suppressHoverUntilExit)
            pointerHovered = true
    }

    function pointerLeft() {
        if (!enabled && pointerHovered)
            suppressHoverUntilExit = true
        pointerHovered = false
        if (enabled)
            suppressHoverUntilExit = false
    }

    function activateFromKey(event) {
        event.accepted = true
        if (!event.isAutoRepeat)
            root.clicked()
    }

    implicitWidth: 48
    implicitHeight: 48
    activeFocusOnTab: true

    Accessible.role: Accessible.Button
    Accessible.name: qsTr("Back")
    Accessible.description: qsTr("Go back")
    Accessible.onPressAction: {
        if (root.enabled)
            root.clicked()
    }

    Keys.onReturnPressed: event => activateFromKey(event)
    Keys.onEnterPressed: event => activateFromKey(event)
    Keys.onSpacePressed: event => activateFromKey(event)

    onEnabledChanged: {
        if (!enabled && pointerHovered) {
            pointerHovered = false
            suppressHoverUntilExit = true
        }
    }

    Rectangle {
        objectName: "backButtonCircle"
        anchors.fill: parent
        radius: width / 2
        color: mouseArea.pressed ? Theme.primaryVariant
                                 : root.pointerHovered ? root.blend(Theme.primary, Theme.primaryVariant, 0.45)
                                                       : Theme.primary
        border.width: root.activeFocus ? 2 : 0
        border.color: root.activeFocus ? Theme.accentForeground : "transparent"

        Behavior on color {
            ColorAnimation {
                objectName: "backButtonColorAnimation"
                duration: 150
            }
        }
        Behavior on border.color {
            ColorAnimation {
                duration: 150
            }
        }
    }

    QuorinIcon {
        objectName: "backDirectionalIcon"
        anchors.centerIn: parent
        width: 24
        height: 24
        source: "qrc:/qt/qml/Quorin/assets/icons/arrow-back.svg"
        directional: true
        tint: Theme.accentForeground
        opacity: 0.9
    }

    MouseArea {
        id: mouseArea

        objectName: "backButtonMouseArea"
        anchors.fill: parent
        hoverEnabled: true
        cursorShape: Qt.PointingHandCursor
        onEntered: root.pointerEntered()
        onExited: root.pointerLeft()
        onClicked: root.clicked()
    }

    QuorinToolTip {
        objectName: root.objectName.length > 0 ? root.objectName + "ToolTip" : "backIconButtonToolTip"
        text: qsTr("Back")
        visible: root.pointerHovered
    }
}
