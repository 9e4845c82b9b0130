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
    Component {
        id: profileWithErrorHandler
        ProfileController {
            property var reported: []
            onProfileUpdateError: failure => reported.push({ code: failure.code, message: failure.userMessage })
        }
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
              check: () => SettingsController.supportUrl.startsWith("https://t.me/") },
            { tag: "UpdateController.Required", check: () => UpdateController.Required === 7 },
            { tag: "UpdateController states, in order",
              check: () => [UpdateController.Idle, UpdateController.Checking, UpdateController.UpToDate,
                            UpdateController.Available, UpdateController.Downloading, UpdateController.Ready,
                            UpdateController.OfflineGrace, UpdateController.Required, UpdateController.Error]
                           .every((value, index) => value === index) },
            { tag: "UpdateController.state is one of them",
              check: () => typeof UpdateController.state === "number"
                           && UpdateController.state >= UpdateController.Idle
                           && UpdateController.state <= UpdateController.Error },
            { tag: "UpdateController.currentTarget",
              check: () => /^linux\/[^\/]+\/direct\/deb$/.test(UpdateController.currentTarget) },
            { tag: "UpdateController.storeBuild", check: () => UpdateController.storeBuild === false },
            { tag: "ChangelogController.History", check: () => ChangelogController.History === 1 },
            { tag: "ChangelogController.currentBuild", check: () => ChangelogController.currentBuild === "22" },
            { tag: "UserIdentity.profileState before any fetch",
              check: () => UserIdentity.profileState === UserIdentity.Idle },
            { tag: "UserIdentity.AuthenticationRequired",
              check: () => UserIdentity.AuthenticationRequired === 5 },
            { tag: "UserIdentity.DeviceWatermark without a phone",
              check: () => UserIdentity.watermarkSource === UserIdentity.DeviceWatermark
                           && UserIdentity.watermarkText === "" },
            { tag: "UserIdentity.profileFailure empty",
              check: () => UserIdentity.profileFailure.code === "" && !UserIdentity.loading },
            { tag: "ProfileController.state", check: () => createTemporaryObject(profileComponent, testCase).state === "idle" },
            { tag: "PhoneNumberFormatter.normalize with one argument",
              check: () => PhoneNumberFormatter.normalize("01012345678") === "+201012345678" },
            { tag: "PhoneNumberFormatter.normalize with a country code",
              check: () => PhoneNumberFormatter.normalize("512345678", "+966") === "+966512345678" },
            { tag: "PhoneNumberFormatter.isValid with a country code",
              check: () => PhoneNumberFormatter.isValid("512345678", "+966") === true },
            { tag: "PhoneNumberFormatter.isValid with one argument",
              check: () => PhoneNumberFormatter.isValid("512345678") === false },
            { tag: "PhoneNumberFormatter.countryForNumber",
              check: () => PhoneNumberFormatter.countryForNumber("00966 5") === "+966" },
            { tag: "SignupController lists", check: () => SignupController.institutions.length === 0
                                                        && SignupController.academicYears.length === 0 },
            { tag: "ResetPasswordController.isLoading", check: () => ResetPasswordController.isLoading === false },
            { tag: "CourseController.watermarkEnabled",
              check: () => createTemporaryObject(courseComponent, testCase).watermarkEnabled === true },
            { tag: "CourseController.sections",
              check: () => createTemporaryObject(courseComponent, testCase).sections.length === 0 },
            { tag: "NotificationsController.unreadCount", check: () => NotificationsController.unreadCount === 0 },
            { tag: "QuizController.state", check: () => createTemporaryObject(quizComponent, testCase).state === QuizController.Idle },
            { tag: "QuizController.remainingSeconds",
              check: () => createTemporaryObject(quizComponent, testCase).remainingSeconds === -1 },
            { tag: "QuizController.online", check: () => createTemporaryObject(quizComponent, testCase).online === true },
            { tag: "QuizController.canEdit", check: () => createTemporaryObject(quizComponent, testCase).canEdit === false },
            { tag: "QuizController.Leaderboard", check: () => QuizController.Leaderboard === 8 },
            { tag: "QuizController.Idle", check: () => QuizController.Idle === 0 },
            { tag: "LearningProgress.revision", check: () => LearningProgress.revision === 0 },
            { tag: "LearningProgress.recentItems",
              check: () => LearningProgress.recentItems.length === 0 },
            { tag: "LearningProgress.userId", check: () => LearningProgress.userId === "" },
            { tag: "HistoryManager.recentItems",
              check: () => typeof HistoryManager.recentItems === "object"
                           && HistoryManager.recentItems.length === 0 }
        ]
    }

    function test_controllerSurface(data) {
        verify(data.check(), data.tag)
    }

    // As the sign-in screen handles them: the failure comes with the signal.
    Connections {
        id: signupHandler
        property var codes: []
        target: SignupController
        function onRegisterError(failure) { codes.push(failure.code) }
    }
    Connections {
        id: resetHandler
        property var codes: []
        target: ResetPasswordController
        function onResetError(failure) { codes.push(failure.code) }
    }

    function test_accountValidationFailuresReachTheHandlers_data() {
        return [
            { tag: "SignupController", controller: SignupController, handler: signupHandler,
              code: "NICKNAME_INVALID",
              act: () => SignupController.registerUser("Full", "   ", "+201012345678", "pw", "pw", "i1", "y1") },
            { tag: "ResetPasswordController", controller: ResetPasswordController, handler: resetHandler,
              code: "PASSWORDS_DO_NOT_MATCH",
              act: () => ResetPasswordController.resetPassword("+201012345678", "12", "Abc", "abc") }
        ]
    }

    function test_accountValidationFailuresReachTheHandlers(data) {
        data.handler.codes = []
        data.act()
        compare(data.handler.codes, [data.code])
        compare(data.controller.failure.code, data.code)
        verify(!data.controller.isLoading)
    }

    function test_profileValidationFailureReachesTheHandler() {
        const profile = createTemporaryObject(profileWithErrorHandler, testCase)
        profile.updateProfile("", "", "")
        compare(profile.reported.length, 1)
        compare(profile.reported[0].code, "NICKNAME_INVALID")
        compare(profile.reported[0].message, "Nickname must contain 1–64 characters.")
        compare(profile.failure.code, "NICKNAME_INVALID")
        compare(profile.state, "failed")
        verify(!profile.isLoading)
    }
}
