import QtQuick
import QtTest
import Quorin.Controllers

TestCase {
    id: testCase
    name: "QmlControllerRegistration"

    Component {
        id: courseComponent
        CourseController {}
    }
    Component {
        id: profileComponent
        ProfileController {}
    }
    Component {
        id: quizComponent
        QuizController {}
    }

    function test_singletonIsAnObject_data() {
        return [
            { tag: "NetworkManager", controller: NetworkManager },
            { tag: "SignupController", controller: SignupController },
            { tag: "ResetPasswordController", controller: ResetPasswordController },
            { tag: "SettingsController", controller: SettingsController },
            { tag: "NotificationsController", controller: NotificationsController },
            { tag: "StreamController", controller: StreamController },
            { tag: "DownloadManager", controller: DownloadManager },
            { tag: "PdfController", controller: PdfController },
            { tag: "HistoryManager", controller: HistoryManager },
            { tag: "UserIdentity", controller: UserIdentity },
            { tag: "LearningProgress", controller: LearningProgress },
            { tag: "UpdateController", controller: UpdateController },
            { tag: "ChangelogController", controller: ChangelogController },
            { tag: "PhoneNumberFormatter", controller: PhoneNumberFormatter },
            { tag: "HeadphoneMonitor", controller: HeadphoneMonitor },
            { tag: "UiPerformance", controller: UiPerformance }
        ]
    }

    function test_singletonIsAnObject(data) {
        verify(data.controller !== null && data.controller !== undefined)
        compare(typeof data.controller, "object")
    }

    function test_eachInstantiationIsItsOwnObject_data() {
        return [
            { tag: "CourseController", component: courseComponent },
            { tag: "ProfileController", component: profileComponent },
            { tag: "QuizController", component: quizComponent }
        ]
    }

    function test_eachInstantiationIsItsOwnObject(data) {
        const first = createTemporaryObject(data.component, testCase)
        const second = createTemporaryObject(data.component, testCase)
        verify(first !== null)
        verify(second !== null)
        verify(first !== second)
    }

    // What QML reads of each controller's own surface; every controller adds its rows here.
    function test_controllerSurface_data() {
        return [
            { tag: "UiPerformance.CourseReady", check: () => UiPerformance.CourseReady === 3 },
            { tag: "SettingsController.supportUrl",
              check: () => SettingsController.supportUrl.startsWith("https://t.me/") }
        ]
    }

    function test_controllerSurface(data) {
        verify(data.check(), data.tag)
    }
}
