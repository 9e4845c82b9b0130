import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin

// The blocking offer of a required update, until the self-update views are built. Neither
// Escape nor a press outside closes it; it dims the window itself and is not counted among the
// dialogs that blur the pages. Its user decides when it shows.
Dialog {
    id: dialog

    // An UpdateController state: Downloading 4, Ready 5, Error 8.
    property int updateState: 0
    property string version: ""
    property string errorMessage: ""
    property real progress: 0

    signal updateRequested()
    signal installRequested()
    signal retryRequested()
    signal exitRequested()

    objectName: "requiredUpdateDialog"
    modal: true
    dim: true
    closePolicy: Popup.NoAutoClose
    parent: Overlay.overlay
    anchors.centerIn: parent
    width: parent ? Math.max(0, Math.min(480, parent.width - 2 * Theme.spacing)) : 480
    padding: Theme.largeSpacing

    Overlay.modal: Rectangle {
        color: Theme.scrim
    }

    background: Rectangle {
        color: Theme.surface
        radius: Theme.radius
        border.width: 1
        border.color: Theme.border
    }

    contentItem: ColumnLayout {
        spacing: Theme.spacing

        Text {
            text: qsTr("Update required")
            color: Theme.text
            font.family: Theme.fontFamily
            font.pixelSize: 20
            font.bold: true
            Layout.fillWidth: true
        }

        Text {
            objectName: "requiredUpdateMessage"
            text: dialog.updateState === 8 ? dialog.errorMessage
                  : dialog.updateState === 4 ? qsTr("Downloading version %1: %2%").arg(dialog.version)
                                                   .arg(Math.round(dialog.progress * 100))
                  : qsTr("Version %1 is required to keep using the application.").arg(dialog.version)
            color: Theme.textSecondary
            font.family: Theme.fontFamily
            font.pixelSize: 14
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }

        RowLayout {
            spacing: Theme.spacing
            Layout.fillWidth: true

            Item {
                Layout.fillWidth: true
            }

            QuorinButton {
                objectName: "requiredUpdateExitButton"
                text: qsTr("Quit")
                isOutline: true
                onClicked: dialog.exitRequested()
            }

            QuorinButton {
                objectName: "requiredUpdatePrimaryButton"
                visible: dialog.updateState !== 4
                text: dialog.updateState === 8 ? qsTr("Retry")
                      : dialog.updateState === 5 ? qsTr("Install") : qsTr("Update")
                onClicked: {
                    if (dialog.updateState === 8)
                        dialog.retryRequested()
                    else if (dialog.updateState === 5)
                        dialog.installRequested()
                    else
                        dialog.updateRequested()
                }
            }
        }
    }
}
