import QtQuick

// The integrations pane after a refused status refresh.
SettingsPanesScene {
    scene: "integrationsRefreshFailed"
}
