#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace quorin::test {

// Reads diagnostic log lines back: "schema_version=1 key=\"value\" …" becomes an ordered list of
// fields with the escapes (\n, \r, \", \\, \uXXXX) undone.
class LogLineParser
{
public:
    struct Record
    {
        QList<QPair<QString, QString>> fields;
        bool valid = false;

        [[nodiscard]] QString value(const QString &key) const;
        [[nodiscard]] bool contains(const QString &key) const;
        [[nodiscard]] int count(const QString &key) const;
        [[nodiscard]] QStringList keys() const;
        [[nodiscard]] QString event() const { return value(QStringLiteral("event")); }
    };

    [[nodiscard]] static Record parse(const QString &line);
    // Every line of a log file, oldest first; an unreadable file gives none.
    [[nodiscard]] static QList<Record> parseFile(const QString &path);
    // The records of one event, in file order.
    [[nodiscard]] static QList<Record> withEvent(const QList<Record> &records, const QString &event);
};

} // namespace quorin::test
