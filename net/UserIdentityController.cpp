#include "net/UserIdentityController.h"

#include "app/ProgramOwnership.h"

UserIdentityController *UserIdentityController::instance()
{
    static UserIdentityController controller;
    return &controller;
}

UserIdentityController *UserIdentityController::create(QQmlEngine *, QJSEngine *)
{
    return quorin::ownedByProgram(instance());
}
