import QtQuick
import Quorin

// The entry of a one-time code: a row of boxes holding one digit each. Focus moves on as digits
// are typed and back as Backspace empties a box; any other character is dropped at once. The row
// reads left to right in every language, as a code is written.
Row {
    id: root

    // The digits of all boxes joined in box order, an empty box adding nothing. Derived: writing
    // it from outside changes no box.
    property string otpValue: ""
    property int length: 6

    signal otpComplete(string otp)

    function box(index) {
        const item = boxes.itemAt(index)
        return item ? item.input : null
    }

    function recompute() {
        let code = ""
        for (let index = 0; index < root.length; ++index) {
            const input = box(index)
            if (input)
                code += input.text
        }
        otpValue = code
        if (code.length === root.length)
            otpComplete(code)
    }

    function handleTextChange(index) {
        const input = box(index)
        if (!input)
            return
        const digits = DisplayFormat.westernDigits(input.text).replace(/[^0-9]/g, "")
        if (digits !== input.text) {
            // The replacement comes back here as a change of its own.
            input.text = digits
            return
        }
        recompute()
        if (digits.length === 0)
            return
        if (index < root.length - 1) {
            const next = box(index + 1)
            if (next)
                next.forceActiveFocus()
        } else {
            input.focus = false
        }
    }

    // Only an empty box hands Backspace back; the key then does nothing more in the empty box.
    function handleBackspace(index) {
        const input = box(index)
        if (!input || input.text !== "" || index === 0)
            return
        const previous = box(index - 1)
        if (!previous)
            return
        previous.forceActiveFocus()
        previous.text = ""
    }

    spacing: Theme.smallSpacing
    LayoutMirroring.enabled: false
    LayoutMirroring.childrenInherit: true

    Repeater {
        id: boxes

        model: root.length

        delegate: Rectangle {
            id: digitBox

            required property int index
            readonly property alias input: input

            width: 48
            height: 56
            color: Theme.surface
            radius: Theme.radius
            border.width: 2
            border.color: input.activeFocus ? Theme.primary : Theme.secondary

            Behavior on border.color {
                ColorAnimation {
                    duration: Theme.animDurationShort
                }
            }

            TextInput {
                id: input

                objectName: "otpDigit-" + digitBox.index
                anchors.fill: parent
                horizontalAlignment: TextInput.AlignHCenter
                verticalAlignment: TextInput.AlignVCenter
                font.family: Theme.fontFamily
                font.pixelSize: 24
                font.bold: true
                color: Theme.text
                selectionColor: Theme.primary
                selectedTextColor: Theme.accentForeground
                maximumLength: 1
                inputMethodHints: Qt.ImhDigitsOnly
                activeFocusOnTab: true

                onTextChanged: root.handleTextChange(digitBox.index)

                // Seen before the input edits, and handed on: in a box that holds a digit the
                // key deletes it as usual.
                Keys.onPressed: event => {
                    if (event.key === Qt.Key_Backspace)
                        root.handleBackspace(digitBox.index)
                    event.accepted = false
                }
            }
        }
    }
}
