#include "app/DiagnosticSink.h"

#include "app/OwnerOnlyFolder.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray rotatedName(const QByteArray &path, int number)
{
    return path + '.' + QByteArray::number(number);
}

} // namespace

DiagnosticSink::DiagnosticSink(QString path, qint64 sizeLimit, int rotations, qint64 capacity)
    : m_path(std::move(path))
    , m_encodedPath(QFile::encodeName(m_path))
    , m_sizeLimit(std::max<qint64>(sizeLimit, 1))
    , m_rotations(std::max(rotations, 0))
    , m_capacity(quint64(std::max<qint64>(capacity, 1)))
    , m_ring(m_capacity)
{
    m_thread = std::thread([this] { run(); });
}

DiagnosticSink::~DiagnosticSink()
{
    stop();
}

bool DiagnosticSink::enqueue(QString line)
{
    std::unique_lock lock(m_handOver, std::try_to_lock);
    const quint64 tail = m_tail.load(std::memory_order_relaxed);
    if (!lock.owns_lock() || m_stopping.load(std::memory_order_relaxed) ||
        tail - m_head.load(std::memory_order_acquire) >= m_capacity) {
        m_dropped.fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    m_ring[tail % m_capacity] = std::move(line);
    m_tail.store(tail + 1, std::memory_order_release);
    lock.unlock();
    m_signal.fetch_add(1, std::memory_order_release);
    m_signal.notify_one();
    return true;
}

bool DiagnosticSink::idle() const
{
    return m_written.load(std::memory_order_acquire) == m_tail.load(std::memory_order_acquire);
}

bool DiagnosticSink::waitUntilIdle(std::optional<std::chrono::milliseconds> timeout)
{
    std::unique_lock lock(m_idleMutex);
    if (!timeout) {
        m_idle.wait(lock, [this] { return idle(); });
        return true;
    }
    return m_idle.wait_for(lock, *timeout, [this] { return idle(); });
}

void DiagnosticSink::stop()
{
    {
        // Taken in full, not tried: once it is set, no producer is half-way through a hand-over.
        const std::lock_guard lock(m_handOver);
        m_stopping.store(true, std::memory_order_release);
    }
    m_signal.fetch_add(1, std::memory_order_release);
    m_signal.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void DiagnosticSink::run()
{
    m_writerThreadId.store(std::this_thread::get_id(), std::memory_order_release);
    createFolder();
    for (;;) {
        const quint32 seenSignal = m_signal.load(std::memory_order_acquire);
        // Stopping is read before the tail: once it is seen, the tail is final.
        const bool stopping = m_stopping.load(std::memory_order_acquire);
        const quint64 head = m_head.load(std::memory_order_relaxed);
        if (head == m_tail.load(std::memory_order_acquire)) {
            if (stopping)
                break;
            m_signal.wait(seenSignal, std::memory_order_acquire);
            continue;
        }
        const QString line = std::move(m_ring[head % m_capacity]);
        m_head.store(head + 1, std::memory_order_release);

        QByteArray bytes = line.toUtf8();
        bytes.append('\n');
        rotateIfNeeded(bytes.size());
        append(bytes);
        markWritten();
    }
    const std::lock_guard lock(m_idleMutex);
    m_idle.notify_all();
}

void DiagnosticSink::markWritten()
{
    m_written.fetch_add(1, std::memory_order_release);
    // Under the idle mutex, so a waiter between its check and its sleep cannot miss it.
    const std::lock_guard lock(m_idleMutex);
    m_idle.notify_all();
}

void DiagnosticSink::createFolder() const
{
    // The log may hold details of the user's activity: only the owner may list or read it.
    quorin::OwnerOnlyFolder::ensure(QFileInfo(m_path).absolutePath());
}

void DiagnosticSink::append(const QByteArray &bytes) const
{
    // Opened and closed per line, so every written line is on disk at once and a rotation
    // between two lines needs no reopen. A file that cannot be opened loses the line silently:
    // logging never fails visibly.
    int descriptor = -1;
    do {
        descriptor = ::open(m_encodedPath.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    } while (descriptor < 0 && errno == EINTR);
    if (descriptor < 0)
        return;
    const char *data = bytes.constData();
    qsizetype remaining = bytes.size();
    while (remaining > 0) {
        const ssize_t written = ::write(descriptor, data, size_t(remaining));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            break;
        data += written;
        remaining -= written;
    }
    ::close(descriptor);
}

void DiagnosticSink::rotateIfNeeded(qint64 incomingBytes)
{
    struct stat status = {};
    if (::stat(m_encodedPath.constData(), &status) != 0 ||
        qint64(status.st_size) + incomingBytes <= m_sizeLimit)
        return;
    if (m_rotations == 0) {
        ::unlink(m_encodedPath.constData());
        return;
    }
    // Failures are ignored: at worst an old file is overwritten or the current one grows on.
    ::unlink(rotatedName(m_encodedPath, m_rotations).constData());
    for (int number = m_rotations; number >= 2; --number)
        ::rename(rotatedName(m_encodedPath, number - 1).constData(),
                 rotatedName(m_encodedPath, number).constData());
    ::rename(m_encodedPath.constData(), rotatedName(m_encodedPath, 1).constData());
}
