import QtQuick
import QtTest
import Quorin
import Quorin.Controllers

// Runs twice: at a device pixel ratio of 1, and as tst_QuorinCheckSwitchHiDpi at a ratio of 2.
Item {
    id: root

    width: 800
    height: 600

    readonly property bool hiDpiRun: Qt.application.arguments[0].endsWith("HiDpi")

    MirroredArea {
        id: area

        anchors.fill: parent

        // An owner further up that also wants Space.
        FocusScope {
            id: spaceOwner

            property int spacePresses: 0

            anchors.fill: parent
            Keys.onSpacePressed: spacePresses += 1
        }
    }

    Component {
        id: checkBoxComponent

        QuorinCheckBox {
            x: 100
            y: 100
        }
    }

    Component {
        id: switchComponent

        QuorinSwitch {
            x: 100
            y: 300
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    function resetPreferences() {
        SettingsController.language = "en"
        SettingsController.themeMode = "light"
        SettingsController.animationSpeedMultiplier = 0
    }

    TestCase {
        id: checkBoxes

        name: "QuorinCheckBox"
        when: windowShown

        function init() {
            root.resetPreferences()
            spaceOwner.spacePresses = 0
        }

        function cleanupTestCase() {
            root.resetPreferences()
            SettingsController.animationSpeedMultiplier = 1
        }

        function make(properties) {
            const box = createTemporaryObject(checkBoxComponent, spaceOwner, properties || {})
            verify(box)
            return box
        }

        function spyOn(box) {
            return createTemporaryObject(spyComponent, checkBoxes, { target: box, signalName: "toggled" })
        }

        function indicatorOf(box) {
            return findChild(box, "checkBoxIndicator")
        }

        function test_ignoredRequestsLeaveTheBoxAsItWas() {
            const box = make({ label: "Mark as complete" })
            const requests = spyOn(box)
            mouseClick(box)
            compare(requests.count, 1)
            compare(requests.signalArguments[0][0], true)
            verify(!box.checked)
            mouseClick(box)
            compare(requests.count, 2)
            compare(requests.signalArguments[1][0], true, "each request follows the current state")
            verify(!box.checked)
        }

        function test_ownerAppliesTheRequest() {
            const box = make({ label: "Shuffle questions" })
            box.toggled.connect(requested => box.checked = requested)
            const requests = spyOn(box)
            mouseClick(box)
            verify(box.checked)
            mouseClick(box)
            verify(!box.checked)
            compare(requests.signalArguments[1][0], false)
        }

        function test_clickAnywhereOnTheControl_data() {
            return [{ tag: "box", onLabel: false }, { tag: "label", onLabel: true }]
        }

        function test_clickAnywhereOnTheControl(row) {
            const box = make({ label: "Mark as complete" })
            const requests = spyOn(box)
            mouseClick(box, row.onLabel ? box.width - 5 : 10, box.height / 2)
            compare(requests.count, 1)
            verify(box.activeFocus, "a press gives the box focus")
        }

        function test_pendingTakesNoRequest() {
            const box = make({ label: "Mark as complete" })
            const requests = spyOn(box)
            box.forceActiveFocus()
            box.pending = true
            mouseClick(box, 10, box.height / 2)
            mouseClick(box, box.width - 5, box.height / 2)
            keyClick(Qt.Key_Space)
            compare(requests.count, 0)
            compare(spaceOwner.spacePresses, 0, "Space went past the check box")
            verify(findChild(box, "checkBoxPendingSpinner").visible)

            box.pending = false
            keyClick(Qt.Key_Space)
            compare(requests.count, 1)
            compare(spaceOwner.spacePresses, 0)
        }

        function test_pendingRefusesFocusFromThePointer() {
            const box = make({ label: "Mark as complete", pending: true })
            mouseClick(box, 10, box.height / 2)
            verify(!box.activeFocus)
        }

        function test_keys() {
            const box = make({ label: "Mark as complete" })
            const requests = spyOn(box)
            box.forceActiveFocus()
            keyClick(Qt.Key_Return)
            keyClick(Qt.Key_Enter)
            compare(requests.count, 0, "only Space asks")
            keyClick(Qt.Key_Space)
            compare(requests.count, 1)
        }

        function test_tabReachesIt() {
            const box = make()
            spaceOwner.forceActiveFocus()
            keyClick(Qt.Key_Tab)
            verify(box.activeFocus)
        }

        function test_size_data() {
            return [{ tag: "no label", label: "" }, { tag: "label", label: "Mark as complete" }]
        }

        function test_size(row) {
            const box = make({ label: row.label })
            const label = findChild(box, "checkBoxLabel")
            if (row.label === "") {
                compare(box.width, 20)
                compare(box.height, 20)
                compare(label, null, "there is a label element")
                return
            }
            verify(label)
            compare(label.text, row.label)
            fuzzyCompare(box.implicitWidth, 20 + 8 + label.implicitWidth, 1)
            compare(box.height, Math.max(20, label.implicitHeight))
        }

        function test_narrowWidthElidesTheLabel() {
            const box = make({ label: "Mark this lecture as complete once you have watched it", width: 90 })
            const label = findChild(box, "checkBoxLabel")
            verify(label.textClipped)
            compare(label.elide, Text.ElideRight)
        }

        function test_mirroredPlacement_data() {
            return [
                { tag: "English", language: "en", boxOnRight: false, spinnerX: 14 },
                { tag: "Arabic", language: "ar", boxOnRight: true, spinnerX: -3 }
            ]
        }

        function test_mirroredPlacement(row) {
            SettingsController.language = row.language
            const box = make({ label: "Mark as complete", pending: true })
            const indicator = indicatorOf(box)
            const label = findChild(box, "checkBoxLabel")
            const indicatorX = indicator.mapToItem(box, 0, 0).x
            const labelX = label.mapToItem(box, 0, 0).x
            compare(indicatorX > labelX, row.boxOnRight)
            const spinner = findChild(box, "checkBoxPendingSpinner")
            compare(spinner.width, 9)
            compare(spinner.x, row.spinnerX)
            compare(spinner.y, -3)
            compare(findChild(findChild(box, "checkBoxTick"), "quorinIconSourceImage").mirror, false)
        }

        function test_hairline() {
            const box = make({ label: "Mark as complete" })
            const expected = 1 / Math.max(1, Screen.devicePixelRatio)
            compare(box.hairlineWidth, expected)
            compare(box.hairlineWidth, root.hiDpiRun ? 0.5 : 1)
            compare(indicatorOf(box).border.width, box.hairlineWidth)
            compare(findChild(box, "checkBoxFocusRing").border.width, box.hairlineWidth)
        }

        function test_looks_data() {
            return [
                { tag: "unchecked", checked: false, pending: false, fill: "transparent", border: true, tick: false, tickOpacity: 1, accent: "", label: "#172033" },
                { tag: "unchecked, pending", checked: false, pending: true, fill: "transparent", border: true, tick: false, tickOpacity: 0.7, accent: "#0f9f92", label: "#172033" },
                { tag: "checked", checked: true, pending: false, fill: "#0f9f92", border: false, tick: true, tickOpacity: 1, accent: "", label: "#475569" },
                { tag: "checked, pending", checked: true, pending: true, fill: "#0f9f92", border: false, tick: true, tickOpacity: 0.7, accent: "#ffffff", label: "#475569" }
            ]
        }

        function test_looks(row) {
            const box = make({ label: "Mark as complete", checked: row.checked, pending: row.pending })
            const indicator = indicatorOf(box)
            if (row.fill === "transparent")
                compare(indicator.color.a, 0)
            else
                compare(indicator.color, row.fill)
            compare(indicator.border.width > 0, row.border)
            const tick = findChild(box, "checkBoxTick")
            compare(tick.visible, row.tick)
            compare(tick.opacity, row.tickOpacity)
            const spinner = findChild(box, "checkBoxPendingSpinner")
            compare(spinner.visible, row.pending)
            compare(spinner.running, row.pending)
            if (row.pending) {
                compare(spinner.accentColor, row.accent)
                compare(spinner.ringColor, Theme.surface)
            }
            compare(findChild(box, "checkBoxLabel").color, row.label)
            compare(box.visualChecked, row.checked)
        }

        function test_disabled() {
            const box = make({ label: "Mark as complete", checked: true, enabled: false })
            const requests = spyOn(box)
            compare(indicatorOf(box).opacity, 0.55)
            compare(findChild(box, "checkBoxLabel").color, Theme.textSecondary)
            mouseClick(box)
            compare(requests.count, 0)
            box.checked = false
            compare(indicatorOf(box).border.color, Theme.textMuted)
        }

        function test_pressFeedback() {
            const box = make({ label: "Mark as complete" })
            const indicator = indicatorOf(box)
            mousePress(box, 10, box.height / 2)
            compare(indicator.scale, 0.9)
            compare(indicator.color, Theme.hover)
            mouseRelease(box, 10, box.height / 2)
            compare(indicator.scale, 1)
            compare(indicator.color.a, 0)
        }

        function test_focusShowsOnlyWhileUnchecked() {
            const box = make({ label: "Mark as complete" })
            const ring = findChild(box, "checkBoxFocusRing")
            compare(ring.opacity, 0)
            box.forceActiveFocus()
            compare(indicatorOf(box).border.color, Theme.primary)
            compare(ring.opacity, 0.45)
            box.checked = true
            compare(ring.opacity, 0)
            compare(indicatorOf(box).border.width, 0)
            box.checked = false
            compare(ring.opacity, 0.45)
        }

        function test_accessibility() {
            const box = make({ label: "Mark as complete", checked: true })
            compare(box.Accessible.role, Accessible.CheckBox)
            compare(box.Accessible.name, "Mark as complete")
            compare(box.Accessible.checked, true)
        }
    }

    TestCase {
        id: switches

        name: "QuorinSwitch"
        when: windowShown

        function init() {
            root.resetPreferences()
        }

        function cleanupTestCase() {
            root.resetPreferences()
            SettingsController.animationSpeedMultiplier = 1
        }

        function handleOf(control) {
            return findChild(control, "switchHandle")
        }

        function test_sizeAndMarker() {
            const control = createTemporaryObject(switchComponent, area)
            compare(control.width, 44)
            compare(control.height, 24)
            compare(control.text, "")
            verify(control.quorinStyled)
            compare(control.indicator.x, 0)
            compare(control.indicator.y, 0)
            compare(control.indicator.radius, 12)
        }

        function test_handle_data() {
            return [
                { tag: "off, English", language: "en", checked: false, x: 2, track: "#e2e8f0" },
                { tag: "on, English", language: "en", checked: true, x: 22, track: "#0f9f92" },
                { tag: "off, Arabic", language: "ar", checked: false, x: 2, track: "#e2e8f0" },
                { tag: "on, Arabic", language: "ar", checked: true, x: 22, track: "#0f9f92" }
            ]
        }

        function test_handle(row) {
            SettingsController.language = row.language
            const control = createTemporaryObject(switchComponent, area, { checked: row.checked })
            const handle = handleOf(control)
            compare(handle.x, row.x)
            compare(handle.y, 2)
            compare(handle.mapToItem(control, 0, 0).x, row.x, "the handle is mirrored")
            compare(control.indicator.color, row.track)
        }

        function test_ownerChangeEmitsNothing() {
            SettingsController.animationSpeedMultiplier = 1
            const control = createTemporaryObject(switchComponent, area)
            const toggles = createTemporaryObject(spyComponent, switches, { target: control, signalName: "toggled" })
            control.checked = true
            tryCompare(handleOf(control), "x", 22)
            compare(toggles.count, 0)
        }

        function test_userToggleEmitsAfterTheChange() {
            const control = createTemporaryObject(switchComponent, area)
            let checkedWhenToggled = null
            control.toggled.connect(() => checkedWhenToggled = control.checked)
            mouseClick(control)
            verify(control.checked)
            compare(checkedWhenToggled, true)
            compare(handleOf(control).x, 22)
            control.forceActiveFocus()
            keyClick(Qt.Key_Space)
            verify(!control.checked)
            compare(checkedWhenToggled, false)
        }
    }
}
