#pragma once

#include "testsupport/ShellTestSetup.h"

#include <QString>
#include <QVariant>

namespace quorin::test {

// The set-up of the Qt Quick tests of the settings panes: the shell's set-up (the real backend
// client and SettingsController over the fixture server, the update and changelog doubles) with
// the application's version, the diagnostics log started as the start-up starts it (which is
// where QUORIN_DIAGNOSTICS is read), and what QML cannot do itself: read the preferences store
// afresh, break the downloads folder and look into a ZIP archive.
class SettingsPaneTestSetup : public ShellTestSetup
{
    Q_OBJECT

public:
    SettingsPaneTestSetup();
    ~SettingsPaneTestSetup() override;

    // The value under key in a store opened now, as the next start of the application reads it.
    [[nodiscard]] Q_INVOKABLE QVariant storedPreference(const QString &key) const;
    // Writes the value under key behind the controller's back, as an older version or a hand edit
    // leaves it; an undefined value removes the key. The controller announces nothing.
    Q_INVOKABLE void setStoredPreference(const QString &key, const QVariant &value) const;
    [[nodiscard]] Q_INVOKABLE QString downloadsFolder() const;
    [[nodiscard]] Q_INVOKABLE bool blockDownloadsFolder() const;
    [[nodiscard]] Q_INVOKABLE bool unblockDownloadsFolder() const;
    // The names of the entries of a ZIP archive, as unzip lists them; empty when it is none.
    [[nodiscard]] Q_INVOKABLE QStringList zipEntries(const QString &archive) const;

public Q_SLOTS:
    void cleanupTestCase();

protected:
    void registerControllers() override;
};

} // namespace quorin::test
