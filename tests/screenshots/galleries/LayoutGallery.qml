import QtQuick
import Quorin
import Quorin.Controllers

// A responsive grid of sample course cards, a side list with its selection highlight, and the
// support button in a header and floating in the end corner.
Item {
    id: gallery

    width: 1024
    height: 768
    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
    LayoutMirroring.childrenInherit: true

    Rectangle {
        anchors.fill: parent
        color: Theme.background
    }

    // The side list: rows of 48, the third selected.
    Rectangle {
        id: sideList

        x: Theme.largeSpacing
        y: Theme.largeSpacing
        width: 240
        height: 5 * 48 + 2 * Theme.smallSpacing
        radius: Theme.radius
        color: Theme.surface
        border.color: Theme.border

        Item {
            anchors.fill: parent
            anchors.margins: Theme.smallSpacing

            NavigationSelectionHighlight {
                targetY: 2 * 48
                targetHeight: 48
            }

            Column {
                anchors.fill: parent

                Repeater {
                    model: ["Profile", "Security", "Appearance", "Integrations", "About"]

                    Item {
                        required property string modelData
                        required property int index

                        width: parent.width
                        height: 48

                        Text {
                            anchors.verticalCenter: parent.verticalCenter
                            anchors.left: parent.left
                            anchors.leftMargin: Theme.spacing
                            text: parent.modelData
                            color: parent.index === 2 ? Theme.primary : Theme.text
                            font.family: Theme.fontFamily
                            font.pixelSize: 14
                            font.bold: parent.index === 2
                        }
                    }
                }
            }
        }
    }

    // A header row with the support button at its end, as on the home page.
    Rectangle {
        x: 304
        y: Theme.largeSpacing
        width: 688
        height: 56 + 2 * Theme.smallSpacing
        radius: Theme.radius
        color: Theme.surface
        border.color: Theme.border

        Text {
            anchors.verticalCenter: parent.verticalCenter
            anchors.left: parent.left
            anchors.leftMargin: Theme.spacing
            text: "My courses"
            color: Theme.text
            font.family: Theme.fontFamily
            font.pixelSize: 20
            font.bold: true
        }

        FloatingSupportAction {
            anchors.verticalCenter: parent.verticalCenter
            anchors.right: parent.right
            anchors.rightMargin: Theme.smallSpacing
        }
    }

    ResponsiveGrid {
        id: grid

        x: 304
        y: 136
        width: 688
        minimumCellWidth: 200
        cellHeight: 120
        height: contentHeight
        model: [
            { title: "Physics 1: mechanics", lessons: 24 },
            { title: "Chemistry basics", lessons: 18 },
            { title: "Algebra and functions", lessons: 30 },
            { title: "English reading", lessons: 12 },
            { title: "Biology: the cell", lessons: 16 }
        ]

        delegate: Rectangle {
            required property var modelData

            width: grid.cellWidth
            height: grid.cellHeight
            radius: Theme.radius
            color: Theme.surface
            border.color: Theme.border

            Column {
                anchors.fill: parent
                anchors.margins: Theme.spacing
                spacing: Theme.smallSpacing

                Text {
                    width: parent.width
                    text: modelData.title
                    color: Theme.text
                    font.family: Theme.fontFamily
                    font.pixelSize: 16
                    font.bold: true
                    elide: Text.ElideRight
                }

                Text {
                    text: modelData.lessons + " lessons"
                    color: Theme.textSecondary
                    font.family: Theme.fontFamily
                    font.pixelSize: 13
                }

                Rectangle {
                    width: parent.width
                    height: 6
                    radius: 3
                    color: Theme.surfaceMuted

                    Rectangle {
                        width: parent.width * 0.4
                        height: parent.height
                        radius: 3
                        color: Theme.primary
                    }
                }
            }
        }
    }

    // Floating over the content in the end corner, as on the sign-in page.
    FloatingSupportAction {
        z: 100
        anchors.bottom: parent.bottom
        anchors.right: parent.right
        anchors.margins: Theme.spacing
    }
}
