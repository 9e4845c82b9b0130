import QtQuick
import QtQuick.Controls
import QtTest
import Quorin
import Quorin.Controllers
import Quorin.Testing

// The first start of a release in the main window, over the shipped changelog, when an earlier
// run has seen "welcome-desktop-1": the dialog opens by itself with the other two entries.
Item {
    id: root

    width: 400
    height: 300

    TestCase {
        name: "ChangelogDialogStart"
        when: windowShown

        function initTestCase() {
            verify(ChangelogFixture.markSeen(["welcome-desktop-1"]), "the controller was made too early")
            SettingsController.language = "en"
            SettingsController.animationSpeedMultiplier = 0
            UpdateController.reset()
        }

        function cleanupTestCase() {
            SettingsController.animationSpeedMultiplier = 1
        }

        function init() {
            failOnWarning(/.*/)
        }

        function part(dialog, name) {
            const found = findChild(dialog.contentItem, name)
            verify(found, name)
            return found
        }

        function blockStates(dialog) {
            const states = []
            for (let i = 0; i < ChangelogController.entries.length; ++i) {
                states.push({
                    title: part(dialog, "changelogEntryTitle-" + i).text,
                    version: part(dialog, "changelogEntryVersion-" + i).text,
                    expanded: part(dialog, "changelogCardGrid-" + i).visible
                })
            }
            return states
        }

        function test_opensByItselfWithTheUnseenEntries() {
            const component = Qt.createComponent("qrc:/qt/qml/Quorin/ui/screens/Main.qml")
            compare(component.status, Component.Ready, component.errorString())
            const window = createTemporaryObject(component, root)
            const dialog = findChild(window, "changelogDialog")
            verify(dialog)
            tryCompare(dialog, "opened", true)

            compare(ChangelogController.mode, ChangelogController.Automatic)
            compare(findChild(dialog.header, "changelogTitle").text, "What’s new")
            compare(findChild(dialog.header, "changelogInstalledVersion").text,
                    "Installed version \u20661.0.8\u2069 · build \u206622\u2069")
            compare(blockStates(dialog), [
                { title: "Fullscreen viewers and smoother media.", version: "Version 1.4.1", expanded: true },
                { title: "Keep learning your way", version: "Version 1.0.8 · build 22", expanded: false }
            ])

            // Reopened while open: every entry, the file's first one expanded.
            ChangelogController.reopen()

            verify(dialog.visible)
            compare(blockStates(dialog), [
                { title: "Welcome to Quorin Desktop", version: "Version 1.0.0", expanded: true },
                { title: "Fullscreen viewers and smoother media.", version: "Version 1.4.1", expanded: false },
                { title: "Keep learning your way", version: "Version 1.0.8 · build 22", expanded: false }
            ])
        }
    }
}
