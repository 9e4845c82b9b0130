import QtQuick
import QtQuick.Shapes
import Quorin

// The small open "v" of the interface's drop-down boxes, stroked in the secondary text colour.
Shape {
    id: chevron

    property color strokeColor: Theme.textSecondary

    implicitWidth: 10
    implicitHeight: 6
    // A Shape drawn by the GPU has smooth edges only when multisampled.
    layer.enabled: true
    layer.samples: 4
    layer.smooth: true

    ShapePath {
        strokeColor: chevron.strokeColor
        strokeWidth: 1.5
        fillColor: "transparent"
        capStyle: ShapePath.RoundCap
        joinStyle: ShapePath.RoundJoin
        startX: 1
        startY: 1

        PathLine {
            x: chevron.width / 2
            y: chevron.height - 1
        }
        PathLine {
            x: chevron.width - 1
            y: 1
        }
    }
}
