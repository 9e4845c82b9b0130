import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin

// The inline notice: a tinted, bordered box with an optional bold title, a message, an optional
// action button and technical details that the user expands on request. Screens either bind its
// texts or assign them from a controller's failure, and clear it with an empty message.
Control {
    id: notice

    property string severity: "error"
    property string title: ""
    property string message: ""
    property string details: ""
    property string actionText: ""
    // Never reset by the notice itself: an expanded notice shows the next details expanded too.
    property bool detailsExpanded: false
    // Exact, case-sensitive words; anything unknown ("critical" included) reads as an error.
    property color accentColor: severity === "success" ? Theme.success
                              : severity === "warning" ? Theme.warning
                              : severity === "info" ? Theme.primary
                              : Theme.error

    signal actionTriggered()

    visible: message !== "" || title !== ""
    implicitWidth: 320
    implicitHeight: content.implicitHeight + topPadding + bottomPadding
    leftPadding: Theme.spacing
    rightPadding: Theme.spacing
    topPadding: Theme.spacing
    bottomPadding: Theme.spacing

    Accessible.role: Accessible.AlertMessage
    Accessible.name: title !== "" ? title + ". " + message : message

    background: Rectangle {
        objectName: "noticeBackground"
        radius: Theme.radius
        color: Qt.rgba(notice.accentColor.r, notice.accentColor.g, notice.accentColor.b, Theme.isDark ? 0.14 : 0.08)
        border.width: 1
        border.color: notice.accentColor
    }

    // The labels name their alignment: only an explicit one follows the page's mirroring, so
    // English details in an Arabic page still start at the right edge.
    contentItem: ColumnLayout {
        id: content

        objectName: "noticeContent"
        spacing: Theme.smallSpacing

        Label {
            objectName: "noticeTitle"
            visible: notice.title !== ""
            text: notice.title
            color: Theme.text
            font.bold: true
            horizontalAlignment: Text.AlignLeft
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }

        Label {
            objectName: "noticeMessage"
            text: notice.message
            color: Theme.text
            horizontalAlignment: Text.AlignLeft
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }

        RowLayout {
            objectName: "noticeActionRow"
            visible: notice.actionText !== "" || notice.details !== ""
            spacing: Theme.smallSpacing
            Layout.fillWidth: true

            QuorinButton {
                objectName: "noticeActionButton"
                visible: notice.actionText !== ""
                text: notice.actionText
                isOutline: true
                buttonColor: notice.accentColor
                onClicked: notice.actionTriggered()
            }

            // Keeps the details button at the row's end when there is no action button.
            Item {
                Layout.fillWidth: true
            }

            QuorinButton {
                objectName: "noticeDetailsButton"
                visible: notice.details !== ""
                text: notice.detailsExpanded ? qsTr("Hide details") : qsTr("Technical details")
                isOutline: true
                buttonColor: notice.accentColor
                onClicked: notice.detailsExpanded = !notice.detailsExpanded
            }
        }

        Label {
            objectName: "noticeDetails"
            visible: notice.detailsExpanded && notice.details !== ""
            text: notice.details
            color: Theme.textSecondary
            font.family: "monospace"
            horizontalAlignment: Text.AlignLeft
            // Stack traces and identifiers are long unbroken words.
            wrapMode: Text.WrapAnywhere
            Layout.fillWidth: true
        }
    }
}
