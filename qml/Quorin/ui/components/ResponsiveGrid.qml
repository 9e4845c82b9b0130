import QtQuick
import Quorin
import Quorin.Controllers

// Lays a model's items out in as many equal columns as fit minimumCellWidth, row after row,
// starting from the physical right edge in right-to-left layouts. It only positions its items:
// they size themselves (normally cellWidth × cellHeight), and its user sizes the grid to
// contentHeight.
Item {
    id: grid

    property alias model: repeater.model
    property alias delegate: repeater.delegate
    property real minimumCellWidth: 320
    property real cellHeight: 140
    property real spacing: 12
    readonly property int columnCount: columnsFor(width)
    readonly property real cellWidth: cellWidthFor(width, columnCount)
    readonly property int rowCount: Math.ceil(repeater.count / columnCount)
    readonly property real contentHeight: rowCount > 0 ? rowCount * cellHeight + (rowCount - 1) * spacing : 0
    property int layoutDirection: SettingsController.layoutDirection

    // After every layoutItems(), for users that need the items' new positions.
    signal laidOut()

    function columnsFor(availableWidth) {
        return Math.max(1, Math.floor((availableWidth + spacing) / (minimumCellWidth + spacing)))
    }

    function cellWidthFor(availableWidth, columns) {
        return Math.max(1, (availableWidth - spacing * (columns - 1)) / columns)
    }

    // Computes from the current width rather than from columnCount and cellWidth, whose bindings
    // may not have seen a change yet when the change handlers below call it.
    function layoutItems() {
        const columns = columnsFor(width)
        const cell = cellWidthFor(width, columns)
        const rightToLeft = layoutDirection === Qt.RightToLeft
        for (let index = 0; index < repeater.count; ++index) {
            const item = repeater.itemAt(index)
            if (!item)
                continue
            const column = index % columns
            const row = Math.floor(index / columns)
            item.x = rightToLeft ? width - cell - column * (cell + spacing) : column * (cell + spacing)
            item.y = row * (cellHeight + spacing)
        }
        laidOut()
    }

    function itemAt(index) {
        return repeater.itemAt(index)
    }

    // Repeater changes come in bursts (a model reset adds every item one by one): one layout at
    // the end of the pass places them all.
    function scheduleLayout() {
        Qt.callLater(grid.layoutItems)
    }

    // The page already mirrors right-to-left layouts, and the positions computed here are
    // physical; the items' own contents still inherit the page's mirroring.
    LayoutMirroring.enabled: false

    onWidthChanged: layoutItems()
    onLayoutDirectionChanged: layoutItems()
    onSpacingChanged: layoutItems()
    onMinimumCellWidthChanged: layoutItems()
    Component.onCompleted: scheduleLayout()

    Repeater {
        id: repeater

        onItemAdded: grid.scheduleLayout()
        onItemRemoved: grid.scheduleLayout()
        onCountChanged: grid.scheduleLayout()
    }
}
