import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin
import Quorin.Controllers

// The "What’s new" dialog: one collapsible block per entry the changelog controller lists, each
// with the release's cards of changes. The controller decides what is listed and when the dialog
// is open; a required update hides it without dismissing anything. It is not counted among the
// dialogs that blur the pages.
Dialog {
    id: dialog

    objectName: "changelogDialog"
    title: qsTr("What’s new")
    modal: true
    focus: true
    // Escape is the only close gesture of its own; a click outside does nothing.
    closePolicy: Popup.CloseOnEscape
    parent: Overlay.overlay
    anchors.centerIn: parent
    width: parent ? Math.max(0, Math.min(860, parent.width - 2 * Theme.largeSpacing)) : 860
    height: parent ? Math.max(0, Math.min(700, parent.height - 2 * Theme.largeSpacing)) : 700
    leftPadding: Theme.largeSpacing
    rightPadding: Theme.largeSpacing
    topPadding: Theme.spacing
    bottomPadding: 0
    visible: ChangelogController.shouldShow && !UpdateController.required

    // Escape rejects. Hiding through the binding above (a required update) only closes, and must
    // not mark the entries seen, so dismissal never hangs on closed.
    onRejected: ChangelogController.dismiss()

    Overlay.modal: Rectangle {
        color: Theme.scrim
    }

    background: Rectangle {
        color: Theme.surface
        radius: Theme.radius
        border.width: 1
        border.color: Theme.border
    }

    // Every text is set to the start edge, which the window's mirroring turns to the right,
    // whatever the text's own direction: the entries keep the language the run started in.
    header: ColumnLayout {
        spacing: Theme.smallSpacing

        Text {
            objectName: "changelogTitle"
            text: dialog.title
            color: Theme.text
            font.family: Theme.fontFamily
            font.pixelSize: 28
            font.bold: true
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignLeft
            Layout.fillWidth: true
            Layout.leftMargin: Theme.largeSpacing
            Layout.rightMargin: Theme.largeSpacing
            Layout.topMargin: Theme.largeSpacing
        }

        Text {
            objectName: "changelogInstalledVersion"
            // Isolated, so the numbers keep their order inside right-to-left text.
            text: qsTr("Installed version %1 · build %2")
                      .arg("\u2066" + ChangelogController.currentVersion + "\u2069")
                      .arg("\u2066" + ChangelogController.currentBuild + "\u2069")
            color: Theme.textSecondary
            font.family: Theme.fontFamily
            font.pixelSize: 14
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignLeft
            Layout.fillWidth: true
            Layout.leftMargin: Theme.largeSpacing
            Layout.rightMargin: Theme.largeSpacing
        }
    }

    contentItem: ScrollView {
        id: scrollView

        objectName: "changelogScrollView"
        clip: true
        contentWidth: availableWidth
        ScrollBar.vertical: QuorinScrollBar {
            parent: scrollView
            x: scrollView.mirrored ? 0 : scrollView.width - width
            y: scrollView.topPadding
            height: scrollView.availableHeight
        }

        ColumnLayout {
            width: scrollView.availableWidth
            spacing: Theme.spacing

            Repeater {
                model: ChangelogController.entries

                delegate: Rectangle {
                    id: block

                    required property var modelData
                    required property int index
                    // Starts from the controller's map whenever the controller hands its list over.
                    property bool expanded: modelData.expanded === true

                    objectName: "changelogEntry-" + index
                    Layout.fillWidth: true
                    implicitHeight: blockColumn.implicitHeight + 2 * Theme.spacing
                    color: Theme.backgroundElevated
                    border.width: 1
                    border.color: Theme.border
                    radius: Theme.radius

                    // A list equal to the one shown leaves the repeater's blocks in place, so each
                    // block starts over itself.
                    Connections {
                        target: ChangelogController

                        function onEntriesChanged() {
                            block.expanded = block.modelData.expanded === true
                        }
                    }

                    ColumnLayout {
                        id: blockColumn

                        anchors.fill: parent
                        anchors.margins: Theme.spacing
                        spacing: Theme.spacing

                        ToolButton {
                            id: headerButton

                            objectName: "changelogEntryHeader-" + block.index
                            Layout.fillWidth: true
                            focusPolicy: Qt.StrongFocus
                            hoverEnabled: true
                            padding: Theme.smallSpacing
                            Accessible.name: (block.expanded ? qsTr("Collapse %1") : qsTr("Expand %1"))
                                             .arg(block.modelData.title)
                            onClicked: block.expanded = !block.expanded

                            background: Rectangle {
                                color: headerButton.hovered ? Theme.surfaceMuted : "transparent"
                                radius: Theme.radius
                                border.width: headerButton.visualFocus ? 2 : 0
                                border.color: Theme.primary
                            }

                            contentItem: RowLayout {
                                spacing: Theme.smallSpacing

                                Text {
                                    objectName: "changelogEntryChevron-" + block.index
                                    text: block.expanded ? "⌄" : (dialog.mirrored ? "‹" : "›")
                                    color: Theme.primary
                                    font.family: Theme.fontFamily
                                    font.pixelSize: 22
                                    horizontalAlignment: Text.AlignHCenter
                                    Accessible.ignored: true
                                    // One width for every glyph, so the titles line up.
                                    Layout.preferredWidth: 22
                                    Layout.alignment: Qt.AlignVCenter
                                }

                                ColumnLayout {
                                    spacing: 2
                                    Layout.fillWidth: true

                                    Text {
                                        objectName: "changelogEntryTitle-" + block.index
                                        text: block.modelData.title
                                        color: Theme.text
                                        font.family: Theme.fontFamily
                                        font.pixelSize: 19
                                        font.bold: true
                                        wrapMode: Text.WordWrap
                                        horizontalAlignment: Text.AlignLeft
                                        Layout.fillWidth: true
                                    }

                                    Text {
                                        objectName: "changelogEntryVersion-" + block.index
                                        text: block.modelData.build !== ""
                                              ? qsTr("Version %1 · build %2").arg(block.modelData.version)
                                                                             .arg(block.modelData.build)
                                              : qsTr("Version %1").arg(block.modelData.version)
                                        color: Theme.textSecondary
                                        font.family: Theme.fontFamily
                                        font.pixelSize: 14
                                        wrapMode: Text.WordWrap
                                        horizontalAlignment: Text.AlignLeft
                                        Layout.fillWidth: true
                                    }
                                }
                            }
                        }

                        GridLayout {
                            objectName: "changelogCardGrid-" + block.index
                            visible: block.expanded
                            columns: dialog.width >= 720 ? 2 : 1
                            columnSpacing: Theme.spacing
                            rowSpacing: Theme.spacing
                            Layout.fillWidth: true

                            Repeater {
                                model: block.modelData.cards

                                delegate: Rectangle {
                                    id: changeCard

                                    required property var modelData
                                    required property int index

                                    objectName: "changelogCard-" + block.index + "-" + index
                                    // Equal preferred widths share the row evenly between the columns.
                                    Layout.fillWidth: true
                                    Layout.minimumWidth: 0
                                    Layout.preferredWidth: 0
                                    Layout.alignment: Qt.AlignTop
                                    implicitHeight: cardColumn.implicitHeight + 2 * Theme.spacing
                                    color: Theme.surface
                                    border.width: 1
                                    border.color: Theme.border
                                    radius: Theme.radius

                                    ColumnLayout {
                                        id: cardColumn

                                        anchors.fill: parent
                                        anchors.margins: Theme.spacing
                                        spacing: Theme.smallSpacing

                                        RowLayout {
                                            spacing: Theme.smallSpacing
                                            Layout.fillWidth: true

                                            Text {
                                                objectName: "changelogCardGlyph"
                                                text: changeCard.modelData.category === "Playback" ? "▶"
                                                    : changeCard.modelData.category === "Documents" ? "▤"
                                                    : changeCard.modelData.category === "Reliability" ? "✓"
                                                    : "✦"
                                                color: Theme.primary
                                                font.family: Theme.fontFamily
                                                font.pixelSize: 19
                                                Accessible.ignored: true
                                                Layout.alignment: Qt.AlignTop
                                            }

                                            Text {
                                                objectName: "changelogCardTitle"
                                                text: changeCard.modelData.title
                                                color: Theme.text
                                                font.family: Theme.fontFamily
                                                font.pixelSize: 15
                                                font.bold: true
                                                wrapMode: Text.WordWrap
                                                horizontalAlignment: Text.AlignLeft
                                                Layout.fillWidth: true
                                            }
                                        }

                                        Repeater {
                                            model: changeCard.modelData.changes

                                            delegate: Text {
                                                required property string modelData

                                                objectName: "changelogChangeLine"
                                                text: "• " + modelData
                                                color: Theme.textSecondary
                                                font.family: Theme.fontFamily
                                                font.pixelSize: 14
                                                wrapMode: Text.WordWrap
                                                horizontalAlignment: Text.AlignLeft
                                                Layout.fillWidth: true
                                            }
                                        }
                                    }
                                }
                            }
                        }
                    }
                }
            }
        }
    }

    // Not a DialogButtonBox: on 6.4.2 it places its buttons again only when its size changes, so
    // a language switched while the dialog was closed left "Got it" on the old side.
    footer: Item {
        implicitHeight: gotItButton.implicitHeight + 2 * Theme.spacing

        QuorinButton {
            id: gotItButton

            objectName: "changelogGotItButton"
            anchors.right: parent.right
            anchors.rightMargin: Theme.largeSpacing
            anchors.verticalCenter: parent.verticalCenter
            text: qsTr("Got it")
            onClicked: ChangelogController.dismiss()
        }
    }
}
