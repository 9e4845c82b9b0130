#pragma once

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

namespace quorin::test {

class FixtureServer;

// Writes down, in the order they happen, every signal of the objects it watches and every request
// a fixture server receives, so a test can compare one list with what must happen and what must
// not. A change signal of a bool or text property is written with the value it announces
// ("isLoadingChanged:true"); a request as "request:<method> <path>" with the path as received.
class SignalLog : public QObject
{
    Q_OBJECT

public:
    SignalLog() = default;

    // Signals are written with the prefix in front of their names.
    void watch(QObject *object, const QString &prefix = QString());
    // Paths are written with pathPrefix removed from their front ("/api/v1/").
    void watchServer(FixtureServer &server, const QString &pathPrefix = QString());

    [[nodiscard]] QStringList events() const { return m_events; }
    void clear() { m_events.clear(); }

private Q_SLOTS:
    void record();

private:
    [[nodiscard]] static QString announcedValue(const QObject *object, int signalIndex);

    QHash<const QObject *, QString> m_prefixes;
    QStringList m_events;
};

} // namespace quorin::test
