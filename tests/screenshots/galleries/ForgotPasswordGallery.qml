import QtQuick

// The forgotten-password form.
LoginScene {
    scene: "forgotPassword"
}
