import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin

// The banner at the top of the main window: it offers an optional release, shows its download and
// its verified installer, and warns while a required release waits for a connection (the offline
// grace period). It only shows what it is given; the main window binds it to UpdateController and
// turns its signals into the controller's operations. The state numbers are UpdateController's.
Pane {
    id: banner

    property int updateState: 0
    property bool updateRequired: false
    property bool dismissed: false
    property string version: ""
    // Shown only beside a verified installer, where it says what to do with the file when the
    // desktop could not open it; the banner hides in every failed state.
    property string errorMessage: ""
    property real progress: 0
    property double graceRemainingSeconds: 0
    property bool availableState: updateState === 3
    property bool downloadingState: updateState === 4
    property bool readyState: updateState === 5
    property bool graceState: updateState === 6
    // The grace warning shows whatever the requirement and dismissal say; an optional release
    // hides once dismissed or once it turns out to be required (the dialog takes over then).
    readonly property bool shouldShow: graceState
                                       || (!updateRequired && !dismissed
                                           && (availableState || downloadingState || readyState))
    // Whole hours left, rounded up and never below 1: "within 0 hours" would read as too late.
    readonly property string graceHoursText: DisplayFormat.integer(Math.max(1, Math.ceil(graceRemainingSeconds / 3600)))

    signal updateRequested()
    signal installRequested()
    signal dismissRequested()

    objectName: "updateBanner"
    visible: shouldShow
    padding: Theme.spacing
    implicitWidth: Math.max(320, implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: implicitContentHeight + topPadding + bottomPadding

    Accessible.role: Accessible.AlertMessage
    Accessible.name: graceState ? qsTr("Required update grace period warning") : qsTr("Software update available")

    background: Rectangle {
        objectName: "updateBannerBackground"
        radius: Theme.radius
        color: banner.graceState ? Qt.rgba(Theme.warning.r, Theme.warning.g, Theme.warning.b, 0.15)
                                 : Theme.surfaceElevated
        border.width: 1
        border.color: banner.graceState ? Theme.warning : Theme.borderStrong
    }

    contentItem: RowLayout {
        spacing: Theme.spacing

        ColumnLayout {
            spacing: Theme.smallSpacing
            Layout.fillWidth: true
            Layout.alignment: Qt.AlignVCenter

            Text {
                objectName: "updateBannerTitle"
                text: banner.graceState ? qsTr("A required update could not be checked")
                                        : qsTr("Quorin %1 is available").arg(banner.version)
                color: banner.graceState ? Theme.warning : Theme.text
                font.family: Theme.fontFamily
                font.pixelSize: 15
                font.bold: true
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }

            Text {
                objectName: "updateBannerBody"
                text: {
                    if (banner.graceState)
                        return qsTr("Connect within %1 hours to keep using Quorin.").arg(banner.graceHoursText)
                    if (banner.downloadingState)
                        return qsTr("Downloading update…")
                    if (banner.readyState)
                        return banner.errorMessage !== "" ? banner.errorMessage
                                                          : qsTr("The verified installer is ready.")
                    return qsTr("Download and install when convenient.")
                }
                color: Theme.textSecondary
                font.family: Theme.fontFamily
                font.pixelSize: 13
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }

            QuorinProgressBar {
                objectName: "updateBannerProgress"
                visible: banner.downloadingState && !banner.graceState
                value: banner.progress
                Accessible.name: qsTr("Update download progress")
                Layout.fillWidth: true
            }
        }

        QuorinButton {
            objectName: "updateBannerPrimaryButton"
            visible: !banner.graceState && !banner.downloadingState
            text: banner.readyState ? qsTr("Install") : qsTr("Update")
            Accessible.name: text
            Layout.alignment: Qt.AlignVCenter
            onClicked: banner.readyState ? banner.installRequested() : banner.updateRequested()
        }

        QuorinButton {
            objectName: "updateBannerDismissButton"
            visible: !banner.graceState && !banner.downloadingState
            isOutline: true
            text: qsTr("Dismiss")
            Accessible.name: qsTr("Dismiss this update notification")
            Layout.alignment: Qt.AlignVCenter
            onClicked: banner.dismissRequested()
        }
    }
}
