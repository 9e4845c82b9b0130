import QtQuick
import QtTest
import Quorin
import Quorin.Controllers

Item {
    id: root

    width: 1100
    height: 800

    MirroredArea {
        id: area

        anchors.fill: parent
    }

    ListModel {
        id: cards
    }

    Component {
        id: gridComponent

        ResponsiveGrid {
            id: grid

            property int layouts: 0

            width: 1000
            model: cards
            onLaidOut: layouts += 1

            delegate: Rectangle {
                required property int index

                objectName: "card" + index
                width: grid.cellWidth
                height: grid.cellHeight
                color: "teal"

                // A child that follows the page's mirroring, as a card's own contents do.
                Item {
                    objectName: "cardStart" + parent.index
                    anchors.left: parent.left
                    width: 10
                    height: 10
                }
            }
        }
    }

    TestCase {
        name: "ResponsiveGrid"
        when: windowShown

        function init() {
            SettingsController.language = "en"
            cards.clear()
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
        }

        function fill(count) {
            for (let index = 0; index < count; ++index)
                cards.append({ title: "Course " + index })
        }

        // A grid over `count` cards, laid out once the pass that made it has ended.
        function makeGrid(count, properties) {
            cards.clear()
            fill(count)
            const grid = createTemporaryObject(gridComponent, area, properties || {})
            verify(grid)
            // Initial properties may lay out at once; completion always defers one more.
            const atCreation = grid.layouts
            tryVerify(() => grid.layouts > atCreation, 2000, "never laid out after completion")
            return grid
        }

        function test_arithmetic_data() {
            return [
                { tag: "1000, spacing 12", width: 1000, spacing: 12, columns: 3, cell: 325.33,
                  x: [0, 337.33, 674.67], rtl: [674.67, 337.33, 0] },
                { tag: "651, spacing 12", width: 651, spacing: 12, columns: 1, cell: 651 },
                { tag: "652, spacing 12", width: 652, spacing: 12, columns: 2, cell: 320, x: [0, 332] },
                { tag: "639, spacing 0", width: 639, spacing: 0, columns: 1 },
                { tag: "640, spacing 0", width: 640, spacing: 0, columns: 2, cell: 320 },
                { tag: "959, spacing 0", width: 959, spacing: 0, columns: 2, cell: 479.5 },
                { tag: "960, spacing 0", width: 960, spacing: 0, columns: 3, cell: 320 },
                { tag: "0, spacing 12", width: 0, spacing: 12, columns: 1, cell: 1, rtl: [-1] }
            ]
        }

        function test_arithmetic(row) {
            for (const language of ["en", "ar"]) {
                const positions = language === "en" ? row.x : row.rtl
                if (language === "ar" && !positions)
                    continue
                SettingsController.language = language
                const grid = makeGrid(4, { width: row.width, spacing: row.spacing })
                compare(grid.columnCount, row.columns, language + " columns")
                if (row.cell !== undefined)
                    fuzzyCompare(grid.cellWidth, row.cell, 0.01, language + " cell width")
                for (let column = 0; positions && column < positions.length; ++column) {
                    const card = grid.itemAt(column)
                    fuzzyCompare(card.x, positions[column], 0.01, language + " column " + column)
                    compare(card.y, 0)
                }
                if (row.width === 1000) {
                    compare(grid.itemAt(3).y, 152, "the fourth card starts row 2")
                    fuzzyCompare(grid.itemAt(3).x, positions[0], 0.01)
                }
            }
        }

        function test_defaults() {
            const grid = makeGrid(0)
            compare(grid.minimumCellWidth, 320)
            compare(grid.cellHeight, 140)
            compare(grid.spacing, 12)
            compare(grid.layoutDirection, Qt.LeftToRight)
            compare(grid.LayoutMirroring.enabled, false)
        }

        function test_rowsAndHeight_data() {
            return [
                { tag: "7 items", count: 7, rows: 3, height: 444 },
                { tag: "3 items", count: 3, rows: 1, height: 140 },
                { tag: "empty", count: 0, rows: 0, height: 0 }
            ]
        }

        function test_rowsAndHeight(row) {
            const grid = makeGrid(row.count)
            compare(grid.rowCount, row.rows)
            compare(grid.contentHeight, row.height)
            compare(grid.height, 0, "the grid leaves its own height to its user")
            compare(grid.itemAt(row.count), null)
            compare(grid.itemAt(row.count + 5), null)
            if (row.count > 0) {
                const last = grid.itemAt(row.count - 1)
                compare(last.y + last.height, grid.contentHeight)
            }
        }

        function test_languageSwitchRelaysAtOnce() {
            const grid = makeGrid(5)
            fuzzyCompare(grid.itemAt(0).x, 0, 0.01)
            SettingsController.language = "ar"
            compare(grid.layoutDirection, Qt.RightToLeft)
            // No event loop in between: the switch itself placed them.
            fuzzyCompare(grid.itemAt(0).x, 1000 - grid.cellWidth, 0.01)
            fuzzyCompare(grid.itemAt(0).x + grid.itemAt(0).width, 1000, 0.01)
            fuzzyCompare(grid.itemAt(3).x, 1000 - grid.cellWidth, 0.01, "each row starts at the right")
            // The cards' contents keep the page's mirroring.
            const start = findChild(grid.itemAt(0), "cardStart0")
            fuzzyCompare(start.x, grid.cellWidth - start.width, 0.01)
            SettingsController.language = "en"
            fuzzyCompare(grid.itemAt(0).x, 0, 0.01)
        }

        function test_changesRelayAtOnce_data() {
            return [
                { tag: "width", property: "width", value: 652, columns: 2, secondX: 332 },
                { tag: "spacing", property: "spacing", value: 0, columns: 3, secondX: 1000 / 3 },
                { tag: "minimum cell width", property: "minimumCellWidth", value: 200, columns: 4,
                  secondX: (1000 - 36) / 4 + 12 }
            ]
        }

        function test_changesRelayAtOnce(row) {
            const grid = makeGrid(5)
            const before = grid.layouts
            grid[row.property] = row.value
            compare(grid.layouts, before + 1, "laid out by the change itself")
            compare(grid.columnCount, row.columns)
            fuzzyCompare(grid.itemAt(1).x, row.secondX, 0.01)
            fuzzyCompare(grid.itemAt(row.columns).y, grid.cellHeight + grid.spacing, 0.01)
        }

        function test_cellHeightIsLeftToTheUser() {
            const grid = makeGrid(4)
            const before = grid.layouts
            grid.cellHeight = 200
            compare(grid.layouts, before)
            compare(grid.contentHeight, 2 * 200 + 12)
        }

        function test_itemsAddedInOnePassLayOutOnce() {
            const grid = makeGrid(2)
            wait(0)
            const before = grid.layouts
            cards.append({ title: "A" })
            cards.append({ title: "B" })
            cards.append({ title: "C" })
            compare(grid.layouts, before, "nothing laid out within the pass")
            tryVerify(() => grid.layouts > before, 2000)
            // Let any further deferred layout run before counting.
            wait(50)
            compare(grid.layouts, before + 1)
            for (let index = 0; index < 5; ++index) {
                const card = grid.itemAt(index)
                fuzzyCompare(card.x, (index % 3) * (grid.cellWidth + 12), 0.01, "card " + index)
                compare(card.y, Math.floor(index / 3) * 152, "card " + index)
            }
        }

        function test_removalRelays() {
            const grid = makeGrid(5)
            cards.remove(0)
            // The card that was second takes the first place after the pass.
            tryVerify(() => grid.itemAt(0).x === 0 && grid.itemAt(2).x > 600, 2000)
            compare(grid.rowCount, 2)
            cards.clear()
            compare(grid.rowCount, 0)
            compare(grid.contentHeight, 0)
        }

        function test_explicitLayoutReplacesPositions() {
            const grid = makeGrid(3)
            grid.itemAt(1).x = 5
            grid.itemAt(1).y = 999
            grid.layoutItems()
            fuzzyCompare(grid.itemAt(1).x, grid.cellWidth + 12, 0.01)
            compare(grid.itemAt(1).y, 0)
        }
    }
}
