#pragma once

#include <QCoreApplication>
#include <QString>

// Whether this platform can hold the secure vault that offline downloads need, and the text
// shown when the vault is missing.
class HardwareCrypto
{
    Q_DECLARE_TR_FUNCTIONS(HardwareCrypto)

public:
    [[nodiscard]] static bool platformSupported();
    [[nodiscard]] static QString unavailableReason();
    // "macos" and "windows" name an operating system vault; any other platform relies on a TPM or
    // the Secret Service.
    [[nodiscard]] static QString unavailableReasonForPlatform(const QString &platform);
};
