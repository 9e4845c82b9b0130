import QtQuick
import QtQuick.Controls.Basic as Basic
import Quorin

// The drop-down choice: the Basic style's combo box with its five visual parts replaced. The
// rows of the list exist only while the pop-up is shown, and the pop-up is as tall as all of them.
Basic.ComboBox {
    id: control

    readonly property bool quorinStyled: true

    // Linux platforms without a desktop theme switch hover off for the controls by default; the
    // rows of the list need it to follow the pointer.
    hoverEnabled: true

    // The arrow sits in the 40-wide padding on its side.
    leftPadding: mirrored ? 40 : 16
    rightPadding: mirrored ? 16 : 40

    delegate: Basic.ItemDelegate {
        id: entry

        required property int index
        required property var modelData

        objectName: "quorinComboBoxEntry" + index
        width: ListView.view ? ListView.view.width : implicitWidth
        padding: 12
        hoverEnabled: true
        highlighted: control.highlightedIndex === index

        contentItem: Text {
            text: {
                const data = entry.modelData
                if (data === undefined || data === null)
                    return ""
                if (control.textRole === "")
                    return String(data)
                const field = data[control.textRole]
                return field === undefined || field === null ? "" : String(field)
            }
            font.pixelSize: 16
            verticalAlignment: Text.AlignVCenter
            color: control.currentIndex === entry.index ? Theme.primary : Theme.text
        }

        background: Rectangle {
            color: entry.highlighted ? Theme.hover : Theme.surfaceElevated
            radius: Theme.radius - 2
        }
    }

    contentItem: QuorinElidedLabel {
        objectName: "quorinComboBoxText"
        text: control.displayText
        font.pixelSize: 14
        color: Theme.text
        verticalAlignment: Text.AlignVCenter
        elide: Text.ElideRight
        leftPadding: 0
        rightPadding: 0
        hoverCursorShape: control.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
    }

    indicator: QuorinIcon {
        objectName: "quorinComboBoxIndicator"
        width: 16
        height: 16
        x: control.mirrored ? control.leftPadding - 16 - 8 : control.width - control.rightPadding + 8
        y: Math.round((control.height - 16) / 2)
        source: "qrc:/qt/qml/Quorin/assets/icons/arrow-down.svg"
        tint: control.enabled ? Theme.iconMuted : Theme.textMuted
        rotation: control.popup.visible ? 180 : 0

        Behavior on rotation {
            NumberAnimation {
                duration: Theme.animDurationShort
                easing.type: Easing.InOutQuad
            }
        }
    }

    background: Rectangle {
        objectName: "quorinComboBoxBackground"
        implicitWidth: 150
        implicitHeight: 48
        color: Theme.surface
        radius: Theme.radius
        border.width: 1
        border.color: control.activeFocus ? Theme.primary : Theme.border

        Behavior on border.color {
            ColorAnimation {
                duration: Theme.animDurationShort
            }
        }
    }

    popup: Basic.Popup {
        objectName: "quorinComboBoxPopup"
        x: 0
        y: control.height - 1
        width: control.width
        height: contentItem.implicitHeight + topPadding + bottomPadding
        padding: 4
        focus: true
        closePolicy: Basic.Popup.CloseOnEscape | Basic.Popup.CloseOnPressOutsideParent

        background: Rectangle {
            color: Theme.surfaceElevated
            radius: Theme.radius
            border.width: 1
            border.color: Theme.borderStrong
        }

        contentItem: ListView {
            objectName: "quorinComboBoxList"
            // The open pop-up holds the keyboard, so the list hands the keys on to the control,
            // which moves the highlight and chooses with Return and Enter as it does unfocused.
            focus: true
            keyNavigationEnabled: false
            Keys.forwardTo: [control]
            clip: true
            implicitHeight: contentHeight
            // Rows are built only while the list is shown and destroyed when it closes.
            model: control.popup.visible ? control.delegateModel : null
            currentIndex: control.highlightedIndex

            Basic.ScrollIndicator.vertical: Basic.ScrollIndicator {}
        }
    }
}
