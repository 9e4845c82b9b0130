#include "testsupport/Fixture.h"

#include <QDesktopServices>
#include <QJSValue>
#include <QJsonDocument>
#include <QJsonParseError>

namespace quorin::test {

namespace {

const QString kApiRoot = QStringLiteral("/api/v1/");
const QStringList kCapturedSchemes = {QStringLiteral("https"), QStringLiteral("file"), QStringLiteral("tg")};

// JavaScript objects held in QML properties arrive wrapped, not as maps and lists.
QVariant plain(const QVariant &value)
{
    return value.metaType() == QMetaType::fromType<QJSValue>() ? value.value<QJSValue>().toVariant() : value;
}

QByteArray bodyBytes(const QVariant &value)
{
    const QVariant body = plain(value);
    if (!body.isValid() || body.isNull())
        return {};
    if (body.typeId() == QMetaType::QString)
        return body.toString().toUtf8();
    return QJsonDocument::fromVariant(body).toJson(QJsonDocument::Compact);
}

QVariant parsedBody(const QByteArray &body)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError)
        return QString::fromUtf8(body);
    return document.toVariant();
}

} // namespace

Fixture::Fixture(FixtureServer &server, QObject *parent)
    : QObject(parent)
    , m_server(server)
{
    for (const QString &scheme : kCapturedSchemes)
        QDesktopServices::setUrlHandler(scheme, this, "openUrl");
}

Fixture::~Fixture()
{
    for (const QString &scheme : kCapturedSchemes)
        QDesktopServices::unsetUrlHandler(scheme);
}

void Fixture::startRecordingMessages()
{
    if (!m_messages)
        m_messages = std::make_unique<QtMessageRecorder>(QtMessageRecorder::Forwarding::PassOn);
}

QString Fixture::url(const QString &path) const
{
    return m_server.url(route(path)).toString();
}

QString Fixture::route(const QString &path)
{
    return path.startsWith(QLatin1Char('/')) ? path : kApiRoot + path;
}

FixtureServer::Response Fixture::answerFrom(const QVariantMap &answer)
{
    FixtureServer::Response response = FixtureServer::Response::json(
        bodyBytes(answer.value(QStringLiteral("body"))), answer.value(QStringLiteral("status"), 200).toInt());
    const QVariantMap headers = plain(answer.value(QStringLiteral("headers"))).toMap();
    for (auto header = headers.cbegin(); header != headers.cend(); ++header)
        response.withHeader(header.key().toUtf8(), header.value().toString().toUtf8());
    response.delayMs = answer.value(QStringLiteral("delayMs"), 0).toInt();
    response.held = answer.value(QStringLiteral("held"), false).toBool();
    response.dropWithoutAnswer = answer.value(QStringLiteral("drop"), false).toBool();
    return response;
}

void Fixture::script(const QString &path, const QVariantList &answers)
{
    QList<FixtureServer::Response> responses;
    for (const QVariant &answer : answers)
        responses.append(answerFrom(plain(answer).toMap()));
    m_server.setResponses(route(path), responses);
}

void Fixture::respond(const QString &path, int status, const QVariant &body)
{
    script(path, {QVariantMap{{QStringLiteral("status"), status}, {QStringLiteral("body"), body}}});
}

void Fixture::release(const QString &path)
{
    m_server.release(route(path));
}

void Fixture::reset()
{
    m_server.clearScripts();
    m_server.clearLog();
}

QVariantList Fixture::requests(const QString &path) const
{
    const QString wanted = path.isEmpty() ? QString() : route(path);
    QVariantList found;
    for (const FixtureServer::Request &request : m_server.requests()) {
        const QString target = QString::fromUtf8(request.target);
        if (!wanted.isEmpty() && target != wanted && QString::fromUtf8(request.path) != wanted)
            continue;
        QVariantMap headers;
        for (const auto &[name, value] : request.headers)
            headers.insert(QString::fromUtf8(name).toLower(), QString::fromUtf8(value));
        found.append(QVariantMap{
            {QStringLiteral("method"), QString::fromUtf8(request.method)},
            {QStringLiteral("path"), target.startsWith(kApiRoot) ? target.mid(kApiRoot.size()) : target},
            {QStringLiteral("body"), parsedBody(request.body)},
            {QStringLiteral("text"), QString::fromUtf8(request.body)},
            {QStringLiteral("headers"), headers},
        });
    }
    return found;
}

int Fixture::requestCount(const QString &path) const
{
    return int(requests(path).size());
}

void Fixture::clearRequests()
{
    m_server.clearLog();
}

QStringList Fixture::messages() const
{
    return m_messages ? m_messages->messages(QtDebugMsg) : QStringList();
}

void Fixture::clearMessages()
{
    if (m_messages)
        m_messages->clear();
}

void Fixture::openUrl(const QUrl &url)
{
    m_openedUrls.append(url.toString());
    Q_EMIT urlOpened(url.toString());
}

} // namespace quorin::test
