import QtQuick
import Quorin
import Quorin.Controllers
import QtQuick.Controls

// Spinners, progress bars, sliders and scroll bars, side by side in their states.
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

    Column {
        anchors.fill: parent
        anchors.margins: Theme.largeSpacing
        spacing: Theme.largeSpacing

        GallerySection {
            title: "Spinners"

            QuorinSpinner {
                width: 12
                height: 12
            }
            QuorinSpinner {
                width: 20
                height: 20
            }
            QuorinSpinner {}
            QuorinSpinner {
                width: Theme.workspaceSpinnerSize
                height: Theme.workspaceSpinnerSize
            }
            Rectangle {
                width: 48
                height: 48
                radius: Theme.radius
                color: Theme.mediaBackground

                QuorinSpinner {
                    anchors.centerIn: parent
                    ringColor: Theme.mediaBorder
                    accentColor: Theme.mediaForeground
                }
            }
            QuorinSpinner {
                running: false
            }
        }

        GallerySection {
            title: "Progress bars"

            QuorinProgressBar {
                width: 200
                value: 0.42
            }
            QuorinProgressBar {
                width: 200
                from: 0
                to: 100
                value: 100
                height: 8
            }
            QuorinProgressBar {
                width: 200
                indeterminate: true
            }
            Rectangle {
                width: 232
                height: 24
                radius: Theme.radius
                color: Theme.mediaBackground

                QuorinProgressBar {
                    anchors.centerIn: parent
                    width: 200
                    value: 0.7
                    trackColor: Theme.mediaBorder
                    fillColor: Theme.mediaForeground
                }
            }
        }

        GallerySection {
            title: "Sliders"

            Rectangle {
                width: 320
                height: 72
                radius: Theme.radius
                color: Theme.mediaBackground

                QuorinSlider {
                    anchors.verticalCenter: parent.verticalCenter
                    anchors.verticalCenterOffset: 12
                    x: 12
                    width: 296
                    from: 0
                    to: 600000
                    value: 180000
                    bufferRanges: [{ startMs: 0, endMs: 240000 }, { startMs: 300000, endMs: 420000 }]
                }
            }
            Column {
                spacing: Theme.spacing

                QuorinSlider {
                    width: 240
                    mediaPalette: false
                    from: 0
                    to: 2
                    stepSize: 0.25
                    value: 1.25
                    valueBubbleVisible: true
                    topPadding: 36
                }
                QuorinSlider {
                    width: 240
                    mediaPalette: false
                    value: 0.3
                    enabled: false
                }
            }
        }

        GallerySection {
            title: "Scroll bars"

            Rectangle {
                width: 220
                height: 160
                color: Theme.surface
                border.color: Theme.border
                clip: true

                ListView {
                    anchors.fill: parent
                    anchors.margins: 1
                    model: 30
                    contentY: 200

                    delegate: Text {
                        required property int index

                        width: ListView.view.width
                        height: 28
                        leftPadding: Theme.smallSpacing
                        verticalAlignment: Text.AlignVCenter
                        text: "Lecture " + (index + 1)
                        color: Theme.text
                        font.family: Theme.fontFamily
                    }

                    ScrollBar.vertical: QuorinScrollBar {
                        lingering: visible
                    }
                }
            }
            Rectangle {
                width: 220
                height: 160
                color: Theme.surface
                border.color: Theme.border

                ListView {
                    anchors.fill: parent
                    anchors.margins: 1
                    model: 3

                    delegate: Text {
                        required property int index

                        width: ListView.view.width
                        height: 28
                        leftPadding: Theme.smallSpacing
                        verticalAlignment: Text.AlignVCenter
                        text: "Fits without a bar " + (index + 1)
                        color: Theme.text
                        font.family: Theme.fontFamily
                    }

                    ScrollBar.vertical: QuorinScrollBar {}
                }
            }
            QuorinScrollBar {
                height: 160
                orientation: Qt.Vertical
                size: 0.1
                position: 0.45
                lingering: visible
            }
        }
    }
}
