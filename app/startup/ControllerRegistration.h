#pragma once

#include <QList>
#include <QString>

namespace quorin {

// One registration of the module "Quorin.Controllers": its QML name and the type id Qt gave it.
struct RegisteredController
{
    QString qmlName;
    int typeId = -1;
};

// Registers the controllers with the QML module "Quorin.Controllers" 1.0, in a fixed order, and
// returns what was registered in that order. Called once per process, after the application's
// identity and the diagnostics log are set up and before the QML engine exists.
QList<RegisteredController> registerControllers();

} // namespace quorin
