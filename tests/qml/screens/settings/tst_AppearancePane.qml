import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing
import ".."

// The appearance pane alone, in a tree that mirrors in Arabic as the window does.
Item {
    id: root

    width: 800
    height: 600
    LayoutMirroring.enabled: SettingsController.layoutDirection === Qt.RightToLeft
    LayoutMirroring.childrenInherit: true

    Component {
        id: paneComponent

        AppearancePane {
            width: 600
            height: 500
        }
    }

    Component {
        id: pageHostComponent

        SettingsPageHost {}
    }

    SettingsFixture {
        id: server
    }

    TestCase {
        name: "AppearancePane"
        when: windowShown

        // The Arabic catalogue's words for the texts the checks read.
        readonly property string arabicHeading: "المظهر"
        readonly property string arabicArabic: "العربية"
        readonly property string arabicDark: "داكن"

        function init() {
            failOnWarning(/.?/)
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 1
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
            SettingsController.themeMode = "light"
            SettingsController.animationSpeedMultiplier = 1
        }

        function makePane() {
            const pane = createTemporaryObject(paneComponent, root)
            verify(pane)
            waitForRendering(pane)
            return pane
        }

        function named(item, objectName) {
            const found = findChild(item, objectName)
            verify(found, objectName)
            return found
        }

        // Opens the box's list and clicks its row, as the user chooses an item.
        function choose(box, index) {
            mouseClick(box)
            tryCompare(box.popup, "opened", true)
            const list = box.popup.contentItem
            tryVerify(() => list.itemAtIndex(index) !== null, 2000, "the row was never built")
            mouseClick(list.itemAtIndex(index))
            tryCompare(box.popup, "visible", false)
        }

        function test_storedThemeShown_data() {
            return [
                { tag: "light", stored: "light", index: 1, text: "Light" },
                { tag: "dark", stored: "dark", index: 2, text: "Dark" },
                { tag: "unknown value", stored: "purple", index: 0, text: "System" },
                { tag: "nothing stored", stored: undefined, index: 0, text: "System" },
            ]
        }

        function test_storedThemeShown(row) {
            TestSetup.setStoredPreference("themeMode", row.stored)
            const box = named(makePane(), "themeComboBox")
            compare(box.currentIndex, row.index)
            compare(box.displayText, row.text)
        }

        function test_choosingATheme_data() {
            return [
                { tag: "dark", from: "light", index: 2, stored: "dark", dark: true },
                { tag: "light", from: "dark", index: 1, stored: "light", dark: false },
                { tag: "system, dark platform", from: "light", index: 0, stored: "system",
                  palette: "#202020", dark: true },
                { tag: "system, light platform", from: "dark", index: 0, stored: "system",
                  palette: "#f0f0f0", dark: false },
            ]
        }

        function test_choosingATheme(row) {
            if (row.palette)
                TestSetup.setPaletteWindowColor(row.palette)
            SettingsController.themeMode = row.from
            const box = named(makePane(), "themeComboBox")
            choose(box, row.index)
            compare(SettingsController.themeMode, row.stored)
            compare(TestSetup.storedPreference("themeMode"), row.stored)
            compare(Theme.isDark, row.dark)
            compare(box.currentIndex, row.index)
        }

        function test_languageSwitchesAtOnce() {
            SettingsController.themeMode = "dark"
            const pane = makePane()
            const heading = named(pane, "appearanceHeading")
            const themeLabel = named(pane, "themeLabel")
            const languageBox = named(pane, "languageComboBox")
            const themeBox = named(pane, "themeComboBox")
            // The box stands after the label: right of it, or left of it in a mirrored layout.
            const boxLeftOfLabel = () => themeBox.mapToItem(root, 0, 0).x < themeLabel.mapToItem(root, 0, 0).x
            verify(!boxLeftOfLabel())

            choose(languageBox, 1)
            compare(SettingsController.language, "ar")
            compare(heading.text, arabicHeading)
            // The retranslated lists keep the stored choices.
            compare(languageBox.currentIndex, 1)
            compare(languageBox.displayText, arabicArabic)
            compare(themeBox.currentIndex, 2)
            compare(themeBox.displayText, arabicDark)
            tryVerify(boxLeftOfLabel, 2000, "the layout did not mirror")

            choose(languageBox, 0)
            compare(SettingsController.language, "en")
            compare(heading.text, "Appearance")
            compare(languageBox.displayText, "English")
            compare(themeBox.displayText, "Dark")
            tryVerify(() => !boxLeftOfLabel())
        }

        function test_speedDescription_data() {
            return [
                { tag: "0", value: 0, text: "Instant (disabled)" },
                { tag: "0.01", value: 0.01, text: "Fast" },
                { tag: "0.25", value: 0.25, text: "Fast" },
                { tag: "0.5", value: 0.5, text: "Fast" },
                { tag: "0.75", value: 0.75, text: "Normal" },
                { tag: "1.0", value: 1.0, text: "Normal" },
                { tag: "1.25", value: 1.25, text: "Slow" },
                { tag: "2.0", value: 2.0, text: "Slow" },
            ]
        }

        function test_speedDescription(row) {
            SettingsController.animationSpeedMultiplier = row.value
            const pane = makePane()
            compare(named(pane, "animationSpeedDescription").text, row.text)
            const slider = named(pane, "animationSpeedSlider")
            fuzzyCompare(slider.value, row.value, 0.0001)
            compare(slider.mediaPalette, false)
            compare(slider.bufferVisible, false)
            compare(slider.Accessible.name, "Animation speed")
        }

        function test_arrowKeyMovesOneStep() {
            const slider = named(makePane(), "animationSpeedSlider")
            slider.forceActiveFocus()
            keyClick(Qt.Key_Right)
            compare(SettingsController.animationSpeedMultiplier, 1.25)
            compare(TestSetup.storedPreference("animationSpeedMultiplier"), 1.25)
            keyClick(Qt.Key_Left)
            keyClick(Qt.Key_Left)
            compare(SettingsController.animationSpeedMultiplier, 0.75)
        }

        function test_dragWritesBetweenSteps() {
            const pane = makePane()
            const slider = named(pane, "animationSpeedSlider")
            const description = named(pane, "animationSpeedDescription")
            const y = slider.height / 2
            const xFor = value => slider.leftPadding + 8 + value / 2 * (slider.availableWidth - 16)
            mousePress(slider, xFor(1), y)
            mouseMove(slider, xFor(0.8), y)
            mouseMove(slider, xFor(0.6), y)
            mouseRelease(slider, xFor(0.6), y)
            const written = SettingsController.animationSpeedMultiplier
            verify(Math.abs(written - 0.6) < 0.05, "wrote " + written)
            verify(Math.abs(written / 0.25 - Math.round(written / 0.25)) > 0.01, "snapped to " + written)
            fuzzyCompare(slider.value, written, 0.0001)
            compare(description.text, "Normal")
        }

        function test_zeroStaysLeftInArabic() {
            SettingsController.language = "ar"
            SettingsController.animationSpeedMultiplier = 0
            const slider = named(makePane(), "animationSpeedSlider")
            const handle = named(slider, "sliderHandle")
            const trackLeft = slider.mapToItem(root, 0, 0).x
            tryVerify(() => handle.mapToItem(root, 0, 0).x - trackLeft < slider.leftPadding + 1)
            SettingsController.animationSpeedMultiplier = 2
            tryVerify(() => handle.mapToItem(root, 0, 0).x - trackLeft > slider.width - slider.rightPadding - 17)
        }
    }

    // The pane in the real settings page, over the home page of a signed-in user.
    TestCase {
        name: "AppearancePaneInPage"
        when: windowShown

        function init() {
            failOnWarning(/.?/)
            SettingsController.language = "en"
            Fixture.reset()
            server.serve()
            if (!NetworkManager.isAuthenticated)
                TestSetup.signIn()
            tryCompare(NetworkManager, "isAuthenticated", true, 10000)
            tryCompare(UserIdentity, "loading", false, 10000)
            tryCompare(SettingsController, "telegramIsLoading", false, 10000)
        }

        function cleanupTestCase() {
            SettingsController.language = "en"
        }

        function named(item, objectName) {
            const found = findChild(item, objectName)
            verify(found, objectName)
            return found
        }

        function choose(box, index) {
            mouseClick(box)
            tryCompare(box.popup, "opened", true)
            const list = box.popup.contentItem
            tryVerify(() => list.itemAtIndex(index) !== null, 2000, "the row was never built")
            mouseClick(list.itemAtIndex(index))
            tryCompare(box.popup, "visible", false)
        }

        function test_arabicRelabelsThePageAtOnce() {
            const host = createTemporaryObject(pageHostComponent, root)
            verify(host)
            tryVerify(() => host.stack && host.stack.currentItem
                      && host.stack.currentItem.objectName === "homePage", 10000)
            tryCompare(host.stack, "busy", false)
            const page = host.openSettings()
            tryCompare(page.profileController, "state", "ready", 10000)
            const paneStack = named(page, "settingsPaneStack")
            mouseClick(named(page, "settingsCategory2"))
            tryCompare(paneStack, "busy", false)
            const pane = named(paneStack.currentItem, "appearancePane")
            const navigation = named(page, "settingsNavigationPane")
            const navigationX = () => navigation.mapToItem(page, 0, 0).x
            verify(navigationX() < page.width / 2)

            choose(named(pane, "languageComboBox"), 1)
            compare(SettingsController.language, "ar")
            compare(named(pane, "appearanceHeading").text, "المظهر")
            compare(named(page, "settingsTitle").text, "الإعدادات")
            compare(named(named(page, "settingsCategory2"), "settingsCategoryLabel").text, "المظهر")
            compare(named(page, "signOutButton").text, "تسجيل الخروج")
            tryVerify(() => navigationX() > page.width / 2, 2000, "the page did not mirror")
            verify(paneStack.currentItem.objectName === "settingsAppearanceScroll")

            choose(named(pane, "languageComboBox"), 0)
            compare(named(page, "settingsTitle").text, "Settings")
            compare(named(pane, "appearanceHeading").text, "Appearance")
            tryVerify(() => navigationX() < page.width / 2)
        }
    }
}
