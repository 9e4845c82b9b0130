import QtQuick

// The account deletion dialog over the blurred page.
SettingsScene {
    scene: "deleteDialog"
}
