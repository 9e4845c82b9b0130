#include "testsupport/StalledPipe.h"

#include <QDir>
#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quorin::test {

StalledPipe::StalledPipe(const QString &path)
    : m_path(path)
{
    const QByteArray encoded = QFile::encodeName(path);
    if (::mkfifo(encoded.constData(), 0600) != 0)
        return;
    // Read and write ends in one descriptor: the pipe always has a reader, so a writer's open
    // never waits, and reading never sees an end of file between two of the writer's lines.
    m_descriptor = ::open(encoded.constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (m_descriptor < 0)
        return;
    const QByteArray filler(4096, '\n');
    for (qsizetype chunk = filler.size(); chunk > 0; chunk /= 2) {
        ssize_t written = 0;
        while ((written = ::write(m_descriptor, filler.constData(), size_t(chunk))) > 0)
            m_fillerBytes += written;
    }
}

StalledPipe::~StalledPipe()
{
    if (m_descriptor < 0)
        return;
    startDraining();
    (void)finishDraining();
    ::close(m_descriptor);
}

bool StalledPipe::openedByWriter() const
{
    struct stat pipeStatus = {};
    if (m_descriptor < 0 || ::fstat(m_descriptor, &pipeStatus) != 0)
        return false;
    const QStringList descriptors =
        QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::System | QDir::Files);
    for (const QString &name : descriptors) {
        struct stat status = {};
        const QByteArray link = QFile::encodeName(QStringLiteral("/proc/self/fd/") + name);
        if (name.toInt() != m_descriptor && ::stat(link.constData(), &status) == 0 &&
            status.st_ino == pipeStatus.st_ino && status.st_dev == pipeStatus.st_dev)
            return true;
    }
    return false;
}

void StalledPipe::startDraining()
{
    if (m_descriptor < 0 || m_reader.joinable())
        return;
    m_stop = false;
    m_reader = std::thread([this] { drain(); });
}

QByteArray StalledPipe::finishDraining()
{
    m_stop = true;
    if (m_reader.joinable())
        m_reader.join();
    return m_received.mid(m_fillerBytes);
}

void StalledPipe::drain()
{
    char buffer[65536];
    for (;;) {
        const ssize_t count = ::read(m_descriptor, buffer, sizeof buffer);
        if (count > 0) {
            m_received.append(buffer, count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        // Nothing waiting: finish when asked to, else wait for the writer's next line.
        if (m_stop)
            return;
        pollfd readable = {m_descriptor, POLLIN, 0};
        ::poll(&readable, 1, 20);
    }
}

} // namespace quorin::test
