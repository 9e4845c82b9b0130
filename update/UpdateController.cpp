#include "update/UpdateController.h"

#include <QCoreApplication>

UpdateController *UpdateController::instance()
{
    static UpdateController controller;
    return &controller;
}

void UpdateController::startupCheck()
{
    ++m_startupChecks;
}

void UpdateController::exitApplication()
{
    QCoreApplication::quit();
}
