#pragma once

#include "app/AppFailure.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <functional>

namespace quorin {

// The REST verbs, numbered as the REST client numbers them.
enum class RestMethod { Get = 0, Post = 1, Put = 2, Patch = 3, Delete = 4 };

// The reply of one REST call: the parsed body (null when there is none) and the failure, whose
// empty code means success. Runs once, on the GUI thread.
using RestReply = std::function<void(const QJsonDocument &body, const AppFailure &failure)>;

// How this layer reaches the backend's REST API. The REST client lives in a higher layer, so
// start-up hands it down as this function. path is relative to the API root.
using RestRequester =
    std::function<void(RestMethod method, const QString &path, const QJsonObject &body, RestReply reply)>;

} // namespace quorin
