import QtQuick
import Quorin

// A titled group of a gallery: the title above, the controls below in a row.
Column {
    id: section

    property string title
    default property alias content: row.data

    spacing: Theme.smallSpacing

    Text {
        text: section.title
        color: Theme.textSecondary
        font.family: Theme.fontFamily
        font.pixelSize: 12
        font.bold: true
    }

    Row {
        id: row

        spacing: Theme.spacing
    }
}
