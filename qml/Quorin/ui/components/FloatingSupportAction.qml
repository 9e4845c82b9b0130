import QtQuick
import Quorin
import Quorin.Controllers

// The round support button with a headset icon: opens the support chat in the system's browser.
// Its user places it (floating over the sign-in page, in the home page's header) and may pass
// beforeOpen, called first (the home page closes its drawer there).
QuorinButton {
    id: control

    property var beforeOpen: null

    objectName: "floatingSupportAction"
    width: 56
    height: 56
    implicitWidth: 56
    implicitHeight: 56
    // The icon alone, centred in the circle.
    padding: 0
    leftPadding: 0
    rightPadding: 0
    text: ""
    iconSource: "qrc:/qt/qml/Quorin/assets/icons/support-agent.svg"
    iconSize: 28
    activeFocusOnTab: true
    buttonColor: Theme.primary
    cornerRadius: width / 2

    Accessible.name: qsTr("Contact support")
    Accessible.description: qsTr("Open the Quorin support chat")

    onClicked: {
        if (typeof beforeOpen === "function")
            beforeOpen()
        SettingsController.openSupportChat()
    }

    QuorinToolTip {
        objectName: "floatingSupportToolTip"
        text: qsTr("Contact support")
        visible: control.visualHovered
    }
}
