import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin
import Quorin.Controllers

// What is new in this version, until the changelog view is built. It shows itself while the
// changelog controller asks for it and no update is required, and either answer dismisses it for
// this version. It is not counted among the dialogs that blur the pages.
Dialog {
    id: dialog

    objectName: "changelogDialog"
    modal: true
    parent: Overlay.overlay
    anchors.centerIn: parent
    width: parent ? Math.max(0, Math.min(480, parent.width - 2 * Theme.spacing)) : 480
    padding: Theme.largeSpacing
    visible: ChangelogController.shouldShow && !UpdateController.required

    onAccepted: ChangelogController.dismiss()
    onRejected: ChangelogController.dismiss()

    background: Rectangle {
        color: Theme.surface
        radius: Theme.radius
        border.width: 1
        border.color: Theme.border
    }

    contentItem: ColumnLayout {
        spacing: Theme.spacing

        Text {
            text: qsTr("What's new")
            color: Theme.text
            font.family: Theme.fontFamily
            font.pixelSize: 20
            font.bold: true
            Layout.fillWidth: true
        }

        Text {
            text: qsTr("This version brings improvements and fixes.")
            color: Theme.textSecondary
            font.family: Theme.fontFamily
            font.pixelSize: 14
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }

        QuorinButton {
            objectName: "changelogGotItButton"
            text: qsTr("Got it")
            Layout.alignment: Qt.AlignRight
            onClicked: dialog.accept()
        }
    }
}
