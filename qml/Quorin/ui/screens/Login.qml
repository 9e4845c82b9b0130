import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin
import Quorin.Controllers

// The sign-in page until the sign-in screens are built: a mobile number and a password, signed
// in through the backend client; after a successful sign-in the page replaces itself with the
// home page.
PlaceholderPage {
    id: page

    property bool signingIn: false
    property string failureMessage: ""

    objectName: "loginPage"
    title: qsTr("Sign in")
    details: page.failureMessage !== "" ? [page.failureMessage] : []

    Connections {
        target: NetworkManager

        function onLoginSuccess() {
            page.signingIn = false
            // Only the page that is on the stack moves on.
            if (page.StackView.view)
                page.StackView.view.replace("Home.qml")
        }

        function onLoginError(errorMsg) {
            page.signingIn = false
            page.failureMessage = errorMsg
        }
    }

    function signIn() {
        failureMessage = ""
        signingIn = true
        NetworkManager.login(mobileField.text.trim(), passwordField.text, "")
    }

    ColumnLayout {
        width: 360
        spacing: Theme.spacing

        QuorinTextField {
            id: mobileField

            objectName: "loginMobileField"
            placeholderText: qsTr("Mobile number")
            forceLtr: true
            inputMethodHints: Qt.ImhDialableCharactersOnly
            Layout.fillWidth: true
        }

        QuorinTextField {
            id: passwordField

            objectName: "loginPasswordField"
            placeholderText: qsTr("Password")
            echoMode: TextInput.Password
            passwordRevealEnabled: true
            Layout.fillWidth: true
            onAccepted: page.signIn()
        }

        QuorinButton {
            objectName: "loginSubmitButton"
            text: qsTr("Sign in")
            isLoading: page.signingIn
            enabled: !page.signingIn && mobileField.text.trim() !== "" && passwordField.text !== ""
            Layout.fillWidth: true
            onClicked: page.signIn()
        }
    }
}
