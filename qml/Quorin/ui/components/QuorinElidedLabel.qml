import QtQuick
import QtQuick.Controls
import Quorin

// A label that shows its full text in a tool tip, but only while something of it was cut off.
// Its hover handler does not block, so the row the label sits in still sees the pointer.
Label {
    id: label

    property string fullText: text
    property bool clippedToolTipEnabled: true
    property int hoverCursorShape: Qt.ArrowCursor
    readonly property bool textClipped: truncated
    readonly property bool pointerHovered: visible && enabled && hoverHandler.hovered

    HoverHandler {
        id: hoverHandler

        enabled: label.visible && label.enabled
        blocking: false
        cursorShape: label.hoverCursorShape
    }

    QuorinToolTip {
        objectName: label.objectName.length > 0 ? label.objectName + "ToolTip" : "elidedLabelToolTip"
        text: label.fullText
        visible: label.visible && label.enabled && label.clippedToolTipEnabled && label.textClipped
                 && (hoverHandler.hovered || label.activeFocus)
    }
}
