#include "net/ProfileController.h"

ProfileController::ProfileController(QObject *parent)
    : QObject(parent)
{
}
