import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin
import Quorin.Controllers

// A modal sheet listing the keyboard and pointer shortcuts a page gives it in shortcutModel:
// [{ category, shortcuts: [{ key, desc }] }], shown in order. It holds no shortcuts of its own and,
// being a sheet and not a dialog, never counts in Theme.activeDialogs.
QuorinPopup {
    id: sheet

    property var shortcutModel: []

    readonly property bool rightToLeft: SettingsController.layoutDirection === Qt.RightToLeft

    mediaStyle: true
    modal: true
    dim: true
    focus: true
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside
    width: parent ? Math.max(0, Math.min(840, parent.width - 2 * Theme.spacing)) : 840
    height: parent ? Math.max(0, Math.min(400, parent.height - 2 * Theme.spacing)) : 400
    x: parent ? Math.round((parent.width - width) / 2) : 0
    y: parent ? Math.round((parent.height - height) / 2) : 0

    Overlay.modal: Rectangle {
        objectName: "shortcutsDimLayer"
        color: Qt.rgba(0, 0, 0, 0.5)

        Behavior on opacity {
            NumberAnimation {
                duration: Theme.animDuration
                easing.type: Easing.OutCubic
            }
        }
    }

    contentItem: Item {
        objectName: "shortcutsSheetContent"
        LayoutMirroring.enabled: sheet.rightToLeft
        LayoutMirroring.childrenInherit: true

        ColumnLayout {
            anchors.fill: parent
            anchors.margins: 24
            spacing: 16

            Label {
                objectName: "shortcutsTitle"
                Layout.fillWidth: true
                text: qsTr("Keyboard shortcuts")
                color: sheet.textColor
                font.family: Theme.fontFamily
                font.pixelSize: 20
                font.bold: true
                horizontalAlignment: Text.AlignHCenter
            }

            ScrollView {
                id: scrollView

                objectName: "shortcutsScrollView"
                Layout.fillWidth: true
                Layout.fillHeight: true
                clip: true
                contentWidth: availableWidth
                contentHeight: content.implicitHeight
                ScrollBar.horizontal: ScrollBar {
                    objectName: "shortcutHorizontalScrollBar"
                    policy: ScrollBar.AlwaysOff
                }
                ScrollBar.vertical: QuorinScrollBar {
                    objectName: "shortcutVerticalScrollBar"
                    parent: scrollView
                    x: scrollView.mirrored ? 0 : scrollView.width - width
                    y: scrollView.topPadding
                    height: scrollView.availableHeight
                    policy: ScrollBar.AsNeeded
                }

                Column {
                    id: content

                    objectName: "shortcutsContent"
                    width: scrollView.availableWidth
                    spacing: 24

                    Repeater {
                        model: sheet.shortcutModel

                        Column {
                            id: group

                            required property var modelData
                            required property int index

                            width: content.width
                            spacing: 12

                            Label {
                                objectName: "shortcutCategory-" + group.index
                                width: parent.width
                                text: group.modelData.category || ""
                                color: Theme.primary
                                font.family: Theme.fontFamily
                                font.pixelSize: 16
                                font.bold: true
                                horizontalAlignment: Text.AlignLeft
                                wrapMode: Text.Wrap
                            }

                            Column {
                                objectName: "shortcutList-" + group.index
                                width: parent.width
                                spacing: 12

                                Repeater {
                                    model: group.modelData.shortcuts || []

                                    RowLayout {
                                        id: row

                                        required property var modelData

                                        objectName: "shortcutRow-" + row.modelData.key
                                        width: content.width
                                        spacing: 12

                                        Rectangle {
                                            objectName: "shortcutKey-" + row.modelData.key
                                            Layout.alignment: Qt.AlignTop
                                            Layout.preferredWidth: Math.min(keyText.implicitWidth + 16,
                                                                            Math.max(96, 0.34 * content.width))
                                            Layout.preferredHeight: Math.max(28, keyText.height + 10)
                                            color: Qt.rgba(1, 1, 1, 0.1)
                                            radius: 4

                                            Text {
                                                id: keyText

                                                x: 5
                                                width: parent.width - 10
                                                anchors.verticalCenter: parent.verticalCenter
                                                text: row.modelData.key
                                                textFormat: Text.PlainText
                                                color: sheet.textColor
                                                font.family: "monospace"
                                                font.pixelSize: 13
                                                font.bold: true
                                                horizontalAlignment: Text.AlignHCenter
                                                verticalAlignment: Text.AlignVCenter
                                                wrapMode: Text.Wrap
                                            }
                                        }

                                        Label {
                                            objectName: "shortcutDescription-" + row.modelData.key
                                            Layout.alignment: Qt.AlignTop
                                            Layout.fillWidth: true
                                            Layout.minimumWidth: 0
                                            text: row.modelData.desc
                                            textFormat: Text.PlainText
                                            color: sheet.secondaryTextColor
                                            font.family: Theme.fontFamily
                                            font.pixelSize: 14
                                            wrapMode: Text.Wrap
                                            horizontalAlignment: Text.AlignLeft
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }

            QuorinButton {
                objectName: "shortcutsCloseButton"
                Layout.alignment: Qt.AlignRight
                text: qsTr("Close")
                onClicked: sheet.close()
            }
        }
    }
}
