#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

namespace quorin {

// Hands a verified Debian package to the desktop's software installer. Opening the file by its
// type alone gives it, on a desktop with no installer registered for Debian packages, to whatever
// handles archives (or to nothing) while the client quits as though it were being installed. So
// the desktop is asked which application handles Debian packages; the package is opened with that
// one, and without one its folder is shown for the user to open it with the installer they have.
// The outside programs run through a command runner, which tests answer for. GUI thread.
class LinuxPackageInstaller : public QObject
{
    Q_OBJECT

public:
    struct Command
    {
        QString program;
        QStringList arguments;
        // Whether its standard output is read. A launcher's is not: the application it starts
        // inherits it and must not write into a pipe that nobody reads once the client is gone.
        bool readsOutput = false;
    };

    struct CommandResult
    {
        bool started = false; // false: the program could not be run at all
        int exitCode = -1;    // -1 when it crashed or was ended
        QByteArray output;    // its standard output, when read
    };

    using CommandDone = std::function<void(const CommandResult &)>;
    // Runs a command to its end without blocking the caller, then calls done once, on the
    // caller's thread, unless context is destroyed first.
    using CommandRunner = std::function<void(const Command &command, QObject *context, CommandDone done)>;

    enum class Outcome {
        Opened,   // the installer application started with the package
        Revealed, // the desktop names no installer application: the package's folder was shown
        Failed,   // the installer application could not be started with the package
    };
    Q_ENUM(Outcome)

    static constexpr char PackageType[] = "application/vnd.debian.binary-package";
    // A command that has not ended by then is killed and counts as failed.
    static constexpr int CommandTimeoutMs = 30000;

    // An empty runner runs real processes.
    explicit LinuxPackageInstaller(CommandRunner runner, QObject *parent = nullptr);

    // Hands the package over; done is called once with the outcome, unless this object goes first.
    void open(const QString &packagePath, std::function<void(Outcome)> done);

    [[nodiscard]] static CommandRunner processRunner();

private:
    void openWith(const QString &desktopId, const QString &packagePath, std::function<void(Outcome)> done);
    [[nodiscard]] static QString desktopIdFrom(const CommandResult &query);
    static void reveal(const QString &packagePath);

    CommandRunner m_runner;
};

} // namespace quorin
