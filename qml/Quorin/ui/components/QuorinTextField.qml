import QtQuick
import QtQuick.Controls.Basic as Basic
import QtQuick.Templates as T
import Quorin
import Quorin.Controllers

// The single-line input of the forms: an optional icon inside the field, an optional button that
// reveals a password, and a content direction of its own so the text stays readable whatever the
// surrounding layout does. Icon and button are placed by explicit x, per physical side.
Basic.TextField {
    id: control

    readonly property bool quorinStyled: true
    property string iconSource: ""
    property bool forceLtr: false
    property bool forceIconLeft: false
    property bool passwordRevealEnabled: false
    property bool passwordVisible: false
    property int contentDirection: SettingsController.layoutDirection
    readonly property int effectiveContentDirection: forceLtr ? Qt.LeftToRight : contentDirection
    readonly property bool iconOnRight: !forceIconLeft && !forceLtr
                                        && SettingsController.layoutDirection === Qt.RightToLeft
    readonly property bool revealOnRight: iconSource !== "" ? !iconOnRight
                                                            : effectiveContentDirection !== Qt.RightToLeft

    function hidePassword() {
        if (!passwordVisible)
            return
        passwordVisible = false
        echoMode = TextInput.Password
    }

    color: Theme.text
    placeholderTextColor: Theme.textSecondary
    font.pixelSize: 14
    font.weight: Font.Normal
    font.family: Theme.fontFamily
    // A text input mirrors an explicit alignment under inherited layout mirroring, so the side
    // asked for is swapped back there: right-to-left content always reads from the right edge.
    horizontalAlignment: (effectiveContentDirection === Qt.RightToLeft) !== LayoutMirroring.enabled
                         ? TextInput.AlignRight : TextInput.AlignLeft
    leftPadding: (iconSource !== "" && !iconOnRight) || (passwordRevealEnabled && !revealOnRight) ? 40 : 12
    rightPadding: (iconSource !== "" && iconOnRight) || (passwordRevealEnabled && revealOnRight) ? 40 : 12
    topPadding: 12
    bottomPadding: 12

    onActiveFocusChanged: {
        if (!activeFocus)
            hidePassword()
    }

    background: Rectangle {
        objectName: "textFieldBackground"
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

    QuorinIcon {
        objectName: "textFieldIcon"
        width: 20
        height: 20
        x: control.iconOnRight ? control.width - 20 - 12 : 12
        y: (control.height - height) / 2
        source: control.iconSource
        tint: Theme.iconMuted
        fillMode: Image.PreserveAspectFit
        visible: control.iconSource !== ""
    }

    Basic.ToolButton {
        id: revealButton

        objectName: "passwordRevealButton"
        visible: control.passwordRevealEnabled
        enabled: control.enabled
        width: 36
        height: Math.min(36, control.height)
        x: control.revealOnRight ? control.width - 36 - 2 : 2
        y: (control.height - height) / 2
        // Focus only from the keyboard: a click leaves the focus in the field.
        focusPolicy: Qt.TabFocus
        // Linux platforms without a desktop theme switch hover off for the controls by default.
        hoverEnabled: true

        Accessible.role: Accessible.Button
        Accessible.name: control.passwordVisible ? qsTr("Hide password") : qsTr("Show password")
        T.ToolTip.visible: hovered
        T.ToolTip.text: Accessible.name

        background: Rectangle {
            radius: width / 2
            color: revealButton.hovered || revealButton.activeFocus ? Theme.hover : "transparent"

            Behavior on color {
                ColorAnimation {
                    duration: Theme.animDurationShort
                }
            }
        }

        HoverHandler {
            cursorShape: Qt.PointingHandCursor
        }

        contentItem: QuorinIcon {
            objectName: "passwordRevealIcon"
            tint: Theme.primary
            source: control.passwordVisible ? "qrc:/qt/qml/Quorin/assets/icons/eye-off.svg"
                                            : "qrc:/qt/qml/Quorin/assets/icons/eye.svg"
        }

        onClicked: {
            control.passwordVisible = !control.passwordVisible
            control.echoMode = control.passwordVisible ? TextInput.Normal : TextInput.Password
            control.forceActiveFocus()
        }
    }
}
