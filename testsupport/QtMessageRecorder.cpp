#include "testsupport/QtMessageRecorder.h"

#include <QMutexLocker>
#include <atomic>

namespace quorin::test {

namespace {

std::atomic<QtMessageRecorder *> activeRecorder{nullptr};

int severity(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return 0;
    case QtInfoMsg:
        return 1;
    case QtWarningMsg:
        return 2;
    case QtCriticalMsg:
        return 3;
    case QtFatalMsg:
        return 4;
    }
    return 4;
}

} // namespace

QtMessageRecorder::QtMessageRecorder(Forwarding forwarding)
    : m_forwarding(forwarding)
{
    QtMessageRecorder *expected = nullptr;
    const bool installed = activeRecorder.compare_exchange_strong(expected, this);
    Q_ASSERT_X(installed, "QtMessageRecorder", "only one recorder may live at a time");
    Q_UNUSED(installed);
    m_previous = qInstallMessageHandler(&QtMessageRecorder::handle);
}

QtMessageRecorder::~QtMessageRecorder()
{
    qInstallMessageHandler(m_previous);
    activeRecorder.store(nullptr);
}

QStringList QtMessageRecorder::messages(QtMsgType atLeast) const
{
    const QMutexLocker locker(&m_mutex);
    QStringList texts;
    for (const Entry &entry : m_entries) {
        if (severity(entry.type) >= severity(atLeast))
            texts.append(entry.text);
    }
    return texts;
}

void QtMessageRecorder::clear()
{
    const QMutexLocker locker(&m_mutex);
    m_entries.clear();
}

void QtMessageRecorder::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    QtMessageRecorder *recorder = activeRecorder.load();
    if (!recorder)
        return;
    const QString category = context.category ? QString::fromLatin1(context.category) : QString();
    {
        const QMutexLocker locker(&recorder->m_mutex);
        recorder->m_entries.append({type, category + QStringLiteral(": ") + message});
    }
    if (recorder->m_forwarding == Forwarding::PassOn && recorder->m_previous)
        recorder->m_previous(type, context, message);
}

} // namespace quorin::test
