import QtQuick
import QtQuick.Controls
import QtQuick.Window
import QtTest
import Quorin
import Quorin.Controllers
import "ControlChecks.js" as Checks

Item {
    id: root

    width: 800
    height: 600

    // A window of its own, mirrored while the interface runs right to left, as the main window is.
    Component {
        id: windowComponent

        Window {
            property alias dialog: dialog

            width: 640
            height: 480
            visible: true
            LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
            LayoutMirroring.childrenInherit: true

            QuorinDialog {
                id: dialog
            }
        }
    }

    // A page holding an open dialog, removed while the dialog is shown.
    Component {
        id: pageComponent

        Item {
            property alias dialog: pageDialog

            QuorinDialog {
                id: pageDialog

                bodyText: "On a page"
            }
        }
    }

    Loader {
        id: pageLoader

        anchors.fill: parent
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        name: "QuorinDialog"
        when: windowShown

        property int countBefore: 0

        function init() {
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 0
            countBefore = Theme.activeDialogs
        }

        function cleanup() {
            pageLoader.sourceComponent = undefined
            compare(Theme.activeDialogs, countBefore, "every test gives back what its dialogs counted")
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function makeWindow(properties) {
            const window = createTemporaryObject(windowComponent, root, properties || {})
            verify(window)
            waitForRendering(window.contentItem)
            return window
        }

        function openDialog(dialog) {
            dialog.open()
            tryCompare(dialog, "opened", true)
        }

        function closeDialog(dialog) {
            dialog.close()
            tryCompare(dialog, "visible", false)
        }

        function spy(target, signalName) {
            return createTemporaryObject(spyComponent, root, { target: target, signalName: signalName })
        }

        function button(dialog, name) {
            const found = findChild(dialog.footer, name)
            verify(found, name)
            return found
        }

        function test_defaults() {
            const dialog = makeWindow().dialog
            openDialog(dialog)
            compare(dialog.headerText, "Confirm")
            compare(findChild(dialog.header, "quorinDialogTitle").text, "Confirm")
            compare(button(dialog, "quorinDialogCancelButton").text, "No")
            compare(button(dialog, "quorinDialogConfirmButton").text, "Yes")
            verify(button(dialog, "quorinDialogCancelButton").visible)
            verify(!button(dialog, "quorinDialogAuxiliaryButton").visible)
            verify(dialog.modal)
            verify(dialog.activeFocus, "the dialog takes the keyboard")
            compare(dialog.closePolicy, Popup.CloseOnEscape)
            compare(dialog.header.height, 64)
            compare(dialog.footer.height, 64)
            closeDialog(dialog)
        }

        function test_lookFollowsTheProperties() {
            const dialog = makeWindow().dialog
            dialog.headerText = "Delete account?"
            dialog.bodyText = "This cannot be undone."
            dialog.confirmText = "Delete"
            dialog.cancelText = "Cancel"
            dialog.confirmColor = Theme.error
            dialog.headerColor = Theme.error
            openDialog(dialog)
            const title = findChild(dialog.header, "quorinDialogTitle")
            verify(Checks.coloursClose(title.color, Theme.error, 0))
            compare(title.font.pixelSize, 20)
            verify(title.font.bold)
            compare(findChild(dialog.contentItem, "quorinDialogBody").text, "This cannot be undone.")
            const confirm = button(dialog, "quorinDialogConfirmButton")
            verify(Checks.coloursClose(confirm.buttonColor, Theme.error, 0))
            verify(!confirm.isOutline)
            verify(button(dialog, "quorinDialogCancelButton").isOutline)
            const background = dialog.background
            verify(Checks.coloursClose(background.color, Theme.surface, 0))
            compare(background.radius, Theme.radius)
            closeDialog(dialog)
        }

        function test_width_data() {
            return [
                { tag: "640 px window", windowWidth: 640, expected: 480 },
                { tag: "512 px window", windowWidth: 512, expected: 480 },
                { tag: "400 px overlay", windowWidth: 400, expected: 368 }
            ]
        }

        function test_width(row) {
            const window = makeWindow({ width: row.windowWidth })
            openDialog(window.dialog)
            compare(window.dialog.width, row.expected)
            // Centred in the overlay.
            compare(Math.round(window.dialog.x), Math.round((row.windowWidth - row.expected) / 2))
            closeDialog(window.dialog)
        }

        // Three long buttons widen the dialog as far as the window allows, so that none of them
        // runs past its edge.
        function test_longButtonsFitInside() {
            const dialog = makeWindow({ width: 640 }).dialog
            dialog.auxiliaryText = "Review questions"
            dialog.cancelText = "Cancel"
            dialog.confirmText = "Submit quiz"
            openDialog(dialog)
            const row = findChild(dialog.footer, "quorinDialogButtonRow")
            waitForItemPolished(row)
            verify(dialog.width > 480)
            verify(dialog.width <= 640 - 2 * Theme.spacing)
            const auxiliary = button(dialog, "quorinDialogAuxiliaryButton")
            const confirm = button(dialog, "quorinDialogConfirmButton")
            verify(auxiliary.mapToItem(dialog.footer, 0, 0).x >= Theme.largeSpacing)
            verify(confirm.mapToItem(dialog.footer, confirm.width, 0).x <= dialog.footer.width - Theme.largeSpacing)
            closeDialog(dialog)
        }

        function test_escapeRejectsEvenWithoutCancel() {
            const window = makeWindow()
            const dialog = window.dialog
            dialog.showCancel = false
            const rejected = spy(dialog, "rejected")
            openDialog(dialog)
            verify(!button(dialog, "quorinDialogCancelButton").visible)
            keyClick(Qt.Key_Escape)
            tryCompare(dialog, "visible", false)
            compare(rejected.count, 1)
        }

        function test_pressOutsideDoesNothing() {
            const window = makeWindow()
            const dialog = window.dialog
            openDialog(dialog)
            mouseClick(window.contentItem, 5, 5)
            verify(dialog.visible)
            verify(dialog.opened)
            closeDialog(dialog)
        }

        function test_buttons_data() {
            return [
                { tag: "confirm", name: "quorinDialogConfirmButton", signalName: "accepted", staysOpen: false },
                { tag: "cancel", name: "quorinDialogCancelButton", signalName: "rejected", staysOpen: false },
                { tag: "auxiliary", name: "quorinDialogAuxiliaryButton", signalName: "auxiliaryRequested",
                  staysOpen: true }
            ]
        }

        function test_buttons(row) {
            const dialog = makeWindow().dialog
            dialog.auxiliaryText = "Review questions"
            const signalled = spy(dialog, row.signalName)
            openDialog(dialog)
            const pressed = button(dialog, row.name)
            verify(pressed.visible)
            mouseClick(pressed)
            compare(signalled.count, 1)
            if (row.staysOpen) {
                wait(50)
                verify(dialog.opened, "the auxiliary action leaves the dialog open")
                closeDialog(dialog)
            } else {
                tryCompare(dialog, "visible", false)
            }
        }

        function test_buttonOrder_data() {
            return [
                { tag: "English: at the right, confirm outermost", language: "en", mirrored: false },
                { tag: "Arabic: at the left, confirm outermost", language: "ar", mirrored: true }
            ]
        }

        function test_buttonOrder(row) {
            SettingsController.language = row.language
            const dialog = makeWindow().dialog
            dialog.auxiliaryText = "More"
            openDialog(dialog)
            const confirm = button(dialog, "quorinDialogConfirmButton")
            const cancel = button(dialog, "quorinDialogCancelButton")
            const auxiliary = button(dialog, "quorinDialogAuxiliaryButton")
            const left = item => item.mapToItem(dialog.footer, 0, 0).x
            const right = item => left(item) + item.width
            // The row lays itself out when it is polished, before the first frame that shows it.
            waitForItemPolished(findChild(dialog.footer, "quorinDialogButtonRow"))
            if (row.mirrored) {
                compare(left(confirm), Theme.largeSpacing)
                verify(right(confirm) <= left(cancel) && right(cancel) <= left(auxiliary))
            } else {
                compare(right(confirm), dialog.footer.width - Theme.largeSpacing)
                verify(right(auxiliary) <= left(cancel) && right(cancel) <= left(confirm))
            }
            closeDialog(dialog)
        }

        function test_twoDialogsCountTwice() {
            const first = makeWindow().dialog
            const second = makeWindow().dialog
            openDialog(first)
            openDialog(second)
            compare(Theme.activeDialogs, countBefore + 2)
            closeDialog(first)
            compare(Theme.activeDialogs, countBefore + 1)
            closeDialog(second)
            compare(Theme.activeDialogs, countBefore)
        }

        function test_repeatedShowAndHideLeavesTheCount() {
            const dialog = makeWindow().dialog
            for (let cycle = 0; cycle < 10; ++cycle) {
                openDialog(dialog)
                compare(Theme.activeDialogs, countBefore + 1)
                // Opening an open dialog again takes no second count.
                dialog.visible = true
                compare(Theme.activeDialogs, countBefore + 1)
                closeDialog(dialog)
                compare(Theme.activeDialogs, countBefore)
            }
        }

        function test_pageRemovedWithItsDialogOpen() {
            pageLoader.sourceComponent = pageComponent
            const dialog = pageLoader.item.dialog
            openDialog(dialog)
            compare(Theme.activeDialogs, countBefore + 1)
            pageLoader.sourceComponent = undefined
            tryCompare(Theme, "activeDialogs", countBefore)
        }

        function test_countReturnedAfterTheExitTransition() {
            SettingsController.animationSpeedMultiplier = 1
            const dialog = makeWindow().dialog
            openDialog(dialog)
            compare(Theme.activeDialogs, countBefore + 1)
            dialog.close()
            verify(dialog.visible, "still fading out")
            compare(Theme.activeDialogs, countBefore + 1, "the count waits for the fade")
            tryCompare(dialog, "visible", false)
            compare(Theme.activeDialogs, countBefore)
        }

        function test_countReturnedAtOnceWithAnimationsOff() {
            const dialog = makeWindow().dialog
            dialog.open()
            compare(Theme.activeDialogs, countBefore + 1, "counted at once")
            compare(dialog.opacity, 1)
            dialog.close()
            verify(!dialog.visible)
            compare(Theme.activeDialogs, countBefore, "returned at once")
        }
    }
}
