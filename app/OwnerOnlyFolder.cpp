#include "app/OwnerOnlyFolder.h"

#include <QDir>
#include <QFileInfo>

namespace quorin {

bool OwnerOnlyFolder::ensure(const QString &path)
{
    const QFileInfo folder(path);
    if (!folder.exists()) {
        QDir().mkpath(folder.absolutePath());
        QDir().mkdir(folder.absoluteFilePath(),
                     QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    return QFileInfo(path).isDir();
}

} // namespace quorin
