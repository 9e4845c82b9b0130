#include "app/TelemetryClient.h"

#include "app/DiagnosticLogger.h"
#include "app/HttpsUrl.h"
#include "app/OwnerOnlyFolder.h"
#include "app/SettingsController.h"
#include "app/TelemetryPolicy.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>

namespace {

const QString kUsage = QStringLiteral("usage");
const QString kLogsPath = QStringLiteral("/v1/logs");

constexpr QFileDevice::Permissions kOwnerFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QJsonObject attributeValue(const QJsonValue &value)
{
    if (value.isDouble())
        return {{QStringLiteral("doubleValue"), value.toDouble()}};
    if (value.isBool())
        return {{QStringLiteral("boolValue"), value.toBool()}};
    return {{QStringLiteral("stringValue"), value.toString()}};
}

QJsonObject logRecord(const QJsonObject &event)
{
    const qint64 occurredMs =
        QDateTime::fromString(event.value(QStringLiteral("occurredAt")).toString(), Qt::ISODateWithMs)
            .toMSecsSinceEpoch();
    QJsonArray attributes;
    const QJsonObject eventAttributes = event.value(QStringLiteral("attributes")).toObject();
    for (auto attribute = eventAttributes.begin(); attribute != eventAttributes.end(); ++attribute) {
        attributes.append(QJsonObject{{QStringLiteral("key"), attribute.key()},
                                      {QStringLiteral("value"), attributeValue(attribute.value())}});
    }
    return {{QStringLiteral("timeUnixNano"), QString::number(occurredMs) + QStringLiteral("000000")},
            {QStringLiteral("severityText"), event.value(QStringLiteral("severity"))},
            {QStringLiteral("body"),
             QJsonObject{{QStringLiteral("stringValue"), event.value(QStringLiteral("name"))}}},
            {QStringLiteral("attributes"), attributes}};
}

QSet<QString> idsOf(const QJsonArray &events)
{
    QSet<QString> ids;
    for (const QJsonValue &event : events)
        ids.insert(event.toObject().value(QStringLiteral("id")).toString());
    return ids;
}

} // namespace

TelemetryClient::TelemetryClient(const QUrl &endpoint, QObject *parent)
    : QObject(parent)
    , m_endpoint(endpoint)
    , m_queuePath(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
                  QStringLiteral("/telemetry/queue.json"))
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &TelemetryClient::sendBatch);
}

TelemetryClient::~TelemetryClient()
{
    stop();
    // The reply outlives this destructor's body (the network manager deletes it later); its
    // handler must not run on a half-destroyed client.
    if (m_reply)
        m_reply->disconnect(this);
}

void TelemetryClient::setDelaySeam(DelaySeam seam)
{
    m_delaySeam = std::move(seam);
}

int TelemetryClient::delayFor(Delay delay, int requestedMs) const
{
    return m_delaySeam ? m_delaySeam(delay, requestedMs) : requestedMs;
}

void TelemetryClient::wait(Delay delay, int requestedMs)
{
    m_timer->start(delayFor(delay, requestedMs));
}

bool TelemetryClient::hasUsableEndpoint() const
{
    return quorin::HttpsUrl::isAbsoluteWithHost(m_endpoint);
}

void TelemetryClient::start()
{
    if (!m_stopped)
        return;
    m_stopped = false;
    restore();
    installForwarder();
    m_settingsConnection = connect(SettingsController::instance(), &SettingsController::usageTelemetryChanged,
                                   this, &TelemetryClient::followUsageConsent);
    if (!hasUsableEndpoint()) {
        setState(Disabled);
        return;
    }
    if (m_buffer.isEmpty())
        wait(Delay::IdleWake, kIdleWakeMs);
    else
        wait(Delay::FirstAttempt, kFirstAttemptMs);
}

void TelemetryClient::stop()
{
    if (m_stopped)
        return;
    m_stopped = true;
    DiagnosticLogger::setRemoteSink({});
    disconnect(m_settingsConnection);
    m_timer->stop();
    persist();
}

void TelemetryClient::installForwarder()
{
    const QPointer<TelemetryClient> client(this);
    DiagnosticLogger::setRemoteSink([client](const QString &category, const QString &level,
                                             const QString &event, const QVariantMap &fields,
                                             bool detailedOnly) {
        // Posted through the application object, which lives on the client's (GUI) thread and
        // outlives it: the client itself may be destroyed while another thread is in here.
        QCoreApplication *application = QCoreApplication::instance();
        if (!client || !application)
            return;
        QMetaObject::invokeMethod(
            application,
            [client, category, level, event, fields, detailedOnly] {
                if (client)
                    client->accept(category, level, event, fields, detailedOnly);
            },
            Qt::QueuedConnection);
    });
}

void TelemetryClient::followUsageConsent()
{
    if (SettingsController::instance()->usageTelemetryEnabled())
        return;
    m_buffer.purgeUsage();
    persist();
}

void TelemetryClient::accept(const QString &category, const QString &level, const QString &event,
                             const QVariantMap &fields, bool detailedOnly)
{
    if (m_stopped)
        return;
    if (category == kUsage && !SettingsController::instance()->usageTelemetryEnabled())
        return;
    const std::optional<QJsonObject> telemetryEvent =
        TelemetryPolicy::event(category, level, event, fields, detailedOnly);
    if (!telemetryEvent)
        return;
    m_buffer.add(*telemetryEvent);
    persist();
    if (m_state == Idle && !m_timer->isActive())
        wait(Delay::FirstAttempt, kFirstAttemptMs);
}

QJsonObject TelemetryClient::requestBody(const QJsonArray &events)
{
    QJsonArray records;
    for (const QJsonValue &event : events)
        records.append(logRecord(event.toObject()));
    const QJsonObject scope{{QStringLiteral("logRecords"), records}};
    const QJsonObject resource{{QStringLiteral("scopeLogs"), QJsonArray{scope}}};
    return {{QStringLiteral("resourceLogs"), QJsonArray{resource}}};
}

void TelemetryClient::sendBatch()
{
    if (m_stopped || m_state == Sending || m_state == Disabled)
        return;
    m_buffer.pruneExpired();
    persist();
    if (m_buffer.isEmpty()) {
        setState(Idle);
        wait(Delay::IdleWake, kIdleWakeMs);
        return;
    }

    const QJsonArray batch = m_buffer.batch(kBatchSize);
    // An absolute path: it replaces whatever path the collector's base URL has.
    QNetworkRequest request(m_endpoint.resolved(QUrl(kLogsPath)));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    // A reply that never finishes would otherwise hold the client in Sending for the whole run.
    request.setTransferTimeout(delayFor(Delay::PostTimeout, kPostTimeoutMs));
    QNetworkReply *reply =
        m_network.post(request, QJsonDocument(requestBody(batch)).toJson(QJsonDocument::Compact));
    m_reply = reply;
    // Removal goes by id: events accepted during the flight may have evicted or pruned the
    // front of the buffer, so the front is no longer necessarily what was sent.
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, sentIds = idsOf(batch)] { finishPost(reply, sentIds); });
    setState(Sending);
}

void TelemetryClient::finishPost(QNetworkReply *reply, const QSet<QString> &sentIds)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    reply->deleteLater();
    m_reply.clear();

    if (error == QNetworkReply::NoError && status >= 200 && status <= 299) {
        m_buffer.removeIds(sentIds);
        m_backOffMs = kInitialBackOffMs;
        persist();
        setState(Idle);
        if (m_buffer.isEmpty())
            wait(Delay::IdleWake, kIdleWakeMs);
        else
            wait(Delay::NextBatch, kNextBatchMs);
        return;
    }
    setState(BackingOff);
    wait(Delay::BackOff, m_backOffMs);
    m_backOffMs = std::min(m_backOffMs * 2, kMaxBackOffMs);
}

void TelemetryClient::setState(TransportState state)
{
    if (state == m_state)
        return;
    m_state = state;
    Q_EMIT transportStateChanged();
}

void TelemetryClient::persist() const
{
    quorin::OwnerOnlyFolder::ensure(QFileInfo(m_queuePath).absolutePath());
    QSaveFile file(m_queuePath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.setPermissions(kOwnerFile);
    file.write(m_buffer.compactJson());
    // A failed commit leaves the previous file whole; the next change writes again.
    (void)file.commit();
}

void TelemetryClient::restore()
{
    QFile file(m_queuePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    // Anything but a JSON array reads as an empty queue; the next write replaces the file.
    m_buffer.restore(QJsonDocument::fromJson(file.readAll()).array());
}
