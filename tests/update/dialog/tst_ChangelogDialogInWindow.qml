import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

// The dialog in the main window over the shipped changelog: expanding, the ways it closes, a
// required update, and Arabic.
Item {
    id: root

    width: 400
    height: 300

    readonly property var shippedIds: ["fullscreen-media-1-4-1", "playback-polish-pip-1", "welcome-desktop-1"]

    TestCase {
        id: testCase

        name: "ChangelogDialogInWindow"
        when: windowShown

        property Component mainComponent: null
        property int activeDialogChanges: 0

        function initTestCase() {
            mainComponent = Qt.createComponent("qrc:/qt/qml/Quorin/ui/screens/Main.qml")
            compare(mainComponent.status, Component.Ready, mainComponent.errorString())
            Theme.activeDialogsChanged.connect(() => testCase.activeDialogChanges += 1)
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function init() {
            failOnWarning(/.*/)
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
            UpdateController.reset()
            ChangelogFixture.forgetSeenIds()
            if (!ChangelogController.shouldShow)
                ChangelogController.reopen()
            activeDialogChanges = 0
        }

        function cleanup() {
            compare(activeDialogChanges, 0, "the dialog never counts among the blurring dialogs")
            compare(Theme.activeDialogs, 0)
        }

        // The main window with its dialog open.
        function openWindow() {
            const window = createTemporaryObject(mainComponent, root)
            verify(window, mainComponent.errorString())
            const dialog = changelogDialog(window)
            tryCompare(dialog, "opened", true)
            window.requestActivate()
            tryCompare(window, "active", true)
            tryVerify(() => dialog.activeFocus, 5000, "the dialog has the keyboard")
            return window
        }

        function changelogDialog(window) {
            const dialog = findChild(window, "changelogDialog")
            verify(dialog, "changelogDialog")
            return dialog
        }

        function part(window, name) {
            const dialog = changelogDialog(window)
            const found = findChild(dialog.contentItem, name) || findChild(dialog.header, name)
                          || findChild(dialog.footer, name)
            verify(found, name)
            return found
        }

        function expandedBlocks(window) {
            const flags = []
            for (let i = 0; i < ChangelogController.entries.length; ++i)
                flags.push(part(window, "changelogCardGrid-" + i).visible)
            return flags
        }

        function test_headerTogglesItsBlock_data() {
            return [
                { tag: "English", language: "en", collapsed: "›" },
                { tag: "Arabic", language: "ar", collapsed: "‹" }
            ]
        }

        function test_headerTogglesItsBlock(row) {
            SettingsController.language = row.language
            const window = openWindow()
            const header = part(window, "changelogEntryHeader-1")
            const chevron = part(window, "changelogEntryChevron-1")
            const title = ChangelogController.entries[1].title
            compare(changelogDialog(window).mirrored, row.language === "ar")
            compare(chevron.text, row.collapsed)
            compare(header.Accessible.name, (row.language === "ar" ? "توسيع %1" : "Expand %1").arg(title))
            compare(part(window, "changelogEntryChevron-0").text, "⌄")

            mouseClick(header)

            compare(expandedBlocks(window), [true, true, false])
            compare(chevron.text, "⌄")
            compare(header.Accessible.name, (row.language === "ar" ? "طي %1" : "Collapse %1").arg(title))

            mouseClick(part(window, "changelogEntryHeader-0"))

            compare(expandedBlocks(window), [false, true, false])
            compare(part(window, "changelogEntryChevron-0").text, row.collapsed)
        }

        function test_dismissGestures_data() {
            return [{ tag: "Got it" }, { tag: "Escape" }]
        }

        function test_dismissGestures(row) {
            const window = openWindow()
            const dialog = changelogDialog(window)
            compare(ChangelogFixture.seenIds(), undefined, "nothing stored")

            if (row.tag === "Escape")
                keyClick(Qt.Key_Escape)
            else
                mouseClick(part(window, "changelogGotItButton"))

            tryCompare(dialog, "visible", false)
            compare(ChangelogController.shouldShow, false)
            compare(ChangelogFixture.seenIds(), root.shippedIds)
        }

        function test_clickOutsideKeepsItOpen() {
            const window = openWindow()
            const dialog = changelogDialog(window)

            mouseClick(window.contentItem, 4, 4)
            mouseClick(window.contentItem, window.width - 4, window.height - 4)

            verify(dialog.visible)
            verify(ChangelogController.shouldShow)
            compare(ChangelogFixture.seenIds(), undefined, "nothing stored")
        }

        function test_requiredUpdateHidesItWithoutDismissing() {
            const window = openWindow()
            const dialog = changelogDialog(window)
            const shown = ChangelogController.entries

            UpdateController.required = true
            UpdateController.candidateChanged()

            tryCompare(dialog, "visible", false)
            verify(ChangelogController.shouldShow)
            compare(ChangelogFixture.seenIds(), undefined, "nothing stored")

            UpdateController.required = false
            UpdateController.candidateChanged()

            tryCompare(dialog, "opened", true)
            compare(ChangelogController.entries, shown)
            compare(part(window, "changelogEntryTitle-0").text, shown[0].title)
            compare(ChangelogFixture.seenIds(), undefined, "nothing stored")
        }

        function test_requiredFromTheStartNeverShows() {
            UpdateController.required = true
            UpdateController.candidateChanged()
            let shown = 0
            const window = createTemporaryObject(mainComponent, root)
            verify(window)
            const dialog = changelogDialog(window)
            dialog.aboutToShow.connect(() => shown += 1)
            tryCompare(findChild(window, "pageStackLoader"), "status", Loader.Ready, 10000)

            verify(!dialog.visible)
            compare(shown, 0)
            compare(ChangelogFixture.seenIds(), undefined, "nothing stored")

            UpdateController.required = false
            UpdateController.candidateChanged()
            tryCompare(dialog, "opened", true)
        }

        function test_reopenStartsTheBlocksOver() {
            const window = openWindow()
            mouseClick(part(window, "changelogEntryHeader-1"))
            compare(expandedBlocks(window), [true, true, false])

            ChangelogController.reopen()

            compare(ChangelogController.mode, ChangelogController.History)
            compare(expandedBlocks(window), [true, false, false])
        }

        // The button keeps to the end edge of the layout, also after a language switch made while
        // the dialog was closed.
        function test_gotItFollowsTheLanguage() {
            const window = openWindow()
            const dialog = changelogDialog(window)
            const button = part(window, "changelogGotItButton")
            const buttonX = () => button.mapToItem(dialog.background, 0, 0).x
            compare(buttonX(), dialog.width - Theme.largeSpacing - button.width)
            ChangelogController.dismiss()
            tryCompare(dialog, "visible", false)

            SettingsController.language = "ar"
            ChangelogController.reopen()
            tryCompare(dialog, "opened", true)

            compare(buttonX(), Theme.largeSpacing)
        }

        function test_arabic() {
            SettingsController.language = "ar"
            const window = openWindow()
            const dialog = changelogDialog(window)
            compare(part(window, "changelogTitle").text, "ما الجديد")
            compare(part(window, "changelogGotItButton").text, "حسنًا")
            compare(part(window, "changelogInstalledVersion").text,
                    "الإصدار المثبّت \u20661.0.8\u2069 · البنية \u206622\u2069")
            compare(part(window, "changelogEntryVersion-2").text, "الإصدار 1.0.8 · البنية 22")
            const grid = part(window, "changelogCardGrid-0")

            window.width = 784
            tryCompare(dialog, "width", 720)
            compare(grid.columns, 2)
            window.width = 783
            tryCompare(dialog, "width", 719)
            compare(grid.columns, 1)
        }
    }
}
