import QtQuick
import QtTest
import Quorin
import Quorin.Controllers

Item {
    id: root

    width: 800
    height: 600

    // Two Cairo records in different cases, an accented Latin name, an Arabic name, a number as
    // value and a record without text.
    readonly property var records: [
        { id: 1, name: "Cairo University" },
        { id: 2, name: "cairo institute" },
        { id: 3, name: "Université Française" },
        { id: 4, name: "جامعة القاهرة" },
        { id: 7, name: "Institute 7" },
        { id: 9 }
    ]

    MirroredArea {
        id: area

        anchors.fill: parent
    }

    Component {
        id: boxComponent

        SearchableComboBox {
            x: 40
            y: 40
            width: 200
            textRole: "name"
            valueRole: "id"
            model: root.records
        }
    }

    Component {
        id: spyComponent

        SignalSpy {
            signalName: "activated"
        }
    }

    TestCase {
        name: "SearchableComboBox"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 1
        }

        function make(properties) {
            const box = createTemporaryObject(boxComponent, area, properties || {})
            verify(box)
            const spy = createTemporaryObject(spyComponent, root, { target: box })
            return { box: box, spy: spy }
        }

        function popupOf(box) {
            return findChild(box, "searchableComboPopup")
        }

        function searchFieldOf(box) {
            return findChild(popupOf(box).contentItem, "institutionSearchField")
        }

        function listOf(box) {
            return findChild(popupOf(box).contentItem, "searchableComboResults")
        }

        function open(box) {
            mouseClick(box)
            tryCompare(popupOf(box), "opened", true)
        }

        function names(list) {
            return list.map(record => record.name === undefined ? "" : record.name)
        }

        function faceText(box) {
            return findChild(box, "searchableComboText").text
        }

        function test_filtering_data() {
            return [
                { tag: "empty", query: "", expected: ["Cairo University", "cairo institute", "Université Française",
                                                      "جامعة القاهرة", "Institute 7", ""] },
                { tag: "capitals", query: "CAIRO", expected: ["Cairo University", "cairo institute"] },
                { tag: "inside words", query: "ro u", expected: ["Cairo University"] },
                { tag: "leading space", query: " cairo", expected: [] },
                { tag: "no accent folding", query: "universite", expected: [] },
                { tag: "Arabic", query: "القاهرة", expected: ["جامعة القاهرة"] },
                { tag: "ASCII digit", query: "7", expected: ["Institute 7"] },
                { tag: "Arabic-Indic digit", query: "\u0667", expected: [] }
            ]
        }

        function test_filtering(row) {
            const made = make()
            open(made.box)
            searchFieldOf(made.box).text = row.query
            compare(names(made.box.filteredModel), row.expected)
            const list = listOf(made.box)
            compare(list.visible, row.expected.length > 0)
            compare(findChild(popupOf(made.box).contentItem, "searchableComboNoResults").visible,
                    row.expected.length === 0)
            compare(list.currentIndex, row.expected.length > 0 ? 0 : -1)
            compare(made.box.currentValue, "", "a search chooses nothing")
        }

        function test_valuesAreText() {
            const made = make()
            compare(faceText(made.box), "Select an option")
            made.box.selectValue("7")
            compare(made.box.displayText, "Institute 7")
            compare(made.spy.count, 0, "selectValue announces nothing")

            made.box.selectValue("")
            open(made.box)
            searchFieldOf(made.box).text = "7"
            made.box.activateIndex(0)
            compare(made.box.currentValue, "7")
            compare(typeof made.box.currentValue, "string")
            compare(made.spy.count, 1)
            compare(made.spy.signalArguments[0][0], "7")
            tryCompare(made.box, "popupVisible", false)
            compare(searchFieldOf(made.box).text, "", "a choice empties the search")

            open(made.box)
            made.box.activateIndex(4)
            compare(made.spy.count, 2, "choosing the chosen record again is announced again")
            compare(made.spy.signalArguments[1][0], "7")

            made.box.activateIndex(6)
            made.box.activateIndex(-1)
            compare(made.spy.count, 2, "rows outside the list choose nothing")
        }

        function test_unknownAndDuplicateValues() {
            const made = make()
            made.box.selectValue("42")
            compare(made.box.currentValue, "42")
            compare(made.box.displayText, "")
            compare(faceText(made.box), "Select an option")

            made.box.model = [{ id: "a", name: "First" }, { id: "a", name: "Second" }]
            made.box.selectValue("a")
            open(made.box)
            made.box.activateIndex(1)
            compare(made.box.currentValue, "a")
            compare(made.box.displayText, "First")
        }

        function test_keyboard() {
            const made = make()
            const keys = [Qt.Key_Return, Qt.Key_Space, Qt.Key_Down]
            for (const key of keys) {
                made.box.forceActiveFocus()
                keyClick(key)
                tryCompare(popupOf(made.box), "opened", true)
                verify(searchFieldOf(made.box).activeFocus, "the search takes the keyboard")
                keyClick(Qt.Key_Escape)
                tryCompare(made.box, "popupVisible", false)
            }
            compare(made.spy.count, 0, "Escape chooses nothing")

            made.box.forceActiveFocus()
            keyClick(Qt.Key_Down)
            tryCompare(popupOf(made.box), "opened", true)
            const list = listOf(made.box)
            keyClick("c")
            compare(list.currentIndex, 0)
            keyClick("x")
            compare(list.currentIndex, -1)
            keyClick(Qt.Key_Backspace)
            keyClick(Qt.Key_Backspace)
            keyClick("i")
            keyClick("n")
            compare(names(made.box.filteredModel), ["cairo institute", "Institute 7"])
            compare(list.currentIndex, 0)
            keyClick(Qt.Key_Down)
            verify(list.activeFocus, "Down enters the list")
            keyClick(Qt.Key_Down)
            compare(list.currentIndex, 1)
            keyClick(Qt.Key_Return)
            compare(made.spy.count, 1)
            compare(made.spy.signalArguments[0][0], "7")
            tryCompare(made.box, "popupVisible", false)
            compare(searchFieldOf(made.box).text, "")
        }

        function test_searchLivesWhileOpen() {
            const made = make()
            open(made.box)
            searchFieldOf(made.box).text = "cairo"
            made.box.model = root.records.concat([{ id: 10, name: "Cairo Academy" }])
            compare(searchFieldOf(made.box).text, "cairo", "a new model keeps the search")
            compare(names(made.box.filteredModel), ["Cairo University", "cairo institute", "Cairo Academy"])

            made.box.popupVisible = false
            tryCompare(popupOf(made.box), "visible", false)
            compare(searchFieldOf(made.box).text, "", "every close empties the search")

            made.box.model = []
            open(made.box)
            verify(findChild(popupOf(made.box).contentItem, "searchableComboNoResults").visible)
            compare(findChild(popupOf(made.box).contentItem, "searchableComboNoResults").text, "No results found")
            verify(!listOf(made.box).visible)
        }

        function test_popupGeometry_data() {
            return [
                { tag: "narrow box", boxX: 40, boxWidth: 200, expectedWidth: 260 },
                { tag: "wide box", boxX: 40, boxWidth: 400, expectedWidth: 400 },
                { tag: "at the right edge", boxX: 700, boxWidth: 100, expectedWidth: 260 },
                { tag: "Arabic", boxX: 300, boxWidth: 200, expectedWidth: 260, arabic: true }
            ]
        }

        function test_popupGeometry(row) {
            if (row.arabic)
                SettingsController.language = "ar"
            const many = []
            for (let index = 0; index < 40; ++index)
                many.push({ id: index, name: "Institution " + index })
            const made = make({ x: row.boxX, width: row.boxWidth, model: many })
            open(made.box)
            const popup = popupOf(made.box)
            compare(popup.width, row.expectedWidth)
            verify(popup.height <= 320, "at most 320 high, got " + popup.height)
            const topLeft = popup.contentItem.mapToItem(null, 0, 0)
            const left = topLeft.x - popup.leftPadding
            verify(left >= 0 && left + popup.width <= root.width, "inside the window: " + left)
            compare(left, Math.min(made.box.mapToItem(null, 0, 0).x, root.width - popup.width))
            compare(topLeft.y - popup.topPadding, made.box.mapToItem(null, 0, 0).y + made.box.height + 4)
        }
    }
}
