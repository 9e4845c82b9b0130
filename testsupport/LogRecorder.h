#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QVariantMap>
#include <memory>

namespace quorin::test {

// Records what code hands to DiagnosticLogger::log, through the log's remote sink, with the
// fields exactly as the caller passed them: the file holds them masked, and the masks take long
// hyphenated words for secrets. Installs the sink while it lives (the log has one sink, so a test
// that starts telemetry cannot use it). Records arrive on whatever thread logs.
class LogRecorder
{
public:
    struct Record
    {
        QString category;
        QString level;
        QString event;
        QVariantMap fields;
        bool detailedOnly = false;

        [[nodiscard]] QString field(const QString &key) const { return fields.value(key).toString(); }
    };

    LogRecorder();
    ~LogRecorder();
    LogRecorder(const LogRecorder &) = delete;
    LogRecorder &operator=(const LogRecorder &) = delete;

    [[nodiscard]] QList<Record> records() const;
    // The records of one category, in the order they were logged.
    [[nodiscard]] QList<Record> inCategory(const QString &category) const;
    [[nodiscard]] QList<Record> withEvent(const QString &event) const;
    void clear();

private:
    struct State
    {
        mutable QMutex mutex;
        QList<Record> records; // guarded by mutex
    };

    std::shared_ptr<State> m_state;
};

} // namespace quorin::test
