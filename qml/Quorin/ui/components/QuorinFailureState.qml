import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorin

// A whole page that could not be shown: a centred column with a large title, a message, the
// failure code when there is one, and Back and Retry buttons. It neither navigates nor retries:
// its user reacts to the two signals.
Item {
    id: failureState

    property string title: qsTr("Content unavailable")
    property string message: ""
    property string code: ""
    property bool retryable: true

    signal backRequested()
    signal retryRequested()

    Accessible.role: Accessible.AlertMessage
    Accessible.name: title + ". " + message

    ColumnLayout {
        objectName: "failureStateColumn"
        anchors.centerIn: parent
        width: Math.min(Math.max(0, failureState.width - 2 * Theme.largeSpacing), 520)
        spacing: Theme.spacing

        Label {
            objectName: "failureStateTitle"
            text: failureState.title
            color: Theme.text
            font.pixelSize: 24
            font.bold: true
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }

        Label {
            objectName: "failureStateMessage"
            text: failureState.message
            color: Theme.textSecondary
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.WordWrap
            Layout.fillWidth: true
        }

        Label {
            objectName: "failureStateCode"
            visible: failureState.code !== ""
            text: qsTr("Error code: %1").arg(failureState.code)
            color: Theme.textMuted
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.NoWrap
            Layout.fillWidth: true
        }

        RowLayout {
            objectName: "failureStateButtons"
            spacing: Theme.spacing
            Layout.alignment: Qt.AlignHCenter

            QuorinButton {
                objectName: "failureStateBackButton"
                text: qsTr("Back")
                isOutline: true
                buttonColor: Theme.error
                onClicked: failureState.backRequested()
            }

            QuorinButton {
                objectName: "failureStateRetryButton"
                visible: failureState.retryable
                text: qsTr("Retry")
                buttonColor: Theme.error
                onClicked: failureState.retryRequested()
            }
        }
    }
}
