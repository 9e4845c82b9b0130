#pragma once

class NetworkManager;
class SettingsController;

namespace quorin {

// Asks the backend for the client configuration once per signed-in session: now, when the client
// holds a stored sign-in, and after every successful sign-in. Never while signed out: the path
// is not public, so a signed-out call would end in a refresh and a spurious "session expired".
// Both objects live for the rest of the process; GUI thread only.
void requestClientConfigPerSession(NetworkManager &network, SettingsController &settings);

} // namespace quorin
