import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin
import Quorin.Controllers

// Shows one failure in full: a plain summary, the failure code with its technical details behind
// a toggle, and the ways to get help: copy code and details, save a diagnostic bundle, reveal the
// saved bundle, contact support. The saved bundle's path belongs to SettingsController for the
// whole run, so a bundle saved elsewhere shows here at once, and a failed save hides it again.
QuorinDialog {
    id: dialog

    // An AppFailure, or any object with code, userMessage and technicalDetails.
    property var failure: ({ code: "", userMessage: "", technicalDetails: "" })
    // Used when the failure carries no technical details of its own.
    property string errorDetails: ""
    readonly property string failureCode: textOf(failure, "code") !== "" ? textOf(failure, "code") : "UNEXPECTED_ERROR"
    readonly property string summary: textOf(failure, "userMessage") !== "" ? textOf(failure, "userMessage")
                                                                           : qsTr("We couldn't complete that action.")
    readonly property string detailsText: textOf(failure, "technicalDetails") !== ""
                                          ? textOf(failure, "technicalDetails") : errorDetails
    readonly property string copiedText: failureCode + "\n" + detailsText

    // A missing record or field reads as empty rather than as "undefined".
    function textOf(record, field) {
        if (!record)
            return ""
        const value = record[field]
        return value === undefined || value === null ? "" : String(value)
    }

    headerText: qsTr("Something went wrong")
    confirmText: qsTr("Dismiss")
    showCancel: false
    headerColor: Theme.error
    width: parent ? Math.max(0, Math.min(620, parent.width - 2 * Theme.largeSpacing)) : 620

    contentItem: ColumnLayout {
        objectName: "technicalErrorContent"
        spacing: Theme.spacing

        Label {
            objectName: "technicalErrorSummary"
            text: dialog.summary
            color: Theme.text
            font.pixelSize: 16
            horizontalAlignment: Text.AlignLeft
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
            Layout.leftMargin: Theme.largeSpacing
            Layout.rightMargin: Theme.largeSpacing
            Layout.topMargin: Theme.spacing
        }

        QuorinNotice {
            objectName: "technicalErrorNotice"
            severity: "error"
            title: qsTr("Error code: %1").arg(dialog.failureCode)
            message: qsTr("Technical information is available if you need to share it with support.")
            details: dialog.detailsText
            Layout.fillWidth: true
            Layout.margins: Theme.largeSpacing
        }

        Label {
            objectName: "technicalErrorSavedLocation"
            visible: SettingsController.lastDiagnosticBundlePath !== ""
            text: qsTr("Saved to: %1").arg(SettingsController.lastDiagnosticBundlePath)
            color: Theme.textSecondary
            // Explicit, so that a path still starts at the right edge of a mirrored dialog.
            horizontalAlignment: Text.AlignLeft
            // A long path breaks inside its folder names.
            wrapMode: Text.WrapAnywhere
            Layout.fillWidth: true
            Layout.leftMargin: Theme.largeSpacing
            Layout.rightMargin: Theme.largeSpacing
        }

        // A button that is hidden takes no cell, so Reveal joins Contact support on the second row.
        // The buttons share one preferred width, so both columns are equal whatever their texts.
        GridLayout {
            objectName: "technicalErrorActions"
            columns: 2
            rowSpacing: Theme.smallSpacing
            columnSpacing: Theme.smallSpacing
            Layout.fillWidth: true
            Layout.leftMargin: Theme.largeSpacing
            Layout.rightMargin: Theme.largeSpacing
            Layout.bottomMargin: Theme.spacing

            QuorinButton {
                objectName: "technicalErrorCopyButton"
                text: qsTr("Copy")
                isOutline: true
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                onClicked: SettingsController.copyText(dialog.copiedText)
            }

            QuorinButton {
                objectName: "technicalErrorSaveButton"
                text: qsTr("Save diagnostics")
                isOutline: true
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                // The path is followed through lastDiagnosticBundlePath, not taken from here.
                onClicked: SettingsController.saveDiagnosticBundle(dialog.failureCode)
            }

            QuorinButton {
                objectName: "technicalErrorRevealButton"
                visible: SettingsController.lastDiagnosticBundlePath !== ""
                text: qsTr("Reveal saved location")
                isOutline: true
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                onClicked: SettingsController.revealDiagnosticBundle()
            }

            QuorinButton {
                objectName: "technicalErrorSupportButton"
                text: qsTr("Contact support")
                Layout.fillWidth: true
                Layout.preferredWidth: 1
                onClicked: SettingsController.openSupportChat()
            }
        }
    }
}
