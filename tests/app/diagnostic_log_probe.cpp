// A process of its own for the diagnostics log behaviours that end a process or write to the
// console: it starts the log, prints the log file's path on standard output, then raises the
// Qt message its argument names ("warning" or "fatal").
#include "app/DiagnosticLogger.h"

#include <QCoreApplication>
#include <cstdio>
#include <sys/resource.h>

int main(int argc, char *argv[])
{
    // The fatal case aborts on purpose; no core file should land in the test's folders.
    const rlimit noCore = {0, 0};
    setrlimit(RLIMIT_CORE, &noCore);

    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
    QCoreApplication::setApplicationName(QStringLiteral("probe"));
    DiagnosticLogger::initialize();
    std::printf("%s\n", qPrintable(DiagnosticLogger::logFilePath()));
    std::fflush(stdout);

    const QString mode = QCoreApplication::arguments().value(1);
    if (mode == QLatin1String("fatal"))
        qFatal("unrecoverable state in /home/u/x.txt");
    qWarning("open /home/u/x.txt failed");
    DiagnosticLogger::shutdown();
    return 0;
}
