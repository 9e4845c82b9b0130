import QtQuick
import QtQuick.Layouts
import QtQuick.Templates as T
import Quorin

// The push button of the interface: filled (the default) or outline, an optional icon before its
// text, a loading state with a spinner in place of its content, colours blended towards the
// primary variant on hover and press, and a focus ring for keyboard focus only.
T.Button {
    id: control

    property string iconSource: ""
    property int iconSize: 18
    property bool isLoading: false
    property bool isOutline: false
    property bool compact: false
    property color buttonColor: Theme.primary
    property color textColor: isOutline ? buttonColor : Theme.accentForeground
    property real cornerRadius: Theme.radius
    property bool visualHovered: false
    property bool suppressHoverUntilExit: false
    readonly property real hoverBlendWeight: Theme.isDark ? 0.24 : 0.16
    readonly property real pressedBlendWeight: Theme.isDark ? 0.34 : 0.25
    readonly property color filledHoverColor: blend(buttonColor, Theme.primaryVariant, 0.45)
    readonly property color filledPressedColor: blend(buttonColor, Theme.primaryVariant, 0.72)

    // The opaque mix of two colours; both alphas are ignored.
    function blend(base, accent, weight) {
        return Qt.rgba(base.r * (1 - weight) + accent.r * weight,
                       base.g * (1 - weight) + accent.g * weight,
                       base.b * (1 - weight) + accent.b * weight, 1)
    }

    function pointerEntered() {
        if (!suppressHoverUntilExit)
            visualHovered = true
    }

    function pointerLeft() {
        // A leave seen while still disabled under a shown hover counts as the disabling first.
        if (!enabled && visualHovered)
            suppressHoverUntilExit = true
        visualHovered = false
        if (enabled)
            suppressHoverUntilExit = false
    }

    text: qsTr("Quorin button")
    padding: 12
    leftPadding: 24
    rightPadding: 24
    implicitHeight: 44
    implicitWidth: Math.max(compact ? 40 : 120, implicitContentWidth + leftPadding + rightPadding)
    hoverEnabled: true
    focusPolicy: Qt.StrongFocus

    scale: pressed ? 0.98 : visualHovered ? 1.02 : 1.0
    Behavior on scale {
        NumberAnimation {
            duration: Theme.animDurationShort
            easing.type: Easing.OutBack
        }
    }

    // A button disabled under the pointer (often by its own click) shows no hover until the
    // pointer has left it and come back.
    onEnabledChanged: {
        if (!enabled && visualHovered) {
            visualHovered = false
            suppressHoverUntilExit = true
        }
    }

    background: Rectangle {
        objectName: "buttonBackground"
        radius: control.cornerRadius
        opacity: control.enabled ? 1.0 : 0.6
        color: {
            if (control.isOutline) {
                if (control.pressed)
                    return control.blend(Theme.surface, control.buttonColor, control.pressedBlendWeight)
                if (control.visualHovered)
                    return control.blend(Theme.surface, control.buttonColor, control.hoverBlendWeight)
                return "transparent"
            }
            if (control.pressed)
                return control.filledPressedColor
            if (control.visualHovered || control.isLoading)
                return control.filledHoverColor
            return control.buttonColor
        }
        border.width: control.visualFocus ? 2 : control.isOutline ? 1 : 0
        border.color: control.visualFocus ? (control.isOutline ? Theme.text : Theme.accentForeground)
                                          : control.buttonColor

        Behavior on color {
            ColorAnimation {
                duration: Theme.animDurationShort
                easing.type: Easing.InOutQuad
            }
        }
    }

    HoverHandler {
        objectName: "buttonHoverHandler"
        cursorShape: Qt.PointingHandCursor
        onHoveredChanged: hovered ? control.pointerEntered() : control.pointerLeft()
    }

    // Sized by the row even while the spinner stands in for it, so loading keeps the width.
    contentItem: Item {
        implicitWidth: contentRow.implicitWidth
        implicitHeight: contentRow.implicitHeight

        RowLayout {
            id: contentRow

            objectName: "buttonContentRow"
            anchors.centerIn: parent
            spacing: Theme.smallSpacing
            visible: !control.isLoading

            QuorinIcon {
                objectName: "buttonContentIcon"
                source: control.iconSource
                tint: control.textColor
                visible: control.iconSource !== ""
                fillMode: Image.PreserveAspectFit
                Layout.preferredWidth: control.iconSize
                Layout.preferredHeight: control.iconSize
                Layout.alignment: Qt.AlignVCenter
            }

            Text {
                objectName: "buttonContentText"
                text: control.text
                visible: text !== ""
                color: control.textColor
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
                font.bold: true
                font.pixelSize: 14
                font.family: Theme.fontFamily
                Layout.alignment: Qt.AlignVCenter
            }
        }

        QuorinSpinner {
            objectName: "buttonLoadingSpinner"
            anchors.centerIn: parent
            width: 20
            height: 20
            running: control.isLoading
            visible: control.isLoading
        }
    }
}
