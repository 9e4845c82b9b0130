#include "learning/LearningProgressController.h"

#include "app/ProgramOwnership.h"

LearningProgressController *LearningProgressController::instance()
{
    static LearningProgressController controller;
    return &controller;
}

LearningProgressController *LearningProgressController::create(QQmlEngine *, QJSEngine *)
{
    return quorin::ownedByProgram(instance());
}

void LearningProgressController::setUserId(const QString &userId)
{
    m_userId = userId.trimmed();
}

void LearningProgressController::flush() {}
