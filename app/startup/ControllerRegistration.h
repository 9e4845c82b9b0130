#pragma once

namespace quorin {

// Registers the controllers with the QML module "Quorin.Controllers" 1.0. Called once, after
// the application's identity and the diagnostics log are set up and before the QML engine exists.
void registerControllers();

} // namespace quorin
