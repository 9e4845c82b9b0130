#pragma once

#include <QObject>
#include <QUrl>

// Sends usage and diagnostic telemetry to the collector. Start-up creates, starts and stops it;
// until the telemetry work lands it sends nothing.
class TelemetryClient : public QObject
{
    Q_OBJECT

public:
    TelemetryClient(QUrl endpoint, QObject *parent);

    void start();
    void stop();

private:
    QUrl m_endpoint;
    bool m_stopped = true;
};
