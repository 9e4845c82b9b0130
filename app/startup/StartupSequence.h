#pragma once

#include <QUrl>
#include <functional>

class QQmlApplicationEngine;

namespace quorin {

// Called once every start-up step has run, just before the event loop starts.
using StartupHook = std::function<void(QQmlApplicationEngine &engine)>;

// The whole life of the desktop client's process: with "--verify-svg-assets" it checks the
// embedded SVG assets and returns 0 or 2; otherwise it sets the process up in a fixed order,
// loads the root document and runs the event loop, returning its result (-1 when the root
// document cannot be created).
int runApplication(int &argc, char **argv, const QUrl &rootDocument, const StartupHook &afterStartup = {});

} // namespace quorin
