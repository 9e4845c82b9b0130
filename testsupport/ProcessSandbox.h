#pragma once

#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

namespace quorin::test {

// Fresh HOME and XDG folders for a program a test starts with QProcess, so that what the
// program writes can be found, and nothing it writes is shared with another run.
class ProcessSandbox
{
public:
    ProcessSandbox();

    [[nodiscard]] bool isValid() const { return m_root.isValid(); }
    // The test's own environment with HOME and the XDG folders pointing into the sandbox.
    [[nodiscard]] QProcessEnvironment environment() const;
    [[nodiscard]] QString dataHome() const;
    [[nodiscard]] QString configHome() const;
    // Every file under the sandbox, relative to its root, sorted.
    [[nodiscard]] QStringList files() const;

private:
    QTemporaryDir m_root;
};

} // namespace quorin::test
