import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin
import Quorin.Controllers

// The push-notifications preference and the link between the account and Telegram. The link
// state lives in SettingsController; the pane keeps only the notice of the last Telegram failure
// that arrived while it was shown.
Item {
    id: pane

    readonly property bool compactLayout: width < 500
    readonly property string telegramIcon: "qrc:/qt/qml/Quorin/assets/icons/telegram.svg"

    function clearError() {
        errorNotice.message = ""
        errorNotice.details = ""
    }

    // A Telegram failure as the controller hands it over.
    function showFailure(failure) {
        errorNotice.severity = failure.severity || "error"
        errorNotice.details = failure.technicalDetails || ""
        errorNotice.message = failure.userMessage || ""
    }

    function refreshStatus() {
        clearError()
        SettingsController.fetchTelegramStatus()
    }

    function toggleLink() {
        clearError()
        if (SettingsController.telegramIsConnected)
            SettingsController.disconnectTelegram()
        else
            SettingsController.linkTelegram()
    }

    objectName: "integrationsPane"
    implicitWidth: column.implicitWidth
    implicitHeight: column.implicitHeight

    Connections {
        target: SettingsController

        function onTelegramError(failure) {
            pane.showFailure(failure)
        }
    }

    ColumnLayout {
        id: column

        anchors.fill: parent
        spacing: Theme.largeSpacing

        Label {
            objectName: "integrationsHeading"
            Layout.fillWidth: true
            text: qsTr("Integrations & notifications")
            color: Theme.primary
            font.bold: true
            font.pixelSize: 18
        }

        RowLayout {
            Layout.fillWidth: true
            spacing: Theme.spacing

            Label {
                objectName: "pushNotificationsLabel"
                Layout.fillWidth: true
                text: qsTr("Push notifications")
                color: Theme.text
                font.pixelSize: 16
            }

            QuorinSwitch {
                objectName: "pushNotificationsSwitch"
                checked: SettingsController.notificationsEnabled
                Accessible.name: qsTr("Push notifications")
                onToggled: SettingsController.notificationsEnabled = checked
            }
        }

        Rectangle {
            objectName: "integrationsSeparator"
            Layout.fillWidth: true
            Layout.preferredHeight: 1
            color: "#1AFFFFFF"
        }

        GridLayout {
            objectName: "telegramGrid"
            Layout.fillWidth: true
            columns: pane.compactLayout ? 1 : 3
            rowSpacing: Theme.smallSpacing
            columnSpacing: Theme.smallSpacing

            ColumnLayout {
                objectName: "telegramStatusColumn"
                Layout.fillWidth: true
                spacing: 4

                Label {
                    Layout.fillWidth: true
                    text: qsTr("Telegram")
                    color: Theme.text
                    font.bold: true
                    font.pixelSize: 16
                }

                Label {
                    objectName: "telegramStatus"
                    Layout.fillWidth: true
                    text: SettingsController.telegramIsLoading ? qsTr("Loading...")
                        : SettingsController.telegramIsConnected ? qsTr("Connected")
                        : qsTr("Disconnected")
                    color: SettingsController.telegramIsConnected ? Theme.primary : Theme.textSecondary
                }

                QuorinNotice {
                    id: errorNotice

                    objectName: "telegramErrorNotice"
                    Layout.fillWidth: true
                }
            }

            QuorinButton {
                objectName: "telegramRefreshButton"
                Layout.fillWidth: pane.compactLayout
                visible: !SettingsController.telegramIsConnected
                text: qsTr("Refresh status")
                isOutline: true
                isLoading: SettingsController.telegramIsLoading
                Accessible.name: text
                onClicked: pane.refreshStatus()
            }

            QuorinButton {
                objectName: "telegramLinkButton"
                Layout.fillWidth: pane.compactLayout
                text: SettingsController.telegramIsConnected ? qsTr("Disconnect") : qsTr("Link Telegram")
                isOutline: true
                buttonColor: "#2AABEE"
                iconSource: pane.telegramIcon
                isLoading: SettingsController.telegramIsLoading
                Accessible.name: text
                onClicked: pane.toggleLink()
            }
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true
        }
    }
}
