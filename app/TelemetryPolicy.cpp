#include "app/TelemetryPolicy.h"

#include "app/DiagnosticLogger.h"

#include <QDateTime>
#include <QJsonValue>
#include <QRegularExpression>
#include <QSet>
#include <QUuid>
#include <algorithm>
#include <cmath>

namespace {

const QString kUsage = QStringLiteral("usage");
const QString kDurationField = QStringLiteral("duration_ms");

const QSet<QString> &allowedAttributes()
{
    static const QSet<QString> keys{
        QStringLiteral("active_jobs"),    QStringLiteral("bytes"),          QStringLiteral("choices"),
        QStringLiteral("classification"), QStringLiteral("completed"),      QStringLiteral("network_error"),
        QStringLiteral("platform"),       QStringLiteral("qt_version"),     QStringLiteral("reason"),
        QStringLiteral("resources"),      QStringLiteral("response_bytes"), QStringLiteral("result"),
        QStringLiteral("retry_count"),    QStringLiteral("root_count"),     QStringLiteral("segments"),
        QStringLiteral("source"),         QStringLiteral("stage"),          QStringLiteral("state"),
        QStringLiteral("status")};
    return keys;
}

const QSet<QString> &severities()
{
    static const QSet<QString> names{QStringLiteral("debug"), QStringLiteral("info"),
                                     QStringLiteral("warning"), QStringLiteral("error"),
                                     QStringLiteral("critical")};
    return names;
}

std::optional<QString> eventName(const QString &category, const QString &event)
{
    static const QRegularExpression disallowed(QStringLiteral("[^a-z0-9_.]"));
    static const QRegularExpression wellFormed(QStringLiteral("^[a-z][a-z0-9_.]{2,95}$"));
    QString name = category.trimmed().toLower() + QLatin1Char('.') + event.trimmed().toLower();
    name.replace(disallowed, QStringLiteral("_"));
    if (!wellFormed.match(name).hasMatch())
        return std::nullopt;
    return name;
}

QString severity(const QString &level)
{
    const QString normalised = level.trimmed().toLower();
    return severities().contains(normalised) ? normalised : QStringLiteral("info");
}

bool isTextType(const QMetaType type)
{
    switch (type.id()) {
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QChar:
        return true;
    default:
        return false;
    }
}

QJsonValue attributeValue(const QString &key, const QVariant &value)
{
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.canConvert<double>() && !isTextType(value.metaType()))
        return value.toDouble();
    return DiagnosticLogger::redact(value.toString(), key).left(TelemetryPolicy::kMaxAttributeText);
}

QJsonObject attributes(const QVariantMap &fields)
{
    QJsonObject result;
    // QVariantMap iterates in ascending key order, so of two keys that normalise alike the
    // later one overwrites the earlier.
    for (auto field = fields.cbegin(); field != fields.cend(); ++field) {
        const QString key = field.key().trimmed().toLower();
        if (TelemetryPolicy::isSensitiveKey(key) || !allowedAttributes().contains(key))
            continue;
        result.insert(key, attributeValue(key, field.value()));
    }
    return result;
}

double boundedDuration(const QVariant &value)
{
    bool ok = false;
    const double duration = value.toDouble(&ok);
    if (!ok || std::isnan(duration) || duration < 0)
        return 0;
    return std::min(duration, TelemetryPolicy::kMaxDurationMs);
}

} // namespace

bool TelemetryPolicy::isSensitiveKey(const QString &key)
{
    static const QStringList containedWords{
        QStringLiteral("auth"),   QStringLiteral("credential"), QStringLiteral("password"),
        QStringLiteral("phone"),  QStringLiteral("token"),      QStringLiteral("title"),
        QStringLiteral("url"),    QStringLiteral("name"),       QStringLiteral("session"),
        QStringLiteral("user"),   QStringLiteral("course"),     QStringLiteral("content"),
        QStringLiteral("lecture")};
    const QString lowered = key.toLower();
    if (lowered == QLatin1String("id") || lowered.endsWith(QLatin1String("_id")) ||
        lowered.endsWith(QLatin1String("_fp")))
        return true;
    return std::any_of(containedWords.cbegin(), containedWords.cend(),
                       [&](const QString &word) { return lowered.contains(word); });
}

std::optional<QJsonObject> TelemetryPolicy::event(const QString &category, const QString &level,
                                                  const QString &event, const QVariantMap &fields,
                                                  bool detailedOnly)
{
    // Detailed records are the user's own troubleshooting aid; only usage ones may leave.
    if (detailedOnly && category != kUsage)
        return std::nullopt;
    const std::optional<QString> name = eventName(category, event);
    if (!name)
        return std::nullopt;

    QJsonObject result{
        {QStringLiteral("id"), QUuid::createUuid().toString(QUuid::WithoutBraces)},
        {QStringLiteral("occurredAt"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs)},
        {QStringLiteral("class"), category == kUsage ? kUsage : QStringLiteral("reliability")},
        {QStringLiteral("name"), *name},
        {QStringLiteral("severity"), severity(level)},
        {QStringLiteral("attributes"), attributes(fields)},
    };
    const auto duration = fields.constFind(kDurationField);
    if (duration != fields.cend())
        result.insert(QStringLiteral("durationMs"), boundedDuration(duration.value()));
    return result;
}
