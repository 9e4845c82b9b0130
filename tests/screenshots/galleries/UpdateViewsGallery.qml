import QtQuick
import QtQuick.Controls
import Quorin
import Quorin.Controllers

// The required-update dialog with a known version, while it downloads, and without a version
// (its error line shown), and the update banner in the states it shows: an offer, its download at
// 40 %, the verified installer (also as the desktop could not open it) and the offline grace
// warning. The dialogs lie side by side here,
// at the width they have in a window, and none of them dims the others.
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

    // Room for one dialog, which lies at its top left corner, 488 wide.
    component DialogFrame: Item {
        id: frame

        property alias updateState: dialog.updateState
        property alias version: dialog.version
        property alias errorMessage: dialog.errorMessage
        property alias progress: dialog.progress

        width: 520
        height: dialog.height

        RequiredUpdateDialog {
            id: dialog

            parent: frame
            anchors.centerIn: undefined
            x: 0
            y: 0
            modal: false
            dim: false
            visible: true
        }
    }

    Column {
        x: Theme.smallSpacing
        y: Theme.smallSpacing
        spacing: Theme.spacing

        Row {
            DialogFrame {
                updateState: 7
                version: "1.0.9"
            }

            DialogFrame {
                updateState: 4
                version: "1.0.9"
                progress: 0.4
            }
        }

        Row {
            DialogFrame {
                updateState: 7
                errorMessage: qsTranslate("UpdateController", "The required-update grace period has expired.")
            }

            Column {
                spacing: Theme.smallSpacing

                UpdateBanner {
                    width: 488
                    updateState: 3
                    version: "1.0.9"
                }

                UpdateBanner {
                    width: 488
                    updateState: 4
                    version: "1.0.9"
                    progress: 0.4
                }

                UpdateBanner {
                    width: 488
                    updateState: 5
                    version: "1.0.9"
                }

                UpdateBanner {
                    width: 488
                    updateState: 5
                    version: "1.0.9"
                    errorMessage: qsTranslate("UpdateController",
                                              "Open the downloaded package with your system's software installer.")
                }

                UpdateBanner {
                    width: 488
                    updateState: 6
                    updateRequired: true
                    graceRemainingSeconds: 5 * 3600 + 60
                }
            }
        }
    }
}
