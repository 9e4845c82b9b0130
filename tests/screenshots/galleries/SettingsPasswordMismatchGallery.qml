import QtQuick

// The security pane after new passwords that differ.
SettingsScene {
    scene: "passwordMismatch"
}
