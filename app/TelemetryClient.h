#pragma once

#include "app/TelemetryBuffer.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QMetaObject>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariantMap>
#include <functional>

class QNetworkReply;
class QTimer;

// Sends telemetry to the OpenTelemetry log collector. Taps the diagnostics log, turns records
// into events (TelemetryPolicy), keeps them in a buffer mirrored to "telemetry/queue.json", and
// posts them in batches of at most 50, backing off exponentially while the collector fails.
// Honours the user's usage-telemetry consent. Lives on the GUI thread.
class TelemetryClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(TransportState transportState READ transportState NOTIFY transportStateChanged)

public:
    enum TransportState { Idle = 0, Sending = 1, BackingOff = 2, Disabled = 3 };
    Q_ENUM(TransportState)

    // Every wait of the client, by purpose.
    enum class Delay { FirstAttempt, IdleWake, NextBatch, BackOff, PostTimeout };
    // Turns each delay the client asks for, in milliseconds, into the one it waits. Production
    // waits as asked; tests shorten the waits and note what was asked.
    using DelaySeam = std::function<int(Delay delay, int requestedMs)>;

    static constexpr int kBatchSize = 50;
    static constexpr int kFirstAttemptMs = 1000;
    static constexpr int kIdleWakeMs = 10000;
    static constexpr int kNextBatchMs = 10;
    static constexpr int kInitialBackOffMs = 1000;
    static constexpr int kMaxBackOffMs = 300000;
    static constexpr int kPostTimeoutMs = 30000;

    explicit TelemetryClient(const QUrl &endpoint, QObject *parent = nullptr);
    ~TelemetryClient() override;

    void setDelaySeam(DelaySeam seam);

    void start();
    void stop();
    // Offers one log record; called on this client's thread.
    void accept(const QString &category, const QString &level, const QString &event,
                const QVariantMap &fields, bool detailedOnly);

    [[nodiscard]] TransportState transportState() const { return m_state; }
    [[nodiscard]] const TelemetryBuffer &buffer() const { return m_buffer; }
    [[nodiscard]] QString queuePath() const { return m_queuePath; }

    // The OpenTelemetry logs body for a batch of events, oldest first.
    [[nodiscard]] static QJsonObject requestBody(const QJsonArray &events);

Q_SIGNALS:
    void transportStateChanged();

private:
    void sendBatch();
    void persist() const;
    void restore();
    void installForwarder();
    void followUsageConsent();
    void finishPost(QNetworkReply *reply, const QSet<QString> &sentIds);
    void setState(TransportState state);
    void wait(Delay delay, int requestedMs);
    [[nodiscard]] int delayFor(Delay delay, int requestedMs) const;
    [[nodiscard]] bool hasUsableEndpoint() const;

    QUrl m_endpoint;
    QString m_queuePath;
    TelemetryBuffer m_buffer;
    QNetworkAccessManager m_network;
    QTimer *m_timer = nullptr;
    TransportState m_state = Idle;
    int m_backOffMs = kInitialBackOffMs;
    bool m_stopped = true;
    QMetaObject::Connection m_settingsConnection;
    DelaySeam m_delaySeam;
    QPointer<QNetworkReply> m_reply; // the POST in flight
};
