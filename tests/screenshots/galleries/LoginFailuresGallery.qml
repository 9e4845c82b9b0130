import QtQuick

// The sign-in page after three network failures in a row: the notice with its details open, and the support hint.
LoginScene {
    scene: "failures"
}
