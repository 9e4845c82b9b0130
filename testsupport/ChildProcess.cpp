#include "testsupport/ChildProcess.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

namespace quorin::test {

ChildProcess::Result ChildProcess::runSelf(const QMap<QString, QString> &variables, int timeoutMs)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (auto variable = variables.constBegin(); variable != variables.constEnd(); ++variable)
        environment.insert(variable.key(), variable.value());
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {});
    const bool finished = child.waitForFinished(timeoutMs);
    if (!finished)
        child.kill();
    child.waitForFinished();
    Result result;
    result.output = child.readAll();
    result.succeeded = finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
    return result;
}

} // namespace quorin::test
