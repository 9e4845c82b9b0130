import QtQuick
import QtQuick.Window
import QtTest
import Quorin
import Quorin.Controllers

Item {
    id: root

    width: 400
    height: 500

    readonly property int egypt: 0
    readonly property int saudi: 1

    MirroredArea {
        id: area

        anchors.fill: parent
    }

    Component {
        id: fieldComponent

        PhoneNumberField {
            x: 10
            y: 20
            width: 360
        }
    }

    // A 400 px window that mirrors as the main window does, its overlay (and so the country
    // list) included.
    Component {
        id: windowComponent

        Window {
            property alias field: windowField

            width: 400
            height: 500
            visible: true
            LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
            LayoutMirroring.childrenInherit: true

            PhoneNumberField {
                id: windowField

                x: 200
                width: 190
                y: 20
            }
        }
    }

    TestCase {
        name: "PhoneNumberField"
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
            const field = createTemporaryObject(fieldComponent, area, properties || {})
            verify(field)
            return field
        }

        function selectorOf(field) {
            return findChild(field, "countrySelector")
        }

        function boxOf(field) {
            return findChild(field, "phoneNumberInput")
        }

        function errorLineOf(field) {
            return findChild(field, "phoneValidationMessage")
        }

        // The test's key events carry Latin-1 only; other characters arrive as typed text does.
        function typeCharacter(field, character) {
            if (character.charCodeAt(0) < 0x80) {
                keyClick(character)
                return
            }
            const box = boxOf(field)
            box.insert(box.cursorPosition, character)
        }

        function typeInto(field, text) {
            mouseClick(boxOf(field))
            for (const character of text)
                typeCharacter(field, character)
        }

        function paste(field, text) {
            const box = boxOf(field)
            box.forceActiveFocus()
            box.insert(box.cursorPosition, text)
        }

        // Each text goes into a new field whose country was chosen first. A row that names
        // switchesAt types key by key and checks that the country changes exactly once the box
        // holds that many characters.
        function test_numbers_data() {
            const fullWidth = "\uFF10\uFF11\uFF10\uFF11\uFF12\uFF13\uFF14\uFF15\uFF16\uFF17\uFF18"
            return [
                { tag: "Egyptian national", text: "01012345678", before: root.egypt,
                  e164: "+201012345678", after: root.egypt },
                { tag: "Egyptian without the trunk 0", text: "1512345678", before: root.egypt,
                  e164: "+201512345678", after: root.egypt },
                { tag: "Saudi national", text: "0512345678", before: root.saudi,
                  e164: "+966512345678", after: root.saudi },
                { tag: "Saudi with separators", text: "(050) 123-4567", before: root.saudi,
                  e164: "+966501234567", after: root.saudi },
                { tag: "Saudi national while Egypt", text: "0512345678", before: root.egypt,
                  e164: "", after: root.egypt },
                { tag: "Egyptian second digit 3", text: "01312345678", before: root.egypt,
                  e164: "", after: root.egypt },
                { tag: "one digit too many", text: "010123456789", before: root.egypt,
                  e164: "", after: root.egypt },
                { tag: "+966 typed key by key", text: "+966512345678", before: root.egypt,
                  e164: "+966512345678", after: root.saudi, switchesAt: 4 },
                { tag: "00966 pasted", text: "00966512345678", paste: true, before: root.egypt,
                  e164: "+966512345678", after: root.saudi },
                { tag: "+2 then +20", text: "+20", before: root.saudi, e164: "", after: root.egypt,
                  switchesAt: 3 },
                { tag: "trunk 0 after +20", text: "+2001012345678", before: root.egypt, e164: "",
                  after: root.egypt },
                { tag: "another calling code", text: "+971501234567", before: root.saudi, e164: "",
                  after: root.saudi },
                { tag: "Arabic-Indic digits", text: "\u0660\u0661\u0660\u0661\u0662\u0663\u0664\u0665\u0666\u0667\u0668",
                  before: root.egypt, e164: "+201012345678", after: root.egypt, box: "01012345678" },
                { tag: "full-width digits", text: fullWidth, before: root.egypt, e164: "+201012345678",
                  after: root.egypt, box: fullWidth }
            ]
        }

        function test_numbers(row) {
            const field = make()
            selectorOf(field).currentIndex = row.before
            if (row.paste) {
                paste(field, row.text)
            } else if (row.switchesAt !== undefined) {
                mouseClick(boxOf(field))
                for (let typed = 1; typed <= row.text.length; ++typed) {
                    typeCharacter(field, row.text[typed - 1])
                    compare(selectorOf(field).currentIndex, typed < row.switchesAt ? row.before : row.after,
                            "after " + typed + " characters")
                }
            } else {
                typeInto(field, row.text)
            }
            compare(field.text, row.box === undefined ? row.text : row.box)
            compare(field.e164Number, row.e164)
            compare(field.acceptableInput, row.e164 !== "")
            compare(selectorOf(field).currentIndex, row.after)
            compare(field.countryCode, row.after === root.saudi ? "+966" : "+20")
        }

        function test_countryPickedByHandOverAPrefix() {
            const field = make()
            typeInto(field, "+201012345678")
            const selector = selectorOf(field)
            mouseClick(selector)
            tryCompare(selector.popup, "opened", true)
            const list = selector.popup.contentItem
            tryVerify(() => list.itemAtIndex(root.saudi) !== null)
            compare(list.itemAtIndex(root.saudi).objectName, "countryDelegate")
            mouseClick(list.itemAtIndex(root.saudi))
            tryCompare(selector.popup, "visible", false)
            compare(field.countryCode, "+966")
            compare(field.e164Number, "+201012345678", "the prefix decides")

            mouseClick(boxOf(field))
            keyClick(Qt.Key_End)
            keyClick(" ")
            compare(field.countryCode, "+20", "the next edit switches back")
            compare(field.e164Number, "+201012345678")
        }

        function test_errorLineFollowsTheInputOnceAsked() {
            const field = make()
            const line = errorLineOf(field)
            compare(line.visible, false)
            compare(field.validate(), false)
            compare(line.visible, true)
            compare(line.text, "Enter a valid Egyptian or Saudi mobile number.")
            compare(line.Accessible.role, Accessible.AlertMessage)
            typeInto(field, "01012345678")
            compare(line.visible, false, "a valid number hides it without another validate()")
            keyClick(Qt.Key_Backspace)
            compare(line.visible, true)
            compare(field.validate(), false)
        }

        function test_arabicLayout() {
            SettingsController.language = "ar"
            const window = createTemporaryObject(windowComponent, root)
            verify(window)
            waitForRendering(window.contentItem)
            const field = window.field
            const selector = selectorOf(field)
            const box = boxOf(field)
            verify(selector.mapToItem(null, 0, 0).x < box.mapToItem(null, 0, 0).x,
                   "the calling code stays left of the number")
            mouseClick(selector)
            const popup = selector.popup
            tryCompare(popup, "opened", true)
            compare(popup.objectName, "countryPopup")
            compare(popup.width, 220)
            const left = popup.contentItem.mapToItem(null, 0, 0).x - popup.leftPadding
            verify(left >= 0 && left + popup.width <= window.width, "the list stays inside: " + left)
            compare(left, window.width - popup.width)
            const list = popup.contentItem
            for (const [index, name] of [[root.egypt, "مصر"], [root.saudi, "المملكة العربية السعودية"]]) {
                tryVerify(() => list.itemAtIndex(index) !== null)
                const countryName = findChild(list.itemAtIndex(index), "countryName")
                compare(countryName.text, name)
                compare(countryName.effectiveHorizontalAlignment, Text.AlignLeft, "the name keeps to the left")
            }
            keyClick(Qt.Key_Escape)
            tryCompare(popup, "visible", false)
        }
    }
}
