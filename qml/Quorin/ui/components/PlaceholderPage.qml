import QtQuick
import QtQuick.Layouts
import Quorin

// What a page shows until its own screen is built: its title, the values it was opened with,
// and the actions the page stack needs of it. Actions go into the page's default property.
Item {
    id: page

    property string title: ""
    // Lines of "name: value" describing what the page was opened with.
    property var details: []
    property bool showBack: false
    default property alias actions: actionRow.data

    signal backRequested()

    function describe(name, value) {
        return name + ": " + (typeof value === "object" ? JSON.stringify(value) : String(value))
    }

    Rectangle {
        anchors.fill: parent
        color: Theme.background
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: Theme.largeSpacing
        spacing: Theme.spacing

        RowLayout {
            spacing: Theme.spacing
            Layout.fillWidth: true

            QuorinBackIconButton {
                objectName: "placeholderBackButton"
                visible: page.showBack
                onClicked: page.backRequested()
            }

            Text {
                objectName: "placeholderTitle"
                text: page.title
                color: Theme.text
                font.family: Theme.fontFamily
                font.pixelSize: 28
                font.bold: true
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
        }

        Repeater {
            model: page.details

            Text {
                required property string modelData

                text: modelData
                color: Theme.textSecondary
                font.family: Theme.fontFamily
                font.pixelSize: 14
                wrapMode: Text.WrapAnywhere
                Layout.fillWidth: true
            }
        }

        Flow {
            id: actionRow

            spacing: Theme.spacing
            Layout.fillWidth: true
        }

        Item {
            Layout.fillHeight: true
        }
    }
}
