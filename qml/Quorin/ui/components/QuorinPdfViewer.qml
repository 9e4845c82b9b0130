import QtQuick
import QtQuick.Controls
import Quorin

// The document viewer page until the viewer is built: it shows the document descriptor it was
// opened with, and closing pops it.
PlaceholderPage {
    id: page

    property string sourceUrl: ""
    property string offlineResourceId: ""
    property string pdfTitle: "Document"
    property string resourceId: ""
    property string courseId: ""
    property string sectionId: ""
    property int initialPageIndex: -1
    property bool watermarkEnabled: true
    property bool isShareable: false

    objectName: "pdfViewerPage"
    title: pdfTitle
    showBack: true
    details: [
        describe("sourceUrl", sourceUrl), describe("offlineResourceId", offlineResourceId),
        describe("resourceId", resourceId), describe("courseId", courseId), describe("sectionId", sectionId),
        describe("initialPageIndex", initialPageIndex), describe("watermarkEnabled", watermarkEnabled),
        describe("isShareable", isShareable)
    ]
    onBackRequested: StackView.view.pop()
}
