import QtQuick
import QtTest
import Quorin
import Quorin.Controllers

// The tint is drawn by a graphical effect, which paints only with a GPU scene graph: this test
// runs on a virtual X display with OpenGL, never offscreen.
Item {
    id: root

    width: 200
    height: 200

    // The grab sees the window, so a transparent pixel of the icon shows this colour.
    Rectangle {
        id: backdrop

        anchors.fill: parent
        color: "#203040"
    }

    Component {
        id: iconComponent

        QuorinIcon {
            width: 48
            height: 48
        }
    }

    TestCase {
        name: "QuorinIconPixels"
        when: windowShown

        function cleanup() {
            SettingsController.language = "en"
        }

        function make(properties) {
            const icon = createTemporaryObject(iconComponent, backdrop, properties)
            verify(icon)
            tryCompare(findChild(icon, "quorinIconSourceImage"), "status", Image.Ready)
            waitForRendering(icon)
            return icon
        }

        readonly property var backdropPixel: [0x20, 0x30, 0x40, 255]

        // Colour of the pixel at (x, y) in device pixels, as red, green, blue and alpha from 0 to 255.
        function pixelAt(image, x, y) {
            return [image.red(x, y), image.green(x, y), image.blue(x, y), image.alpha(x, y)]
        }

        function verifyPixel(image, x, y, expected, what) {
            const actual = pixelAt(image, x, y)
            for (let channel = 0; channel < 4; ++channel)
                verify(Math.abs(actual[channel] - expected[channel]) <= 2,
                       what + " at " + x + "," + y + " is " + actual + ", expected " + expected)
        }

        function test_sceneGraphDrawsEffects() {
            const icon = make({ source: Qt.resolvedUrl("white-square.svg"), tint: "#ff0000" })
            verify(icon.GraphicsInfo.api !== GraphicsInfo.Software,
                   "the software scene graph draws no effects; run on the xcb platform")
        }

        function test_tintColoursTheShapeOnly() {
            const icon = make({ source: Qt.resolvedUrl("white-square.svg"), tint: "#ff0000" })
            const ratio = Screen.devicePixelRatio
            let image = grabImage(icon)
            verifyPixel(image, 24 * ratio, 24 * ratio, [255, 0, 0, 255], "inside the shape")
            verifyPixel(image, 3 * ratio, 3 * ratio, backdropPixel, "outside the shape")
            verifyPixel(image, 44 * ratio, 24 * ratio, backdropPixel, "outside the shape")

            icon.tint = "#0000ff"
            waitForRendering(icon)
            image = grabImage(icon)
            verifyPixel(image, 24 * ratio, 24 * ratio, [0, 0, 255, 255], "inside the shape after the change")
            verifyPixel(image, 3 * ratio, 3 * ratio, backdropPixel, "outside the shape after the change")
        }

        function test_mirroredShapeIsDrawnMirrored_data() {
            return [
                { tag: "English", language: "en", tintedSide: "left" },
                { tag: "Arabic", language: "ar", tintedSide: "right" }
            ]
        }

        function test_mirroredShapeIsDrawnMirrored(row) {
            SettingsController.language = row.language
            const icon = make({ source: Qt.resolvedUrl("white-left-half.svg"), tint: "#00ff00", directional: true })
            const ratio = Screen.devicePixelRatio
            const image = grabImage(icon)
            const left = 10 * ratio
            const right = 38 * ratio
            const middle = 24 * ratio
            verifyPixel(image, row.tintedSide === "left" ? left : right, middle, [0, 255, 0, 255], "the shape")
            verifyPixel(image, row.tintedSide === "left" ? right : left, middle, backdropPixel, "the empty half")
        }
    }
}
