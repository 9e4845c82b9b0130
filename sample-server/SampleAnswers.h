#pragma once

#include "testsupport/FixtureServer.h"

#include <QJsonValue>
#include <QString>

// The JSON answers the sample platform's routes share: a compact JSON body, and the refusal
// {"error": code, "message": text}.
class SampleAnswers
{
public:
    using Response = quorin::test::FixtureServer::Response;

    [[nodiscard]] static Response json(const QJsonValue &value, int status = 200);
    [[nodiscard]] static Response error(int status, const QString &code, const QString &message);
    // 401 for a request without a valid access token.
    [[nodiscard]] static Response unauthorized();
};
