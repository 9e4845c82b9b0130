import QtQuick
import Quorin.Controllers

// The real settings page (SettingsScene) turned to its appearance, integrations or about pane,
// brought into one of their states through what a user would do. Each gallery of these panes
// names its scene; "ready" turns true once the scene stands.
Item {
    id: gallery

    // "appearance", "integrations", "integrationsRefreshFailed" or "aboutDiagnostics".
    property string scene: "appearance"
    readonly property bool followsWindowSize: true
    property bool ready: false
    property int step: 0

    // A refused status request as the controller reports it; the sample platform never refuses one.
    readonly property var refreshFailure: ({
        severity: "critical",
        userMessage: qsTranslate("QObject", "The request could not be completed."),
        technicalDetails: "{\"error\":\"unavailable\"}"
    })

    function categoryOf(name) {
        return name === "appearance" ? 2 : name === "aboutDiagnostics" ? 4 : 3
    }

    function click(objectName) {
        settings.find(settings.currentPane(), objectName).clicked()
    }

    // One step a tick; false while the scene still waits for something.
    function advance() {
        if (!settings.ready || settings.find(settings, "settingsPaneStack").busy
                || SettingsController.telegramIsLoading)
            return false
        if (step === 0) {
            settings.chooseCategory(categoryOf(scene))
            step = 1
            return false
        }
        switch (scene) {
        case "integrationsRefreshFailed":
            settings.find(settings.currentPane(), "integrationsPane").showFailure(refreshFailure)
            return true
        case "aboutDiagnostics": {
            if (step === 1) {
                click("saveDiagnosticsButton")
                // What the switch writes when turned on.
                SettingsController.detailedDiagnosticsEnabled = true
                step = 2
                return false
            }
            // Down to the switch and the reveal button, which a narrow window shows only scrolled.
            const view = settings.currentPane().contentItem
            view.contentY = Math.max(0, view.contentHeight - view.height)
            return true
        }
        default:
            return true
        }
    }

    SettingsScene {
        id: settings

        anchors.fill: parent
        scene: "profile"
    }

    Timer {
        interval: 50
        repeat: true
        running: !gallery.ready
        onTriggered: gallery.ready = gallery.advance()
    }
}
