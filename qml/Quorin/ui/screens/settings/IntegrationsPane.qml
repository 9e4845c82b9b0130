import QtQuick
import Quorin

// The Integrations pane of the settings page; until it is built, it shows its heading.
Item {
    implicitHeight: heading.implicitHeight

    Text {
        id: heading

        objectName: "integrationsHeading"
        width: parent.width
        text: qsTr("Integrations")
        color: Theme.primary
        font.family: Theme.fontFamily
        font.pixelSize: 18
        font.bold: true
        horizontalAlignment: Text.AlignLeft
    }
}
