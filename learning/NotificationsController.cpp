#include "learning/NotificationsController.h"

NotificationsController::NotificationsController(QObject *parent)
    : QObject(parent)
{
}
