import QtQuick

// The sign-in page as it first shows.
LoginScene {
    scene: "signIn"
}
