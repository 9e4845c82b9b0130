#pragma once

#include "net/HardwareIdentityAnchor.h"
#include "net/InstallationIdentityResolution.h"

#include <QString>
#include <QStringList>

class CredentialStore;
class QSettings;

// The stable identifier of this installation: a lowercase UUID without braces, kept in the
// settings store and in the keychain so that it survives the loss of either. When neither holds
// one it is derived from the machine identifier, so a reinstall on the same machine gets the same
// identity; only without a usable identifier is it random. The log sees only its fingerprint.
class InstallationIdentity
{
public:
    InstallationIdentity() = delete;

    // The identity; resolved and stored when the settings store holds none. GUI thread.
    [[nodiscard]] static QString id();
    // True when this call had to create the identity from the machine identifier or at random:
    // a fresh installation. GUI thread.
    [[nodiscard]] static bool isFirstInstallation();

    // The full resolution against a settings store, an optional credential store (null skips the
    // keychain) and a machine identifier; writes the outcome back to both stores. A keychain that
    // cannot be read is not an empty one: nothing is written to it, and a random identity made
    // without it is not stored anywhere (id() keeps it for the rest of the process).
    [[nodiscard]] static InstallationIdentityResolution resolve(QSettings &settings, CredentialStore *store,
                                                                const HardwareIdentityAnchor &anchor);

    // The machine identifier: the first usable machine-id file, else the "unavailable" anchor.
    [[nodiscard]] static HardwareIdentityAnchor platformAnchor();
    // The identity derived from an anchor; empty when the anchor is not usable.
    [[nodiscard]] static QString deriveFromAnchor(const HardwareIdentityAnchor &anchor);
    // Whether a machine identifier is specific enough to derive from: long enough, not a filler
    // value such as all zeros or a firmware placeholder.
    [[nodiscard]] static bool isUsableAnchor(const QString &value);

    // Points platformAnchor() at other machine-id files, first found first. An empty list
    // restores /etc/machine-id and /var/lib/dbus/machine-id.
    static void setMachineIdFilesForTesting(const QStringList &paths);
};
