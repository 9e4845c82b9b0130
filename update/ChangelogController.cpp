#include "update/ChangelogController.h"

ChangelogController *ChangelogController::instance()
{
    static ChangelogController controller;
    return &controller;
}
