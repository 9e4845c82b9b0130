import QtQuick
import QtQuick.Controls.Basic as Basic
import Quorin

// The themed tool tip. Built on the Basic style's tool tip so it looks the same whatever style
// the window uses, and kept the same dark label in both themes.
Basic.ToolTip {
    id: toolTip

    // The text measured as one line, in the content's font.
    readonly property TextMetrics textMetrics: TextMetrics {
        font.family: Theme.fontFamily
        font.pixelSize: 12
        text: toolTip.text
    }
    // The same line as a text item lays it out. The advance width alone is too narrow when the
    // last glyph overhangs it (the "k" of "Back" in the interface's face): the layout counts the
    // overhang and would wrap the word. Measured apart from the content, whose width follows the
    // tool tip's.
    readonly property Text lineMeasure: Text {
        visible: false
        text: toolTip.text
        font: toolTip.textMetrics.font
    }

    delay: 400
    timeout: 3000
    implicitWidth: Math.min(500, Math.max(textMetrics.advanceWidth, lineMeasure.implicitWidth) + leftPadding
                                 + rightPadding)

    contentItem: Text {
        objectName: "quorinToolTipText"
        text: toolTip.text
        width: toolTip.availableWidth
        font.family: Theme.fontFamily
        font.pixelSize: 12
        color: "#F8FAFC"
        wrapMode: Text.Wrap
    }

    background: Rectangle {
        objectName: "quorinToolTipBackground"
        color: "#1E293B"
        radius: 6
        border.width: 1
        border.color: Qt.rgba(1, 1, 1, 0.15)
    }
}
