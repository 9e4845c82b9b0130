import QtQuick

// The new-password form after two different passwords were sent.
LoginScene {
    scene: "newPasswordMismatch"
}
