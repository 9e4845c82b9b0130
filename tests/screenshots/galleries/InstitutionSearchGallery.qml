import QtQuick

// The sign-up form with the universities' search open and a search typed.
LoginScene {
    scene: "institutionSearch"
}
