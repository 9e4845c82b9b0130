import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import "ControlChecks.js" as Checks

Item {
    id: root

    // The window's overlay layer, where the dialog goes by default.
    readonly property Item windowOverlay: Overlay.overlay

    width: 1024
    height: 768

    // Takes the focus first, so the dialog's focus has somewhere to come from.
    Item {
        id: focusStart

        width: 10
        height: 10
        activeFocusOnTab: true
    }

    Component {
        id: dialogComponent

        RequiredUpdateDialog {
            progress: 0.4
        }
    }

    Component {
        id: holderComponent

        Item {}
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        id: testCase

        name: "RequiredUpdateDialog"
        when: windowShown

        readonly property var signalNames: ["updateRequested", "installRequested", "retryRequested", "exitRequested"]

        function init() {
            SettingsController.themeMode = "light"
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
            focusStart.forceActiveFocus()
        }

        function cleanupTestCase() {
            SettingsController.animationSpeedMultiplier = 1
        }

        function make(properties) {
            const dialog = createTemporaryObject(dialogComponent, root, properties || {})
            verify(dialog)
            return dialog
        }

        function openDialog(properties) {
            const dialog = make(properties)
            dialog.open()
            tryCompare(dialog, "opened", true)
            return dialog
        }

        function part(dialog, name) {
            const found = findChild(dialog.contentItem, name)
            verify(found, name)
            return found
        }

        function spiesOn(dialog) {
            const spies = {}
            for (const name of signalNames)
                spies[name] = createTemporaryObject(spyComponent, testCase, { target: dialog, signalName: name })
            return spies
        }

        // Every state of UpdateController, with and without a version, with and without a message.
        function test_states_data() {
            const rows = []
            const names = ["Idle", "Checking", "UpToDate", "Available", "Downloading", "Ready", "OfflineGrace",
                           "Required", "Error"]
            for (let state = 0; state < names.length; ++state) {
                for (const version of ["1.0.9", ""]) {
                    for (const message of ["", "The update download failed."]) {
                        rows.push({ tag: names[state] + (version ? ", version" : ", no version")
                                         + (message ? ", message" : ""),
                                    state: state, version: version, message: message })
                    }
                }
            }
            return rows
        }

        function test_states(row) {
            const dialog = openDialog({ updateState: row.state, version: row.version, errorMessage: row.message })
            const downloading = row.state === 4
            const primary = part(dialog, "requiredUpdatePrimaryButton")
            const retry = part(dialog, "requiredUpdateRetryButton")
            const exit = part(dialog, "requiredUpdateExitButton")

            compare(primary.visible, row.version !== "")
            compare(primary.enabled, !downloading)
            compare(primary.text, row.state === 5 ? "Install" : "Update")
            compare(primary.Accessible.name, primary.text)
            compare(retry.visible, true)
            compare(retry.enabled, !downloading)
            compare(retry.text, "Retry")
            verify(retry.isOutline)
            compare(exit.visible, true)
            compare(exit.enabled, true)
            compare(exit.text, "Exit")
            verify(exit.isOutline)
            verify(Checks.coloursClose(exit.buttonColor, Theme.error, 0))

            compare(part(dialog, "requiredUpdateTitle").text, "A required update is needed")
            compare(part(dialog, "requiredUpdateBody").text,
                    row.version !== "" ? "Quorin 1.0.9 must be installed before you can continue."
                                       : "Quorin must reconnect to verify a required update before you can continue.")
            const error = part(dialog, "requiredUpdateError")
            compare(error.visible, row.message !== "")
            compare(error.text, row.message)
            const bar = part(dialog, "requiredUpdateProgress")
            compare(bar.visible, downloading)
            compare(bar.value, 0.4)
            compare(bar.Accessible.name, "Required update download progress")
        }

        function test_look() {
            const dialog = openDialog({ updateState: 7, version: "1.0.9" })
            compare(Theme.activeDialogs, 0, "it never blurs the pages")
            verify(dialog.modal)
            compare(dialog.closePolicy, Popup.NoAutoClose)
            compare(dialog.padding, Theme.largeSpacing)
            verify(Checks.coloursClose(dialog.background.color, Theme.surfaceElevated, 0))
            verify(Checks.coloursClose(dialog.background.border.color, Theme.error, 0))
            compare(dialog.background.border.width, 1)
            compare(dialog.contentItem.Accessible.role, Accessible.Dialog)
            compare(dialog.contentItem.Accessible.name, "Required software update")
            const title = part(dialog, "requiredUpdateTitle")
            verify(Checks.coloursClose(title.color, Theme.error, 0))
            compare(title.font.pixelSize, 22)
            verify(title.font.bold)
            // The three buttons share the row equally.
            const primary = part(dialog, "requiredUpdatePrimaryButton")
            const retry = part(dialog, "requiredUpdateRetryButton")
            const exit = part(dialog, "requiredUpdateExitButton")
            fuzzyCompare(primary.width, retry.width, 1)
            fuzzyCompare(retry.width, exit.width, 1)
            fuzzyCompare(retry.x - primary.x - primary.width, Theme.smallSpacing, 1)
            // Centred in the window.
            const centre = dialog.contentItem.mapToItem(root, dialog.contentItem.width / 2,
                                                        dialog.contentItem.height / 2)
            fuzzyCompare(centre.x, root.width / 2, 1)
        }

        function test_cannotBeClosed() {
            const dialog = openDialog({ updateState: 7, version: "1.0.9" })
            const spies = spiesOn(dialog)
            const closing = createTemporaryObject(spyComponent, testCase, { target: dialog, signalName: "aboutToHide" })
            keyClick(Qt.Key_Escape)
            mouseClick(root, 4, root.height - 4)
            mouseClick(root, root.width - 4, 4)
            keyClick(Qt.Key_Escape)
            verify(dialog.visible)
            verify(dialog.opened)
            compare(closing.count, 0)
            for (const name of signalNames)
                compare(spies[name].count, 0, name)
        }

        function test_focusOnOpening_data() {
            return [
                { tag: "with a version", version: "1.0.9", state: 7, focused: "requiredUpdatePrimaryButton" },
                { tag: "ready", version: "1.0.9", state: 5, focused: "requiredUpdatePrimaryButton" },
                { tag: "without a version", version: "", state: 7, focused: "requiredUpdateRetryButton" },
                { tag: "downloading", version: "1.0.9", state: 4, focused: "requiredUpdateExitButton" }
            ]
        }

        function test_focusOnOpening(row) {
            const dialog = openDialog({ updateState: row.state, version: row.version })
            const button = part(dialog, row.focused)
            tryVerify(function () { return button.activeFocus }, 1000, row.focused)
            compare(button.focusReason, Qt.TabFocusReason)
            verify(button.visualFocus)
        }

        function test_buttonsEmitOnce_data() {
            return [
                { tag: "Update", state: 7, button: "requiredUpdatePrimaryButton", signal: "updateRequested" },
                { tag: "Install", state: 5, button: "requiredUpdatePrimaryButton", signal: "installRequested" },
                { tag: "Retry", state: 8, button: "requiredUpdateRetryButton", signal: "retryRequested" },
                { tag: "Exit", state: 7, button: "requiredUpdateExitButton", signal: "exitRequested" },
                { tag: "Exit while downloading", state: 4, button: "requiredUpdateExitButton", signal: "exitRequested" },
                { tag: "Update while downloading", state: 4, button: "requiredUpdatePrimaryButton", signal: "" },
                { tag: "Retry while downloading", state: 4, button: "requiredUpdateRetryButton", signal: "" }
            ]
        }

        function test_buttonsEmitOnce(row) {
            const dialog = openDialog({ updateState: row.state, version: "1.0.9" })
            const spies = spiesOn(dialog)
            mouseClick(part(dialog, row.button))
            for (const name of signalNames)
                compare(spies[name].count, name === row.signal ? 1 : 0, name)
            verify(dialog.opened)
        }

        function test_width_data() {
            return [
                { tag: "overlay 1024", overlay: 1024, width: 520 },
                { tag: "overlay 400", overlay: 400, width: 368 },
                { tag: "overlay 300", overlay: 300, width: 320 },
                { tag: "no overlay", overlay: -1, width: 520 }
            ]
        }

        function test_width(row) {
            const holder = row.overlay < 0 ? null
                                           : createTemporaryObject(holderComponent, root, { width: row.overlay,
                                                                                            height: 600 })
            const dialog = make({ updateState: 7, version: "1.0.9" })
            dialog.parent = holder
            compare(dialog.width, row.width)
        }

        function test_windowOverlayByDefault() {
            const dialog = make({ updateState: 7, version: "1.0.9" })
            verify(root.windowOverlay)
            compare(dialog.parent, root.windowOverlay)
            compare(dialog.width, 520)
        }
    }
}
