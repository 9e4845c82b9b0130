#include "update/UpdateController.h"

UpdateController *UpdateController::instance()
{
    static UpdateController controller;
    return &controller;
}

void UpdateController::startupCheck()
{
    ++m_startupChecks;
}
