#include "testsupport/SettingsPaneTestSetup.h"

#include "app/BuildVersion.h"
#include "app/DiagnosticLogger.h"
#include "app/PreferencesStore.h"
#include "testsupport/DownloadsFolder.h"

#include <QCoreApplication>
#include <QProcess>

namespace quorin::test {

SettingsPaneTestSetup::SettingsPaneTestSetup() = default;

SettingsPaneTestSetup::~SettingsPaneTestSetup() = default;

void SettingsPaneTestSetup::registerControllers()
{
    QCoreApplication::setApplicationVersion(QString::fromLatin1(BuildVersion::applicationVersion));
    DiagnosticLogger::initialize();
    ShellTestSetup::registerControllers();
}

void SettingsPaneTestSetup::cleanupTestCase()
{
    ShellTestSetup::cleanupTestCase();
    DiagnosticLogger::shutdown();
}

QVariant SettingsPaneTestSetup::storedPreference(const QString &key) const
{
    return PreferencesStore::open()->value(key);
}

void SettingsPaneTestSetup::setStoredPreference(const QString &key, const QVariant &value) const
{
    const auto store = PreferencesStore::open();
    if (value.isValid())
        store->setValue(key, value);
    else
        store->remove(key);
    store->sync();
}

QString SettingsPaneTestSetup::downloadsFolder() const
{
    return DownloadsFolder::path();
}

bool SettingsPaneTestSetup::blockDownloadsFolder() const
{
    return DownloadsFolder::block();
}

bool SettingsPaneTestSetup::unblockDownloadsFolder() const
{
    return DownloadsFolder::unblock();
}

QStringList SettingsPaneTestSetup::zipEntries(const QString &archive) const
{
    QProcess unzip;
    unzip.start(QStringLiteral("unzip"), {QStringLiteral("-Z1"), archive});
    if (!unzip.waitForFinished(60000) || unzip.exitStatus() != QProcess::NormalExit || unzip.exitCode() != 0)
        return {};
    return QString::fromUtf8(unzip.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace quorin::test
