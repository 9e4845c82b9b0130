#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <thread>

namespace quorin::test {

// A named pipe whose buffer is already full, for holding a writer that appends to it: the
// writer's open succeeds (this object keeps a reader end), and its first write waits until the
// pipe is drained. Lets a test fill a writer's queue deterministically.
class StalledPipe
{
public:
    // Makes the pipe at path (the folder must exist) and fills its buffer.
    explicit StalledPipe(const QString &path);
    // Drains and closes the pipe; a writer still appending is never left waiting for ever.
    ~StalledPipe();

    StalledPipe(const StalledPipe &) = delete;
    StalledPipe &operator=(const StalledPipe &) = delete;

    [[nodiscard]] bool isValid() const { return m_descriptor >= 0; }
    // Whether a descriptor of this process other than the pipe's own refers to the pipe: the
    // writer has opened it, so it has taken its line and now waits in write.
    [[nodiscard]] bool openedByWriter() const;
    // Starts reading on a thread of its own, so the held writer can go on.
    void startDraining();
    // Stops reading once nothing more is waiting in the pipe, and returns what the writer wrote
    // (the filler is left out).
    [[nodiscard]] QByteArray finishDraining();

private:
    void drain();

    QString m_path;
    int m_descriptor = -1;
    qint64 m_fillerBytes = 0;
    QByteArray m_received;
    std::atomic<bool> m_stop{false};
    std::thread m_reader;
};

} // namespace quorin::test
