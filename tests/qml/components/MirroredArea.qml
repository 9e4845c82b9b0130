import QtQuick
import Quorin.Controllers

// Mirrors its whole subtree while the interface runs right to left, as the window does.
Item {
    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
    LayoutMirroring.childrenInherit: true
}
