#pragma once

#include <QMutex>
#include <QStringList>
#include <QtGlobal>

namespace quorin::test {

// Records every message Qt prints (warnings of the QML engine among them) while it lives, and
// passes nothing on unless asked to hand each message to the handler installed before it. One
// recorder at a time: it owns the process-wide message handler.
class QtMessageRecorder
{
public:
    enum class Forwarding { Swallow, PassOn };

    explicit QtMessageRecorder(Forwarding forwarding = Forwarding::Swallow);
    ~QtMessageRecorder();
    QtMessageRecorder(const QtMessageRecorder &) = delete;
    QtMessageRecorder &operator=(const QtMessageRecorder &) = delete;

    // Messages of at least this severity, as "category: text" (debug < info < warning < critical).
    [[nodiscard]] QStringList messages(QtMsgType atLeast = QtWarningMsg) const;
    void clear();

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);

    struct Entry
    {
        QtMsgType type;
        QString text;
    };

    mutable QMutex m_mutex;
    QList<Entry> m_entries; // guarded by m_mutex
    QtMessageHandler m_previous = nullptr;
    Forwarding m_forwarding;
};

} // namespace quorin::test
