#include "app/TelemetryClient.h"

TelemetryClient::TelemetryClient(QUrl endpoint, QObject *parent)
    : QObject(parent)
    , m_endpoint(std::move(endpoint))
{
}

void TelemetryClient::start()
{
    m_stopped = false;
}

void TelemetryClient::stop()
{
    m_stopped = true;
}
