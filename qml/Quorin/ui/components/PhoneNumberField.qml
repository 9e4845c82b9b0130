import QtQuick
import QtQuick.Controls
import QtQuick.Controls.Basic as Basic
import QtQuick.Layouts
import Quorin
import Quorin.Controllers

// The mobile-number input of the sign-in, sign-up and password-reset forms: a calling code chosen
// from Egypt and Saudi Arabia beside the number box. The number leaves it in international form
// as e164Number, empty while it is no valid mobile number of either country. Arabic-Indic digits
// become ASCII digits as they are typed, a typed "+20" or "+966" switches the country, and the
// error line shows once the host has called validate().
Column {
    id: field

    property alias text: numberBox.text
    property alias countryCode: countrySelector.currentValue
    readonly property string e164Number: PhoneNumberFormatter.normalize(
                                             field.text,
                                             countrySelector.currentValue === undefined
                                             ? "" : String(countrySelector.currentValue))
    readonly property bool acceptableInput: e164Number !== ""
    property bool validationRequested: false
    property string placeholderText: qsTr("Mobile number")

    // Names stay untranslated in the list, so a language switch never resets the selector.
    readonly property var countries: [
        { name: QT_TR_NOOP("Egypt"), dial: "+20", flag: "qrc:/qt/qml/Quorin/assets/flags/eg.svg" },
        { name: QT_TR_NOOP("Saudi Arabia"), dial: "+966", flag: "qrc:/qt/qml/Quorin/assets/flags/sa.svg" }
    ]

    function validate() {
        validationRequested = true
        return acceptableInput
    }

    function handleTextChange() {
        const rewritten = DisplayFormat.westernDigits(numberBox.text)
        if (rewritten !== numberBox.text) {
            // One character for one, so the cursor keeps its place; the replacement comes back
            // here as a change of its own.
            const cursor = numberBox.cursorPosition
            numberBox.text = rewritten
            numberBox.cursorPosition = cursor
            return
        }
        const prefixCountry = PhoneNumberFormatter.countryForNumber(numberBox.text)
        if (prefixCountry === "+966")
            countrySelector.currentIndex = 1
        else if (prefixCountry === "+20")
            countrySelector.currentIndex = 0
    }

    spacing: Theme.smallSpacing

    Row {
        id: inputRow

        objectName: "phoneFieldRow"
        width: field.width
        spacing: Theme.smallSpacing
        // The calling code precedes the number in every language.
        LayoutMirroring.enabled: false
        LayoutMirroring.childrenInherit: true

        QuorinComboBox {
            id: countrySelector

            objectName: "countrySelector"
            width: 132
            padding: 0
            hoverEnabled: true
            focusPolicy: Qt.StrongFocus
            model: field.countries
            textRole: "dial"
            valueRole: "dial"
            currentIndex: 0
            Accessible.name: qsTr("Country calling code")

            contentItem: Item {
                Row {
                    objectName: "selectedCountryContent"
                    // Centred on the whole selector, not on the content area beside the arrow.
                    x: Math.round((countrySelector.width - width) / 2) - countrySelector.leftPadding
                    y: Math.round((countrySelector.height - height) / 2) - countrySelector.topPadding
                    spacing: Theme.smallSpacing

                    Image {
                        objectName: "selectedCountryFlag"
                        anchors.verticalCenter: parent.verticalCenter
                        width: 24
                        height: 16
                        sourceSize.width: 24
                        sourceSize.height: 16
                        fillMode: Image.PreserveAspectCrop
                        clip: true
                        source: countrySelector.currentIndex >= 0
                                ? field.countries[countrySelector.currentIndex].flag : ""
                    }

                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        text: countrySelector.displayText
                        color: Theme.text
                        font.family: Theme.fontFamily
                        font.pixelSize: 14
                    }
                }
            }

            indicator: QuorinChevron {
                x: countrySelector.width - 12 - width
                y: Math.round((countrySelector.height - height) / 2)
            }

            background: Rectangle {
                implicitHeight: 48
                color: countrySelector.pressed ? Theme.pressed
                                               : countrySelector.hovered ? Theme.hover : Theme.surface
                radius: Theme.radius
                border.width: 1
                border.color: countrySelector.activeFocus ? Theme.primary : Theme.border
            }

            delegate: Basic.ItemDelegate {
                id: countryRow

                required property int index
                required property var modelData
                readonly property string fullName: qsTr(modelData.name) + " " + modelData.dial

                objectName: "countryDelegate"
                width: ListView.view ? ListView.view.width : implicitWidth
                height: 44
                leftPadding: 12
                rightPadding: 12
                hoverEnabled: true
                highlighted: countrySelector.highlightedIndex === index

                contentItem: RowLayout {
                    spacing: Theme.smallSpacing
                    // The list lives in the window's overlay, outside the row that turns mirroring
                    // off; the name keeps to the left in Arabic too.
                    LayoutMirroring.enabled: false
                    LayoutMirroring.childrenInherit: true

                    Image {
                        width: 24
                        height: 16
                        sourceSize.width: 24
                        sourceSize.height: 16
                        fillMode: Image.PreserveAspectCrop
                        clip: true
                        source: countryRow.modelData.flag
                        Layout.preferredWidth: 24
                        Layout.preferredHeight: 16
                    }

                    Text {
                        id: countryName

                        objectName: "countryName"
                        text: qsTr(countryRow.modelData.name)
                        color: Theme.text
                        font.family: Theme.fontFamily
                        font.pixelSize: 14
                        elide: Text.ElideRight
                        horizontalAlignment: Text.AlignLeft
                        Accessible.name: countryRow.fullName
                        Layout.fillWidth: true
                    }

                    Text {
                        text: countryRow.modelData.dial
                        color: Theme.textSecondary
                        font.family: Theme.fontFamily
                        font.pixelSize: 14
                        horizontalAlignment: Text.AlignRight
                        LayoutMirroring.enabled: false
                    }
                }

                background: Rectangle {
                    color: countryRow.highlighted ? Theme.hover : Theme.surfaceElevated
                    radius: Theme.radius - 2
                }

                QuorinToolTip {
                    text: countryRow.fullName
                    visible: countryRow.hovered && countryName.truncated
                }
            }

            popup: QuorinDropdownPopup {
                id: countryPopup

                objectName: "countryPopup"
                minimumWidth: 220
                naturalHeight: countryList.implicitHeight + topPadding + bottomPadding

                contentItem: ListView {
                    id: countryList

                    objectName: "countryList"
                    // The open pop-up holds the keyboard; the selector moves its highlight and
                    // chooses with the keys, as it does unfocused.
                    focus: true
                    keyNavigationEnabled: false
                    Keys.forwardTo: [countrySelector]
                    clip: true
                    implicitHeight: Math.max(44, Math.min(contentHeight, countryPopup.windowHeight - 8))
                    model: countrySelector.popup.visible ? countrySelector.delegateModel : null
                    currentIndex: countrySelector.highlightedIndex

                    ScrollBar.vertical: QuorinScrollBar {}
                }
            }
        }

        QuorinTextField {
            id: numberBox

            objectName: "phoneNumberInput"
            width: inputRow.width - countrySelector.width - inputRow.spacing
            placeholderText: field.placeholderText
            iconSource: "qrc:/qt/qml/Quorin/assets/icons/phone.svg"
            inputMethodHints: Qt.ImhDialableCharactersOnly
            forceLtr: true
            Accessible.name: field.placeholderText

            onTextChanged: field.handleTextChange()
        }
    }

    Text {
        objectName: "phoneValidationMessage"
        width: field.width
        visible: field.validationRequested && !field.acceptableInput
        text: qsTr("Enter a valid Egyptian or Saudi mobile number.")
        color: Theme.error
        font.family: Theme.fontFamily
        wrapMode: Text.Wrap
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text
    }
}
