import QtQuick
import QtQuick.Controls
import Quorin
import Quorin.Controllers

// The application's one window. It shows at once with a splash, creates the page stack behind
// it asynchronously and fades the splash out once the stack stands. Above the pages it hosts the
// update banner, the update and changelog dialogs and the one snackbar host, and it mirrors the
// whole layout for right-to-left languages.
ApplicationWindow {
    id: window

    readonly property string retryUpdateDownloadAction: "retryUpdateDownload"
    // Long enough to read a sentence and reach its action.
    readonly property int updateNoticeDurationMs: 8000

    width: 1024
    height: 768
    minimumWidth: 640
    minimumHeight: 480
    visible: true
    // The brand reads the same in every language.
    title: "Quorin Desktop"
    color: Theme.background
    font.family: Theme.fontFamily

    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
    LayoutMirroring.childrenInherit: true

    FontLoader {
        source: "qrc:/qt/qml/Quorin/assets/fonts/IBMPlexSansArabic-Regular.ttf"
    }
    FontLoader {
        source: "qrc:/qt/qml/Quorin/assets/fonts/IBMPlexSansArabic-Medium.ttf"
    }
    FontLoader {
        source: "qrc:/qt/qml/Quorin/assets/fonts/IBMPlexSansArabic-SemiBold.ttf"
    }
    FontLoader {
        source: "qrc:/qt/qml/Quorin/assets/fonts/IBMPlexSansArabic-Bold.ttf"
    }

    Loader {
        id: pageStackLoader

        objectName: "pageStackLoader"
        anchors.fill: parent
        z: 0
        // The page stack's root handles the last Escape, so the keyboard goes to it.
        focus: true
        asynchronous: true
        source: "AppWrapper.qml"
    }

    Item {
        id: splash

        objectName: "splash"
        anchors.fill: parent
        z: 100
        opacity: pageStackLoader.status === Loader.Ready ? 0 : 1
        visible: opacity > 0

        // A fixed length: the splash does not follow the animation speed preference.
        Behavior on opacity {
            NumberAnimation {
                duration: 800
                easing.type: Easing.InOutQuad
            }
        }

        Rectangle {
            anchors.fill: parent
            color: Theme.background
        }

        Item {
            id: ambientCircles

            objectName: "splashAmbientCircles"
            width: 400
            height: 400
            anchors.centerIn: parent

            RotationAnimation on rotation {
                from: 0
                to: 360
                duration: 20000
                loops: Animation.Infinite
                running: splash.visible
            }

            Rectangle {
                objectName: "splashPrimaryCircle"
                width: 250
                height: 250
                radius: 125
                anchors.top: parent.top
                anchors.left: parent.left
                color: Theme.primary
                opacity: 0.15
            }

            Rectangle {
                objectName: "splashVariantCircle"
                width: 200
                height: 200
                radius: 100
                anchors.bottom: parent.bottom
                anchors.right: parent.right
                color: Theme.primaryVariant
                opacity: 0.15
            }
        }

        Rectangle {
            id: card

            objectName: "splashCard"
            width: 320
            height: 220
            anchors.centerIn: parent
            radius: 24
            color: Theme.surface
            border.width: 1
            border.color: Theme.border
            // A transform, so the float leaves the card's anchoring alone.
            transform: Translate {
                id: cardFloat

                SequentialAnimation on y {
                    loops: Animation.Infinite
                    running: splash.visible

                    NumberAnimation {
                        from: 0
                        to: -10
                        duration: 2000
                        easing.type: Easing.InOutSine
                    }
                    NumberAnimation {
                        from: -10
                        to: 0
                        duration: 2000
                        easing.type: Easing.InOutSine
                    }
                }
            }

            Column {
                anchors.centerIn: parent
                spacing: 24

                Image {
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 48
                    height: 48
                    source: "qrc:/qt/qml/Quorin/assets/logo.png"
                    sourceSize.width: 48
                    sourceSize.height: 48
                    smooth: true
                    antialiasing: true
                    fillMode: Image.PreserveAspectFit
                }

                Text {
                    objectName: "splashTitle"
                    anchors.horizontalCenter: parent.horizontalCenter
                    // The brand reads the same in every language.
                    text: "Quorin Desktop"
                    color: Theme.text
                    font.family: Theme.fontFamily
                    font.pixelSize: 28
                    font.bold: true
                    font.letterSpacing: 2
                    horizontalAlignment: Text.AlignHCenter
                }

                Rectangle {
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 200
                    height: 6
                    radius: 3
                    color: Theme.surfaceMuted

                    // Grows from the middle towards both ends and shrinks back.
                    Rectangle {
                        height: parent.height
                        radius: 3
                        anchors.horizontalCenter: parent.horizontalCenter
                        color: Theme.primary

                        SequentialAnimation on width {
                            loops: Animation.Infinite
                            running: splash.visible

                            NumberAnimation {
                                from: 0
                                to: 200
                                duration: 1500
                                easing.type: Easing.InOutQuad
                            }
                            NumberAnimation {
                                from: 200
                                to: 0
                                duration: 1500
                                easing.type: Easing.InOutQuad
                            }
                        }
                    }
                }
            }
        }
    }

    UpdateBanner {
        z: 200
        anchors.top: parent.top
        anchors.topMargin: Theme.spacing
        anchors.horizontalCenter: parent.horizontalCenter
        width: Math.min(implicitWidth, window.width - 2 * Theme.spacing)
        updateState: UpdateController.state
        updateRequired: UpdateController.required
        dismissed: UpdateController.dismissed
        version: UpdateController.availableVersion
        errorMessage: UpdateController.errorMessage
        progress: UpdateController.progress
        graceRemainingSeconds: UpdateController.graceRemainingSeconds
        onUpdateRequested: UpdateController.download()
        onInstallRequested: UpdateController.install()
        onDismissRequested: UpdateController.dismiss()
    }

    RequiredUpdateDialog {
        updateState: UpdateController.state
        version: UpdateController.availableVersion
        errorMessage: UpdateController.errorMessage
        progress: UpdateController.progress
        // In the offline grace period the banner carries the warning instead.
        visible: UpdateController.required && UpdateController.state !== UpdateController.OfflineGrace
        onUpdateRequested: UpdateController.download()
        onInstallRequested: UpdateController.install()
        onRetryRequested: UpdateController.retry()
        onExitRequested: UpdateController.exitApplication()
    }

    // The banner hides when a download or an installation fails, so a user the required-update
    // dialog does not block reads why here; under the dialog it is the dialog's error line.
    Connections {
        target: UpdateController

        function onDownloadFailed(message) {
            if (!UpdateController.required)
                Snackbar.show(message, "error", qsTr("Try again"), window.retryUpdateDownloadAction,
                              window.updateNoticeDurationMs)
        }
    }

    Connections {
        target: Snackbar

        function onActionTriggered(actionId) {
            if (actionId === window.retryUpdateDownloadAction)
                UpdateController.download()
        }
    }

    ChangelogDialog {}

    SnackbarHost {
        z: 1000
        anchors.top: parent.top
        anchors.topMargin: Theme.spacing
        anchors.horizontalCenter: parent.horizontalCenter
    }
}
