import QtQuick
import QtQuick.Layouts
import Quorin

// A check box that never changes its own state: a click or Space only asks for the opposite
// state through toggled(requestedChecked), and the owner decides by setting checked. While the
// owner's change runs it sets pending: a spinner shows and further requests are not taken.
Item {
    id: root

    signal toggled(bool requestedChecked)

    property bool checked: false
    property bool pending: false
    property string label: ""
    readonly property bool visualChecked: checked
    // One physical pixel in logical units.
    readonly property real hairlineWidth: 1 / Math.max(1, Screen.devicePixelRatio)

    function requestToggle() {
        if (pending)
            return
        toggled(!checked)
    }

    implicitWidth: row.implicitWidth
    implicitHeight: Math.max(20, row.implicitHeight)
    activeFocusOnTab: true

    Accessible.role: Accessible.CheckBox
    Accessible.name: label
    Accessible.checkable: true
    Accessible.checked: checked
    Accessible.onToggleAction: {
        if (root.enabled)
            root.requestToggle()
    }
    Accessible.onPressAction: {
        if (root.enabled)
            root.requestToggle()
    }

    // Space is taken in every case, so it never reaches an item further up while the box has focus.
    Keys.onSpacePressed: event => {
        event.accepted = true
        if (root.enabled)
            root.requestToggle()
    }

    RowLayout {
        id: row

        anchors.fill: parent
        spacing: Theme.smallSpacing
        layoutDirection: Qt.LeftToRight

        Rectangle {
            id: box

            objectName: "checkBoxIndicator"
            Layout.preferredWidth: 20
            Layout.preferredHeight: 20
            Layout.alignment: Qt.AlignVCenter
            radius: 5
            color: root.visualChecked ? Theme.primary : clickArea.pressed ? Theme.hover : "transparent"
            border.width: root.visualChecked ? 0 : root.hairlineWidth
            border.color: root.activeFocus ? Theme.primary : root.enabled ? Theme.border : Theme.textMuted
            opacity: root.enabled ? 1.0 : 0.55
            scale: clickArea.pressed ? 0.9 : 1.0

            Behavior on color {
                ColorAnimation {
                    duration: Theme.animDurationShort
                }
            }
            Behavior on scale {
                NumberAnimation {
                    duration: Theme.animDurationShort
                    easing.type: Easing.OutQuad
                }
            }

            Rectangle {
                objectName: "checkBoxFocusRing"
                anchors.fill: parent
                anchors.margins: 2
                radius: Math.max(1, box.radius - 2)
                color: "transparent"
                border.width: root.hairlineWidth
                border.color: Theme.primary
                opacity: root.activeFocus && !root.visualChecked ? 0.45 : 0.0

                Behavior on opacity {
                    NumberAnimation {
                        duration: Theme.animDurationShort
                    }
                }
            }

            QuorinIcon {
                objectName: "checkBoxTick"
                anchors.centerIn: parent
                width: 14
                height: 14
                source: "qrc:/qt/qml/Quorin/assets/icons/check.svg"
                tint: Theme.accentForeground
                visible: root.visualChecked
                opacity: root.pending ? 0.7 : 1.0
            }

            // Overhangs the corner on the label's side; the horizontal anchor mirrors with the window.
            QuorinSpinner {
                objectName: "checkBoxPendingSpinner"
                width: 9
                height: 9
                anchors.top: parent.top
                anchors.right: parent.right
                anchors.topMargin: -3
                anchors.rightMargin: -3
                ringColor: Theme.surface
                accentColor: root.visualChecked ? Theme.accentForeground : Theme.primary
                running: root.pending
                visible: root.pending
            }
        }

        Loader {
            objectName: "checkBoxLabelLoader"
            active: root.label !== ""
            visible: active
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignVCenter

            sourceComponent: QuorinElidedLabel {
                objectName: "checkBoxLabel"
                text: root.label
                color: root.visualChecked ? Theme.textSecondary : Theme.text
                font.family: Theme.fontFamily
                font.pixelSize: 13
                elide: Text.ElideRight
                hoverCursorShape: root.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
            }
        }
    }

    MouseArea {
        id: clickArea

        objectName: "checkBoxClickArea"
        anchors.fill: parent
        enabled: root.enabled && !root.pending
        hoverEnabled: visible && enabled
        cursorShape: Qt.PointingHandCursor
        onPressed: root.forceActiveFocus(Qt.MouseFocusReason)
        onClicked: root.requestToggle()
    }
}
