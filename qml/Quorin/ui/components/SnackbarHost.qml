import QtQuick
import QtQuick.Layouts
import Quorin

// Draws the snackbar entry on show as a card coloured by its severity, times it, and lets the
// user close it, use its action or swipe it away. The window holds exactly one host.
//
// The host never takes keyboard focus, and neither do its buttons: a button that kept focus
// would take it away with it when the card hides, and the page stack's Escape would go deaf.
FocusScope {
    id: host

    readonly property bool showing: Snackbar.visible
    // Set by the first entry that makes the host appear; only that one is announced.
    property bool appeared: false
    // The share of the host's width a swipe must travel, from its press point, to dismiss.
    readonly property real swipeDismissRatio: 0.22

    readonly property bool alert: Snackbar.severity === "error" || Snackbar.severity === "warning"
                                  || Snackbar.severity === "success"
    readonly property color fillColor: {
        switch (Snackbar.severity) {
        case "error":
            return Theme.error
        case "warning":
            return Theme.warning
        case "success":
            return Theme.success
        default:
            return Theme.surfaceElevated
        }
    }
    readonly property color borderColor: alert ? Qt.lighter(fillColor, 1.25) : Theme.borderStrong
    readonly property color messageColor: alert ? Theme.accentForeground : Theme.text
    readonly property color actionColor: alert ? Theme.accentForeground : Theme.primary
    readonly property color closeColor: alert ? Theme.accentForeground : Theme.text

    function announce() {
        // Qt 6.4 has no announcement call; the alert role and the name still reach assistive
        // technology where it watches alerts.
        if (typeof host.Accessible.announce === "function")
            host.Accessible.announce(Snackbar.message)
    }

    function entryChanged() {
        if (!Snackbar.visible) {
            appeared = false
            dismissTimer.stop()
            return
        }
        if (!appeared) {
            appeared = true
            announce()
        }
        // A running timer also restarts when its bound interval changes; either way the new
        // entry's time counts from now.
        dismissTimer.restart()
    }

    objectName: "globalSnackbarHost"
    focus: false
    activeFocusOnTab: false
    implicitWidth: parent ? Math.max(0, Math.min(560, parent.width - 2 * Theme.largeSpacing)) : 560
    implicitHeight: card.implicitHeight
    // Hidden at the moment the entry goes, so the card vanishes at once and only fades in.
    visible: showing
    opacity: showing ? 1 : 0

    Behavior on opacity {
        NumberAnimation {
            duration: Theme.animDurationShort
            easing.type: Easing.InOutQuad
        }
    }

    Accessible.role: Accessible.AlertMessage
    Accessible.name: Snackbar.message

    Connections {
        target: Snackbar

        function onCurrentChanged() {
            host.entryChanged()
        }
    }

    Component.onCompleted: entryChanged()

    Timer {
        id: dismissTimer

        objectName: "snackbarTimer"
        interval: Snackbar.duration
        repeat: false
        onTriggered: Snackbar.dismiss()
    }

    Rectangle {
        id: card

        objectName: "snackbarCard"
        anchors.fill: parent
        implicitHeight: Math.max(52, content.implicitHeight + 2 * Theme.smallSpacing)
        radius: Theme.radius
        color: host.fillColor
        border.width: 1
        border.color: host.borderColor

        DragHandler {
            id: swipe

            // Measured from the press point while the drag runs; the end of the drag decides.
            property real travel: 0

            objectName: "snackbarSwipe"
            target: null
            yAxis.enabled: false

            onCentroidChanged: {
                if (active)
                    travel = centroid.scenePosition.x - centroid.scenePressPosition.x
            }
            onActiveChanged: {
                if (active) {
                    travel = 0
                    return
                }
                if (Math.abs(travel) > host.width * host.swipeDismissRatio)
                    Snackbar.dismiss()
                travel = 0
            }
        }

        RowLayout {
            id: content

            objectName: "snackbarContent"
            anchors.fill: parent
            anchors.margins: Theme.smallSpacing
            spacing: Theme.smallSpacing

            Text {
                objectName: "snackbarMessage"
                text: Snackbar.message
                color: host.messageColor
                font.family: Theme.fontFamily
                font.pixelSize: 14
                font.bold: true
                wrapMode: Text.WordWrap
                verticalAlignment: Text.AlignVCenter
                Layout.fillWidth: true
                Layout.alignment: Qt.AlignVCenter
            }

            QuorinButton {
                objectName: "snackbarActionButton"
                visible: Snackbar.actionText !== ""
                text: Snackbar.actionText
                isOutline: true
                buttonColor: host.actionColor
                focusPolicy: Qt.NoFocus
                Layout.preferredHeight: 36
                Layout.alignment: Qt.AlignVCenter
                onClicked: Snackbar.triggerAction()
            }

            QuorinButton {
                objectName: "snackbarDismissButton"
                text: "\u00d7"
                compact: true
                isOutline: true
                buttonColor: host.closeColor
                leftPadding: 8
                rightPadding: 8
                focusPolicy: Qt.NoFocus
                Layout.alignment: Qt.AlignVCenter
                Accessible.name: qsTr("Dismiss notification")
                onClicked: Snackbar.dismiss()
            }
        }
    }
}
