import QtQuick
import QtQuick.Controls
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

        // Where focus goes when it leaves the field.
        Item {
            id: elsewhere

            width: 10
            height: 10
            activeFocusOnTab: true
        }
    }

    Component {
        id: fieldComponent

        QuorinTextField {
            x: 100
            y: 100
            width: 300
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    readonly property string lockIcon: "qrc:/qt/qml/Quorin/assets/icons/lock.svg"

    TestCase {
        id: fields

        name: "QuorinTextField"
        when: windowShown

        function init() {
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 0
            mouseMove(root, 790, 590)
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

        function iconOf(field) {
            return findChild(field, "textFieldIcon")
        }

        function revealOf(field) {
            return findChild(field, "passwordRevealButton")
        }

        // Where the typed text stands, judged by the edge of the text nearest to each side.
        function textSide(field) {
            const start = field.positionToRectangle(0)
            const end = field.positionToRectangle(field.length)
            const left = Math.min(start.x, end.x)
            const right = Math.max(start.x, end.x)
            return left - field.leftPadding < field.width - field.rightPadding - right ? "left" : "right"
        }

        // One row a line of the layouts the interface relies on; x values are for a 300 wide field.
        function test_layout_data() {
            return [
                { tag: "LTR, lock icon and reveal", language: "en", props: { iconSource: root.lockIcon, passwordRevealEnabled: true },
                  iconX: 12, revealX: 300 - 38, align: "left", left: 40, right: 40 },
                { tag: "RTL, icon, no flags", language: "ar", props: { iconSource: root.lockIcon },
                  iconX: 300 - 32, revealX: null, align: "right", left: 12, right: 40 },
                { tag: "RTL, forceIconLeft, icon and reveal", language: "ar",
                  props: { iconSource: root.lockIcon, passwordRevealEnabled: true, forceIconLeft: true },
                  iconX: 12, revealX: 300 - 38, align: "right", left: 40, right: 40 },
                { tag: "RTL, reveal, no icon", language: "ar", props: { passwordRevealEnabled: true },
                  iconX: null, revealX: 2, align: "right", left: 40, right: 12 },
                { tag: "RTL, reveal, no icon, forceLtr", language: "ar", props: { passwordRevealEnabled: true, forceLtr: true },
                  iconX: null, revealX: 300 - 38, align: "left", left: 12, right: 40 },
                { tag: "LTR, nothing", language: "en", props: {}, iconX: null, revealX: null, align: "left", left: 12, right: 12 },
                { tag: "RTL, nothing", language: "ar", props: {}, iconX: null, revealX: null, align: "right", left: 12, right: 12 }
            ]
        }

        function test_layout(row) {
            SettingsController.language = row.language
            const field = make(Object.assign({ text: row.language === "ar" ? "كلمة" : "word" }, row.props))
            const icon = iconOf(field)
            const reveal = revealOf(field)
            compare(icon.visible, row.iconX !== null)
            compare(reveal.visible, row.revealX !== null)
            if (row.iconX !== null) {
                compare(icon.x, row.iconX)
                compare(icon.width, 20)
                fuzzyCompare(icon.y + icon.height / 2, field.height / 2, 0.5)
                verify(!findChild(icon, "quorinIconSourceImage").mirror, "the icon is never mirrored")
            }
            if (row.revealX !== null) {
                compare(reveal.x, row.revealX)
                compare(reveal.width, 36)
            }
            compare(field.leftPadding, row.left)
            compare(field.rightPadding, row.right)
            compare(field.topPadding, 12)
            compare(field.bottomPadding, 12)
            compare(field.effectiveHorizontalAlignment, row.align === "left" ? TextInput.AlignLeft : TextInput.AlignRight)
            compare(textSide(field), row.align)
        }

        function test_unmirroredInstanceKeepsTheSides() {
            SettingsController.language = "ar"
            const field = make({ text: "كلمة", passwordRevealEnabled: true })
            field.LayoutMirroring.enabled = false
            compare(field.effectiveHorizontalAlignment, TextInput.AlignRight)
            compare(textSide(field), "right")
            compare(revealOf(field).x, 2)
        }

        function test_contentDirectionMovesTextNotIcon() {
            const field = make({ text: "word", iconSource: root.lockIcon })
            field.contentDirection = Qt.RightToLeft
            compare(field.effectiveContentDirection, Qt.RightToLeft)
            compare(textSide(field), "right")
            compare(iconOf(field).x, 12)
        }

        function test_languageSwitchMovesEverythingAtOnce() {
            const field = make({ text: "word", iconSource: root.lockIcon, passwordRevealEnabled: true })
            compare(iconOf(field).x, 12)
            SettingsController.language = "ar"
            compare(iconOf(field).x, 300 - 32)
            compare(revealOf(field).x, 2)
            compare(field.effectiveHorizontalAlignment, TextInput.AlignRight)
            compare(textSide(field), "right")
            SettingsController.language = "en"
            compare(iconOf(field).x, 12)
            compare(revealOf(field).x, 300 - 38)
            compare(textSide(field), "left")
        }

        function passwordField(properties) {
            return make(Object.assign({ echoMode: TextInput.Password, passwordRevealEnabled: true,
                                        iconSource: root.lockIcon, forceIconLeft: true, text: "secret" },
                                      properties || {}))
        }

        function test_revealByClick() {
            const field = passwordField()
            field.forceActiveFocus()
            const reveal = revealOf(field)
            compare(reveal.Accessible.name, "Show password")
            mouseClick(reveal)
            verify(field.passwordVisible)
            compare(field.echoMode, TextInput.Normal)
            verify(field.activeFocus, "typing continues in the field")
            compare(reveal.Accessible.name, "Hide password")
            compare(findChild(reveal, "passwordRevealIcon").source, "qrc:/qt/qml/Quorin/assets/icons/eye-off.svg")
            mouseClick(reveal)
            verify(!field.passwordVisible)
            compare(field.echoMode, TextInput.Password)
            compare(findChild(reveal, "passwordRevealIcon").source, "qrc:/qt/qml/Quorin/assets/icons/eye.svg")
        }

        function test_revealFromTheKeyboard() {
            const field = passwordField()
            field.forceActiveFocus()
            keyClick(Qt.Key_Tab)
            const reveal = revealOf(field)
            verify(reveal.activeFocus, "Tab reaches the reveal button")
            keyClick(Qt.Key_Space)
            verify(field.passwordVisible)
            compare(field.echoMode, TextInput.Normal)
            verify(field.activeFocus, "the focus is back in the field")
        }

        function test_clickLeavesTheFocusInTheField() {
            const field = passwordField()
            mouseClick(revealOf(field))
            verify(!revealOf(field).activeFocus)
        }

        function test_leavingHidesThePassword() {
            const field = passwordField()
            field.forceActiveFocus()
            mouseClick(revealOf(field))
            verify(field.passwordVisible)
            elsewhere.forceActiveFocus()
            verify(!field.passwordVisible)
            compare(field.echoMode, TextInput.Password)
            field.forceActiveFocus()
            compare(field.echoMode, TextInput.Password, "the next reveal starts hidden")
        }

        function test_leavingWhileHiddenChangesNothing() {
            const field = make({ echoMode: TextInput.Normal, passwordRevealEnabled: true })
            field.forceActiveFocus()
            elsewhere.forceActiveFocus()
            compare(field.echoMode, TextInput.Normal)
            compare(field.passwordVisible, false)
        }

        function test_hidePassword() {
            const field = passwordField()
            field.hidePassword()
            compare(field.echoMode, TextInput.Password)
            field.echoMode = TextInput.Normal
            field.hidePassword()
            compare(field.echoMode, TextInput.Normal, "hidePassword does nothing while hidden")
        }

        function test_disabledFieldHasADisabledButton() {
            const field = passwordField({ enabled: false })
            const reveal = revealOf(field)
            verify(!reveal.enabled)
            mouseClick(reveal)
            verify(!field.passwordVisible)
            field.enabled = true
            verify(reveal.enabled)
        }

        function test_lowFieldGetsAButtonAsHighAsItself_data() {
            return [{ tag: "30", height: 30, button: 30 }, { tag: "48", height: 48, button: 36 }]
        }

        function test_lowFieldGetsAButtonAsHighAsItself(row) {
            const field = passwordField({ height: row.height })
            const reveal = revealOf(field)
            compare(reveal.height, row.button)
            compare(reveal.y, (row.height - row.button) / 2)
        }

        function test_outsideChangeMovesTheIconButNotTheEchoMode() {
            const field = passwordField()
            field.passwordVisible = true
            compare(findChild(revealOf(field), "passwordRevealIcon").source, "qrc:/qt/qml/Quorin/assets/icons/eye-off.svg")
            compare(revealOf(field).Accessible.name, "Hide password")
            compare(field.echoMode, TextInput.Password)
        }

        function test_revealToolTip() {
            const field = passwordField()
            const reveal = revealOf(field)
            mouseMove(reveal, reveal.width / 2, reveal.height / 2)
            verify(reveal.ToolTip.visible)
            compare(reveal.ToolTip.text, "Show password")
        }

        function test_look() {
            const field = make({ placeholderText: "Mobile number" })
            verify(field.quorinStyled)
            compare(field.color, Theme.text)
            compare(field.placeholderTextColor, Theme.textSecondary)
            compare(field.font.pixelSize, 14)
            compare(field.font.family, "IBM Plex Sans Arabic")
            compare(field.background.color, Theme.surface)
            compare(field.background.border.color, Theme.border)
            field.forceActiveFocus()
            compare(field.background.border.color, Theme.primary)
        }
    }
}
