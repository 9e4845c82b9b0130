import QtQuick
import QtQuick.Controls
import QtQuick.Window
import Quorin

// The list pop-up of a drop-down box: it opens under its box, at least minimumWidth wide, and
// stays inside the window. Its parent is the box, so a press on the box toggles it and a press
// anywhere else closes it; it is drawn in the window's overlay as every pop-up is. Position and
// size are in window coordinates, read again each time it shows and when the window resizes.
QuorinPopup {
    id: popup

    property real minimumWidth: 0
    // The height its content asks for, margins included; the window may give it less.
    property real naturalHeight: implicitHeight
    readonly property Item anchorItem: parent
    readonly property real windowWidth: anchorItem ? anchorItem.Window.width : 0
    readonly property real windowHeight: anchorItem ? anchorItem.Window.height : 0

    function windowOrigin() {
        return anchorItem ? anchorItem.mapToItem(null, 0, 0) : Qt.point(0, 0)
    }

    padding: 4
    modal: false
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutsideParent
    width: Math.min(Math.max(anchorItem ? anchorItem.width : 0, minimumWidth), windowWidth)
    height: Math.min(naturalHeight, windowHeight)
    // Left edges aligned, 4 px below the box, clamped into the window; the anchor's place in the
    // window is no binding, so each pop-up showing reads it anew.
    x: {
        popup.visible
        const origin = windowOrigin()
        return Math.max(0, Math.min(origin.x, windowWidth - width)) - origin.x
    }
    y: {
        popup.visible
        const origin = windowOrigin()
        const below = origin.y + (anchorItem ? anchorItem.height : 0) + 4
        return Math.max(0, Math.min(below, windowHeight - height)) - origin.y
    }
}
