#include "testsupport/ProcessSandbox.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>

namespace quorin::test {
namespace {

struct Folder
{
    const char *variable;
    const char *name;
};

constexpr Folder kFolders[] = {{"HOME", "home"},
                               {"XDG_CONFIG_HOME", "config"},
                               {"XDG_DATA_HOME", "data"},
                               {"XDG_CACHE_HOME", "cache"},
                               {"XDG_RUNTIME_DIR", "runtime"},
                               {"TMPDIR", "tmp"}};

} // namespace

ProcessSandbox::ProcessSandbox()
{
    for (const Folder &folder : kFolders)
        QDir(m_root.path()).mkpath(QLatin1String(folder.name));
    QFile::setPermissions(m_root.filePath(QStringLiteral("runtime")),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QProcessEnvironment ProcessSandbox::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const Folder &folder : kFolders)
        environment.insert(QLatin1String(folder.variable), m_root.filePath(QLatin1String(folder.name)));
    return environment;
}

QString ProcessSandbox::dataHome() const
{
    return m_root.filePath(QStringLiteral("data"));
}

QString ProcessSandbox::configHome() const
{
    return m_root.filePath(QStringLiteral("config"));
}

QStringList ProcessSandbox::files() const
{
    QStringList found;
    QDirIterator iterator(m_root.path(), QDir::Files | QDir::Hidden | QDir::System,
                          QDirIterator::Subdirectories);
    while (iterator.hasNext())
        found.append(QDir(m_root.path()).relativeFilePath(iterator.next()));
    found.sort();
    return found;
}

} // namespace quorin::test
