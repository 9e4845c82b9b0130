#include "app/startup/ClientConfigRequests.h"

#include "app/SettingsController.h"
#include "net/NetworkManager.h"

namespace quorin {

void requestClientConfigPerSession(NetworkManager &network, SettingsController &settings)
{
    QObject::connect(&network, &NetworkManager::loginSuccess, &settings,
                     [&settings] { settings.refreshClientConfig(); });
    if (network.isAuthenticated())
        settings.refreshClientConfig();
}

} // namespace quorin
