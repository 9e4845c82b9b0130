import QtQuick
import Quorin
import Quorin.Controllers

// Buttons, the back button and icons, side by side in their states.
Item {
    id: gallery

    width: 1024
    height: 768
    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
    LayoutMirroring.childrenInherit: true

    readonly property string icons: "qrc:/qt/qml/Quorin/assets/icons/"

    Rectangle {
        anchors.fill: parent
        color: Theme.background
    }

    Column {
        anchors.fill: parent
        anchors.margins: Theme.largeSpacing
        spacing: Theme.largeSpacing

        GallerySection {
            title: "Filled"

            QuorinButton {
                text: "Save"
            }
            QuorinButton {
                text: "Download lecture"
                iconSource: gallery.icons + "download.svg"
            }
            QuorinButton {
                text: "Delete"
                buttonColor: Theme.error
            }
            QuorinButton {
                text: "Disabled"
                enabled: false
            }
            QuorinButton {
                text: "Loading"
                isLoading: true
            }
            QuorinButton {
                id: focusedFilled

                text: "Focused"
            }
        }

        GallerySection {
            title: "Outline"

            QuorinButton {
                text: "Cancel"
                isOutline: true
            }
            QuorinButton {
                text: "Export"
                isOutline: true
                iconSource: gallery.icons + "export-pdf.svg"
            }
            QuorinButton {
                text: "Disabled"
                isOutline: true
                enabled: false
            }
            QuorinButton {
                text: "Loading"
                isOutline: true
                isLoading: true
            }
        }

        GallerySection {
            title: "Compact and icon only"

            QuorinButton {
                text: "\u00d7"
                compact: true
                isOutline: true
                leftPadding: 8
                rightPadding: 8
            }
            QuorinButton {
                text: "OK"
                compact: true
            }
            QuorinButton {
                width: 56
                height: 56
                padding: 0
                text: ""
                iconSource: gallery.icons + "support-agent.svg"
                iconSize: 28
                cornerRadius: width / 2
            }
            QuorinButton {
                width: 56
                height: 56
                padding: 0
                text: ""
                iconSource: gallery.icons + "play.svg"
                iconSize: 28
                cornerRadius: width / 2
                isLoading: true
            }
        }

        GallerySection {
            title: "Back button"

            QuorinBackIconButton {}
            QuorinBackIconButton {
                opacity: 0.5
            }
        }

        GallerySection {
            title: "Icons"

            Repeater {
                model: ["arrow-back", "arrow-forward", "bell", "check", "download", "eye", "gear", "lock",
                        "person", "play", "trash", "vault"]

                QuorinIcon {
                    required property string modelData

                    width: 24
                    height: 24
                    source: gallery.icons + modelData + ".svg"
                }
            }
            QuorinIcon {
                width: 24
                height: 24
                source: gallery.icons + "arrow-back.svg"
                directional: true
                tint: Theme.primary
            }
            QuorinIcon {
                width: 24
                height: 24
                source: gallery.icons + "bell.svg"
                tint: Theme.error
            }
            QuorinIcon {
                width: 24
                height: 24
            }
        }
    }

    // Only focus from the keyboard shows a button's ring, and one control of a window holds it.
    Component.onCompleted: focusedFilled.forceActiveFocus(Qt.TabFocusReason)
}
