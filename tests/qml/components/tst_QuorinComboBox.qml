import QtQuick
import QtTest
import Quorin
import Quorin.Controllers

Item {
    id: root

    width: 800
    height: 600

    MirroredArea {
        id: area

        anchors.fill: parent
    }

    Component {
        id: comboComponent

        QuorinComboBox {
            x: 100
            y: 50
            width: 240
            model: ["Light", "Dark", "System"]
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        id: combos

        name: "QuorinComboBox"
        when: windowShown

        function init() {
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 0
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function make(properties) {
            const combo = createTemporaryObject(comboComponent, area, properties || {})
            verify(combo)
            return combo
        }

        function listOf(combo) {
            return combo.popup.contentItem
        }

        function openPopup(combo) {
            mouseClick(combo)
            tryCompare(combo.popup, "opened", true)
            // The list grows with its rows, so it takes a few layout passes to build them all.
            tryVerify(() => {
                const list = listOf(combo)
                if (list.count !== combo.count)
                    return false
                for (let index = 0; index < list.count; ++index) {
                    if (!list.itemAtIndex(index))
                        return false
                }
                return true
            }, 2000, "not every row was built")
        }

        function rowTexts(combo) {
            const list = listOf(combo)
            const texts = []
            for (let index = 0; index < list.count; ++index) {
                const row = list.itemAtIndex(index)
                texts.push(row ? row.contentItem.text : "<missing>")
            }
            return texts
        }

        function test_sizeAndMarker() {
            const combo = make()
            combo.width = undefined
            verify(combo.quorinStyled)
            compare(combo.implicitHeight, 48)
            verify(combo.implicitWidth >= 150)
            compare(combo.background.color, Theme.surface)
        }

        function test_paddingsAndArrow_data() {
            return [
                { tag: "LTR", language: "en", left: 16, right: 40, arrowX: 240 - 32 },
                { tag: "mirrored", language: "ar", left: 40, right: 16, arrowX: 16 }
            ]
        }

        function test_paddingsAndArrow(row) {
            SettingsController.language = row.language
            const combo = make()
            compare(combo.mirrored, row.language === "ar")
            compare(combo.leftPadding, row.left)
            compare(combo.rightPadding, row.right)
            const arrow = findChild(combo, "quorinComboBoxIndicator")
            verify(arrow)
            compare(arrow.x, row.arrowX)
            compare(arrow.y, 16)
            compare(arrow.width, 16)
            compare(combo.contentItem.x, row.left)
            compare(combo.contentItem.width, 240 - 56)
            compare(arrow.tint, Theme.iconMuted)
        }

        function test_screenPaddingsWin() {
            const combo = make({ leftPadding: 4, rightPadding: 30, padding: 2 })
            compare(combo.leftPadding, 4)
            compare(combo.rightPadding, 30)
        }

        function test_arrowTurnsWhileOpen() {
            const combo = make()
            const arrow = findChild(combo, "quorinComboBoxIndicator")
            compare(arrow.rotation, 0)
            openPopup(combo)
            compare(arrow.rotation, 180)
            keyClick(Qt.Key_Escape)
            tryCompare(combo.popup, "visible", false)
            compare(arrow.rotation, 0)
        }

        function test_openPopupShowsEveryRow_data() {
            return [
                { tag: "LTR", language: "en" },
                { tag: "mirrored", language: "ar" }
            ]
        }

        function test_openPopupShowsEveryRow(row) {
            SettingsController.language = row.language
            const combo = make({ model: ["Grade 10", "Grade 11", "Grade 12", "University", "Other"] })
            openPopup(combo)
            const popup = combo.popup
            const list = listOf(combo)
            compare(popup.x, 0)
            compare(popup.y, combo.height - 1)
            compare(popup.width, combo.width)
            compare(popup.padding, 4)
            let rows = 0
            for (let index = 0; index < list.count; ++index) {
                const entry = list.itemAtIndex(index)
                verify(entry, "row " + index + " is not built")
                compare(entry.width, combo.width - 8)
                rows += entry.height
            }
            compare(list.contentHeight, rows)
            compare(popup.height, rows + 8)
            compare(list.height, rows, "the list scrolls or is cut off")
        }

        function test_closedPopupHoldsNoRows() {
            const combo = make()
            compare(listOf(combo).count, 0)
            openPopup(combo)
            compare(listOf(combo).count, 3)
            keyClick(Qt.Key_Escape)
            tryCompare(combo.popup, "visible", false)
            compare(listOf(combo).count, 0)
        }

        function test_escapeClosesWithoutAChoice() {
            const combo = make({ currentIndex: 1 })
            const activations = createTemporaryObject(spyComponent, combos, { target: combo, signalName: "activated" })
            openPopup(combo)
            compare(combo.highlightedIndex, 1)
            keyClick(Qt.Key_Down)
            compare(combo.highlightedIndex, 2)
            keyClick(Qt.Key_Escape)
            tryCompare(combo.popup, "visible", false)
            compare(activations.count, 0)
            compare(combo.currentIndex, 1)
            compare(combo.displayText, "Dark")
        }

        function test_keyboardInTheOpenList_data() {
            return [{ tag: "Return", key: Qt.Key_Return }, { tag: "Enter", key: Qt.Key_Enter }]
        }

        function test_keyboardInTheOpenList(row) {
            const combo = make({ currentIndex: 0 })
            const activations = createTemporaryObject(spyComponent, combos, { target: combo, signalName: "activated" })
            openPopup(combo)
            verify(combo.popup.activeFocus, "the open pop-up takes the keyboard")
            keyClick(Qt.Key_Down)
            keyClick(Qt.Key_Down)
            compare(combo.highlightedIndex, 2)
            compare(listOf(combo).currentIndex, 2)
            keyClick(Qt.Key_Up)
            compare(combo.highlightedIndex, 1)
            compare(combo.currentIndex, 0, "moving the highlight chooses nothing")
            keyClick(row.key)
            tryCompare(combo.popup, "visible", false)
            compare(activations.count, 1)
            compare(combo.currentIndex, 1)
            compare(combo.displayText, "Dark")
        }

        function test_pressOutsideCloses() {
            const combo = make()
            openPopup(combo)
            mouseClick(root, 700, 550)
            tryCompare(combo.popup, "visible", false)
        }

        function test_choosingAnEntry() {
            const combo = make({ currentIndex: 0 })
            const activations = createTemporaryObject(spyComponent, combos, { target: combo, signalName: "activated" })
            openPopup(combo)
            const entry = listOf(combo).itemAtIndex(2)
            mouseClick(entry)
            tryCompare(combo.popup, "visible", false)
            compare(activations.count, 1)
            compare(activations.signalArguments[0][0], 2)
            compare(combo.currentIndex, 2)
            compare(combo.displayText, "System")
        }

        function test_rowColours() {
            const combo = make({ currentIndex: 1 })
            openPopup(combo)
            const list = listOf(combo)
            compare(list.itemAtIndex(1).contentItem.color, Theme.primary)
            compare(list.itemAtIndex(0).contentItem.color, Theme.text)
            keyClick(Qt.Key_Down)
            const highlighted = list.itemAtIndex(combo.highlightedIndex)
            compare(highlighted.background.color, Theme.hover)
            compare(list.itemAtIndex(0).background.color, Theme.surfaceElevated)
            compare(list.currentIndex, combo.highlightedIndex)
            keyClick(Qt.Key_Escape)
        }

        function test_pointerHighlightsARow() {
            const combo = make({ currentIndex: 0 })
            openPopup(combo)
            const entry = listOf(combo).itemAtIndex(2)
            mouseMove(entry, entry.width / 2, entry.height / 2)
            compare(combo.highlightedIndex, 2)
            compare(entry.background.color, Theme.hover)
            keyClick(Qt.Key_Escape)
        }

        function test_noChoiceShowsEmptyText() {
            const combo = make({ currentIndex: -1 })
            compare(combo.displayText, "")
            compare(combo.contentItem.text, "")
            openPopup(combo)
            const list = listOf(combo)
            for (let index = 0; index < list.count; ++index)
                compare(list.itemAtIndex(index).contentItem.color, Theme.text)
            keyClick(Qt.Key_Escape)
        }

        function test_models_data() {
            return [
                { tag: "strings", model: ["Light", "Dark"], textRole: "", texts: ["Light", "Dark"] },
                { tag: "objects with a text role",
                  model: [{ label: "First year", value: 1 }, { label: "Second year", value: 2 }],
                  textRole: "label", texts: ["First year", "Second year"] },
                { tag: "object without the field", model: [{ label: "First year" }, { value: 2 }],
                  textRole: "label", texts: ["First year", ""] }
            ]
        }

        function test_models(row) {
            const combo = make({ model: row.model, textRole: row.textRole, currentIndex: 0 })
            compare(combo.displayText, row.texts[0])
            compare(combo.contentItem.text, row.texts[0])
            openPopup(combo)
            compare(rowTexts(combo), row.texts)
            keyClick(Qt.Key_Escape)
        }

        function test_valueRole() {
            const combo = make({ model: [{ label: "First year", value: 1 }, { label: "Second year", value: 2 }],
                                 textRole: "label", valueRole: "value", currentIndex: 1 })
            compare(combo.currentValue, 2)
        }

        function test_focusAndDisabled() {
            const combo = make()
            combo.forceActiveFocus()
            compare(combo.background.border.color, Theme.primary)
            combo.enabled = false
            compare(findChild(combo, "quorinComboBoxIndicator").tint, Theme.textMuted)
            compare(combo.contentItem.color, Theme.text)
            compare(combo.background.color, Theme.surface)
            compare(combo.contentItem.hoverCursorShape, Qt.ArrowCursor)
        }

        function test_longTextIsElided() {
            const combo = make({ model: ["Second year of the secondary school certificate, science division"], currentIndex: 0 })
            compare(combo.contentItem.elide, Text.ElideRight)
            verify(combo.contentItem.textClipped)
        }

        function test_arrowKeysStepWhileClosed() {
            const combo = make({ currentIndex: 0 })
            const activations = createTemporaryObject(spyComponent, combos, { target: combo, signalName: "activated" })
            combo.forceActiveFocus()
            keyClick(Qt.Key_Down)
            compare(combo.currentIndex, 1)
            compare(activations.count, 1)
            verify(!combo.popup.visible)
        }
    }
}
