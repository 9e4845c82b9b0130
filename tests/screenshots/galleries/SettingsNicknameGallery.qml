import QtQuick

// The profile pane after saving a 65-character nickname.
SettingsScene {
    scene: "nicknameTooLong"
}
