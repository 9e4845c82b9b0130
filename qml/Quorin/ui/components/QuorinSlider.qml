import QtQuick
import QtQuick.Controls.Basic as Basic
import Quorin

// The one slider: a thin track with buffered ranges, a played bar and a circular handle with a
// hover halo and an optional value bubble, in the media palette (default) or the application's.
// It is never mirrored: the value grows from left to right in every language, like the media.
Basic.Slider {
    id: control

    property var bufferRanges: []
    property bool bufferVisible: true
    property bool mediaPalette: true
    property bool animateValueChanges: true
    property real renderedPosition: position
    property bool valueBubbleVisible: false
    property string valueBubbleText: String(value)

    // A range bound as a number or a text that is no number; anything else (missing, null, an
    // empty text) has no place on the track.
    function rangeNumber(value) {
        if (typeof value === "number")
            return value
        if (typeof value === "string" && value.trim() !== "")
            return Number(value)
        return NaN
    }

    function trackFraction(value) {
        if (!(to > from))
            return 0
        return Math.min(1, Math.max(0, (rangeNumber(value) - from) / (to - from)))
    }

    LayoutMirroring.enabled: false
    LayoutMirroring.childrenInherit: true
    // Linux platforms without a desktop theme switch hover off for the controls by default.
    hoverEnabled: true

    // While pressed the handle stays under the pointer.
    Behavior on renderedPosition {
        enabled: control.animateValueChanges && !control.pressed

        NumberAnimation {
            duration: Theme.animDurationShort
        }
    }

    background: Rectangle {
        id: track

        objectName: "sliderTrack"
        implicitWidth: 200
        implicitHeight: 6
        x: control.leftPadding
        y: control.topPadding + control.availableHeight / 2 - 3
        width: control.availableWidth
        height: 6
        radius: 3
        color: control.mediaPalette ? "#40ffffff" : Theme.surfaceMuted

        Repeater {
            model: control.bufferRanges && typeof control.bufferRanges === "object" ? control.bufferRanges : []

            delegate: Rectangle {
                required property var modelData
                required property int index

                readonly property bool isRange: modelData !== null && typeof modelData === "object"
                readonly property real normalizedStart: control.trackFraction(isRange ? modelData.startMs : undefined)
                readonly property real normalizedEnd: control.trackFraction(isRange ? modelData.endMs : undefined)

                objectName: "sliderBufferedRange" + index
                x: normalizedStart * track.width
                width: Math.max(0, (normalizedEnd - normalizedStart) * track.width)
                height: track.height
                radius: 3
                color: control.mediaPalette ? Theme.mediaBuffered : Theme.textMuted
                // A fraction that is no number fails this comparison too.
                visible: control.bufferVisible && normalizedEnd > normalizedStart
            }
        }

        Rectangle {
            objectName: "sliderPlayedBar"
            width: control.renderedPosition * track.width
            height: track.height
            radius: 3
            color: Theme.primary
        }
    }

    handle: Rectangle {
        objectName: "sliderHandle"
        x: control.leftPadding + control.renderedPosition * (control.availableWidth - 16)
        y: control.topPadding + control.availableHeight / 2 - 8
        width: 16
        height: 16
        radius: 8
        border.width: 2
        border.color: control.mediaPalette ? Theme.mediaForeground : Theme.surface
        color: control.pressed ? Theme.primaryVariant : Theme.primary

        Behavior on color {
            ColorAnimation {
                duration: Theme.animDurationShort
            }
        }

        Rectangle {
            objectName: "sliderHoverHalo"
            anchors.centerIn: parent
            width: control.hovered ? 24 : 0
            height: width
            radius: width / 2
            color: Theme.primary
            opacity: 0.3

            Behavior on width {
                NumberAnimation {
                    duration: Theme.animDurationShort
                }
            }
        }

        Rectangle {
            objectName: "sliderValueBubble"
            anchors.horizontalCenter: parent.horizontalCenter
            anchors.bottom: parent.top
            anchors.bottomMargin: Theme.smallSpacing
            width: bubbleLabel.implicitWidth + 16
            height: 26
            radius: 13
            border.width: 1
            border.color: control.mediaPalette ? Theme.mediaBorder : Theme.borderStrong
            color: control.mediaPalette ? Theme.mediaSurfaceElevated : Theme.surfaceElevated
            visible: control.valueBubbleVisible

            Text {
                id: bubbleLabel

                objectName: "sliderValueBubbleLabel"
                anchors.centerIn: parent
                text: control.valueBubbleText
                font.family: Theme.fontFamily
                font.pixelSize: 12
                font.bold: true
                color: control.mediaPalette ? Theme.mediaForeground : Theme.text
            }
        }
    }

    HoverHandler {
        objectName: "quorinSliderCursor"
        acceptedDevices: PointerDevice.Mouse | PointerDevice.Stylus
        cursorShape: control.enabled ? Qt.PointingHandCursor : Qt.ArrowCursor
    }
}
