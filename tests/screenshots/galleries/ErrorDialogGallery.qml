import QtQuick
import Quorin
import Quorin.Controllers

// The technical error dialog open over a page, with a diagnostic bundle already saved.
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

    TechnicalErrorDialog {
        failure: ({
            code: "HTTP_500",
            userMessage: "The course could not be loaded.",
            technicalDetails: "GET courses/c-101: 500 Internal Server Error"
        })
        visible: true

        // The saved path is the application's for the whole run; one save serves every picture.
        Component.onCompleted: {
            if (SettingsController.lastDiagnosticBundlePath === "")
                SettingsController.saveDiagnosticBundle(failureCode)
        }
    }
}
