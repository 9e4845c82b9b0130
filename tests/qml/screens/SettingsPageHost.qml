import QtQuick
import QtQuick.Controls
import Quorin.Controllers

// The application's page stack, showing the home page, in a tree that mirrors in Arabic as the
// window does.
Item {
    id: host

    readonly property url pageStackDocument: "qrc:/qt/qml/Quorin/ui/screens/AppWrapper.qml"
    readonly property url settingsDocument: "qrc:/qt/qml/Quorin/ui/screens/ProfileSettings.qml"
    readonly property StackView stack: {
        const wrapper = loader.item
        if (!wrapper)
            return null
        for (let index = 0; index < wrapper.children.length; ++index) {
            if (wrapper.children[index].objectName === "stackView")
                return wrapper.children[index]
        }
        return null
    }

    // Opens the settings page over the current page at once and returns it.
    function openSettings() {
        stack.push(settingsDocument, {}, StackView.Immediate)
        return stack.currentItem
    }

    anchors.fill: parent
    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
    LayoutMirroring.childrenInherit: true

    Loader {
        id: loader

        anchors.fill: parent
        source: host.pageStackDocument
    }
}
