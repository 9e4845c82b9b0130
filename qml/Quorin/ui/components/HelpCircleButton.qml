import QtQuick
import QtQuick.Templates as T
import Quorin

// The round "?" button that opens a page's sheet of keyboard shortcuts. It only emits clicked;
// the page opens its sheet. With mediaStyle it takes the dark palette of the player chrome.
T.Button {
    id: control

    property bool mediaStyle: false

    readonly property bool keyboardFocused: control.visualFocus
    readonly property color backgroundColor: control.down
                                             ? (mediaStyle ? Theme.mediaPressed : Theme.pressed)
                                             : control.hovered ? (mediaStyle ? Theme.mediaHover : Theme.hover)
                                                               : "transparent"
    readonly property color borderColor: keyboardFocused ? Theme.primary
                                                         : mediaStyle ? Theme.mediaBorder : Theme.borderStrong
    readonly property int borderWidth: keyboardFocused ? 2 : 1
    readonly property color labelColor: mediaStyle
                                        ? ((control.hovered || keyboardFocused) ? Theme.primary : Theme.mediaForeground)
                                        : Theme.text

    implicitWidth: 44
    implicitHeight: 44
    width: 44
    height: 44
    padding: 0
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus

    Accessible.role: Accessible.Button
    Accessible.name: qsTr("Keyboard shortcuts")

    background: Rectangle {
        objectName: "helpCircleBackground"
        radius: width / 2
        color: control.backgroundColor
        border.width: control.borderWidth
        border.color: control.borderColor
    }

    contentItem: Text {
        objectName: "helpCircleLabel"
        // A symbol, the same in every language.
        text: "?"
        font.family: Theme.fontFamily
        font.pixelSize: 19
        font.bold: true
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
        color: control.labelColor

        Behavior on color {
            ColorAnimation {
                duration: Theme.animDurationShort
            }
        }
    }

    HoverHandler {
        cursorShape: Qt.PointingHandCursor
    }
}
