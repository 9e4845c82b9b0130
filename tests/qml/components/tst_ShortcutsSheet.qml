import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers

Item {
    id: root

    width: 1000
    height: 800

    readonly property var longModel: {
        const groups = []
        for (let g = 0; g < 4; ++g) {
            const rows = []
            for (let r = 0; r < 6; ++r)
                rows.push({ key: "K" + g + "-" + r, desc: "A description long enough to wrap when the sheet is narrow, "
                                                          + "and to make the list taller than the sheet " + r })
            groups.push({ category: "Group " + g, shortcuts: rows })
        }
        return groups
    }

    Component {
        id: pageComponent

        Item {
            property alias sheet: sheet

            QuorinShortcutsOverlay {
                id: sheet
            }
        }
    }

    Component {
        id: buttonComponent

        HelpCircleButton {}
    }

    TestCase {
        name: "ShortcutsSheet"
        when: windowShown

        function init() {
            failOnWarning(/.*/)
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
        }

        function cleanup() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function openSheet(width, height, model) {
            const page = createTemporaryObject(pageComponent, root, { width: width, height: height })
            verify(page)
            if (model !== undefined)
                page.sheet.shortcutModel = model
            page.sheet.open()
            tryCompare(page.sheet, "opened", true)
            return page
        }

        function test_size_data() {
            return [
                { tag: "room to spare", width: 1000, height: 800, sheetWidth: 840, sheetHeight: 400 },
                { tag: "small page", width: 600, height: 300, sheetWidth: 568, sheetHeight: 268 },
                { tag: "narrower than 872", width: 871, height: 431, sheetWidth: 839, sheetHeight: 399 },
                { tag: "32 wide", width: 32, height: 32, sheetWidth: 0, sheetHeight: 0 },
                { tag: "20 wide", width: 20, height: 500, sheetWidth: 0, sheetHeight: 400 }
            ]
        }

        function test_size(data) {
            const page = openSheet(data.width, data.height)
            compare(page.sheet.width, data.sheetWidth)
            compare(page.sheet.height, data.sheetHeight)
        }

        function test_emptyModel() {
            const page = openSheet(1000, 800, [])
            const sheet = page.sheet
            const title = findChild(sheet.contentItem, "shortcutsTitle")
            verify(title)
            compare(title.text, "Keyboard shortcuts")
            verify(title.visible)
            const close = findChild(sheet.contentItem, "shortcutsCloseButton")
            verify(close && close.visible)
            const scroll = findChild(sheet.contentItem, "shortcutsScrollView")
            verify(scroll && scroll.visible)
            compare(findChild(sheet.contentItem, "shortcutList-0"), null)
            // Neither a sheet nor its button counts as a dialog.
            compare(Theme.activeDialogs, 0)
            mouseClick(close)
            tryCompare(sheet, "opened", false)
        }

        function test_namesAndBadges() {
            const model = [{ category: "Answers", shortcuts: [{ key: "A", desc: "Select" },
                                                              { key: "a very long key text that cannot fit", desc: "Long" }] },
                           { category: "Navigation", shortcuts: [{ key: "Up / Down", desc: "Move" }] }]
            const page = openSheet(1000, 800, model)
            const content = findChild(page.sheet.contentItem, "shortcutsContent")
            verify(content)
            verify(findChild(content, "shortcutList-0"))
            verify(findChild(content, "shortcutList-1"))
            const row = findChild(content, "shortcutRow-Up / Down")
            verify(row)
            const description = findChild(content, "shortcutDescription-Up / Down")
            compare(description.text, "Move")
            const cap = Math.max(96, 0.34 * content.width)
            const shortBadge = findChild(content, "shortcutKey-A")
            verify(shortBadge.width < cap)
            verify(shortBadge.height >= 28)
            const longBadge = findChild(content, "shortcutKey-a very long key text that cannot fit")
            compare(longBadge.width, cap)
            // The key wraps inside the badge, which grows in height.
            verify(longBadge.height > 28)
            // Side by side, 12 apart, the badge at the start.
            const badgeRight = longBadge.mapToItem(content, longBadge.width, 0).x
            const descriptionLeft = findChild(content, "shortcutDescription-a very long key text that cannot fit")
                .mapToItem(content, 0, 0).x
            // The layout puts items on whole pixels.
            fuzzyCompare(descriptionLeft - badgeRight, 12, 1)
        }

        function test_longListScrollsVertically() {
            const page = openSheet(600, 300, root.longModel)
            const sheet = page.sheet
            const scroll = findChild(sheet.contentItem, "shortcutsScrollView")
            const content = findChild(sheet.contentItem, "shortcutsContent")
            // Positioners lay out when the scene is next polished.
            tryVerify(() => content.height > scroll.height, 2000, content.height + " in " + scroll.height)
            compare(content.width, scroll.availableWidth)
            const vertical = findChild(sheet.contentItem, "shortcutVerticalScrollBar")
            const horizontal = findChild(sheet.contentItem, "shortcutHorizontalScrollBar")
            verify(vertical)
            verify(horizontal)
            verify(vertical.size < 1)
            compare(horizontal.policy, ScrollBar.AlwaysOff)
            compare(scroll.contentItem.contentWidth, scroll.availableWidth)
        }

        function test_mirroring_data() {
            return [
                { tag: "English: Close at the right", language: "en", mirrored: false },
                { tag: "Arabic: Close at the left", language: "ar", mirrored: true }
            ]
        }

        function test_mirroring(data) {
            SettingsController.language = data.language
            const page = openSheet(1000, 800, [{ category: "Answers", shortcuts: [{ key: "A", desc: "Select" }] }])
            const sheet = page.sheet
            const close = findChild(sheet.contentItem, "shortcutsCloseButton")
            const closeX = close.mapToItem(sheet.contentItem, 0, 0).x
            const badge = findChild(sheet.contentItem, "shortcutKey-A")
            const badgeX = badge.mapToItem(sheet.contentItem, 0, 0).x
            const middle = sheet.contentItem.width / 2
            if (data.mirrored) {
                verify(closeX + close.width < middle)
                verify(badgeX > middle)
            } else {
                verify(closeX > middle)
                verify(badgeX < middle)
            }
        }

        function test_escapeCloses() {
            const page = openSheet(1000, 800, [])
            verify(page.sheet.activeFocus || page.sheet.contentItem.activeFocus
                   || page.sheet.contentItem.Window.activeFocusItem !== null)
            keyClick(Qt.Key_Escape)
            tryCompare(page.sheet, "opened", false)
        }

        function test_helpButtonLook_data() {
            return [
                { tag: "plain, at rest", media: false, state: "rest", background: "transparent",
                  border: Theme.borderStrong, borderWidth: 1, label: Theme.text },
                { tag: "plain, hovered", media: false, state: "hover", background: Theme.hover,
                  border: Theme.borderStrong, borderWidth: 1, label: Theme.text },
                { tag: "plain, keyboard focus", media: false, state: "focus", background: "transparent",
                  border: Theme.primary, borderWidth: 2, label: Theme.text },
                { tag: "media, at rest", media: true, state: "rest", background: "transparent",
                  border: Theme.mediaBorder, borderWidth: 1, label: Theme.mediaForeground },
                { tag: "media, hovered", media: true, state: "hover", background: Theme.mediaHover,
                  border: Theme.mediaBorder, borderWidth: 1, label: Theme.primary },
                { tag: "media, keyboard focus", media: true, state: "focus", background: "transparent",
                  border: Theme.primary, borderWidth: 2, label: Theme.primary }
            ]
        }

        function test_helpButtonLook(data) {
            const button = createTemporaryObject(buttonComponent, root, { mediaStyle: data.media, x: 100, y: 100 })
            verify(button)
            compare(button.width, 44)
            compare(button.height, 44)
            compare(button.implicitWidth, 44)
            compare(button.background.radius, 22)
            const label = findChild(button, "helpCircleLabel")
            compare(label.text, "?")
            compare(label.font.pixelSize, 19)
            verify(label.font.bold)
            if (data.state === "hover")
                mouseMove(button, 22, 22)
            else if (data.state === "focus")
                button.forceActiveFocus(Qt.TabFocusReason)
            tryVerify(() => Qt.colorEqual(button.background.color, data.background))
            verify(Qt.colorEqual(button.background.border.color, data.border))
            compare(button.background.border.width, data.borderWidth)
            tryVerify(() => Qt.colorEqual(label.color, data.label))
            compare(Theme.activeDialogs, 0)
            mouseMove(root, 1, 1)
        }

        function test_helpButtonPressedAndUntranslated() {
            SettingsController.language = "ar"
            const button = createTemporaryObject(buttonComponent, root, { x: 100, y: 100 })
            compare(findChild(button, "helpCircleLabel").text, "?")
            compare(button.Accessible.name, "اختصارات لوحة المفاتيح")
            let clicks = 0
            button.clicked.connect(() => ++clicks)
            mousePress(button, 22, 22)
            tryVerify(() => Qt.colorEqual(button.background.color, Theme.pressed))
            mouseRelease(button, 22, 22)
            compare(clicks, 1)
            mouseMove(root, 1, 1)
        }
    }
}
