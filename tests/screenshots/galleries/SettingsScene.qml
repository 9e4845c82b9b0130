import QtQuick
import QtQuick.Controls
import Qt5Compat.GraphicalEffects
import Quorin
import Quorin.Controllers

// The real settings page filling the gallery window, signed in, brought into one of its states
// through what a user would do. Each of the settings galleries names its scene; "ready" turns
// true once the scene stands.
Item {
    id: gallery

    // "profile", "nicknameTooLong", "passwordMismatch" or "deleteDialog".
    property string scene: "profile"
    readonly property bool followsWindowSize: true
    property bool ready: false
    property int step: 0

    function find(item, objectName) {
        if (!item)
            return null
        if (item.objectName === objectName)
            return item
        for (let index = 0; index < item.children.length; ++index) {
            const found = find(item.children[index], objectName)
            if (found)
                return found
        }
        return null
    }

    function currentPane() {
        return find(page, "settingsPaneStack").currentItem
    }

    // The profile has come (or failed) and, when it holds an education, the selector shows it.
    function profileSettled() {
        const controller = page.profileController
        if (controller.isLoading || controller.state === "idle")
            return false
        const education = find(currentPane(), "profileEducation")
        return !education || controller.yearId === "" || education.yearId === controller.yearId
    }

    function chooseCategory(index) {
        page.chooseCategory(index)
    }

    // One step a tick; false while the scene still waits for something.
    function advance() {
        if (find(page, "settingsPaneStack").busy || !profileSettled())
            return false
        switch (scene) {
        case "nicknameTooLong": {
            const pane = currentPane()
            find(pane, "profileNickname").text = "n".repeat(65)
            pane.save()
            return true
        }
        case "passwordMismatch": {
            if (step === 0) {
                chooseCategory(1)
                step = 1
                return false
            }
            const pane = currentPane()
            find(pane, "securityCurrentPassword").text = "quorin-demo"
            find(pane, "securityNewPassword").text = "correct-horse"
            find(pane, "securityConfirmPassword").text = "correct-horsE"
            find(pane, "securityUpdateButton").clicked()
            return true
        }
        case "deleteDialog": {
            if (step === 0) {
                chooseCategory(1)
                step = 1
                return false
            }
            find(currentPane(), "securityDeleteButton").clicked()
            return true
        }
        default:
            return true
        }
    }

    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
    LayoutMirroring.childrenInherit: true

    // Blurred under an open dialog, as the window's page stack is.
    Item {
        anchors.fill: parent
        layer.enabled: Theme.activeDialogs > 0
        layer.effect: FastBlur {
            radius: 32
        }

        ProfileSettings {
            id: page

            anchors.fill: parent
        }
    }

    Timer {
        interval: 50
        repeat: true
        running: !gallery.ready
        onTriggered: gallery.ready = gallery.advance()
    }
}
