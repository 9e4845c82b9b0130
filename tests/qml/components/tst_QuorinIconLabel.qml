import QtQuick
import QtTest
import Quorin
import Quorin.Controllers

Item {
    id: root

    width: 800
    height: 600

    MirroredArea {
        id: area

        anchors.fill: parent

        // A part of the interface that keeps left-to-right order whatever the language.
        Item {
            id: unmirrored

            anchors.fill: parent
            LayoutMirroring.enabled: false
            LayoutMirroring.childrenInherit: true
        }
    }

    Component {
        id: iconComponent

        QuorinIcon {
            x: 20
            y: 20
            source: "qrc:/qt/qml/Quorin/assets/icons/arrow-back.svg"
        }
    }

    Component {
        id: labelComponent

        QuorinElidedLabel {
            x: 100
            y: 100
            width: 120
            font.pixelSize: 14
        }
    }

    // A clickable row with a label inside it, as the resource lists have.
    Component {
        id: rowComponent

        MouseArea {
            property alias label: rowLabel

            x: 100
            y: 300
            width: 300
            height: 40
            hoverEnabled: true

            QuorinElidedLabel {
                id: rowLabel

                anchors.centerIn: parent
                width: 100
                elide: Text.ElideRight
                text: "Lecture 12: the long way round the whole of the course"
            }
        }
    }

    readonly property string longText: "Lecture 12: kinematics in two dimensions, worked examples and the problem set"

    TestCase {
        id: icons

        name: "QuorinIcon"
        when: windowShown

        function init() {
            SettingsController.language = "en"
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
        }

        function sourceImage(icon) {
            return findChild(icon, "quorinIconSourceImage")
        }

        function test_mirroring_data() {
            return [
                { tag: "directional, English", directional: true, language: "en", unmirroredPart: false, mirror: false },
                { tag: "directional, Arabic", directional: true, language: "ar", unmirroredPart: false, mirror: true },
                { tag: "directional, Arabic, mirroring off", directional: true, language: "ar", unmirroredPart: true, mirror: true },
                { tag: "directional, English, mirroring off", directional: true, language: "en", unmirroredPart: true, mirror: false },
                { tag: "plain, English", directional: false, language: "en", unmirroredPart: false, mirror: false },
                { tag: "plain, Arabic", directional: false, language: "ar", unmirroredPart: false, mirror: false },
                { tag: "plain, Arabic, mirroring off", directional: false, language: "ar", unmirroredPart: true, mirror: false }
            ]
        }

        function test_mirroring(row) {
            SettingsController.language = row.language
            const icon = createTemporaryObject(iconComponent, row.unmirroredPart ? unmirrored : area,
                                               { directional: row.directional })
            const image = sourceImage(icon)
            verify(image)
            compare(image.mirror, row.mirror)
            verify(!image.visible, "the source image only feeds the overlay")
            verify(image.smooth)
        }

        function test_languageSwitchFlipsAnIconOnScreen() {
            const icon = createTemporaryObject(iconComponent, area, { directional: true })
            const image = sourceImage(icon)
            compare(image.mirror, false)
            SettingsController.language = "ar"
            compare(image.mirror, true)
            SettingsController.language = "en"
            compare(image.mirror, false)
        }

        function test_defaults() {
            const icon = createTemporaryObject(iconComponent, area)
            compare(icon.width, 20)
            compare(icon.height, 20)
            compare(icon.fillMode, Image.PreserveAspectFit)
            compare(icon.tint, Theme.icon)
            SettingsController.themeMode = "dark"
            compare(icon.tint, Theme.icon)
            SettingsController.themeMode = "system"
            icon.fillMode = Image.Stretch
            compare(sourceImage(icon).fillMode, Image.Stretch)
        }

        function test_emptySourceKeepsItsPlaceAndDrawsNothing() {
            const icon = createTemporaryObject(iconComponent, area, { source: "" })
            compare(icon.width, 20)
            compare(icon.height, 20)
            compare(sourceImage(icon).status, Image.Null)
            verify(!findChild(icon, "quorinIconOverlay").visible)
        }
    }

    Component {
        id: spyComponent

        SignalSpy {}
    }

    TestCase {
        id: labels

        name: "QuorinElidedLabel"
        when: windowShown

        function init() {
            mouseMove(root, 790, 590)
            root.forceActiveFocus()
        }

        function toolTipOf(label) {
            const toolTip = findChild(label, label.objectName.length > 0 ? label.objectName + "ToolTip"
                                                                          : "elidedLabelToolTip")
            verify(toolTip)
            return toolTip
        }

        function test_toolTipOnlyWhileClipped_data() {
            const base = { long: true, clip: "elide", pointer: "hover", visible: true, enabled: true, toolTipEnabled: true }
            const rows = [
                { tag: "elided, hovered", shows: true },
                { tag: "elided, focused", pointer: "focus", shows: true },
                { tag: "cut by the line count, hovered", clip: "lines", shows: true },
                { tag: "fits, hovered", long: false, shows: false },
                { tag: "fits in two lines, hovered", long: false, clip: "lines", shows: false },
                { tag: "elided, not pointed at", pointer: "none", shows: false },
                { tag: "elided, disabled", enabled: false, shows: false },
                { tag: "elided, tool tip switched off", toolTipEnabled: false, shows: false }
            ]
            return rows.map(row => Object.assign({}, base, row))
        }

        function test_toolTipOnlyWhileClipped(row) {
            const properties = {
                text: row.long ? root.longText : "Lecture 12",
                enabled: row.enabled,
                clippedToolTipEnabled: row.toolTipEnabled
            }
            if (row.clip === "elide") {
                properties.elide = Text.ElideRight
            } else {
                properties.wrapMode = Text.Wrap
                properties.maximumLineCount = 2
            }
            const label = createTemporaryObject(labelComponent, area, properties)
            compare(label.textClipped, row.long)
            compare(label.fullText, label.text)
            const toolTip = toolTipOf(label)
            compare(toolTip.text, label.text)

            if (row.pointer === "hover")
                mouseMove(label, 10, 5)
            else if (row.pointer === "focus")
                label.forceActiveFocus()
            compare(label.pointerHovered, row.pointer === "hover" && row.enabled)

            if (row.shows) {
                tryCompare(toolTip, "opened", true)
            } else {
                wait(toolTip.delay + 200)
                verify(!toolTip.visible, "a tool tip showed")
            }
        }

        function test_hiddenLabelShowsNothing() {
            const label = createTemporaryObject(labelComponent, area, { text: root.longText, elide: Text.ElideRight })
            mouseMove(label, 10, 5)
            verify(label.pointerHovered)
            label.visible = false
            verify(!label.pointerHovered)
            wait(toolTipOf(label).delay + 200)
            verify(!toolTipOf(label).visible)
        }

        function test_toolTipHidesWhenThePointerLeaves() {
            const label = createTemporaryObject(labelComponent, area, { text: root.longText, elide: Text.ElideRight })
            const toolTip = toolTipOf(label)
            mouseMove(label, 10, 5)
            tryCompare(toolTip, "opened", true)
            mouseMove(root, 790, 590)
            tryCompare(toolTip, "visible", false)
        }

        function test_fullTextMayBeLongerThanTheText() {
            const label = createTemporaryObject(labelComponent, area,
                                                { text: root.longText, fullText: root.longText + " (updated)", elide: Text.ElideRight })
            compare(toolTipOf(label).text, root.longText + " (updated)")
        }

        function test_toolTipNames_data() {
            return [
                { tag: "named", name: "resourceTitleLabel", toolTip: "resourceTitleLabelToolTip" },
                { tag: "unnamed", name: "", toolTip: "elidedLabelToolTip" }
            ]
        }

        function test_toolTipNames(row) {
            const label = createTemporaryObject(labelComponent, area, { objectName: row.name, text: "Title" })
            verify(findChild(label, row.toolTip), row.toolTip)
        }

        function test_cursorShape() {
            const label = createTemporaryObject(labelComponent, area, { text: "Title" })
            compare(label.hoverCursorShape, Qt.ArrowCursor)
        }

        function test_rowUnderTheLabelStillSeesThePointer() {
            const row = createTemporaryObject(rowComponent, area)
            mouseMove(row.label, 5, 5)
            verify(row.containsMouse, "the label's hover handler blocked the row")
            verify(row.label.pointerHovered)
            const clicks = createTemporaryObject(spyComponent, labels, { target: row, signalName: "clicked" })
            mouseClick(row.label, 5, 5)
            compare(clicks.count, 1)
        }
    }
}
