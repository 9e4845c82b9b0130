// Creates the process-wide resource cache and ends, as the client does. Arguments: "event-loop"
// (the application quits its event loop, so aboutToQuit is emitted) or "no-event-loop" (main
// returns without ever running one); then "main-thread" or "worker-thread" (the first use comes
// from a thread that has ended before the process does). The cache is destroyed at process
// exit, after the application object. Prints the cache folder as "root=<path>".
#include "media/ResourceCache.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("quorin"));
    QCoreApplication::setApplicationName(QStringLiteral("desktop"));
    const QStringList arguments = QCoreApplication::arguments();
    const bool eventLoop = arguments.value(1) == QLatin1String("event-loop");
    const bool workerThread = arguments.value(2) == QLatin1String("worker-thread");

    QString root;
    if (workerThread) {
        const std::unique_ptr<QThread> worker(
            QThread::create([&root] { root = ResourceCache::instance()->root(); }));
        worker->start();
        worker->wait();
    } else {
        root = ResourceCache::instance()->root();
    }
    std::printf("root=%s\n", qPrintable(root));
    std::fflush(stdout);
    if (!eventLoop)
        return 0;
    QTimer::singleShot(0, &application, &QCoreApplication::quit);
    return QCoreApplication::exec();
}
