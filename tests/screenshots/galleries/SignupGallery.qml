import QtQuick

// The sign-up form after "Create account" was pressed with nothing filled in.
LoginScene {
    scene: "signupSubmitted"
}
