#include "testsupport/DownloadsFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace quorin::test {

QString DownloadsFolder::path()
{
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

bool DownloadsFolder::block()
{
    const QString folder = path();
    if (!QDir(folder).removeRecursively())
        return false;
    QFile blocker(folder);
    return blocker.open(QIODevice::WriteOnly) && blocker.write("not a folder") > 0;
}

bool DownloadsFolder::unblock()
{
    const QString folder = path();
    return !QFileInfo(folder).isFile() || QFile::remove(folder);
}

} // namespace quorin::test
