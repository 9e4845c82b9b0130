import QtQuick
import Qt5Compat.GraphicalEffects
import Quorin
import Quorin.Controllers

// Draws one of the module's icon files in any colour: the hidden image feeds an overlay that
// keeps the file's shape and transparency and paints it in the tint. A directional icon follows
// the application's direction itself, so it flips in Arabic even where mirroring is switched off.
Item {
    id: icon

    property url source
    property color tint: Theme.icon
    property bool directional: false
    property alias fillMode: sourceImage.fillMode

    implicitWidth: 20
    implicitHeight: 20

    Image {
        id: sourceImage

        objectName: "quorinIconSourceImage"
        anchors.fill: parent
        source: icon.source
        visible: false
        mirror: icon.directional && SettingsController.layoutDirection === Qt.RightToLeft
        fillMode: Image.PreserveAspectFit
        smooth: true
        // Vector files are rendered at the size shown, not scaled up from their own size.
        sourceSize.width: Math.max(1, Math.ceil(width))
        sourceSize.height: Math.max(1, Math.ceil(height))
    }

    ColorOverlay {
        objectName: "quorinIconOverlay"
        anchors.fill: parent
        source: sourceImage
        color: icon.tint
        visible: icon.source.toString() !== ""
    }
}
