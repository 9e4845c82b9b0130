import QtQuick
import QtQuick.Layouts
import Quorin
import Quorin.Controllers

// The account security pane of the settings page: changes the password through the page's
// controller and hands a request to delete the account to the page, which confirms it.
ColumnLayout {
    id: pane

    required property ProfileController profile
    readonly property bool compactLayout: width < 420

    signal deleteRequested()

    function updatePassword() {
        if (newPasswordField.text !== confirmPasswordField.text) {
            statusLine.text = ""
            errorNotice.message = qsTr("Passwords do not match!")
            return
        }
        errorNotice.message = ""
        statusLine.text = qsTr("Updating...")
        pane.profile.changePassword(currentPasswordField.text, newPasswordField.text)
    }

    spacing: Theme.spacing

    Connections {
        target: pane.profile

        function onPasswordChanged() {
            currentPasswordField.text = ""
            newPasswordField.text = ""
            confirmPasswordField.text = ""
            errorNotice.message = ""
            statusLine.text = qsTr("Password updated successfully!")
        }

        function onPasswordChangeError(failure) {
            statusLine.text = ""
            errorNotice.severity = failure.severity !== "" ? failure.severity : "error"
            errorNotice.message = failure.userMessage
            errorNotice.details = failure.technicalDetails
        }
    }

    component FieldLabel: Text {
        color: Theme.textSecondary
        font.family: Theme.fontFamily
        font.bold: true
        horizontalAlignment: Text.AlignLeft
        Layout.fillWidth: true
    }

    component PasswordField: QuorinTextField {
        echoMode: TextInput.Password
        passwordRevealEnabled: true
        Layout.fillWidth: true
    }

    Text {
        objectName: "securityHeading"
        text: qsTr("Security")
        color: Theme.primary
        font.family: Theme.fontFamily
        font.pixelSize: 18
        font.bold: true
        horizontalAlignment: Text.AlignLeft
        Layout.fillWidth: true
    }

    FieldLabel {
        text: qsTr("Current password")
        Layout.topMargin: Theme.spacing
    }

    PasswordField {
        id: currentPasswordField

        objectName: "securityCurrentPassword"
        Accessible.name: qsTr("Current password")
    }

    FieldLabel {
        text: qsTr("New password")
    }

    PasswordField {
        id: newPasswordField

        objectName: "securityNewPassword"
        Accessible.name: qsTr("New password")
    }

    FieldLabel {
        text: qsTr("Confirm new password")
    }

    PasswordField {
        id: confirmPasswordField

        objectName: "securityConfirmPassword"
        Accessible.name: qsTr("Confirm new password")
    }

    Text {
        id: statusLine

        objectName: "securityStatusLine"
        visible: text !== ""
        color: Theme.primary
        font.family: Theme.fontFamily
        font.pixelSize: 12
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignLeft
        Layout.fillWidth: true
    }

    QuorinNotice {
        id: errorNotice

        objectName: "securityErrorNotice"
        Layout.fillWidth: true
    }

    Item {
        Layout.fillHeight: true
    }

    // The two buttons at both ends of one row, or, compact, one above the other at full width.
    // Placed by anchors rather than a grid: on Qt 6.4 a grid inside this column that changed its
    // column count after the pane had first been laid out kept its first shape (measured in the
    // settings page: the pane, made narrow and then widened, kept its buttons stacked).
    Item {
        objectName: "securityButtons"
        implicitHeight: pane.compactLayout ? deleteButton.height + Theme.smallSpacing + updateButton.height
                                           : Math.max(deleteButton.height, updateButton.height)
        Layout.fillWidth: true

        QuorinButton {
            id: deleteButton

            objectName: "securityDeleteButton"
            text: qsTr("Delete account")
            isOutline: true
            buttonColor: Theme.error
            width: pane.compactLayout ? parent.width : implicitWidth
            anchors.left: parent.left
            onClicked: pane.deleteRequested()
        }

        // Disabled while the controller is busy: it would drop the call, and "Updating..."
        // would then stand for a request that never went out.
        QuorinButton {
            id: updateButton

            objectName: "securityUpdateButton"
            text: qsTr("Update password")
            enabled: !pane.profile.isLoading
            y: pane.compactLayout ? deleteButton.height + Theme.smallSpacing : 0
            width: pane.compactLayout ? parent.width : implicitWidth
            anchors.right: parent.right
            onClicked: pane.updatePassword()
        }
    }
}
