import QtQuick
import QtTest
import Quorin
import Quorin.Controllers
import "ControlChecks.js" as Checks

Item {
    id: root

    width: 800
    height: 600

    MirroredArea {
        id: area

        anchors.fill: parent
    }

    // Takes the focus first, so Tab has somewhere to come from.
    Item {
        id: focusStart

        width: 10
        height: 10
        activeFocusOnTab: true
    }

    Component {
        id: buttonComponent

        QuorinButton {
            x: 100
            y: 100
        }
    }

    Component {
        id: backButtonComponent

        QuorinBackIconButton {
            x: 100
            y: 100
        }
    }

    readonly property string iconUrl: "qrc:/qt/qml/Quorin/assets/icons/download.svg"

    function resetPreferences() {
        SettingsController.themeMode = "light"
        SettingsController.language = "en"
        SettingsController.animationSpeedMultiplier = 0
    }

    TestCase {
        id: buttons

        name: "QuorinButton"
        when: windowShown

        function init() {
            root.resetPreferences()
            mouseMove(root, 790, 590)
        }

        function cleanupTestCase() {
            SettingsController.animationSpeedMultiplier = 1
        }

        function make(properties) {
            const button = createTemporaryObject(buttonComponent, area, properties || {})
            verify(button)
            return button
        }

        function part(button, name) {
            const found = findChild(button, name)
            verify(found, name)
            return found
        }

        function test_size_data() {
            return [
                { tag: "short text", text: "OK", compact: false, icon: false },
                { tag: "short text, compact", text: "OK", compact: true, icon: false },
                { tag: "wide text", text: "Download the whole lecture", compact: false, icon: false },
                { tag: "wide text with an icon", text: "Download the whole lecture", compact: false, icon: true },
                { tag: "icon only", text: "", compact: false, icon: true },
                { tag: "icon only, compact", text: "", compact: true, icon: true }
            ]
        }

        function test_size(row) {
            const button = make({ text: row.text, compact: row.compact, iconSource: row.icon ? root.iconUrl : "" })
            const label = part(button, "buttonContentText")
            const icon = part(button, "buttonContentIcon")
            compare(button.height, 44)
            compare(label.visible, row.text !== "")
            compare(icon.visible, row.icon)

            let content = 0
            if (row.text !== "")
                content += label.implicitWidth
            if (row.icon)
                content += 18
            if (row.text !== "" && row.icon)
                content += 8
            const expected = Math.max(row.compact ? 40 : 120, content + 48)
            if (row.tag === "short text")
                compare(button.width, 120)
            if (row.tag.startsWith("wide"))
                verify(label.implicitWidth > 72, "the wide text is " + label.implicitWidth)
            // The row lays its items out on whole pixels.
            fuzzyCompare(button.width, expected, 1)

            if (row.icon && row.text === "") {
                compare(icon.width, 18)
                compare(icon.height, 18)
                const centre = icon.mapToItem(button, icon.width / 2, icon.height / 2)
                fuzzyCompare(centre.x, button.width / 2, 0.5)
                fuzzyCompare(centre.y, button.height / 2, 0.5)
            }
        }

        function test_textColourTintsTextAndIcon() {
            const button = make({ text: "Save", iconSource: root.iconUrl })
            button.textColor = "#d97706"
            verify(Checks.coloursClose(part(button, "buttonContentText").color, "#d97706", 0))
            verify(Checks.coloursClose(part(button, "buttonContentIcon").tint, "#d97706", 0))
            button.isOutline = true
            button.textColor = "#123456"
            verify(Checks.coloursClose(part(button, "buttonContentIcon").tint, "#123456", 0))
        }

        function test_defaultTextColours() {
            const filled = make({ text: "Save" })
            verify(Checks.coloursClose(filled.textColor, "#ffffff", 0))
            const outline = make({ text: "Cancel", isOutline: true, buttonColor: "#dc2626" })
            verify(Checks.coloursClose(outline.textColor, "#dc2626", 0))
        }

        // Expected colours worked out by hand from the blend rule, one step of tolerance per channel.
        function test_backgroundColour_data() {
            return [
                { tag: "filled rest", outline: false, theme: "light", state: "rest", base: "#0f9f92", expected: "#0f9f92" },
                { tag: "filled hover", outline: false, theme: "light", state: "hover", base: "#0f9f92", expected: "#0c8f84" },
                { tag: "filled pressed", outline: false, theme: "light", state: "pressed", base: "#0f9f92", expected: "#0a857c" },
                { tag: "filled loading", outline: false, theme: "light", state: "loading", base: "#0f9f92", expected: "#0c8f84" },
                { tag: "filled hover, dark", outline: false, theme: "dark", state: "hover", base: "#0f9f92", expected: "#0c8f84" },
                { tag: "error filled hover", outline: false, theme: "light", state: "hover", base: "#dc2626", expected: "#7d4c49" },
                { tag: "error filled pressed", outline: false, theme: "dark", state: "pressed", base: "#dc2626", expected: "#43635d" },
                { tag: "outline rest", outline: true, theme: "light", state: "rest", base: "#0f9f92", expected: "#000f9f92", transparent: true },
                { tag: "outline hover, light", outline: true, theme: "light", state: "hover", base: "#0f9f92", expected: "#d9f0ee" },
                { tag: "outline hover, dark", outline: true, theme: "dark", state: "hover", base: "#0f9f92", expected: "#14404e" },
                { tag: "outline pressed, light", outline: true, theme: "light", state: "pressed", base: "#0f9f92", expected: "#c3e7e4" },
                { tag: "outline pressed, dark", outline: true, theme: "dark", state: "pressed", base: "#0f9f92", expected: "#144d57" },
                { tag: "outline loading", outline: true, theme: "light", state: "loading", base: "#0f9f92", expected: "#000f9f92", transparent: true }
            ]
        }

        function test_backgroundColour(row) {
            SettingsController.themeMode = row.theme
            const button = make({ text: "Save", isOutline: row.outline, buttonColor: row.base })
            const background = part(button, "buttonBackground")
            if (row.state === "hover" || row.state === "pressed") {
                mouseMove(button, button.width / 2, button.height / 2)
                verify(button.visualHovered)
            }
            if (row.state === "pressed")
                mousePress(button, button.width / 2, button.height / 2)
            if (row.state === "loading")
                button.isLoading = true
            if (row.transparent)
                compare(background.color.a, 0, "the outline rests on what lies beneath")
            else
                verify(Checks.coloursClose(background.color, row.expected), Checks.describe(background.color, row.expected))
            if (row.state === "pressed")
                mouseRelease(button, button.width / 2, button.height / 2)
        }

        function test_themeSwitchMovesAHoveredOutlineToTheNewMix() {
            SettingsController.animationSpeedMultiplier = 1
            const button = make({ text: "Save", isOutline: true })
            const background = part(button, "buttonBackground")
            mouseMove(button, 10, 10)
            tryVerify(() => Checks.coloursClose(background.color, "#d9f0ee"), 1000)
            SettingsController.themeMode = "dark"
            verify(!Checks.coloursClose(background.color, "#14404e"), "the change is animated")
            tryVerify(() => Checks.coloursClose(background.color, "#14404e"), 1000, Checks.describe(background.color, "#14404e"))
        }

        function test_scale_data() {
            return [
                { tag: "rest", state: "rest", scale: 1.0 },
                { tag: "hovered", state: "hover", scale: 1.02 },
                { tag: "pressed", state: "pressed", scale: 0.98 }
            ]
        }

        function test_scale(row) {
            const button = make({ text: "Save" })
            if (row.state !== "rest")
                mouseMove(button, button.width / 2, button.height / 2)
            if (row.state === "pressed")
                mousePress(button, button.width / 2, button.height / 2)
            fuzzyCompare(button.scale, row.scale, 0.0001)
            if (row.state === "pressed")
                mouseRelease(button, button.width / 2, button.height / 2)
        }

        function test_animatesWithTheSpeedSetAndNotWithout() {
            SettingsController.animationSpeedMultiplier = 1
            const button = make({ text: "Save" })
            mouseMove(button, 10, 10)
            verify(button.scale < 1.02, "the grow starts from 1")
            tryCompare(button, "scale", 1.02)
        }

        function test_disabledFadesOnlyTheBackground() {
            const button = make({ text: "Save", iconSource: root.iconUrl, enabled: false })
            compare(part(button, "buttonBackground").opacity, 0.6)
            compare(part(button, "buttonContentText").opacity, 1)
            compare(part(button, "buttonContentIcon").opacity, 1)
            compare(button.contentItem.opacity, 1)
            compare(button.opacity, 1)
            button.enabled = true
            compare(part(button, "buttonBackground").opacity, 1)
        }

        function test_hoverSuppressedAfterDisablingUnderThePointer() {
            const button = make({ text: "Save" })
            const background = part(button, "buttonBackground")
            mouseMove(button, 20, 20)
            verify(button.visualHovered)

            button.enabled = false
            verify(!button.visualHovered)
            verify(button.suppressHoverUntilExit)
            compare(button.scale, 1)

            button.enabled = true
            mouseMove(button, 22, 21)
            mouseMove(button, 24, 22)
            verify(!button.visualHovered, "re-enabled under a resting pointer")
            verify(Checks.coloursClose(background.color, "#0f9f92"), Checks.describe(background.color, "#0f9f92"))
            compare(button.scale, 1)

            mouseMove(root, 790, 590)
            verify(!button.suppressHoverUntilExit)
            mouseMove(button, 20, 20)
            verify(button.visualHovered, "shown again after leaving and coming back")
        }

        function test_leavingWhileDisabledKeepsTheSuppression() {
            const button = make({ text: "Save" })
            mouseMove(button, 20, 20)
            button.enabled = false
            mouseMove(root, 790, 590)
            verify(button.suppressHoverUntilExit)
            button.enabled = true
            mouseMove(button, 20, 20)
            verify(!button.visualHovered)
            mouseMove(root, 790, 590)
            mouseMove(button, 20, 20)
            verify(button.visualHovered)
        }

        function test_loading() {
            const button = make({ text: "Download the whole lecture", iconSource: root.iconUrl })
            const widthBefore = button.width
            const clicks = createTemporaryObject(spyComponent, buttons, { target: button, signalName: "clicked" })
            button.isLoading = true

            verify(!part(button, "buttonContentRow").visible)
            const spinner = part(button, "buttonLoadingSpinner")
            verify(spinner.visible)
            verify(spinner.running)
            compare(spinner.width, 20)
            compare(spinner.height, 20)
            const centre = spinner.mapToItem(button, spinner.width / 2, spinner.height / 2)
            fuzzyCompare(centre.x, button.width / 2, 0.5)
            compare(button.width, widthBefore)

            mouseClick(button)
            compare(clicks.count, 1, "a loading button still takes clicks")

            button.isLoading = false
            verify(part(button, "buttonContentRow").visible)
            verify(!spinner.visible)
        }

        function test_focusRing_data() {
            return [
                { tag: "filled", outline: false, ring: "#ffffff", restWidth: 0 },
                { tag: "outline", outline: true, ring: "#172033", restWidth: 1 }
            ]
        }

        function test_focusRing(row) {
            const button = make({ text: "Save", isOutline: row.outline })
            const background = part(button, "buttonBackground")
            focusStart.forceActiveFocus()
            keyClick(Qt.Key_Tab)
            verify(button.activeFocus)
            compare(background.border.width, 2)
            verify(Checks.coloursClose(background.border.color, row.ring, 0), Checks.describe(background.border.color, row.ring))

            focusStart.forceActiveFocus()
            mouseClick(button)
            verify(button.activeFocus, "a click takes the focus")
            compare(background.border.width, row.restWidth, "but shows no ring")
        }

        function test_defaultTextIsTranslated() {
            const button = make({})
            compare(button.text, "Quorin button")
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        id: backButton

        name: "QuorinBackIconButton"
        when: windowShown

        function init() {
            root.resetPreferences()
            mouseMove(root, 790, 590)
        }

        function cleanupTestCase() {
            root.resetPreferences()
            SettingsController.animationSpeedMultiplier = 1
        }

        function make(properties) {
            const button = createTemporaryObject(backButtonComponent, area, properties || {})
            verify(button)
            return button
        }

        function test_sizeAndAccessibility_data() {
            return [
                { tag: "English", language: "en", name: "Back", description: "Go back" },
                { tag: "Arabic", language: "ar", name: "رجوع", description: "العودة إلى الخلف" }
            ]
        }

        function test_sizeAndAccessibility(row) {
            SettingsController.language = row.language
            const button = make()
            compare(button.width, 48)
            compare(button.height, 48)
            compare(button.Accessible.role, Accessible.Button)
            compare(button.Accessible.name, row.name)
            compare(button.Accessible.description, row.description)
            compare(findChild(button, "backIconButtonToolTip").text, row.name)
            const icon = findChild(button, "backDirectionalIcon")
            compare(icon.width, 24)
            compare(icon.height, 24)
            verify(icon.directional)
        }

        function test_oneClickPerActivation_data() {
            return [
                { tag: "click", key: -1 },
                { tag: "Return", key: Qt.Key_Return },
                { tag: "Enter", key: Qt.Key_Enter },
                { tag: "Space", key: Qt.Key_Space }
            ]
        }

        function test_oneClickPerActivation(row) {
            const button = make()
            const clicks = createTemporaryObject(spyComponent, backButton, { target: button, signalName: "clicked" })
            if (row.key < 0) {
                mouseClick(button)
            } else {
                focusStart.forceActiveFocus()
                keyClick(Qt.Key_Tab)
                verify(button.activeFocus)
                keyClick(row.key)
            }
            compare(clicks.count, 1)
        }

        function test_otherKeysDoNothing() {
            const button = make()
            const clicks = createTemporaryObject(spyComponent, backButton, { target: button, signalName: "clicked" })
            button.forceActiveFocus()
            keyClick(Qt.Key_A)
            keyClick(Qt.Key_Escape)
            compare(clicks.count, 0)
        }

        function test_arrowMirroredInArabicOnly_data() {
            return [
                { tag: "English", language: "en", mirrored: false },
                { tag: "Arabic", language: "ar", mirrored: true }
            ]
        }

        function test_arrowMirroredInArabicOnly(row) {
            SettingsController.language = row.language
            const button = make()
            const image = findChild(findChild(button, "backDirectionalIcon"), "quorinIconSourceImage")
            compare(image.mirror, row.mirrored)
        }

        function test_colours() {
            const button = make()
            const circle = findChild(button, "backButtonCircle")
            verify(Checks.coloursClose(circle.color, "#0f9f92", 0))

            // A fixed 150 ms, even with animations switched off.
            let started = Date.now()
            mouseMove(button, 24, 24)
            verify(button.pointerHovered)
            verify(!Checks.coloursClose(circle.color, "#0c8f84"), "the change is animated")
            tryVerify(() => Checks.coloursClose(circle.color, "#0c8f84"), 2000, Checks.describe(circle.color, "#0c8f84"))
            verify(Date.now() - started >= 120, "took " + (Date.now() - started) + " ms")

            mousePress(button, 24, 24)
            tryVerify(() => Checks.coloursClose(circle.color, "#087b73"), 2000, Checks.describe(circle.color, "#087b73"))
            mouseRelease(button, 24, 24)
        }

        function test_focusRing() {
            const button = make()
            const circle = findChild(button, "backButtonCircle")
            compare(circle.border.width, 0)
            focusStart.forceActiveFocus()
            keyClick(Qt.Key_Tab)
            verify(button.activeFocus)
            compare(circle.border.width, 2)
            tryVerify(() => Checks.coloursClose(circle.border.color, "#ffffff"), 2000)
        }

        function test_toolTipOnHoverOnly() {
            const button = make()
            const tip = findChild(button, "backIconButtonToolTip")
            verify(tip)
            compare(tip.text, "Back")

            focusStart.forceActiveFocus()
            keyClick(Qt.Key_Tab)
            verify(button.activeFocus)
            wait(tip.delay + 200)
            verify(!tip.visible, "keyboard focus shows no tool tip")

            const started = Date.now()
            mouseMove(button, 24, 24)
            tryCompare(tip, "opened", true)
            // Qt's coarse timers may fire up to 5 % early.
            verify(Date.now() - started >= 380, "shown after " + (Date.now() - started) + " ms")
        }

        function test_namedButtonNamesItsToolTip() {
            const button = make({ objectName: "quizBackButton" })
            verify(findChild(button, "quizBackButtonToolTip"))
        }

        function test_hoverSuppression() {
            const button = make()
            mouseMove(button, 24, 24)
            verify(button.pointerHovered)
            button.enabled = false
            verify(!button.pointerHovered)
            verify(button.suppressHoverUntilExit)
            button.enabled = true
            mouseMove(button, 25, 25)
            verify(!button.pointerHovered)
            mouseMove(root, 790, 590)
            mouseMove(button, 24, 24)
            verify(button.pointerHovered)
        }

        function test_disabledIgnoresPointerAndKeys() {
            const button = make()
            const clicks = createTemporaryObject(spyComponent, backButton, { target: button, signalName: "clicked" })
            button.forceActiveFocus()
            button.enabled = false
            mouseClick(button)
            keyClick(Qt.Key_Return)
            compare(clicks.count, 0)
        }
    }
}
