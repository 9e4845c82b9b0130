#include "hlsproxy/ProxyRequestHead.h"

#include <QList>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <QUrlQuery>

namespace quorin {
namespace {

const QByteArray HeadTerminator = QByteArrayLiteral("\r\n\r\n");

} // namespace

ProxyRequestHead ProxyRequestHead::parse(const QByteArray &head)
{
    ProxyRequestHead parsed;
    const qsizetype end = head.indexOf(HeadTerminator);
    const QString text = QString::fromUtf8(end < 0 ? head : head.left(end));
    const QStringList lines = text.split(QStringLiteral("\r\n"));

    const QStringList requestLine = lines.constFirst().split(u' ');
    if (requestLine.size() < 2)
        return parsed;
    parsed.m_hasTarget = true;
    parsed.m_target = requestLine.at(1);

    for (qsizetype index = 1; index < lines.size(); ++index) {
        const QString &line = lines.at(index);
        if (line.startsWith(QLatin1String("Range:"), Qt::CaseInsensitive)) {
            parsed.readRange(line.sliced(line.indexOf(u':') + 1).trimmed().toLatin1());
            break;
        }
    }
    parsed.readQuery();
    return parsed;
}

void ProxyRequestHead::readRange(const QByteArray &value)
{
    m_rangeHeader = value;
    // Compiled lazily on first use, so each thread keeps its own.
    thread_local const QRegularExpression bytes(QStringLiteral("bytes=(\\d+)-(\\d*)"));
    const QRegularExpressionMatch match = bytes.match(QString::fromLatin1(value));
    if (!match.hasMatch())
        return;
    bool startRead = false;
    const qint64 start = match.capturedView(1).toLongLong(&startRead);
    // Digits beyond 64 bits name no byte of any file.
    if (!startRead)
        return;
    m_rangeStart = start;
    if (match.capturedLength(2) == 0)
        return;
    bool endRead = false;
    const qint64 last = match.capturedView(2).toLongLong(&endRead);
    qint64 length = 0;
    if (endRead && last >= start && !qAddOverflow(last - start, qint64(1), &length))
        m_rangeLength = length;
}

void ProxyRequestHead::readQuery()
{
    const QUrlQuery query(QUrl(m_target, QUrl::TolerantMode));
    m_token = query.queryItemValue(QStringLiteral("token"));
    m_sessionId = query.queryItemValue(QStringLiteral("session"));
    bool read = false;
    const quint64 generation = query.queryItemValue(QStringLiteral("generation")).toULongLong(&read, 10);
    m_generation = read ? generation : 0;
}

} // namespace quorin
