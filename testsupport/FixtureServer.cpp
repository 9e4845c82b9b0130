#include "testsupport/FixtureServer.h"

#include "testsupport/FixturePaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <optional>

namespace quorin::test {
namespace {

constexpr int ThrottleTickMs = 20;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 409:
        return "Conflict";
    case 410:
        return "Gone";
    case 416:
        return "Range Not Satisfiable";
    case 429:
        return "Too Many Requests";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

QByteArray contentTypeForFile(const QString &fileName)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("m3u8"))
        return "application/vnd.apple.mpegurl";
    if (suffix == QLatin1String("ts"))
        return "video/mp2t";
    if (suffix == QLatin1String("mp4") || suffix == QLatin1String("m4s"))
        return "video/mp4";
    if (suffix == QLatin1String("pdf"))
        return "application/pdf";
    if (suffix == QLatin1String("json"))
        return "application/json";
    if (suffix == QLatin1String("html"))
        return "text/html; charset=utf-8";
    return "application/octet-stream";
}

QByteArray headerValue(const FixtureServer::Headers &headers, const QByteArray &name)
{
    for (const auto &[key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool containsHeader(const FixtureServer::Headers &headers, const QByteArray &name)
{
    for (const auto &header : headers) {
        if (header.first.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

struct ByteRange
{
    qint64 first = 0;
    qint64 last = 0;
};

// Parses a single "bytes=a-b", "bytes=a-" or "bytes=-n" range against a body of the given size.
std::optional<ByteRange> parseRange(const QByteArray &header, qint64 size, bool *wellFormed)
{
    static const QRegularExpression pattern(QStringLiteral("^bytes=(\\d*)-(\\d*)$"));
    const auto match = pattern.match(QString::fromLatin1(header.trimmed()));
    *wellFormed = match.hasMatch() && !(match.capturedView(1).isEmpty() && match.capturedView(2).isEmpty());
    if (!*wellFormed)
        return std::nullopt;
    ByteRange range;
    if (match.capturedView(1).isEmpty()) {
        const qint64 suffix = match.capturedView(2).toLongLong();
        if (suffix <= 0 || size == 0)
            return std::nullopt;
        range.first = qMax<qint64>(0, size - suffix);
        range.last = size - 1;
        return range;
    }
    range.first = match.capturedView(1).toLongLong();
    range.last =
        match.capturedView(2).isEmpty() ? size - 1 : qMin(match.capturedView(2).toLongLong(), size - 1);
    if (range.first >= size || range.last < range.first)
        return std::nullopt;
    return range;
}

} // namespace

// One client connection: parses requests in order, answers each one fully before the next.
class FixtureConnection : public QObject
{
public:
    FixtureConnection(QTcpSocket *socket, FixtureServer *server, int id)
        : QObject(server)
        , m_socket(socket)
        , m_server(server)
        , m_id(id)
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, &FixtureConnection::readRequests);
        connect(socket, &QTcpSocket::disconnected, this, &FixtureConnection::onDisconnected);
        connect(&m_throttle, &QTimer::timeout, this, &FixtureConnection::sendThrottledChunk);
        readRequests();
    }

    void releaseHeld(const QString &key)
    {
        if (m_state == State::Held && m_scriptKey == key)
            startAnswer();
    }

    void close() { m_socket->abort(); }

private:
    enum class State { Reading, Held, Waiting, Sending, Closing, Hung };

    void readRequests()
    {
        m_buffer += m_socket->readAll();
        while (m_state == State::Reading && parseOneRequest())
            beginAnswer();
    }

    bool parseOneRequest()
    {
        const qsizetype headerEnd = m_buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0)
            return false;
        const QList<QByteArray> lines = m_buffer.left(headerEnd).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        FixtureServer::Request request;
        request.method = requestLine.value(0);
        request.target = requestLine.value(1);
        const qsizetype question = request.target.indexOf('?');
        request.path = question < 0 ? request.target : request.target.left(question);
        request.query = question < 0 ? QByteArray() : request.target.mid(question + 1);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                request.headers.append(qMakePair(line.left(colon).trimmed(), line.mid(colon + 1).trimmed()));
        }
        const qint64 bodyLength = request.header("Content-Length").toLongLong();
        const qsizetype bodyStart = headerEnd + 4;
        if (m_buffer.size() - bodyStart < bodyLength)
            return false;
        request.body = m_buffer.mid(bodyStart, bodyLength);
        request.connectionId = m_id;
        m_buffer.remove(0, bodyStart + bodyLength);
        m_request = request;
        return true;
    }

    void beginAnswer()
    {
        m_server->noteRequestStarted(m_request);
        m_response = m_server->answerFor(m_request);
        m_scriptKey = m_server->scriptKeyFor(m_request);
        if (m_response.hang) {
            m_state = State::Hung;
            return;
        }
        if (m_response.dropWithoutAnswer) {
            m_state = State::Hung;
            // Not from inside the read handler that is still parsing this connection's bytes.
            QMetaObject::invokeMethod(
                this, [this] { close(); }, Qt::QueuedConnection);
            return;
        }
        if (m_response.held && !m_server->isReleased(m_scriptKey)) {
            m_state = State::Held;
            return;
        }
        startAnswer();
    }

    void startAnswer()
    {
        m_state = State::Waiting;
        if (m_response.delayMs > 0)
            QTimer::singleShot(m_response.delayMs, this, &FixtureConnection::sendHead);
        else
            sendHead();
    }

    void sendHead()
    {
        m_closeAfter = m_response.omitContentLength ||
                       m_request.header("Connection").compare("close", Qt::CaseInsensitive) == 0;
        QByteArray head = "HTTP/1.1 " + QByteArray::number(m_response.status) + ' ' +
                          reasonPhrase(m_response.status) + "\r\n";
        for (const auto &[name, value] : std::as_const(m_response.headers))
            head += name + ": " + value + "\r\n";
        if (!m_response.omitContentLength && !containsHeader(m_response.headers, "Content-Length"))
            head += "Content-Length: " + QByteArray::number(m_response.body.size()) + "\r\n";
        if (m_closeAfter)
            head += "Connection: close\r\n";
        head += "\r\n";
        m_state = State::Sending;
        m_socket->write(head);

        m_pendingBody = m_request.method == "HEAD" ? QByteArray() : m_response.body;
        if (m_response.dropAfterBodyBytes >= 0) {
            m_pendingBody.truncate(m_response.dropAfterBodyBytes);
            m_closeAfter = true;
        }
        if (m_response.stallAfterBodyBytes >= 0) {
            writeBody(m_pendingBody.left(m_response.stallAfterBodyBytes));
            m_pendingBody.clear();
            m_state = State::Hung;
            return;
        }
        if ((m_response.bytesPerSecond > 0 || m_response.writeWindowBytes > 0) && !m_pendingBody.isEmpty()) {
            m_throttle.start(ThrottleTickMs);
            return;
        }
        writeBody(m_pendingBody);
        m_pendingBody.clear();
        finishAnswer();
    }

    void sendThrottledChunk()
    {
        qint64 perTick = m_response.bytesPerSecond > 0
                             ? qMax<qint64>(1, m_response.bytesPerSecond * ThrottleTickMs / 1000)
                             : m_pendingBody.size();
        if (m_response.writeWindowBytes > 0) {
            // Encrypted bytes wait in the TLS socket's own plain socket until the system takes them.
            const auto *tls = qobject_cast<QSslSocket *>(m_socket);
            const qint64 waiting = m_socket->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
            perTick = qMin(perTick, m_response.writeWindowBytes - waiting);
            if (perTick <= 0)
                return;
        }
        writeBody(m_pendingBody.left(perTick));
        m_pendingBody.remove(0, qMin<qsizetype>(perTick, m_pendingBody.size()));
        if (m_pendingBody.isEmpty()) {
            m_throttle.stop();
            finishAnswer();
        }
    }

    void writeBody(const QByteArray &bytes)
    {
        if (bytes.isEmpty())
            return;
        m_socket->write(bytes);
        m_server->noteBytesSent(bytes.size());
    }

    void finishAnswer()
    {
        m_server->noteRequestFinished(m_request);
        if (m_closeAfter) {
            m_state = State::Closing;
            m_socket->disconnectFromHost();
            return;
        }
        m_state = State::Reading;
        if (!m_buffer.isEmpty())
            QTimer::singleShot(0, this, &FixtureConnection::readRequests);
    }

    void onDisconnected()
    {
        m_throttle.stop();
        if (m_state == State::Held || m_state == State::Waiting || m_state == State::Sending ||
            m_state == State::Hung)
            m_server->noteRequestFinished(m_request);
        m_state = State::Closing;
        deleteLater();
    }

    QTcpSocket *m_socket;
    FixtureServer *m_server;
    int m_id;
    State m_state = State::Reading;
    QByteArray m_buffer;
    FixtureServer::Request m_request;
    FixtureServer::Response m_response;
    QString m_scriptKey;
    QByteArray m_pendingBody;
    QTimer m_throttle;
    bool m_closeAfter = false;
};

QByteArray FixtureServer::Request::header(const QByteArray &name) const
{
    return headerValue(headers, name);
}

bool FixtureServer::Request::hasHeader(const QByteArray &name) const
{
    return containsHeader(headers, name);
}

QUrlQuery FixtureServer::Request::queryItems() const
{
    return QUrlQuery(QString::fromUtf8(query));
}

FixtureServer::Response::Response(int statusCode, QByteArray content, QByteArray contentType)
    : status(statusCode)
    , body(std::move(content))
{
    if (!contentType.isEmpty())
        withHeader("Content-Type", contentType);
}

FixtureServer::Response FixtureServer::Response::json(const QByteArray &content, int statusCode)
{
    return Response(statusCode, content, "application/json");
}

FixtureServer::Response FixtureServer::Response::redirect(const QByteArray &location, int statusCode)
{
    return Response(statusCode).withHeader("Location", location);
}

FixtureServer::Response FixtureServer::Response::hung()
{
    Response response;
    response.hang = true;
    return response;
}

FixtureServer::Response &FixtureServer::Response::withHeader(const QByteArray &name, const QByteArray &value)
{
    headers.append(qMakePair(name, value));
    return *this;
}

QByteArray FixtureServer::Response::header(const QByteArray &name) const
{
    return headerValue(headers, name);
}

FixtureServer::FixtureServer(Transport transport, QObject *parent)
    : QObject(parent)
    , m_transport(transport)
{
    if (transport == Transport::PlainHttp) {
        m_server = std::make_unique<QTcpServer>();
        connect(m_server.get(), &QTcpServer::newConnection, this, [this] {
            ++m_connectionCount;
            acceptConnections();
        });
        return;
    }
    auto server = std::make_unique<QSslServer>();
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    QFile certificateFile(FixturePaths::serverCertificateFile());
    QFile keyFile(FixturePaths::serverKeyFile());
    if (!certificateFile.open(QIODevice::ReadOnly) || !keyFile.open(QIODevice::ReadOnly))
        qFatal("FixtureServer: the test certificate is missing; reconfigure the build");
    configuration.setLocalCertificate(QSslCertificate(certificateFile.readAll(), QSsl::Pem));
    configuration.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec, QSsl::Pem));
    configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    server->setSslConfiguration(configuration);
    connect(server.get(), &QSslServer::startedEncryptionHandshake, this, [this] { ++m_connectionCount; });
    connect(server.get(), &QSslServer::pendingConnectionAvailable, this, &FixtureServer::acceptConnections);
    m_server = std::move(server);
}

FixtureServer::~FixtureServer()
{
    // Connections are children; delete them while the server is still whole, because a closing
    // socket reports back to it.
    qDeleteAll(findChildren<FixtureConnection *>(Qt::FindDirectChildrenOnly));
}

bool FixtureServer::listen(quint16 port)
{
    return listen(QHostAddress(QHostAddress::LocalHost), port);
}

bool FixtureServer::listen(const QHostAddress &address, quint16 port)
{
    return m_server->listen(address, port);
}

quint16 FixtureServer::port() const
{
    return m_server->serverPort();
}

QUrl FixtureServer::url(const QString &pathAndQuery) const
{
    const QString scheme = m_transport == Transport::Https ? QStringLiteral("https") : QStringLiteral("http");
    return QUrl(QStringLiteral("%1://localhost:%2%3").arg(scheme).arg(port()).arg(pathAndQuery));
}

QList<QSslCertificate> FixtureServer::certificateAuthority()
{
    return QSslCertificate::fromPath(FixturePaths::certificateAuthorityFile(), QSsl::Pem);
}

QString FixtureServer::certificateAuthorityFile()
{
    return FixturePaths::certificateAuthorityFile();
}

QSslConfiguration FixtureServer::clientConfiguration()
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(certificateAuthority());
    return configuration;
}

void FixtureServer::setResponses(const QString &key, const QList<Response> &responses)
{
    Script &script = m_scripts[key];
    script.sequence = responses;
    script.handler = nullptr;
    script.next = 0;
}

void FixtureServer::enqueue(const QString &key, const Response &response)
{
    Script &script = m_scripts[key];
    script.handler = nullptr;
    script.sequence.append(response);
}

void FixtureServer::setHandler(const QString &key, Handler handler)
{
    Script &script = m_scripts[key];
    script.sequence.clear();
    script.handler = std::move(handler);
}

void FixtureServer::setPrefixHandler(const QString &pathPrefix, Handler handler)
{
    for (auto &[prefix, existing] : m_prefixHandlers) {
        if (prefix == pathPrefix) {
            existing = std::move(handler);
            return;
        }
    }
    m_prefixHandlers.append({pathPrefix, std::move(handler)});
}

void FixtureServer::clearScripts()
{
    m_scripts.clear();
    m_prefixHandlers.clear();
    m_released.clear();
}

void FixtureServer::serveDirectory(const QString &pathPrefix, const QString &folder, const Response &options)
{
    m_directories.append(Directory{pathPrefix, QFileInfo(folder).canonicalFilePath(), options});
}

void FixtureServer::release(const QString &key)
{
    m_released.insert(key);
    for (const auto &connection : std::as_const(m_connections)) {
        if (connection)
            connection->releaseHeld(key);
    }
}

void FixtureServer::closeAllConnections()
{
    for (const auto &connection : std::as_const(m_connections)) {
        if (connection)
            connection->close();
    }
}

QList<FixtureServer::Request> FixtureServer::requests(const QString &path) const
{
    QList<Request> matching;
    for (const Request &request : m_requests) {
        if (QString::fromUtf8(request.path) == path || QString::fromUtf8(request.target) == path)
            matching.append(request);
    }
    return matching;
}

int FixtureServer::requestCount(const QString &path) const
{
    return m_counts.value(path);
}

void FixtureServer::clearLog()
{
    m_requests.clear();
    m_counts.clear();
    m_bytesSent = 0;
    m_maxInFlight = m_inFlight;
    m_connectionCount = 0;
}

void FixtureServer::acceptConnections()
{
    while (m_server->hasPendingConnections())
        adoptSocket(m_server->nextPendingConnection());
}

void FixtureServer::adoptSocket(QTcpSocket *socket)
{
    m_connections.removeAll(nullptr);
    m_connections.append(new FixtureConnection(socket, this, m_nextConnectionId++));
}

QString FixtureServer::scriptKeyFor(const Request &request) const
{
    const QString target = QString::fromUtf8(request.target);
    if (m_scripts.contains(target))
        return target;
    return QString::fromUtf8(request.path);
}

FixtureServer::Response FixtureServer::answerFor(const Request &request)
{
    const auto script = m_scripts.find(scriptKeyFor(request));
    if (script != m_scripts.end()) {
        if (script->handler)
            return applyRange(request, script->handler(request));
        if (!script->sequence.isEmpty()) {
            const int index = qMin(script->next, int(script->sequence.size()) - 1);
            script->next = index + 1;
            return applyRange(request, script->sequence.at(index));
        }
    }
    const QString path = QString::fromUtf8(request.path);
    for (const auto &[prefix, handler] : std::as_const(m_prefixHandlers)) {
        if (path.startsWith(prefix))
            return applyRange(request, handler(request));
    }
    if (const auto file = fileAnswer(request))
        return applyRange(request, *file);
    return Response(404, "not found", "text/plain");
}

std::optional<FixtureServer::Response> FixtureServer::fileAnswer(const Request &request) const
{
    const QString path = QUrl::fromPercentEncoding(request.path);
    for (const Directory &directory : m_directories) {
        if (!path.startsWith(directory.prefix))
            continue;
        const QString candidate =
            QFileInfo(QDir(directory.folder).filePath(path.mid(directory.prefix.size()))).canonicalFilePath();
        if (candidate.isEmpty() || !candidate.startsWith(directory.folder + QLatin1Char('/')))
            continue;
        QFile file(candidate);
        if (!QFileInfo(candidate).isFile() || !file.open(QIODevice::ReadOnly))
            continue;
        Response response = directory.options;
        response.status = 200;
        response.body = file.readAll();
        response.withHeader("Content-Type", contentTypeForFile(candidate));
        return response;
    }
    return std::nullopt;
}

FixtureServer::Response FixtureServer::applyRange(const Request &request, Response response) const
{
    if (response.status != 200 || !m_rangeSupport || (request.method != "GET" && request.method != "HEAD"))
        return response;
    response.withHeader("Accept-Ranges", "bytes");
    const QByteArray rangeHeader = request.header("Range");
    if (rangeHeader.isEmpty())
        return response;
    const qint64 size = response.body.size();
    bool wellFormed = false;
    const auto range = parseRange(rangeHeader, size, &wellFormed);
    if (!wellFormed)
        return response;
    if (!range) {
        response.status = 416;
        response.body.clear();
        response.withHeader("Content-Range", "bytes */" + QByteArray::number(size));
        return response;
    }
    response.status = 206;
    response.body = response.body.mid(range->first, range->last - range->first + 1);
    response.withHeader("Content-Range", "bytes " + QByteArray::number(range->first) + '-' +
                                             QByteArray::number(range->last) + '/' +
                                             QByteArray::number(size));
    return response;
}

void FixtureServer::noteRequestStarted(const Request &request)
{
    if (m_keepLog)
        m_requests.append(request);
    m_counts[QString::fromUtf8(request.path)] += 1;
    if (request.target != request.path)
        m_counts[QString::fromUtf8(request.target)] += 1;
    m_inFlight += 1;
    m_maxInFlight = qMax(m_maxInFlight, m_inFlight);
    Q_EMIT requestReceived(request);
}

void FixtureServer::noteRequestFinished(const Request &request)
{
    m_inFlight = qMax(0, m_inFlight - 1);
    Q_EMIT responseFinished(request.path);
}

} // namespace quorin::test
