#include "net/UserIdentityController.h"

UserIdentityController *UserIdentityController::instance()
{
    static UserIdentityController controller;
    return &controller;
}
