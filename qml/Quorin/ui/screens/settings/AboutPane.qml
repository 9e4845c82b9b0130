import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin
import Quorin.Controllers

// The application's name and version, the state of the self-update with its actions, and the
// help actions: the changelog, the legal pages, support, the diagnostic ZIP and the window of
// detailed diagnostics. Everything shown follows the controllers, so an update started elsewhere
// shows here at once.
Item {
    id: pane

    readonly property string productName: "Quorin Desktop"
    readonly property int updateState: UpdateController.state
    readonly property string updateStatusText: statusText(updateState)
    readonly property bool detailedDiagnostics: SettingsController.detailedDiagnosticsEnabled
    // On without a window that ends later: forced by the environment for the whole run. The
    // stored end time (none, or long past) says nothing then, and turning the switch off cannot
    // stick. Read when the state changes, not on a timer, so a window that ends while the pane
    // is shown keeps its label until the pane is shown again.
    readonly property bool diagnosticsForced: detailedDiagnostics
                                              && !(SettingsController.detailedDiagnosticsExpiry > new Date())

    function statusText(state) {
        switch (state) {
        case UpdateController.Checking:
            return qsTr("Checking for updates…")
        case UpdateController.UpToDate:
            return qsTr("Quorin is up to date.")
        case UpdateController.Available:
            return qsTr("Version %1 is available.").arg(UpdateController.availableVersion)
        case UpdateController.Downloading:
            return qsTr("Downloading version %1…").arg(UpdateController.availableVersion)
        case UpdateController.Ready:
            // Set when the desktop could not open the installer: what to do with it instead.
            if (UpdateController.errorMessage !== "")
                return UpdateController.errorMessage
            return qsTr("Version %1 is verified and ready to install.").arg(UpdateController.availableVersion)
        case UpdateController.OfflineGrace:
            return qsTr("Required update check is offline. Reconnect within %1 hours.")
                .arg(DisplayFormat.integer(Math.max(1, Math.ceil(UpdateController.graceRemainingSeconds / 3600))))
        case UpdateController.Required:
            return qsTr("A required update must be installed.")
        case UpdateController.Error:
            return UpdateController.errorMessage
        default:
            return qsTr("Updates have not been checked yet.")
        }
    }

    // The website's address from the build or the environment, without its trailing slashes.
    function websitePage(path) {
        return SettingsController.websiteUrl.replace(/\/+$/, "") + path
    }

    function diagnosticsLabel() {
        if (diagnosticsForced)
            return qsTr("Detailed diagnostics (always on in this session)")
        if (detailedDiagnostics)
            return qsTr("Detailed diagnostics (ends %1)")
                .arg(SettingsController.detailedDiagnosticsExpiry.toLocaleString(Qt.locale(), Locale.LongFormat))
        return qsTr("Detailed diagnostics for 3 hours")
    }

    objectName: "aboutPane"
    implicitWidth: column.implicitWidth
    implicitHeight: column.implicitHeight

    ColumnLayout {
        id: column

        anchors.fill: parent
        spacing: Theme.largeSpacing

        Label {
            objectName: "aboutHeading"
            Layout.fillWidth: true
            text: qsTr("About %1").arg(pane.productName)
            color: Theme.primary
            font.bold: true
            font.pixelSize: 18
        }

        Label {
            objectName: "aboutVersion"
            Layout.fillWidth: true
            // The isolates keep the number left to right inside Arabic text.
            text: qsTr("Version %1").arg("\u2066" + Qt.application.version + "\u2069")
            color: Theme.textSecondary
            font.pixelSize: 16
        }

        Rectangle {
            objectName: "updateBox"
            Layout.fillWidth: true
            Layout.preferredHeight: updateColumn.implicitHeight + 2 * Theme.spacing
            color: Theme.backgroundElevated
            border.width: 1
            border.color: Theme.border
            radius: Theme.radius

            ColumnLayout {
                id: updateColumn

                anchors.fill: parent
                anchors.margins: Theme.spacing
                spacing: Theme.smallSpacing

                Label {
                    Layout.fillWidth: true
                    text: qsTr("Software updates")
                    color: Theme.text
                    font.bold: true
                }

                Label {
                    objectName: "updateStatus"
                    Layout.fillWidth: true
                    wrapMode: Text.Wrap
                    text: pane.updateStatusText
                    color: pane.updateState === UpdateController.Error ? Theme.error : Theme.textSecondary
                }

                QuorinProgressBar {
                    objectName: "updateProgress"
                    Layout.fillWidth: true
                    visible: pane.updateState === UpdateController.Downloading
                    value: UpdateController.progress
                    Accessible.name: qsTr("Update download progress")
                }

                RowLayout {
                    Layout.fillWidth: true
                    spacing: Theme.smallSpacing

                    QuorinButton {
                        objectName: "checkForUpdatesButton"
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        text: qsTr("Check for updates")
                        enabled: pane.updateState !== UpdateController.Checking
                                 && pane.updateState !== UpdateController.Downloading
                        Accessible.name: text
                        onClicked: UpdateController.checkForUpdates()
                    }

                    QuorinButton {
                        objectName: "installUpdateButton"
                        Layout.fillWidth: true
                        Layout.preferredWidth: 1
                        visible: pane.updateState === UpdateController.Available
                                 || pane.updateState === UpdateController.Ready
                        text: pane.updateState === UpdateController.Ready ? qsTr("Install") : qsTr("Update")
                        Accessible.name: text
                        onClicked: {
                            if (pane.updateState === UpdateController.Ready)
                                UpdateController.install()
                            else
                                UpdateController.download()
                        }
                    }
                }
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            spacing: Theme.spacing

            QuorinButton {
                objectName: "whatsNewButton"
                Layout.fillWidth: true
                isOutline: true
                text: qsTr("What’s new")
                Accessible.name: text
                onClicked: ChangelogController.reopen()
            }

            QuorinButton {
                objectName: "privacyPolicyButton"
                Layout.fillWidth: true
                isOutline: true
                text: qsTr("Privacy policy")
                Accessible.name: text
                onClicked: SettingsController.openUrl(pane.websitePage("/privacy-policy"))
            }

            QuorinButton {
                objectName: "termsOfServiceButton"
                Layout.fillWidth: true
                isOutline: true
                text: qsTr("Terms of service")
                Accessible.name: text
                onClicked: SettingsController.openUrl(pane.websitePage("/terms-of-service"))
            }

            QuorinButton {
                objectName: "contactSupportButton"
                Layout.fillWidth: true
                isOutline: true
                text: qsTr("Contact support (Telegram)")
                iconSource: "qrc:/qt/qml/Quorin/assets/icons/telegram.svg"
                iconSize: 24
                Accessible.name: text
                onClicked: SettingsController.openSupportChat()
            }

            QuorinButton {
                objectName: "saveDiagnosticsButton"
                Layout.fillWidth: true
                isOutline: true
                text: qsTr("Save diagnostic ZIP")
                Accessible.name: text
                onClicked: SettingsController.saveDiagnosticBundle("")
            }

            RowLayout {
                Layout.fillWidth: true
                spacing: Theme.spacing

                Label {
                    objectName: "detailedDiagnosticsLabel"
                    Layout.fillWidth: true
                    wrapMode: Text.Wrap
                    text: pane.diagnosticsLabel()
                    color: Theme.textSecondary
                }

                QuorinSwitch {
                    objectName: "detailedDiagnosticsSwitch"
                    checked: pane.detailedDiagnostics
                    enabled: !pane.diagnosticsForced
                    Accessible.name: qsTr("Detailed diagnostics for 3 hours")
                    onToggled: {
                        SettingsController.detailedDiagnosticsEnabled = checked
                        // A write the controller refuses leaves the switch where the state is.
                        checked = Qt.binding(() => pane.detailedDiagnostics)
                    }
                }
            }

            QuorinButton {
                objectName: "revealDiagnosticsButton"
                Layout.fillWidth: true
                isOutline: true
                visible: SettingsController.lastDiagnosticBundlePath !== ""
                text: qsTr("Reveal diagnostic ZIP")
                Accessible.name: text
                onClicked: SettingsController.revealDiagnosticBundle()
            }
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true
        }
    }
}
