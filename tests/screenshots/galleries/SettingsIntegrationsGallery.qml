import QtQuick

// The integrations pane as the platform serves it.
SettingsPanesScene {
    scene: "integrations"
}
