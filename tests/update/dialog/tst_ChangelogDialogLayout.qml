import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

// The dialog alone in a window of its own, over the test's own changelog: an entry with a card of
// every category, one without cards and the running release's entry.
Item {
    id: root

    width: 400
    height: 300

    Component {
        id: hostComponent

        Window {
            property alias dialog: dialog

            width: 1024
            height: 768
            visible: true

            ChangelogDialog {
                id: dialog
            }
        }
    }

    Component {
        id: dialogComponent

        ChangelogDialog {}
    }

    TestCase {
        name: "ChangelogDialogLayout"
        when: windowShown

        function initTestCase() {
            verify(ChangelogFixture.use("layout"), "the controller was made before its file was chosen")
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function init() {
            failOnWarning(/.*/)
            UpdateController.reset()
            if (!ChangelogController.shouldShow)
                ChangelogController.reopen()
        }

        function openHost(width, height) {
            const host = createTemporaryObject(hostComponent, root, { width: width, height: height })
            verify(host)
            tryCompare(host.dialog, "opened", true)
            return host
        }

        function part(dialog, name) {
            const found = findChild(dialog.contentItem, name)
            verify(found, name)
            return found
        }

        // Scrolls the entry's header into view and clicks it.
        function clickHeader(dialog, entry) {
            const header = part(dialog, "changelogEntryHeader-" + entry)
            const flickable = dialog.contentItem.contentItem
            flickable.contentY = Math.min(header.mapToItem(flickable.contentItem, 0, 0).y,
                                          Math.max(0, flickable.contentHeight - flickable.height))
            waitForItemPolished(flickable.contentItem)
            mouseClick(header)
            return header
        }

        function expand(dialog, entry) {
            const grid = part(dialog, "changelogCardGrid-" + entry)
            if (!grid.visible)
                clickHeader(dialog, entry)
            verify(grid.visible)
            return grid
        }

        function changeLines(card) {
            const column = card.children[0]
            const lines = []
            for (let i = 0; i < column.children.length; ++i) {
                if (column.children[i].objectName === "changelogChangeLine")
                    lines.push(column.children[i].text)
            }
            return lines
        }

        function test_sizeFollowsTheWindow_data() {
            return [
                { tag: "default window", width: 1024, height: 768, dialogWidth: 860, dialogHeight: 700, columns: 2 },
                { tag: "923 wide", width: 923, height: 768, dialogWidth: 859, dialogHeight: 700, columns: 2 },
                { tag: "784 wide", width: 784, height: 768, dialogWidth: 720, dialogHeight: 700, columns: 2 },
                { tag: "783 wide", width: 783, height: 768, dialogWidth: 719, dialogHeight: 700, columns: 1 },
                { tag: "700 high", width: 1024, height: 700, dialogWidth: 860, dialogHeight: 636, columns: 2 },
                { tag: "smallest window", width: 640, height: 480, dialogWidth: 576, dialogHeight: 416, columns: 1 }
            ]
        }

        function test_sizeFollowsTheWindow(row) {
            const dialog = openHost(row.width, row.height).dialog
            compare(dialog.width, row.dialogWidth)
            compare(dialog.height, row.dialogHeight)
            const grid = expand(dialog, 0)
            compare(grid.columns, row.columns)

            // The cards fill their cells: side by side with equal widths, or one under another.
            const first = part(dialog, "changelogCard-0-0")
            const second = part(dialog, "changelogCard-0-1")
            // The grid settles a turn after it is shown.
            if (row.columns === 2) {
                tryVerify(() => first.y === second.y && first.width + second.width + Theme.spacing === grid.width,
                          5000, "side by side")
                verify(Math.abs(first.width - second.width) <= 1, first.width + " and " + second.width)
            } else {
                tryVerify(() => first.x === second.x && first.width === grid.width
                                && second.y === first.y + first.height + Theme.spacing, 5000, "one under another")
            }
        }

        function sideBySide(dialog) {
            const first = part(dialog, "changelogCard-0-0")
            const second = part(dialog, "changelogCard-0-1")
            return first.y === second.y && first.x !== second.x
        }

        function test_columnsFollowTheWindowWhileOpen() {
            const host = openHost(1024, 768)
            const grid = expand(host.dialog, 0)
            tryVerify(() => sideBySide(host.dialog), 5000)

            host.width = 783
            tryCompare(grid, "columns", 1)
            tryVerify(() => !sideBySide(host.dialog), 5000)

            host.width = 784
            tryCompare(grid, "columns", 2)
            tryVerify(() => sideBySide(host.dialog), 5000)
        }

        function test_withoutAParentItIsFullSize() {
            const dialog = createTemporaryObject(dialogComponent, null)
            verify(dialog)
            compare(dialog.parent, null)
            compare(dialog.width, 860)
            compare(dialog.height, 700)
        }

        function test_cardGlyphs_data() {
            return [
                { tag: "Playback", entry: 0, card: 0, glyph: "▶" },
                { tag: "Documents", entry: 0, card: 1, glyph: "▤" },
                { tag: "Reliability", entry: 0, card: 2, glyph: "✓" },
                { tag: "Interface", entry: 0, card: 3, glyph: "✦" },
                { tag: "unknown category", entry: 0, card: 4, glyph: "✦" },
                { tag: "category in other letter case", entry: 2, card: 0, glyph: "✦" }
            ]
        }

        function test_cardGlyphs(row) {
            const dialog = openHost(1024, 768).dialog
            expand(dialog, row.entry)
            const card = part(dialog, "changelogCard-" + row.entry + "-" + row.card)
            const glyph = findChild(card, "changelogCardGlyph")
            compare(glyph.text, row.glyph)
            verify(glyph.Accessible.ignored, "the glyph is hidden from accessibility")
            compare(findChild(card, "changelogCardTitle").text,
                    ChangelogController.entries[row.entry].cards[row.card].title)
        }

        function test_changeLinesAreBulleted() {
            const dialog = openHost(1024, 768).dialog
            expand(dialog, 0)
            compare(changeLines(part(dialog, "changelogCard-0-0")),
                    ["• " + ChangelogController.entries[0].cards[0].changes[0], "• A second line."])
            compare(changeLines(part(dialog, "changelogCard-0-4")),
                    ["• A change of a kind the dialog does not know."])
        }

        function test_entryWithoutCards() {
            const dialog = openHost(1024, 768).dialog
            const header = part(dialog, "changelogEntryHeader-1")
            const grid = part(dialog, "changelogCardGrid-1")
            const block = part(dialog, "changelogEntry-1")
            verify(!grid.visible)
            compare(block.height, header.height + 2 * Theme.spacing)

            clickHeader(dialog, 1)

            verify(grid.visible)
            compare(findChild(grid, "changelogCard-1-0"), null)
            compare(grid.implicitHeight, 0)
        }

        function test_currentEntryShowsTheRunningRelease() {
            const dialog = openHost(1024, 768).dialog
            compare(part(dialog, "changelogEntryVersion-0").text, "Version 2.0.0 · build 5")
            compare(part(dialog, "changelogEntryVersion-1").text, "Version 2.1.0")
            compare(part(dialog, "changelogEntryVersion-2").text, "Version 1.0.8 · build 22")
        }
    }
}
