import QtQuick
import QtQuick.Controls
import Quorin
import Quorin.Controllers

// The settings page until the settings screens are built: back, and sign out.
PlaceholderPage {
    id: page

    function signOut() {
        // The sign-out ends the session within the call, and the page stack answers by putting
        // the sign-in page in this page's place: afterwards this page is off the stack and its
        // own StackView.view is null. The stack is taken first, so that every page still goes.
        const stack = StackView.view
        NetworkManager.logout()
        if (stack)
            stack.replace(null, "Login.qml")
    }

    objectName: "profileSettingsPage"
    title: qsTr("Settings")
    showBack: true
    onBackRequested: StackView.view.pop()

    QuorinButton {
        objectName: "signOutButton"
        text: qsTr("Sign out")
        buttonColor: Theme.error
        onClicked: page.signOut()
    }
}
