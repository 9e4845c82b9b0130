#pragma once

// The stable identity of this installation of the client. Until the identity work lands, every
// run counts as an existing installation.
class InstallationIdentity
{
public:
    InstallationIdentity() = delete;

    // True when this call had to create the identity, which marks a fresh installation.
    [[nodiscard]] static bool isFirstInstallation();
};
