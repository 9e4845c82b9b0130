import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import "ControlChecks.js" as Checks

Item {
    id: root

    width: 800
    height: 600

    Component {
        id: popupComponent

        QuorinPopup {
            x: 50
            y: 50
            width: 200
            height: 120

            contentItem: Item {
                objectName: "popupContent"
            }
        }
    }

    Component {
        id: toolTipHostComponent

        Rectangle {
            property alias toolTip: toolTip

            x: 300
            y: 300
            width: 60
            height: 30

            QuorinToolTip {
                id: toolTip
            }
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    // The interface's own face, as the start-up registers it: some of its glyphs ("k") overhang
    // their advance, and a tool tip as wide as the advance alone would wrap its last letter.
    FontLoader {
        id: interfaceFace

        source: "qrc:/qt/qml/Quorin/assets/fonts/IBMPlexSansArabic-Regular.ttf"
    }

    // The reference measures of a tool tip's text: one line in the interface font at 12 px, by
    // its advance and by the width a text item lays it out in.
    TextMetrics {
        id: reference

        font.family: Theme.fontFamily
        font.pixelSize: 12
    }

    Text {
        id: referenceLine

        visible: false
        text: reference.text
        font.family: Theme.fontFamily
        font.pixelSize: 12
    }

    function resetPreferences() {
        SettingsController.themeMode = "light"
        SettingsController.animationSpeedMultiplier = 0
    }

    TestCase {
        id: popups

        name: "QuorinPopup"
        when: windowShown

        function init() {
            root.resetPreferences()
        }

        function cleanupTestCase() {
            SettingsController.animationSpeedMultiplier = 1
        }

        function openPopup(properties) {
            const popup = createTemporaryObject(popupComponent, root, properties || {})
            verify(popup)
            popup.open()
            tryCompare(popup, "opened", true)
            return popup
        }

        function test_mediaStyleStaysDarkInBothThemes_data() {
            return [{ tag: "light", theme: "light" }, { tag: "dark", theme: "dark" }]
        }

        function test_mediaStyleStaysDarkInBothThemes(row) {
            SettingsController.themeMode = row.theme
            const popup = openPopup({ mediaStyle: true })
            const roles = [
                ["surfaceColor", "#f21f242d"], ["textColor", "#ffffff"], ["hoverColor", "#26ffffff"],
                ["borderColor", "#40ffffff"], ["secondaryTextColor", "#b8ffffff"],
                ["mutedTextColor", "#80ffffff"], ["pressedColor", "#3dffffff"]
            ]
            for (const [role, expected] of roles)
                verify(Checks.coloursClose(popup[role], expected, 0), role + ": " + Checks.describe(popup[role], expected))
            verify(Checks.coloursClose(popup.background.color, "#f21f242d", 0))
            verify(Checks.coloursClose(popup.background.border.color, "#40ffffff", 0))
        }

        function test_plainStyleFollowsTheTheme_data() {
            return [
                { tag: "light", theme: "light", surface: "#ffffff", text: "#172033", hover: "#dbeafe", border: "#94a3b8" },
                { tag: "dark", theme: "dark", surface: "#1c2a43", text: "#f8fafc", hover: "#263752", border: "#50627d" }
            ]
        }

        function test_plainStyleFollowsTheTheme(row) {
            SettingsController.themeMode = row.theme
            const popup = openPopup()
            verify(Checks.coloursClose(popup.surfaceColor, row.surface, 0), Checks.describe(popup.surfaceColor, row.surface))
            verify(Checks.coloursClose(popup.textColor, row.text, 0))
            verify(Checks.coloursClose(popup.hoverColor, row.hover, 0))
            verify(Checks.coloursClose(popup.borderColor, row.border, 0))
            verify(Checks.coloursClose(popup.background.color, row.surface, 0))
            compare(popup.background.radius, 8)
            compare(popup.background.border.width, 1)
        }

        function test_recolouredAtOnceWhileOpen() {
            const popup = openPopup()
            popup.mediaStyle = true
            verify(Checks.coloursClose(popup.background.color, "#f21f242d", 0))
            popup.mediaStyle = false
            SettingsController.themeMode = "dark"
            verify(Checks.coloursClose(popup.background.color, "#1c2a43", 0))
        }

        function test_baseSettings() {
            const popup = createTemporaryObject(popupComponent, root)
            compare(popup.padding, 0)
            verify(popup.focus)
            compare(popup.closePolicy, Popup.CloseOnEscape)
        }

        function test_escapeClosesAndAPressOutsideDoesNot() {
            const popup = openPopup()
            verify(popup.activeFocus, "an open pop-up takes the keyboard")
            mouseClick(root, 700, 500)
            verify(popup.visible, "a press outside leaves it open")
            keyClick(Qt.Key_Escape)
            tryCompare(popup, "visible", false)
        }

        function test_opensAndClosesAtOnceWithAnimationsOff() {
            const popup = createTemporaryObject(popupComponent, root)
            popup.open()
            compare(popup.opacity, 1)
            compare(popup.scale, 1)
            popup.close()
            compare(popup.visible, false)
        }

        function test_entersAndLeavesWithFadeAndScale() {
            SettingsController.animationSpeedMultiplier = 1
            const popup = createTemporaryObject(popupComponent, root)
            const scales = []
            const opacities = []
            popup.scaleChanged.connect(() => scales.push(popup.scale))
            popup.opacityChanged.connect(() => opacities.push(popup.opacity))
            popup.open()
            verify(popup.opacity < 1, "the fade starts from 0")
            tryCompare(popup, "opened", true)
            compare(popup.opacity, 1)
            fuzzyCompare(popup.scale, 1, 0.0001)
            verify(scales.some(value => value > 0.95 && value < 1 || value > 1), "no scale on the way in")
            verify(opacities.some(value => value > 0 && value < 1), "no fade on the way in")

            popup.close()
            verify(popup.visible, "the fade out runs")
            tryCompare(popup, "visible", false)
        }
    }

    TestCase {
        id: toolTips

        name: "QuorinToolTip"
        when: windowShown

        function init() {
            root.resetPreferences()
        }

        function makeToolTip(text) {
            const host = createTemporaryObject(toolTipHostComponent, root)
            verify(host)
            host.toolTip.text = text
            return host.toolTip
        }

        function test_timing() {
            const toolTip = makeToolTip("Back")
            compare(toolTip.delay, 400)
            compare(toolTip.timeout, 3000)
        }

        function test_width_data() {
            return [
                { tag: "short", text: "Back", long: false },
                { tag: "short, overhanging last letters", text: "Quick look", long: false },
                { tag: "two words", text: "Contact support", long: false },
                { tag: "long", text: "Downloads stay encrypted on this computer and play without a connection. "
                                     + "They are removed when you sign out or when the course closes, and "
                                     + "the vault lists every one of them with its size.", long: true },
                { tag: "one long word", text: "Supercalifragilisticexpialidocious".repeat(8), long: true }
            ]
        }

        function test_width(row) {
            compare(interfaceFace.status, FontLoader.Ready)
            compare(interfaceFace.name, Theme.fontFamily)
            const toolTip = makeToolTip(row.text)
            toolTip.delay = 0
            toolTip.visible = true
            tryCompare(toolTip, "opened", true)
            reference.text = row.text
            const paddings = toolTip.leftPadding + toolTip.rightPadding
            if (!row.long) {
                // As wide as the text on one line, overhang included, and never less than its advance.
                const lineWidth = Math.max(reference.advanceWidth, referenceLine.implicitWidth)
                verify(lineWidth - reference.advanceWidth < 3, "overhang of " + (lineWidth - reference.advanceWidth))
                fuzzyCompare(toolTip.width, lineWidth + paddings, 0.5)
                compare(toolTip.contentItem.lineCount, 1)
                compare(toolTip.contentItem.text, row.text)
                return
            }
            verify(reference.advanceWidth + paddings > 500)
            compare(toolTip.width, 500)
            verify(toolTip.contentItem.lineCount > 1, "lines: " + toolTip.contentItem.lineCount)
            verify(toolTip.contentItem.contentWidth <= toolTip.availableWidth + 0.5, "text wider than the tip")
            verify(toolTip.height > toolTip.contentItem.lineCount * 12, "height " + toolTip.height)
        }

        function test_fixedColours_data() {
            return [{ tag: "light", theme: "light" }, { tag: "dark", theme: "dark" }]
        }

        function test_fixedColours(row) {
            SettingsController.themeMode = row.theme
            const toolTip = makeToolTip("Back")
            verify(Checks.coloursClose(toolTip.background.color, "#1E293B", 0))
            verify(Checks.coloursClose(toolTip.contentItem.color, "#F8FAFC", 0))
            verify(Checks.coloursClose(toolTip.background.border.color, Qt.rgba(1, 1, 1, 0.15), 1))
            compare(toolTip.background.border.width, 1)
            compare(toolTip.background.radius, 6)
            compare(toolTip.contentItem.font.pixelSize, 12)
            compare(toolTip.contentItem.font.family, "IBM Plex Sans Arabic")
        }

        function test_hiddenBeforeTheDelayShowsNothing() {
            const toolTip = makeToolTip("Back")
            const shown = createTemporaryObject(spyComponent, toolTips, { target: toolTip, signalName: "aboutToShow" })
            const started = Date.now()
            toolTip.visible = true
            wait(300)
            const elapsed = Date.now() - started
            toolTip.visible = false
            wait(500)
            // Only a machine that stalled past the delay may have shown it.
            verify(shown.count === 0 || elapsed >= 380, "shown although hidden after " + elapsed + " ms")
            verify(!toolTip.visible)
        }

        function test_showsAfterTheDelayAndHidesAfterTheTimeout() {
            const toolTip = makeToolTip("Back")
            let shownAt = 0
            let hiddenAt = 0
            toolTip.aboutToShow.connect(() => shownAt = Date.now())
            toolTip.aboutToHide.connect(() => hiddenAt = Date.now())
            const started = Date.now()
            toolTip.visible = true
            tryVerify(() => shownAt > 0, 3000)
            // Qt's coarse timers may fire up to 5 % early.
            verify(shownAt - started >= 380, "shown after " + (shownAt - started) + " ms")
            tryVerify(() => hiddenAt > 0, 8000, "never hidden")
            // The same 5 %, less the whole milliseconds of the two readings.
            verify(hiddenAt - shownAt >= 2840, "hidden after " + (hiddenAt - shownAt) + " ms")
            tryCompare(toolTip, "visible", false)
        }
    }
}
