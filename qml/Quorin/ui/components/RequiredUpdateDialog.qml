import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin

// The dialog that blocks the whole window while a required release must be installed. It cannot
// be closed: it goes only when the main window's condition for showing it turns false. It only
// shows what it is given; the main window binds it to UpdateController and turns its signals into
// the controller's operations. The state numbers are UpdateController's.
Dialog {
    id: dialog

    property int updateState: 0
    property string version: ""
    property string errorMessage: ""
    property real progress: 0
    property bool hasOnlineCandidate: version !== ""
    property bool downloadingState: updateState === 4
    property bool readyState: updateState === 5

    signal updateRequested()
    signal installRequested()
    signal retryRequested()
    signal exitRequested()

    // The first of the buttons that can act; the primary when there is a release to install.
    function focusFirstButton() {
        const candidates = [primaryButton, retryButton, exitButton]
        for (let index = 0; index < candidates.length; ++index) {
            const button = candidates[index]
            if (button.visible && button.enabled) {
                button.forceActiveFocus(Qt.TabFocusReason)
                return
            }
        }
    }

    objectName: "requiredUpdateDialog"
    parent: Overlay.overlay
    anchors.centerIn: parent
    modal: true
    focus: true
    closePolicy: Popup.NoAutoClose
    padding: Theme.largeSpacing
    width: parent ? Math.min(520, Math.max(320, parent.width - 2 * Theme.spacing)) : 520

    onOpened: focusFirstButton()

    Overlay.modal: Rectangle {
        color: Theme.scrim
    }

    background: Rectangle {
        objectName: "requiredUpdateBackground"
        color: Theme.surfaceElevated
        radius: Theme.radius
        border.width: 1
        border.color: Theme.error
    }

    contentItem: ColumnLayout {
        spacing: Theme.spacing

        Accessible.role: Accessible.Dialog
        Accessible.name: qsTr("Required software update")

        Text {
            objectName: "requiredUpdateTitle"
            text: qsTr("A required update is needed")
            color: Theme.error
            font.family: Theme.fontFamily
            font.pixelSize: 22
            font.bold: true
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        Text {
            objectName: "requiredUpdateBody"
            text: dialog.hasOnlineCandidate
                  ? qsTr("Quorin %1 must be installed before you can continue.").arg(dialog.version)
                  : qsTr("Quorin must reconnect to verify a required update before you can continue.")
            color: Theme.text
            font.family: Theme.fontFamily
            font.pixelSize: 14
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        Text {
            objectName: "requiredUpdateError"
            visible: dialog.errorMessage !== ""
            text: dialog.errorMessage
            color: Theme.textSecondary
            font.family: Theme.fontFamily
            font.pixelSize: 13
            wrapMode: Text.Wrap
            Layout.fillWidth: true
        }

        QuorinProgressBar {
            objectName: "requiredUpdateProgress"
            visible: dialog.downloadingState
            value: dialog.progress
            Accessible.name: qsTr("Required update download progress")
            Layout.fillWidth: true
        }

        RowLayout {
            spacing: Theme.smallSpacing
            Layout.fillWidth: true

            // Equal preferred widths that all fill: each button takes the same share of the row.
            QuorinButton {
                id: primaryButton

                objectName: "requiredUpdatePrimaryButton"
                visible: dialog.hasOnlineCandidate
                enabled: !dialog.downloadingState
                text: dialog.readyState ? qsTr("Install") : qsTr("Update")
                Accessible.name: text
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                onClicked: dialog.readyState ? dialog.installRequested() : dialog.updateRequested()
            }

            QuorinButton {
                id: retryButton

                objectName: "requiredUpdateRetryButton"
                enabled: !dialog.downloadingState
                isOutline: true
                text: qsTr("Retry")
                Accessible.name: text
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                onClicked: dialog.retryRequested()
            }

            QuorinButton {
                id: exitButton

                objectName: "requiredUpdateExitButton"
                isOutline: true
                buttonColor: Theme.error
                text: qsTr("Exit")
                Accessible.name: text
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                onClicked: dialog.exitRequested()
            }
        }
    }
}
