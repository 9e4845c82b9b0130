#include "update/LinuxPackageInstaller.h"

#include "app/DiagnosticLogger.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>
#include <memory>
#include <utility>

namespace quorin {
namespace {

const QString kLogCategory = QStringLiteral("update");

void logHandover(const QString &level, const QString &outcome, const QVariantMap &fields = {})
{
    QVariantMap all = fields;
    all.insert(QStringLiteral("outcome"), outcome);
    DiagnosticLogger::log(kLogCategory, level, QStringLiteral("update_installer_handover"), all);
}

} // namespace

LinuxPackageInstaller::LinuxPackageInstaller(CommandRunner runner, QObject *parent)
    : QObject(parent)
    , m_runner(runner ? std::move(runner) : processRunner())
{
}

void LinuxPackageInstaller::open(const QString &packagePath, std::function<void(Outcome)> done)
{
    const Command query{QStringLiteral("xdg-mime"),
                        {QStringLiteral("query"), QStringLiteral("default"), QLatin1String(PackageType)},
                        true};
    m_runner(query, this, [this, packagePath, done = std::move(done)](const CommandResult &result) {
        const QString desktopId = desktopIdFrom(result);
        if (desktopId.isEmpty()) {
            reveal(packagePath);
            logHandover(QStringLiteral("info"), QStringLiteral("revealed"),
                        {{QStringLiteral("query_started"), result.started},
                         {QStringLiteral("query_exit_code"), result.exitCode}});
            done(Outcome::Revealed);
            return;
        }
        openWith(desktopId, packagePath, done);
    });
}

void LinuxPackageInstaller::openWith(const QString &desktopId, const QString &packagePath,
                                     std::function<void(Outcome)> done)
{
    const QString entry = QStandardPaths::locate(QStandardPaths::ApplicationsLocation, desktopId);
    if (entry.isEmpty()) {
        // Named but not installed where the desktop keeps its applications: as good as none.
        reveal(packagePath);
        logHandover(QStringLiteral("warning"), QStringLiteral("revealed"),
                    {{QStringLiteral("handler"), desktopId}, {QStringLiteral("handler_found"), false}});
        done(Outcome::Revealed);
        return;
    }
    const Command launch{QStringLiteral("gio"), {QStringLiteral("launch"), entry, packagePath}, false};
    m_runner(launch, this, [desktopId, done = std::move(done)](const CommandResult &result) {
        // gio ends with 0 once the application has been started with the file.
        const bool opened = result.started && result.exitCode == 0;
        logHandover(opened ? QStringLiteral("info") : QStringLiteral("warning"),
                    opened ? QStringLiteral("opened") : QStringLiteral("open_failed"),
                    {{QStringLiteral("handler"), desktopId},
                     {QStringLiteral("launcher_started"), result.started},
                     {QStringLiteral("launcher_exit_code"), result.exitCode}});
        done(opened ? Outcome::Opened : Outcome::Failed);
    });
}

// The first line xdg-mime printed, when it names a desktop entry. A desktop file id never holds a
// slash; anything else printed is not an answer.
QString LinuxPackageInstaller::desktopIdFrom(const CommandResult &query)
{
    if (!query.started || query.exitCode != 0)
        return {};
    const QString id = QString::fromUtf8(query.output).section(QLatin1Char('\n'), 0, 0).trimmed();
    if (!id.endsWith(QLatin1String(".desktop")) || id.size() == 8 || id.contains(QLatin1Char('/')))
        return {};
    return id;
}

// The folder, not the file: opening the file itself is what must not happen here. Whether a file
// manager came up cannot be known; the user is told where to go either way.
void LinuxPackageInstaller::reveal(const QString &packagePath)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(packagePath).absolutePath()));
}

LinuxPackageInstaller::CommandRunner LinuxPackageInstaller::processRunner()
{
    return [](const Command &command, QObject *context, CommandDone done) {
        auto *process = new QProcess(context);
        process->setProgram(command.program);
        process->setArguments(command.arguments);
        process->setStandardInputFile(QProcess::nullDevice());
        process->setStandardErrorFile(QProcess::nullDevice());
        if (!command.readsOutput)
            process->setStandardOutputFile(QProcess::nullDevice());
        // Called once: a process that cannot start reports no end, one that ends reports no
        // start failure. A process killed while its context is destroyed may still report its end
        // from its own destructor; the context's guard is already clear then.
        auto pending = std::make_shared<CommandDone>(std::move(done));
        const QPointer<QObject> contextGuard(context);
        const auto finish = [process, pending, contextGuard](const CommandResult &result) {
            process->deleteLater();
            CommandDone call = std::exchange(*pending, {});
            if (call && contextGuard)
                call(result);
        };
        QObject::connect(process, &QProcess::errorOccurred, process, [finish](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                finish(CommandResult{});
        });
        QObject::connect(
            process, &QProcess::finished, process,
            [process, finish, readsOutput = command.readsOutput](int exitCode, QProcess::ExitStatus status) {
                CommandResult result;
                result.started = true;
                result.exitCode = status == QProcess::NormalExit ? exitCode : -1;
                if (readsOutput)
                    result.output = process->readAllStandardOutput();
                finish(result);
            });
        QTimer::singleShot(CommandTimeoutMs, process, [process] { process->kill(); });
        process->start();
    };
}

} // namespace quorin
