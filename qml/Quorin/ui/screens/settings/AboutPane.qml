import QtQuick
import Quorin

// The About pane of the settings page; until it is built, it shows its heading.
Item {
    implicitHeight: heading.implicitHeight

    Text {
        id: heading

        objectName: "aboutHeading"
        width: parent.width
        text: qsTr("About")
        color: Theme.primary
        font.family: Theme.fontFamily
        font.pixelSize: 18
        font.bold: true
        horizontalAlignment: Text.AlignLeft
    }
}
