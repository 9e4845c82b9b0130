import QtQuick

// The profile pane with the stored education.
SettingsScene {
    scene: "profile"
}
