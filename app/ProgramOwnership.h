#pragma once

#include <QJSEngine>

namespace quorin {

// Hands a process-wide controller to a QML engine without giving it away: the controller
// outlives every engine, so no engine may delete it, not even when the engine itself goes.
template<typename Controller>
Controller *ownedByProgram(Controller *controller)
{
    QJSEngine::setObjectOwnership(controller, QJSEngine::CppOwnership);
    return controller;
}

} // namespace quorin
