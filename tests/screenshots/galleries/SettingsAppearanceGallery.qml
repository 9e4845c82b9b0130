import QtQuick

// The appearance pane.
SettingsPanesScene {
    scene: "appearance"
}
