import QtQuick

// The code form after sign-up, with six digits typed.
LoginScene {
    scene: "code"
}
