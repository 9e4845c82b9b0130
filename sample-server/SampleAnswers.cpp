#include "sample-server/SampleAnswers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

SampleAnswers::Response SampleAnswers::json(const QJsonValue &value, int status)
{
    const QJsonDocument document =
        value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    return Response::json(document.toJson(QJsonDocument::Compact), status);
}

SampleAnswers::Response SampleAnswers::error(int status, const QString &code, const QString &message)
{
    return json(QJsonObject{{QStringLiteral("error"), code}, {QStringLiteral("message"), message}}, status);
}

SampleAnswers::Response SampleAnswers::unauthorized()
{
    return error(401, QStringLiteral("unauthorized"), QStringLiteral("Authentication required"));
}
