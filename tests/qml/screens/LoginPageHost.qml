import QtQuick
import QtQuick.Controls
import Quorin.Controllers

// A page stack holding the sign-in page, in a tree that mirrors in Arabic as the window does.
Item {
    id: host

    readonly property url loginDocument: "qrc:/qt/qml/Quorin/ui/screens/Login.qml"
    property alias stack: stack

    // Shows a new sign-in page at once and returns it.
    function open() {
        stack.push(loginDocument, {}, StackView.Immediate)
        return stack.currentItem
    }

    anchors.fill: parent
    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
    LayoutMirroring.childrenInherit: true

    StackView {
        id: stack

        anchors.fill: parent
    }
}
