import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing
import "ControlChecks.js" as Checks

Item {
    id: root

    width: 800
    height: 600

    // What happened, in order: the page's own step before opening, and the links the desktop got.
    property var events: []

    Connections {
        target: TestSetup

        function onUrlOpened(url) {
            root.events.push("open " + url)
        }
    }

    MirroredArea {
        id: area

        anchors.fill: parent
    }

    Component {
        id: buttonComponent

        FloatingSupportAction {
            x: 100
            y: 100
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        name: "FloatingSupportAction"
        when: windowShown

        function init() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
            root.events = []
            TestSetup.clearOpenedUrls()
            mouseMove(root, 790, 590)
        }

        function cleanupTestCase() {
            SettingsController.animationSpeedMultiplier = 1
        }

        function makeButton(properties) {
            const button = createTemporaryObject(buttonComponent, area, properties || {})
            verify(button)
            waitForItemPolished(button)
            return button
        }

        function toolTipOf(button) {
            const toolTip = findChild(button, "floatingSupportToolTip")
            verify(toolTip, "floatingSupportToolTip")
            return toolTip
        }

        function test_look() {
            const button = makeButton()
            compare(button.objectName, "floatingSupportAction")
            for (const size of ["width", "height", "implicitWidth", "implicitHeight"])
                compare(button[size], 56, size)
            compare(button.text, "")
            compare(button.iconSource, "qrc:/qt/qml/Quorin/assets/icons/support-agent.svg")
            compare(button.iconSize, 28)
            compare(button.padding, 0)
            verify(button.activeFocusOnTab)
            verify(!button.isOutline)
            verify(Checks.coloursClose(button.buttonColor, Theme.primary, 0))
            compare(button.cornerRadius, 28)
            compare(button.background.radius, 28)
            const icon = findChild(button, "buttonContentIcon")
            verify(icon.visible)
            compare(icon.width, 28)
            compare(icon.height, 28)
            // The icon sits in the middle of the circle.
            const centre = icon.mapToItem(button, icon.width / 2, icon.height / 2)
            fuzzyCompare(centre.x, 28, 0.5)
            fuzzyCompare(centre.y, 28, 0.5)
            verify(!findChild(button, "buttonContentText").visible, "icon only")
        }

        function test_accessibility() {
            const button = makeButton()
            compare(button.Accessible.name, "Contact support")
            compare(button.Accessible.description, "Open the Quorin support chat")
            compare(toolTipOf(button).text, "Contact support")
        }

        function test_toolTipAfterTheDelay() {
            const button = makeButton()
            const toolTip = toolTipOf(button)
            const shown = createTemporaryObject(spyComponent, root, { target: toolTip, signalName: "aboutToShow" })
            const started = Date.now()
            mouseMove(button, 28, 28)
            verify(button.visualHovered)
            wait(300)
            const elapsed = Date.now() - started
            // Only a machine that stalled past the delay may have shown it by now.
            verify(shown.count === 0 || elapsed >= 380, "shown " + elapsed + " ms into the hover")
            tryCompare(toolTip, "opened", true, 3000)
            verify(Date.now() - started >= 380, "shown before the delay")
            compare(toolTip.contentItem.text, "Contact support")
            mouseMove(root, 790, 590)
            verify(!button.visualHovered)
            tryCompare(toolTip, "visible", false)
        }

        function test_clickRunsBeforeOpenFirst() {
            const button = makeButton()
            button.beforeOpen = () => root.events.push("before open")
            mouseClick(button)
            compare(root.events, ["before open", "open " + SettingsController.supportUrl])
            compare(TestSetup.openedUrls(), [SettingsController.supportUrl])
        }

        function test_clickWithoutBeforeOpen() {
            const button = makeButton()
            compare(button.beforeOpen, null)
            mouseClick(button)
            compare(root.events, ["open " + SettingsController.supportUrl])
        }

        function test_keyboardOpensTheChat() {
            const button = makeButton()
            button.forceActiveFocus(Qt.TabFocusReason)
            keyClick(Qt.Key_Space)
            compare(TestSetup.openedUrls(), [SettingsController.supportUrl])
        }

        function test_arabicTexts() {
            SettingsController.language = "ar"
            const button = makeButton()
            verify(button.Accessible.name !== "Contact support" && button.Accessible.name !== "")
            verify(button.Accessible.description !== "Open the Quorin support chat")
            compare(toolTipOf(button).text, button.Accessible.name)
        }
    }
}
