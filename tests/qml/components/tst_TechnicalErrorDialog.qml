import QtQuick
import QtQuick.Controls
import QtQuick.Window
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing
import "ControlChecks.js" as Checks

Item {
    id: root

    width: 800
    height: 600

    // A window of its own, as the screens' dialogs have the main window.
    Component {
        id: windowComponent

        Window {
            property alias dialog: dialog

            width: 684
            height: 720
            visible: true
            LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
            LayoutMirroring.childrenInherit: true

            TechnicalErrorDialog {
                id: dialog
            }
        }
    }

    // SettingsController outlives every test, so its signal is counted here, not by a spy
    // that each test would leave connected.
    property int bundleChanges: 0

    Connections {
        target: SettingsController

        function onDiagnosticBundleChanged() {
            root.bundleChanges += 1
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        name: "TechnicalErrorDialog"
        when: windowShown

        property int countBefore: 0

        function initTestCase() {
            compare(SettingsController.lastDiagnosticBundlePath, "", "a run starts with no saved bundle")
        }

        function init() {
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 0
            TestSetup.clearOpenedUrls()
            TestSetup.setClipboardText("")
            forgetSavedBundle()
            countBefore = Theme.activeDialogs
        }

        function cleanup() {
            verify(TestSetup.unblockDownloadsFolder())
            compare(Theme.activeDialogs, countBefore, "every test gives back what its dialogs counted")
        }

        function cleanupTestCase() {
            SettingsController.animationSpeedMultiplier = 1
        }

        // Only a failed save clears the saved path, as it does for the user.
        function forgetSavedBundle() {
            if (SettingsController.lastDiagnosticBundlePath === "")
                return
            verify(TestSetup.blockDownloadsFolder())
            compare(SettingsController.saveDiagnosticBundle("RESET"), "")
            verify(TestSetup.unblockDownloadsFolder())
            compare(SettingsController.lastDiagnosticBundlePath, "")
        }

        function openDialog(properties, windowWidth) {
            const window = createTemporaryObject(windowComponent, root, { width: windowWidth || 684 })
            verify(window)
            waitForRendering(window.contentItem)
            const dialog = window.dialog
            for (const name in properties || {})
                dialog[name] = properties[name]
            dialog.open()
            tryCompare(dialog, "opened", true)
            settle(dialog)
            return dialog
        }

        function settle(dialog) {
            waitForItemPolished(dialog.contentItem)
            waitForItemPolished(part(dialog, "technicalErrorActions"))
            waitForItemPolished(part(dialog, "technicalErrorNotice").contentItem)
        }

        function part(dialog, name) {
            const found = findChild(dialog.contentItem, name) || findChild(dialog.footer, name)
                          || findChild(dialog.header, name)
            verify(found, name)
            return found
        }

        function click(dialog, name) {
            const button = part(dialog, name)
            verify(button.visible, name + " is not shown")
            mouseClick(button)
        }

        function spy(target, signalName) {
            return createTemporaryObject(spyComponent, root, { target: target, signalName: signalName })
        }

        function position(dialog, name) {
            const item = part(dialog, name)
            return item.mapToItem(part(dialog, "technicalErrorActions"), 0, 0)
        }

        function test_defaultFailure() {
            const dialog = openDialog({ errorDetails: "socket closed" })
            const title = part(dialog, "quorinDialogTitle")
            compare(title.text, "Something went wrong")
            verify(Checks.coloursClose(title.color, Theme.error, 0))
            compare(dialog.failureCode, "UNEXPECTED_ERROR")
            compare(part(dialog, "technicalErrorSummary").text, "We couldn't complete that action.")
            compare(part(dialog, "technicalErrorSummary").font.pixelSize, 16)
            const notice = part(dialog, "technicalErrorNotice")
            compare(notice.severity, "error")
            compare(notice.title, "Error code: UNEXPECTED_ERROR")
            compare(notice.message, "Technical information is available if you need to share it with support.")
            compare(notice.details, "socket closed")
            verify(notice.visible)
            compare(findChild(dialog.contentItem, "quorinDialogBody"), null, "the base dialog's body is replaced")

            const confirm = part(dialog, "quorinDialogConfirmButton")
            verify(confirm.visible)
            compare(confirm.text, "Dismiss")
            verify(Checks.coloursClose(confirm.buttonColor, Theme.primary, 0))
            verify(!part(dialog, "quorinDialogCancelButton").visible)
            verify(!part(dialog, "quorinDialogAuxiliaryButton").visible)

            click(dialog, "technicalErrorCopyButton")
            compare(TestSetup.clipboardText(), "UNEXPECTED_ERROR\nsocket closed")
            verify(dialog.opened)
            dialog.close()
        }

        function test_fallbacks_data() {
            const rows = [
                { tag: "message only", code: "", message: "M", details: "", errorDetails: "E",
                  summary: "M", shownCode: "UNEXPECTED_ERROR", copied: "UNEXPECTED_ERROR\nE" },
                { tag: "code and details", code: "HTTP_500", message: "", details: "T", errorDetails: "E",
                  summary: "We couldn't complete that action.", shownCode: "HTTP_500", copied: "HTTP_500\nT" },
                { tag: "code alone", code: "X", message: "", details: "", errorDetails: "",
                  summary: "We couldn't complete that action.", shownCode: "X", copied: "X\n" }
            ]
            const table = []
            for (const kind of ["plain object", "AppFailure"]) {
                for (const row of rows)
                    table.push(Object.assign({}, row, { tag: kind + ": " + row.tag, kind: kind }))
            }
            return table
        }

        function test_fallbacks(row) {
            const failure = row.kind === "AppFailure"
                    ? TestSetup.failure(row.code, row.message, row.details)
                    : { code: row.code, userMessage: row.message, technicalDetails: row.details }
            const dialog = openDialog({ failure: failure, errorDetails: row.errorDetails })
            compare(dialog.failureCode, row.shownCode)
            compare(dialog.summary, row.summary)
            compare(part(dialog, "technicalErrorSummary").text, row.summary)
            const notice = part(dialog, "technicalErrorNotice")
            compare(notice.title, "Error code: " + row.shownCode)
            const shownDetails = row.details !== "" ? row.details : row.errorDetails
            compare(notice.details, shownDetails)
            const detailsButton = findChild(notice, "noticeDetailsButton")
            compare(detailsButton.visible, shownDetails !== "", "the details toggle")
            if (shownDetails !== "") {
                mouseClick(detailsButton)
                compare(findChild(notice, "noticeDetails").text, shownDetails)
                verify(findChild(notice, "noticeDetails").visible)
            }
            click(dialog, "technicalErrorCopyButton")
            compare(TestSetup.clipboardText(), row.copied)
            dialog.close()
        }

        function test_missingFailureReadsAsEmpty() {
            const dialog = openDialog({ failure: null, errorDetails: "E" })
            compare(dialog.failureCode, "UNEXPECTED_ERROR")
            compare(dialog.summary, "We couldn't complete that action.")
            click(dialog, "technicalErrorCopyButton")
            compare(TestSetup.clipboardText(), "UNEXPECTED_ERROR\nE")
            dialog.close()
        }

        function test_actionsBeforeAnySave() {
            const dialog = openDialog()
            verify(!part(dialog, "technicalErrorSavedLocation").visible)
            verify(!part(dialog, "technicalErrorRevealButton").visible)
            const copy = position(dialog, "technicalErrorCopyButton")
            const save = position(dialog, "technicalErrorSaveButton")
            const support = position(dialog, "technicalErrorSupportButton")
            compare(save.y, copy.y, "Copy and Save diagnostics share the first row")
            verify(save.x > copy.x)
            compare(support.x, copy.x, "Contact support alone in the first cell of row 2")
            verify(support.y > copy.y)
            const grid = part(dialog, "technicalErrorActions")
            compare(part(dialog, "technicalErrorCopyButton").width, (grid.width - Theme.smallSpacing) / 2)
            compare(part(dialog, "technicalErrorSupportButton").width, (grid.width - Theme.smallSpacing) / 2)
            verify(!part(dialog, "technicalErrorSupportButton").isOutline)
            verify(part(dialog, "technicalErrorCopyButton").isOutline)
            verify(part(dialog, "technicalErrorSaveButton").isOutline)
            dialog.close()
        }

        function test_saveWritesABundle_data() {
            return [
                { tag: "a failure's code", failure: { code: "HTTP_500", userMessage: "", technicalDetails: "" },
                  code: "HTTP_500" },
                { tag: "no code", failure: undefined, code: "UNEXPECTED_ERROR" }
            ]
        }

        function test_saveWritesABundle(row) {
            const dialog = openDialog(row.failure ? { failure: row.failure } : {})
            const changesBefore = root.bundleChanges
            click(dialog, "technicalErrorSaveButton")
            compare(root.bundleChanges, changesBefore + 1)
            const path = SettingsController.lastDiagnosticBundlePath
            const folder = TestSetup.downloadsFolder()
            verify(path.startsWith(folder + "/"), path)
            verify(TestSetup.filesIn(folder).indexOf(path.substring(folder.length + 1)) >= 0, "no file at " + path)
            const system = TestSetup.zipEntryText(path, "system.txt")
            verify(system !== "", "no system.txt in " + path)
            verify(system.split("\n").indexOf("failure_code=" + TestSetup.sha256Prefix(row.code)) >= 0,
                   "no fingerprint of " + row.code + " in:\n" + system)

            settle(dialog)
            const saved = part(dialog, "technicalErrorSavedLocation")
            verify(saved.visible)
            compare(saved.text, "Saved to: " + path)
            compare(saved.wrapMode, Text.WrapAnywhere)
            verify(part(dialog, "technicalErrorRevealButton").visible)
            const copy = position(dialog, "technicalErrorCopyButton")
            const save = position(dialog, "technicalErrorSaveButton")
            const reveal = position(dialog, "technicalErrorRevealButton")
            const support = position(dialog, "technicalErrorSupportButton")
            compare(reveal.x, copy.x, "Reveal takes the first cell of row 2")
            compare(support.x, save.x, "Contact support the second")
            compare(reveal.y, support.y)
            verify(reveal.y > copy.y)
            verify(dialog.opened, "the dialog stays open")
            dialog.close()
        }

        function test_revealOpensTheFolder() {
            const dialog = openDialog()
            click(dialog, "technicalErrorSaveButton")
            settle(dialog)
            click(dialog, "technicalErrorRevealButton")
            compare(TestSetup.openedUrls(), ["file://" + TestSetup.downloadsFolder()])
            verify(dialog.opened)
            dialog.close()
        }

        function test_failedSaveHidesTheLocation() {
            const dialog = openDialog()
            click(dialog, "technicalErrorSaveButton")
            verify(part(dialog, "technicalErrorSavedLocation").visible)
            verify(TestSetup.blockDownloadsFolder())
            click(dialog, "technicalErrorSaveButton")
            compare(SettingsController.lastDiagnosticBundlePath, "")
            verify(!part(dialog, "technicalErrorSavedLocation").visible)
            verify(!part(dialog, "technicalErrorRevealButton").visible)
            verify(dialog.opened, "the dialog stays open and says nothing more")
            compare(TestSetup.openedUrls(), [])
            dialog.close()
        }

        function test_bundleSavedBeforeOpeningIsShown() {
            const path = SettingsController.saveDiagnosticBundle("PROFILE_SAVE_FAILED")
            verify(path !== "")
            const dialog = openDialog()
            const saved = part(dialog, "technicalErrorSavedLocation")
            verify(saved.visible)
            compare(saved.text, "Saved to: " + path)
            verify(part(dialog, "technicalErrorRevealButton").visible)
            dialog.close()
        }

        function test_contactSupport() {
            const dialog = openDialog()
            click(dialog, "technicalErrorSupportButton")
            compare(TestSetup.openedUrls(), [SettingsController.supportUrl])
            verify(dialog.opened)
            dialog.close()
        }

        function test_closing_data() {
            return [
                { tag: "Escape", signalName: "rejected", other: "accepted", key: true },
                { tag: "Dismiss", signalName: "accepted", other: "rejected", key: false }
            ]
        }

        function test_closing(row) {
            const dialog = openDialog()
            const wanted = spy(dialog, row.signalName)
            const other = spy(dialog, row.other)
            compare(Theme.activeDialogs, countBefore + 1, "counted while shown")
            if (row.key)
                keyClick(Qt.Key_Escape)
            else
                click(dialog, "quorinDialogConfirmButton")
            tryCompare(dialog, "visible", false)
            compare(wanted.count, 1)
            compare(other.count, 0)
            compare(Theme.activeDialogs, countBefore)
        }

        function test_width_data() {
            return [
                { tag: "640 px window", windowWidth: 640, expected: 576 },
                { tag: "684 px window", windowWidth: 684, expected: 620 },
                { tag: "1000 px window", windowWidth: 1000, expected: 620 }
            ]
        }

        function test_width(row) {
            const dialog = openDialog({}, row.windowWidth)
            compare(dialog.width, row.expected)
            dialog.close()
        }
    }
}
