import QtQuick

// The about pane after a saved diagnostic ZIP, with detailed diagnostics on.
SettingsPanesScene {
    scene: "aboutDiagnostics"
}
