import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin

// The modal dialog of the interface: a coloured title, a body text and up to three buttons
// (auxiliary, cancel, confirm). It draws no dimming: while shown it holds one count in
// Theme.activeDialogs, and the page stack blurs the pages instead. Derived dialogs replace the
// content item.
Dialog {
    id: dialog

    property string headerText: qsTr("Confirm")
    property string bodyText: ""
    property string confirmText: qsTr("Yes")
    property string cancelText: qsTr("No")
    property string auxiliaryText: ""
    property color confirmColor: Theme.primary
    property color headerColor: Theme.primary
    property bool showCancel: true
    // True while this dialog holds its one count in Theme.activeDialogs. Visibility stays on
    // through the exit transition, so the count (and the blur) goes when the fade has ended.
    property bool wasVisible: false

    signal auxiliaryRequested()

    modal: true
    dim: true
    focus: true
    closePolicy: Popup.CloseOnEscape
    parent: Overlay.overlay
    anchors.centerIn: parent
    // Wider than 480 only where three long buttons would not fit between the margins.
    width: parent ? Math.max(0, Math.min(Math.max(480, buttonRow.implicitWidth + 2 * Theme.largeSpacing),
                                         parent.width - 2 * Theme.spacing)) : 480
    // The body keeps its own side margins, the same as the title's and the buttons'.
    leftPadding: 0
    rightPadding: 0

    Overlay.modal: Rectangle {
        color: "transparent"
    }

    onVisibleChanged: {
        if (visible && !wasVisible) {
            Theme.activeDialogs += 1
            wasVisible = true
        } else if (!visible && wasVisible) {
            Theme.activeDialogs -= 1
            wasVisible = false
        }
    }

    // A page removed while its dialog is open takes the dialog with it.
    Component.onDestruction: {
        if (wasVisible) {
            Theme.activeDialogs -= 1
            wasVisible = false
        }
    }

    background: Rectangle {
        objectName: "quorinDialogBackground"
        color: Theme.surface
        radius: Theme.radius
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.08)
    }

    header: Item {
        objectName: "quorinDialogHeader"
        implicitWidth: dialog.width
        implicitHeight: 64

        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: Theme.largeSpacing
            anchors.rightMargin: Theme.largeSpacing
            anchors.topMargin: Theme.spacing

            Label {
                objectName: "quorinDialogTitle"
                text: dialog.headerText
                color: dialog.headerColor
                font.family: Theme.fontFamily
                font.bold: true
                font.pixelSize: 20
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
        }
    }

    contentItem: Column {
        objectName: "quorinDialogContent"
        spacing: Theme.spacing

        Label {
            objectName: "quorinDialogBody"
            x: Theme.largeSpacing
            width: parent.width - 2 * Theme.largeSpacing
            bottomPadding: Theme.spacing
            text: dialog.bodyText
            color: Theme.textSecondary
            font.family: Theme.fontFamily
            font.pixelSize: 14
            lineHeight: 1.3
            wrapMode: Text.WordWrap
        }
    }

    footer: Item {
        objectName: "quorinDialogFooter"
        implicitWidth: dialog.width
        implicitHeight: 64

        RowLayout {
            id: buttonRow

            objectName: "quorinDialogButtonRow"
            anchors.fill: parent
            anchors.leftMargin: Theme.largeSpacing
            anchors.rightMargin: Theme.largeSpacing
            anchors.bottomMargin: Theme.largeSpacing
            spacing: Theme.spacing

            Item {
                Layout.fillWidth: true
            }

            QuorinButton {
                objectName: "quorinDialogAuxiliaryButton"
                visible: dialog.auxiliaryText !== ""
                text: dialog.auxiliaryText
                isOutline: true
                onClicked: dialog.auxiliaryRequested()
            }

            QuorinButton {
                objectName: "quorinDialogCancelButton"
                visible: dialog.showCancel
                text: dialog.cancelText
                isOutline: true
                onClicked: dialog.reject()
            }

            QuorinButton {
                objectName: "quorinDialogConfirmButton"
                text: dialog.confirmText
                buttonColor: dialog.confirmColor
                onClicked: dialog.accept()
            }
        }
    }

    enter: Transition {
        ParallelAnimation {
            NumberAnimation {
                property: "opacity"
                from: 0.0
                to: 1.0
                duration: Theme.animDuration
                easing.type: Easing.OutCubic
            }
            NumberAnimation {
                property: "scale"
                from: 0.95
                to: 1.0
                duration: Theme.animDuration
                easing.type: Easing.OutBack
            }
        }
    }

    exit: Transition {
        ParallelAnimation {
            NumberAnimation {
                property: "opacity"
                from: 1.0
                to: 0.0
                duration: Theme.animDuration
                easing.type: Easing.InCubic
            }
            NumberAnimation {
                property: "scale"
                from: 1.0
                to: 0.95
                duration: Theme.animDuration
                easing.type: Easing.InCubic
            }
        }
    }
}
