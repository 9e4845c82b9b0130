import QtQuick

// The sign-in page with the list of calling codes open.
LoginScene {
    scene: "countries"
}
