#include "net/InstallationIdentity.h"

bool InstallationIdentity::isFirstInstallation()
{
    return false;
}
