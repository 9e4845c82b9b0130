import QtQuick
import QtQuick.Controls
import Quorin

ApplicationWindow {
    id: window

    width: 1280
    height: 800
    visible: true
    title: "Quorin Desktop"
}
