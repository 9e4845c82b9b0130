#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace quorin::test {

// Runs the test executable again in a process of its own, for behaviour that holds once per
// process (a process-wide flag, a cached bus connection). The child inherits the environment,
// the isolated folders included, with the given variables added; the test's main() looks at them
// to decide what the child runs.
class ChildProcess
{
public:
    struct Result
    {
        bool succeeded = false; // finished normally with exit code 0
        QByteArray output;      // standard output and error, merged
    };

    [[nodiscard]] static Result runSelf(const QMap<QString, QString> &variables, int timeoutMs = 60000);
};

} // namespace quorin::test
