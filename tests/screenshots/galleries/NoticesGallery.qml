import QtQuick
import Quorin
import Quorin.Controllers

// Inline notices of every severity, one with its technical details open, and the full-page
// failure state with and without Retry.
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
        x: Theme.largeSpacing
        y: Theme.largeSpacing
        width: 440
        spacing: Theme.spacing

        QuorinNotice {
            width: parent.width
            severity: "success"
            title: "Profile saved"
            message: "Your changes are visible on every device."
        }

        QuorinNotice {
            width: parent.width
            severity: "warning"
            message: "You are offline. Your answer is kept on this computer until the connection returns."
            actionText: "Keep answer"
        }

        QuorinNotice {
            width: parent.width
            severity: "info"
            message: "The lecture is downloading; it plays without a connection once it is done."
        }

        QuorinNotice {
            width: parent.width
            severity: "error"
            title: "Download failed"
            message: "The lecture could not be saved to the offline vault."
            actionText: "Retry"
            details: "DOWNLOAD_FAILED: write /home/student/.local/share/quorin/desktop/downloads/cache/"
                     + "5f1c9e07a2b34d6e8f90a1b2c3d4e5f60718293a4b5c6d7e8f9012345 failed: no space left on device"
            detailsExpanded: true
        }
    }

    Column {
        x: 504
        y: Theme.largeSpacing
        width: 488
        spacing: Theme.spacing

        Rectangle {
            width: parent.width
            height: 340
            radius: Theme.radius
            color: Theme.surface
            border.color: Theme.border

            QuorinFailureState {
                anchors.fill: parent
                message: "The course could not be loaded. Check your connection and try again."
                code: "UNEXPECTED_ERROR"
            }
        }

        Rectangle {
            width: parent.width
            height: 300
            radius: Theme.radius
            color: Theme.surface
            border.color: Theme.border

            QuorinFailureState {
                anchors.fill: parent
                title: "Quiz closed"
                message: "This quiz is no longer open for answers."
                retryable: false
            }
        }
    }
}
