#include "app/PreferencesStore.h"

#include "app/OwnerOnlyFolder.h"

#include <QFile>
#include <QFileInfo>

namespace quorin {
namespace {

constexpr QFileDevice::Permissions kOwnerFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
constexpr QFileDevice::Permissions kOwnerFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// The store holds per-user titles, resource links, the completion queue and download records, so
// only the owner may read it. The settings writer replaces the file through a temporary copy that
// takes over the existing file's mode, but a file it creates itself follows the umask; an empty
// owner-only file made here first keeps every later write private.
void makeOwnerOnly(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (QFileInfo(folder).isDir())
        QFile::setPermissions(folder, kOwnerFolder);
    else
        OwnerOnlyFolder::ensure(folder);
    if (QFileInfo::exists(path)) {
        QFile::setPermissions(path, kOwnerFile);
        return;
    }
    QFile file(path);
    // NewOnly: a file that appeared meanwhile is kept as it is, never truncated.
    if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerFile))
        file.close();
}

} // namespace

std::unique_ptr<QSettings> PreferencesStore::open()
{
    auto store = std::make_unique<QSettings>(QStringLiteral("quorin"), QStringLiteral("desktop"));
    makeOwnerOnly(store->fileName());
    return store;
}

} // namespace quorin
