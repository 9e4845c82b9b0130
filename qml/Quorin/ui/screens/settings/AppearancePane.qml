import QtQuick
import Quorin

// The Appearance pane of the settings page; until it is built, it shows its heading.
Item {
    implicitHeight: heading.implicitHeight

    Text {
        id: heading

        objectName: "appearanceHeading"
        width: parent.width
        text: qsTr("Appearance")
        color: Theme.primary
        font.family: Theme.fontFamily
        font.pixelSize: 18
        font.bold: true
        horizontalAlignment: Text.AlignLeft
    }
}
