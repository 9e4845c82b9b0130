#include "learning/LearningProgressController.h"

#include <QJSEngine>

LearningProgressController *LearningProgressController::instance()
{
    static LearningProgressController controller;
    return &controller;
}

LearningProgressController *LearningProgressController::create(QQmlEngine *, QJSEngine *)
{
    LearningProgressController *controller = instance();
    QJSEngine::setObjectOwnership(controller, QJSEngine::CppOwnership);
    return controller;
}

void LearningProgressController::setUserId(const QString &userId)
{
    m_userId = userId.trimmed();
}

void LearningProgressController::flush() {}
