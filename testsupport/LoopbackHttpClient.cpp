#include "testsupport/LoopbackHttpClient.h"

#include "testsupport/Aes128Cbc.h"

#include <QEventLoop>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTimer>

namespace quorin::test {

namespace {

const QByteArray HeadTerminator = QByteArrayLiteral("\r\n\r\n");

// Runs the event loop until done() holds or the time runs out; the result is done().
template<typename Condition, typename Signal>
bool spinUntil(QTcpSocket *socket, Signal signal, int timeoutMs, Condition done)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(socket, signal, &loop, [&] {
        if (done())
            loop.quit();
    });
    QObject::connect(socket, &QTcpSocket::disconnected, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    loop.exec();
    return done();
}

} // namespace

int LoopbackHttpClient::Answer::status() const
{
    const QList<QByteArray> parts = statusLine.split(' ');
    return parts.size() >= 2 ? parts.at(1).toInt() : 0;
}

QByteArray LoopbackHttpClient::Answer::header(const QByteArray &name) const
{
    for (const QByteArray &line : headerLines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

LoopbackHttpClient::LoopbackHttpClient(quint16 port, QObject *parent)
    : QObject(parent)
    , m_port(port)
    , m_socket(new QTcpSocket(this))
{
    connect(m_socket, &QTcpSocket::readyRead, this, &LoopbackHttpClient::readAvailable);
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_aborted)
            return;
        readAvailable();
        m_closed = true;
    });
}

LoopbackHttpClient::~LoopbackHttpClient()
{
    m_socket->disconnect(this);
}

QByteArray LoopbackHttpClient::getHead(const QString &target, const QList<QByteArray> &extraLines)
{
    QByteArray head = "GET " + target.toUtf8() + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (const QByteArray &line : extraLines)
        head += line + "\r\n";
    return head + "\r\n";
}

bool LoopbackHttpClient::connectToServer(int timeoutMs)
{
    m_socket->connectToHost(QHostAddress(QHostAddress::LocalHost), m_port);
    return spinUntil(m_socket, &QTcpSocket::connected, timeoutMs,
                     [this] { return m_socket->state() == QAbstractSocket::ConnectedState; });
}

void LoopbackHttpClient::send(const QByteArray &bytes)
{
    m_socket->write(bytes);
    m_socket->flush();
}

void LoopbackHttpClient::sendInPieces(const QList<QByteArray> &pieces, int pauseMs)
{
    for (qsizetype index = 0; index < pieces.size(); ++index) {
        if (index > 0) {
            QEventLoop pause;
            QTimer::singleShot(pauseMs, &pause, &QEventLoop::quit);
            pause.exec();
        }
        send(pieces.at(index));
    }
}

LoopbackHttpClient::Answer LoopbackHttpClient::waitForClose(int timeoutMs)
{
    spinUntil(m_socket, &QTcpSocket::readyRead, timeoutMs, [this] { return m_closed; });
    return answer();
}

void LoopbackHttpClient::abort()
{
    m_aborted = true;
    m_socket->abort();
}

LoopbackHttpClient::Answer LoopbackHttpClient::exchange(quint16 port, const QByteArray &bytes, int timeoutMs)
{
    LoopbackHttpClient client(port);
    if (!client.connectToServer())
        return {};
    client.send(bytes);
    return client.waitForClose(timeoutMs);
}

LoopbackHttpClient::Answer LoopbackHttpClient::get(quint16 port, const QString &target, int timeoutMs)
{
    return exchange(port, getHead(target), timeoutMs);
}

QByteArray LoopbackHttpClient::fetchPlaybackKey(quint16 port, const QString &keyTarget)
{
    const Answer answer = get(port, keyTarget);
    if (answer.status() != 200 || answer.body.size() != 16)
        return {};
    return answer.body;
}

QByteArray LoopbackHttpClient::keyLineIv(const QByteArray &playlist)
{
    static const QRegularExpression ivAttribute(QStringLiteral("IV=0[xX]([0-9a-fA-F]{32})"));
    for (const QByteArray &line : playlist.split('\n')) {
        if (!line.startsWith("#EXT-X-KEY:"))
            continue;
        const QRegularExpressionMatch match = ivAttribute.match(QString::fromLatin1(line));
        return match.hasMatch() ? QByteArray::fromHex(match.captured(1).toLatin1()) : QByteArray();
    }
    return {};
}

QByteArray LoopbackHttpClient::decryptBody(const QByteArray &body, const QByteArray &key,
                                           const QByteArray &iv)
{
    return Aes128Cbc::decrypt(body, key, iv);
}

void LoopbackHttpClient::readAvailable()
{
    m_received += m_socket->readAll();
}

LoopbackHttpClient::Answer LoopbackHttpClient::answer() const
{
    Answer answer;
    answer.closed = m_closed;
    answer.raw = m_received;
    const qsizetype end = m_received.indexOf(HeadTerminator);
    if (end < 0)
        return answer;
    const QList<QByteArray> lines = m_received.left(end).split('\n');
    for (qsizetype index = 0; index < lines.size(); ++index) {
        QByteArray line = lines.at(index);
        if (line.endsWith('\r'))
            line.chop(1);
        if (index == 0)
            answer.statusLine = line;
        else
            answer.headerLines.append(line);
    }
    answer.body = m_received.mid(end + HeadTerminator.size());
    return answer;
}

} // namespace quorin::test
