import QtQuick
import QtTest
import Quorin
import Quorin.Controllers

Item {
    id: root

    width: 600
    height: 300

    MirroredArea {
        id: area

        anchors.fill: parent
    }

    Component {
        id: otpComponent

        QuorinOTPInput {
            x: 20
            y: 20
        }
    }

    Component {
        id: spyComponent

        SignalSpy {
            signalName: "otpComplete"
        }
    }

    TestCase {
        name: "OtpInput"
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

        function make() {
            const otp = createTemporaryObject(otpComponent, area)
            verify(otp)
            const spy = createTemporaryObject(spyComponent, root, { target: otp })
            return { otp: otp, spy: spy }
        }

        function box(otp, index) {
            const input = findChild(otp, "otpDigit-" + index)
            verify(input, "box " + index)
            return input
        }

        function texts(otp) {
            const found = []
            for (let index = 0; index < otp.length; ++index)
                found.push(box(otp, index).text)
            return found
        }

        function focusedBoxes(otp) {
            const found = []
            for (let index = 0; index < otp.length; ++index) {
                if (box(otp, index).activeFocus)
                    found.push(index)
            }
            return found
        }

        // Clicks the box and puts the cursor after its digit, as a user editing it does.
        function enter(otp, index) {
            mouseClick(box(otp, index))
            keyClick(Qt.Key_End)
            compare(focusedBoxes(otp), [index])
        }

        function type(digits) {
            for (const digit of digits)
                keyClick(digit)
        }

        function test_sixDigitsCompleteTheCodeOnceAndLeaveNoBoxFocused() {
            const made = make()
            compare(focusedBoxes(made.otp), [], "no box takes the focus by itself")
            enter(made.otp, 0)
            type("12345")
            compare(focusedBoxes(made.otp), [5])
            compare(made.spy.count, 0)
            type("6")
            compare(texts(made.otp), ["1", "2", "3", "4", "5", "6"])
            compare(made.spy.count, 1)
            compare(made.spy.signalArguments[0][0], "123456")
            compare(made.otp.otpValue, "123456")
            compare(focusedBoxes(made.otp), [])
        }

        function test_typedCharacters_data() {
            return [
                { tag: "Arabic-Indic three", typed: "\u0663", stored: "3", movesOn: true },
                { tag: "Eastern Arabic-Indic seven", typed: "\u06F7", stored: "7", movesOn: true },
                { tag: "letter", typed: "a", stored: "", movesOn: false },
                { tag: "space", typed: " ", stored: "", movesOn: false },
                { tag: "minus", typed: "-", stored: "", movesOn: false }
            ]
        }

        function test_typedCharacters(row) {
            const made = make()
            enter(made.otp, 0)
            // The test's key events carry Latin-1 only; other characters arrive as typed text does.
            if (row.typed.charCodeAt(0) < 0x80)
                keyClick(row.typed)
            else
                box(made.otp, 0).insert(0, row.typed)
            compare(box(made.otp, 0).text, row.stored)
            compare(made.otp.otpValue, row.stored)
            compare(focusedBoxes(made.otp), [row.movesOn ? 1 : 0])
        }

        // A box holds one character, so a pasted code keeps its first digit only.
        function test_pastedCodeKeepsItsFirstDigit() {
            const made = make()
            enter(made.otp, 0)
            box(made.otp, 0).insert(0, "123456")
            compare(texts(made.otp), ["1", "", "", "", "", ""])
            compare(focusedBoxes(made.otp), [1])
            compare(made.spy.count, 0)
        }

        function test_backspace() {
            const made = make()
            enter(made.otp, 0)
            keyClick(Qt.Key_Backspace)
            compare(texts(made.otp), ["", "", "", "", "", ""])
            compare(focusedBoxes(made.otp), [0], "nothing before box 0")

            type("1234")
            enter(made.otp, 3)
            keyClick(Qt.Key_Backspace)
            compare(texts(made.otp), ["1", "2", "3", "", "", ""])
            compare(focusedBoxes(made.otp), [3], "a filled box loses its digit and keeps the focus")
            keyClick(Qt.Key_Backspace)
            compare(texts(made.otp), ["1", "2", "", "", "", ""])
            compare(focusedBoxes(made.otp), [2])
            compare(made.otp.otpValue, "12")
        }

        function test_gapsJoinWithoutAMarker() {
            const made = make()
            enter(made.otp, 0)
            type("1")
            enter(made.otp, 2)
            type("3")
            compare(made.otp.otpValue, "13")
            compare(made.spy.count, 0)
        }

        function test_retypedDigitCompletesAgain() {
            const made = make()
            enter(made.otp, 0)
            type("123456")
            compare(made.spy.count, 1)
            enter(made.otp, 5)
            keyClick(Qt.Key_Backspace)
            compare(made.otp.otpValue, "12345")
            compare(made.spy.count, 1)
            type("6")
            compare(made.spy.count, 2)
            compare(made.spy.signalArguments[1][0], "123456")
        }

        function test_boxZeroIsLeftmostInArabic() {
            SettingsController.language = "ar"
            const made = make()
            let previous = -1
            for (let index = 0; index < made.otp.length; ++index) {
                const x = box(made.otp, index).mapToItem(null, 0, 0).x
                verify(x > previous, "box " + index + " at " + x)
                previous = x
            }
            enter(made.otp, 0)
            type("1")
            compare(focusedBoxes(made.otp), [1], "the focus advances to the right")
        }
    }
}
