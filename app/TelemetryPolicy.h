#pragma once

#include <QJsonObject>
#include <QString>
#include <QVariantMap>
#include <optional>

// Decides which diagnostic log records leave the machine as telemetry events, and what an
// event may carry: a normalised name, a severity, and only allow-listed attributes whose text
// is masked. Identifiers, names, URLs and credentials never leave. Static and re-entrant.
class TelemetryPolicy
{
public:
    TelemetryPolicy() = delete;

    static constexpr qsizetype kMaxAttributeText = 128;
    static constexpr double kMaxDurationMs = 86400000.0;

    [[nodiscard]] static bool isSensitiveKey(const QString &key);
    // The event for this record, or nothing when the record does not become one.
    [[nodiscard]] static std::optional<QJsonObject> event(const QString &category, const QString &level,
                                                          const QString &event, const QVariantMap &fields,
                                                          bool detailedOnly);
};
