import QtQuick
import Quorin
import Quorin.Controllers
import QtQuick.Controls

// The pop-up in both palettes and tool tips short and long, shown open.
Item {
    id: gallery

    width: 1024
    height: 768
    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
    LayoutMirroring.childrenInherit: true

    Rectangle {
        anchors.fill: parent
        color: Theme.background
    }

    component GalleryPopup: QuorinPopup {
        id: popup

        width: 260
        height: rows.implicitHeight
        visible: true
        closePolicy: Popup.NoAutoClose

        contentItem: Column {
            id: rows

            padding: Theme.smallSpacing

            Repeater {
                model: [
                    { text: "1080p", state: "current" },
                    { text: "720p", state: "hovered" },
                    { text: "480p", state: "pressed" },
                    { text: "360p (unavailable)", state: "muted" }
                ]

                Rectangle {
                    required property var modelData

                    width: 260 - 2 * Theme.smallSpacing
                    height: 36
                    radius: Theme.radius - 2
                    color: modelData.state === "hovered" ? popup.hoverColor
                                                         : modelData.state === "pressed" ? popup.pressedColor : "transparent"

                    Text {
                        anchors.verticalCenter: parent.verticalCenter
                        x: Theme.smallSpacing
                        text: modelData.text
                        font.family: Theme.fontFamily
                        font.pixelSize: 14
                        color: modelData.state === "muted" ? popup.mutedTextColor
                                                           : modelData.state === "current" ? popup.secondaryTextColor
                                                                                           : popup.textColor
                    }
                }
            }
        }
    }

    GalleryPopup {
        x: Theme.largeSpacing
        y: Theme.largeSpacing
    }

    // The media palette lies over the picture of a video.
    Rectangle {
        x: 340
        y: Theme.largeSpacing
        width: 340
        height: 260
        color: Theme.mediaBackground

        GalleryPopup {
            x: 40
            y: 40
            mediaStyle: true
        }
    }

    Rectangle {
        id: shortAnchor

        x: 120
        y: 440
        width: 80
        height: 32
        radius: Theme.radius
        color: Theme.surfaceMuted

        QuorinToolTip {
            text: "Back"
            delay: 0
            timeout: -1
            visible: true
        }
    }

    Rectangle {
        x: 420
        y: 560
        width: 120
        height: 32
        radius: Theme.radius
        color: Theme.surfaceMuted

        QuorinToolTip {
            text: "Downloads stay encrypted on this computer and play without a connection; they are removed when you sign out."
            delay: 0
            timeout: -1
            visible: true
        }
    }
}
