#include "net/HardwareCrypto.h"

bool HardwareCrypto::platformSupported()
{
    // The Secret Service keyring stands in for the vault here.
    return true;
}

QString HardwareCrypto::unavailableReason()
{
    return unavailableReasonForPlatform(QStringLiteral("linux"));
}

QString HardwareCrypto::unavailableReasonForPlatform(const QString &platform)
{
    if (platform == QLatin1String("macos") || platform == QLatin1String("windows"))
        return tr(
            "Offline downloads require the operating system secure vault to be available. Online streaming "
            "remains available.");
    return tr("Offline downloads require TPM 2.0 or an unlocked Secret Service keyring.");
}
