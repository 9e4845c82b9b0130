#include "net/ResetPasswordController.h"

#include "app/ProgramOwnership.h"

ResetPasswordController *ResetPasswordController::instance()
{
    static ResetPasswordController controller;
    return &controller;
}

ResetPasswordController *ResetPasswordController::create(QQmlEngine *, QJSEngine *)
{
    return quorin::ownedByProgram(instance());
}
