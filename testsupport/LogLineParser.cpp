#include "testsupport/LogLineParser.h"

#include <QFile>

namespace quorin::test {
namespace {

// Reads a quoted value starting after the opening quote; returns the index after the closing one.
qsizetype readQuoted(const QString &line, qsizetype index, QString *value, bool *ok)
{
    *ok = false;
    while (index < line.size()) {
        const QChar c = line.at(index);
        if (c == QLatin1Char('"')) {
            *ok = true;
            return index + 1;
        }
        if (c != QLatin1Char('\\')) {
            value->append(c);
            ++index;
            continue;
        }
        if (index + 1 >= line.size())
            return index;
        const QChar escaped = line.at(index + 1);
        if (escaped == QLatin1Char('n'))
            value->append(QLatin1Char('\n'));
        else if (escaped == QLatin1Char('r'))
            value->append(QLatin1Char('\r'));
        else if (escaped == QLatin1Char('u') && index + 5 < line.size()) {
            bool hexOk = false;
            value->append(QChar(line.mid(index + 2, 4).toUShort(&hexOk, 16)));
            if (!hexOk)
                return index;
            index += 6;
            continue;
        } else
            value->append(escaped);
        index += 2;
    }
    return index;
}

} // namespace

QString LogLineParser::Record::value(const QString &key) const
{
    for (const auto &[name, text] : fields) {
        if (name == key)
            return text;
    }
    return {};
}

bool LogLineParser::Record::contains(const QString &key) const
{
    return count(key) > 0;
}

int LogLineParser::Record::count(const QString &key) const
{
    int found = 0;
    for (const auto &field : fields)
        found += field.first == key ? 1 : 0;
    return found;
}

QStringList LogLineParser::Record::keys() const
{
    QStringList names;
    for (const auto &field : fields)
        names.append(field.first);
    return names;
}

LogLineParser::Record LogLineParser::parse(const QString &line)
{
    Record record;
    qsizetype index = 0;
    const QString text = line.endsWith(QLatin1Char('\n')) ? line.chopped(1) : line;
    while (index < text.size()) {
        const qsizetype equals = text.indexOf(QLatin1Char('='), index);
        if (equals < 0)
            return record;
        const QString key = text.mid(index, equals - index);
        QString value;
        qsizetype next = equals + 1;
        if (next < text.size() && text.at(next) == QLatin1Char('"')) {
            bool ok = false;
            next = readQuoted(text, next + 1, &value, &ok);
            if (!ok)
                return record;
        } else {
            const qsizetype space = text.indexOf(QLatin1Char(' '), next);
            value = text.mid(next, space < 0 ? -1 : space - next);
            next = space < 0 ? text.size() : space;
        }
        record.fields.append({key, value});
        if (next < text.size() && text.at(next) != QLatin1Char(' '))
            return record;
        index = next + 1;
    }
    record.valid = !record.fields.isEmpty() && record.fields.first().first == QLatin1String("schema_version");
    return record;
}

QList<LogLineParser::Record> LogLineParser::parseFile(const QString &path)
{
    QList<Record> records;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return records;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (!line.isEmpty())
            records.append(parse(QString::fromUtf8(line)));
    }
    return records;
}

QList<LogLineParser::Record> LogLineParser::withEvent(const QList<Record> &records, const QString &event)
{
    QList<Record> matching;
    for (const Record &record : records) {
        if (record.event() == event)
            matching.append(record);
    }
    return matching;
}

} // namespace quorin::test
