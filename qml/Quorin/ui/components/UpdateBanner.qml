import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin

// The release offer above the pages, until the self-update views are built: the offered
// version with its one next step, or the warning of a required update's grace period. Shown in
// the grace period, or while an update that is not required is offered, downloading or ready,
// unless the user dismissed it.
Pane {
    id: banner

    // An UpdateController state: Available 3, Downloading 4, Ready 5, OfflineGrace 6.
    property int updateState: 0
    property bool updateRequired: false
    property bool dismissed: false
    property string version: ""
    property string errorMessage: ""
    property real progress: 0
    property real graceRemainingSeconds: 0

    readonly property bool inGrace: updateState === 6
    readonly property bool offered: updateState === 3 || updateState === 4 || updateState === 5

    signal updateRequested()
    signal installRequested()
    signal dismissRequested()

    objectName: "updateBanner"
    visible: inGrace || (!updateRequired && !dismissed && offered)
    implicitWidth: Math.max(320, implicitContentWidth + leftPadding + rightPadding)
    padding: Theme.spacing

    background: Rectangle {
        color: banner.inGrace ? Theme.warning : Theme.surfaceElevated
        radius: Theme.radius
        border.width: 1
        border.color: banner.inGrace ? Qt.lighter(Theme.warning, 1.25) : Theme.borderStrong
    }

    contentItem: RowLayout {
        spacing: Theme.spacing

        Text {
            objectName: "updateBannerText"
            text: {
                if (banner.inGrace)
                    return qsTr("An update is required. Update within %1 hours to keep using the application.")
                        .arg(Math.ceil(banner.graceRemainingSeconds / 3600))
                if (banner.updateState === 4)
                    return qsTr("Downloading version %1: %2%").arg(banner.version)
                        .arg(Math.round(banner.progress * 100))
                if (banner.updateState === 5)
                    return qsTr("Version %1 is ready to install.").arg(banner.version)
                return qsTr("Version %1 is available.").arg(banner.version)
            }
            color: banner.inGrace ? Theme.accentForeground : Theme.text
            font.family: Theme.fontFamily
            font.pixelSize: 14
            font.bold: true
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
            Layout.maximumWidth: 420
        }

        QuorinButton {
            objectName: "updateBannerPrimaryButton"
            visible: banner.updateState !== 4
            text: banner.updateState === 5 ? qsTr("Install") : qsTr("Update")
            compact: true
            onClicked: banner.updateState === 5 ? banner.installRequested() : banner.updateRequested()
        }

        QuorinButton {
            objectName: "updateBannerDismissButton"
            visible: !banner.inGrace
            text: qsTr("Later")
            compact: true
            isOutline: true
            onClicked: banner.dismissRequested()
        }
    }
}
