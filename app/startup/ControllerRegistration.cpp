#include "app/startup/ControllerRegistration.h"

#include "app/SettingsController.h"
#include "app/UiPerformanceTracker.h"
#include "learning/LearningProgressController.h"
#include "net/NetworkManager.h"
#include "net/UserIdentityController.h"
#include "pdf/PdfController.h"
#include "update/ChangelogController.h"
#include "update/UpdateController.h"

#include <QJSEngine>
#include <QQmlEngine>

namespace quorin {
namespace {

constexpr const char *kModule = "Quorin.Controllers";

// The process-wide object; the program owns it, so no engine ever deletes it.
template<typename Controller>
QObject *processWideInstance(QQmlEngine *, QJSEngine *)
{
    QObject *controller = Controller::instance();
    QJSEngine::setObjectOwnership(controller, QJSEngine::CppOwnership);
    return controller;
}

template<typename Controller>
void registerProcessWide(const char *name)
{
    qmlRegisterSingletonType<Controller>(kModule, 1, 0, name, processWideInstance<Controller>);
}

} // namespace

void registerControllers()
{
    qmlRegisterSingletonType<NetworkManager>(kModule, 1, 0, "NetworkManager", &NetworkManager::create);
    registerProcessWide<SettingsController>("SettingsController");
    registerProcessWide<PdfController>("PdfController");
    registerProcessWide<UserIdentityController>("UserIdentity");
    qmlRegisterSingletonType<LearningProgressController>(kModule, 1, 0, "LearningProgress",
                                                         &LearningProgressController::create);
    registerProcessWide<UpdateController>("UpdateController");
    registerProcessWide<ChangelogController>("ChangelogController");
    registerProcessWide<UiPerformanceTracker>("UiPerformance");
}

} // namespace quorin
