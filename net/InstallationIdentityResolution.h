#pragma once

#include <QString>

// The outcome of resolving the installation identity: the identity, where it came from, what was
// done to the settings store and the keychain, and what was missing.
struct InstallationIdentityResolution
{
    QString identity;
    QString source;
    QString migration;
    QString fallbackReason;
    bool hardwareBindingMatch = false;
    bool vaultPersisted = false;
};
