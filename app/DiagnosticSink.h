#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Appends diagnostic log lines to a size-rotated file on a native thread of its own, so that a
// producer never waits for the disk or for another producer: a hand-over that cannot happen at
// once (another producer is handing over, the queue is full, or the sink is stopping) is dropped
// and counted instead.
class DiagnosticSink
{
public:
    // Starts the writer thread. The size limit and the capacity are raised to at least 1 and the
    // rotations to at least 0.
    DiagnosticSink(QString path, qint64 sizeLimit, int rotations, qint64 capacity);
    // Stops the writer after it has written every queued line, and joins it.
    ~DiagnosticSink();

    DiagnosticSink(const DiagnosticSink &) = delete;
    DiagnosticSink &operator=(const DiagnosticSink &) = delete;

    // Never waits: true when the line was queued, false when it was dropped and counted.
    bool enqueue(QString line);

    // Makes room in the current file for a line of that many bytes by rotating the older files.
    void rotateIfNeeded(qint64 incomingBytes);

    // Waits until every queued line has been written, at most for the timeout when one is given.
    // Returns whether the queue was written. Must not be called on the writer thread.
    bool waitUntilIdle(std::optional<std::chrono::milliseconds> timeout = std::nullopt);

    // Refuses further lines, writes the queued ones and joins the writer thread. Only the owner
    // calls it; a second call does nothing.
    void stop();

    [[nodiscard]] quint64 droppedCount() const { return m_dropped.load(std::memory_order_relaxed); }
    [[nodiscard]] bool isWriterThread() const
    {
        return std::this_thread::get_id() == m_writerThreadId.load(std::memory_order_acquire);
    }
    [[nodiscard]] QString path() const { return m_path; }

private:
    void run();
    void markWritten();
    void createFolder() const;
    void append(const QByteArray &bytes) const;
    [[nodiscard]] bool idle() const;

    const QString m_path;
    const QByteArray m_encodedPath;
    const qint64 m_sizeLimit;
    const int m_rotations;
    const quint64 m_capacity;

    // The queue is a ring with one producer side and one consumer side. Producers take turns
    // through m_handOver (tried, never waited for); the writer takes lines without it, so its
    // own work never makes a hand-over fail.
    std::mutex m_handOver;
    std::vector<QString> m_ring;
    std::atomic<quint64> m_tail{0};      // next slot to fill; changed only under m_handOver
    std::atomic<quint64> m_head{0};      // next slot to take; changed only by the writer
    std::atomic<bool> m_stopping{false}; // set under m_handOver, so no hand-over is half done
    // Bumped on every hand-over and on stop; the writer sleeps on it while the ring is empty.
    std::atomic<quint32> m_signal{0};

    // Lines written so far; the queue is idle when it equals m_tail.
    std::atomic<quint64> m_written{0};
    std::mutex m_idleMutex;
    std::condition_variable m_idle;

    std::atomic<quint64> m_dropped{0};
    // Set by the writer thread itself, so that no other thread reads the handle while it is made.
    std::atomic<std::thread::id> m_writerThreadId{};
    std::thread m_thread;
};
