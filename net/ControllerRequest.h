#pragma once

#include "net/NetworkManager.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <QString>

namespace quorin {

// Sends one REST call through the process-wide pipeline on behalf of a controller and hands the
// answer to the controller's handler, unless the controller is gone by then.
template<typename Controller>
void sendForController(Controller *controller, NetworkManager::HttpMethod method, const QString &path,
                       const QJsonObject &body,
                       void (Controller::*handler)(const QJsonDocument &, const NetworkFailure &))
{
    const QPointer<Controller> self(controller);
    NetworkManager::instance()->sendRequestDetailed(
        method, path, body, [self, handler](const QJsonDocument &answer, const NetworkFailure &failure) {
            if (self)
                (self.data()->*handler)(answer, failure);
        });
}

} // namespace quorin
