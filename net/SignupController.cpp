#include "net/SignupController.h"

#include "app/ProgramOwnership.h"

SignupController *SignupController::instance()
{
    static SignupController controller;
    return &controller;
}

SignupController *SignupController::create(QQmlEngine *, QJSEngine *)
{
    return quorin::ownedByProgram(instance());
}
