#include "app/startup/ControllerRegistration.h"

#include "app/ProgramOwnership.h"
#include "app/SettingsController.h"
#include "app/UiPerformanceTracker.h"
#include "downloads/DownloadManager.h"
#include "learning/CourseController.h"
#include "learning/HistoryManager.h"
#include "learning/LearningProgressController.h"
#include "learning/NotificationsController.h"
#include "net/NetworkManager.h"
#include "net/PhoneNumberFormatter.h"
#include "net/ProfileController.h"
#include "net/ResetPasswordController.h"
#include "net/SignupController.h"
#include "net/UserIdentityController.h"
#include "pdf/PdfController.h"
#include "playback/HeadphoneMonitor.h"
#include "playback/StreamController.h"
#include "quiz/QuizController.h"
#include "update/ChangelogController.h"
#include "update/UpdateController.h"

#include <QQmlEngine>

namespace quorin {
namespace {

constexpr const char *kModule = "Quorin.Controllers";
constexpr int kMajor = 1;
constexpr int kMinor = 0;

// The engine arguments are ignored: every engine sees the one process-wide object.
template<typename Controller>
QObject *processWideInstance(QQmlEngine *, QJSEngine *)
{
    return ownedByProgram(Controller::instance());
}

// A new object for each engine that asks; without a parent, so the engine owns and deletes it.
template<typename Controller>
QObject *perEngineInstance(QQmlEngine *, QJSEngine *)
{
    return new Controller();
}

class Registrar
{
public:
    template<typename Controller, typename Factory>
    void singleton(const char *name, Factory factory)
    {
        add(name, qmlRegisterSingletonType<Controller>(kModule, kMajor, kMinor, name, factory));
    }

    template<typename Controller>
    void processWide(const char *name)
    {
        singleton<Controller>(name, processWideInstance<Controller>);
    }

    template<typename Controller>
    void perEngine(const char *name)
    {
        singleton<Controller>(name, perEngineInstance<Controller>);
    }

    template<typename Controller>
    void creatable(const char *name)
    {
        add(name, qmlRegisterType<Controller>(kModule, kMajor, kMinor, name));
    }

    [[nodiscard]] QList<RegisteredController> registered() const { return m_registered; }

private:
    void add(const char *name, int typeId) { m_registered.append({QString::fromLatin1(name), typeId}); }

    QList<RegisteredController> m_registered;
};

} // namespace

QList<RegisteredController> registerControllers()
{
    Registrar registrar;
    registrar.singleton<NetworkManager>("NetworkManager", &NetworkManager::create);
    registrar.singleton<SignupController>("SignupController", &SignupController::create);
    registrar.singleton<ResetPasswordController>("ResetPasswordController", &ResetPasswordController::create);
    registrar.processWide<SettingsController>("SettingsController");
    registrar.perEngine<NotificationsController>("NotificationsController");
    registrar.creatable<ProfileController>("ProfileController");
    registrar.creatable<CourseController>("CourseController");
    registrar.creatable<QuizController>("QuizController");
    registrar.processWide<StreamController>("StreamController");
    registrar.processWide<DownloadManager>("DownloadManager");
    registrar.processWide<PdfController>("PdfController");
    registrar.processWide<HistoryManager>("HistoryManager");
    registrar.singleton<UserIdentityController>("UserIdentity", &UserIdentityController::create);
    registrar.singleton<LearningProgressController>("LearningProgress", &LearningProgressController::create);
    registrar.processWide<UpdateController>("UpdateController");
    registrar.processWide<ChangelogController>("ChangelogController");
    registrar.perEngine<PhoneNumberFormatter>("PhoneNumberFormatter");
    registrar.processWide<HeadphoneMonitor>("HeadphoneMonitor");
    registrar.processWide<UiPerformanceTracker>("UiPerformance");
    return registrar.registered();
}

} // namespace quorin
