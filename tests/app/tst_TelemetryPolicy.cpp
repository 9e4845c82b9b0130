#include "app/TelemetryPolicy.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTest>
#include <QUuid>

namespace {

const QString kNoEvent = QStringLiteral("<none>");

QString wordsOfLength(int length)
{
    QString text;
    while (text.size() < length)
        text += QStringLiteral("word ");
    return text.left(length);
}

} // namespace

class tst_TelemetryPolicy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void namesClassesAndSeverities_data()
    {
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("level");
        QTest::addColumn<bool>("detailedOnly");
        QTest::addColumn<QString>("name"); // kNoEvent when the record gives nothing
        QTest::addColumn<QString>("eventClass");
        QTest::addColumn<QString>("severity");

        QTest::newRow("plain record") << "app"
                                      << "startup"
                                      << "info" << false << "app.startup"
                                      << "reliability"
                                      << "info";
        QTest::newRow("spaces and capitals") << "Api "
                                             << "Request Complete"
                                             << "info" << false << "api.request_complete"
                                             << "reliability"
                                             << "info";
        QTest::newRow("other characters become underscores") << "net"
                                                             << "retry-after:5s"
                                                             << "info" << false << "net.retry_after_5s"
                                                             << "reliability"
                                                             << "info";
        QTest::newRow("empty category") << ""
                                        << "startup"
                                        << "info" << false << kNoEvent << ""
                                        << "";
        QTest::newRow("name over 96 characters")
            << "app" << QString(93, QLatin1Char('e')) << "info" << false << kNoEvent << ""
            << "";
        QTest::newRow("name of 96 characters") << "app" << QString(92, QLatin1Char('e')) << "info" << false
                                               << "app." + QString(92, QLatin1Char('e')) << "reliability"
                                               << "info";
        QTest::newRow("level with spaces and capitals") << "app"
                                                        << "startup"
                                                        << " WARNING " << false << "app.startup"
                                                        << "reliability"
                                                        << "warning";
        QTest::newRow("fatal") << "app"
                               << "startup"
                               << "fatal" << false << "app.startup"
                               << "reliability"
                               << "info";
        QTest::newRow("critical") << "app"
                                  << "startup"
                                  << "critical" << false << "app.startup"
                                  << "reliability"
                                  << "critical";
        QTest::newRow("empty level") << "app"
                                     << "startup"
                                     << "" << false << "app.startup"
                                     << "reliability"
                                     << "info";
        QTest::newRow("usage record") << "usage"
                                      << "opened"
                                      << "info" << false << "usage.opened"
                                      << "usage"
                                      << "info";
        QTest::newRow("detailed usage record") << "usage"
                                               << "opened"
                                               << "debug" << true << "usage.opened"
                                               << "usage"
                                               << "debug";
        QTest::newRow("detailed Usage record") << "Usage"
                                               << "opened"
                                               << "info" << true << kNoEvent << ""
                                               << "";
        QTest::newRow("detailed padded usage record") << " usage"
                                                      << "opened"
                                                      << "info" << true << kNoEvent << ""
                                                      << "";
        QTest::newRow("detailed app record") << "app"
                                             << "startup"
                                             << "info" << true << kNoEvent << ""
                                             << "";
        QTest::newRow("Usage is a reliability record") << "Usage"
                                                       << "opened"
                                                       << "info" << false << "usage.opened"
                                                       << "reliability"
                                                       << "info";
    }

    void namesClassesAndSeverities()
    {
        QFETCH(QString, category);
        QFETCH(QString, event);
        QFETCH(QString, level);
        QFETCH(bool, detailedOnly);
        QFETCH(QString, name);
        QFETCH(QString, eventClass);
        QFETCH(QString, severity);

        const std::optional<QJsonObject> made =
            TelemetryPolicy::event(category, level, event, {}, detailedOnly);
        if (name == kNoEvent) {
            QVERIFY(!made.has_value());
            return;
        }
        QVERIFY(made.has_value());
        QCOMPARE(made->value(QStringLiteral("name")).toString(), name);
        QCOMPARE(made->value(QStringLiteral("class")).toString(), eventClass);
        QCOMPARE(made->value(QStringLiteral("severity")).toString(), severity);
    }

    void eventCarriesIdentityAndTime()
    {
        const QDateTime before = QDateTime::currentDateTimeUtc();
        const QJsonObject event = *TelemetryPolicy::event(QStringLiteral("app"), QStringLiteral("info"),
                                                          QStringLiteral("startup"), {}, false);
        const QString id = event.value(QStringLiteral("id")).toString();
        QCOMPARE(id.size(), 36);
        QCOMPARE(id, id.toLower());
        QVERIFY(!QUuid::fromString(id).isNull());
        const QString occurredAt = event.value(QStringLiteral("occurredAt")).toString();
        QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z$"))
                    .match(occurredAt)
                    .hasMatch());
        QVERIFY(QDateTime::fromString(occurredAt, Qt::ISODateWithMs) >= before.addMSecs(-1));
        QVERIFY(event.value(QStringLiteral("attributes")).toObject().isEmpty());
        QVERIFY(!event.contains(QStringLiteral("durationMs")));
        QVERIFY(event.value(QStringLiteral("id")) !=
                TelemetryPolicy::event(QStringLiteral("app"), QStringLiteral("info"),
                                       QStringLiteral("startup"), {}, false)
                    ->value(QStringLiteral("id")));
    }

    void attributes_data()
    {
        QTest::addColumn<QVariantMap>("fields");
        QTest::addColumn<QJsonObject>("attributes");

        QTest::newRow("integer status") << QVariantMap{{"status", 200}} << QJsonObject{{"status", 200}};
        QTest::newRow("text status") << QVariantMap{{"status", "200"}} << QJsonObject{{"status", "200"}};
        QTest::newRow("boolean") << QVariantMap{{"completed", true}} << QJsonObject{{"completed", true}};
        QTest::newRow("64-bit and floating numbers")
            << QVariantMap{{"bytes", qint64(5000000000)}, {"segments", 2.5}}
            << QJsonObject{{"bytes", 5000000000.0}, {"segments", 2.5}};
        QTest::newRow("web address masked") << QVariantMap{{"reason", "see https://x.example/a"}}
                                            << QJsonObject{{"reason", "see [redacted-url]"}};
        QTest::newRow("long text cut to 128")
            << QVariantMap{{"reason", wordsOfLength(500)}} << QJsonObject{{"reason", wordsOfLength(128)}};
        QTest::newRow("identifiers, addresses and unknown keys never appear")
            << QVariantMap{{"course_id", "c1"},          {"lecture_fp", "0123456789ab"},
                           {"url", "https://x.example"}, {"message", "hello"},
                           {"user_state", "x"},          {"state", "ready"}}
            << QJsonObject{{"state", "ready"}};
        QTest::newRow("keys are trimmed and lower-cased")
            << QVariantMap{{" Stage ", "load"}} << QJsonObject{{"stage", "load"}};
        QTest::newRow("later key in order wins")
            << QVariantMap{{" stage", "first"}, {"Stage", "second"}} << QJsonObject{{"stage", "second"}};
        QTest::newRow("value without text form")
            << QVariantMap{{"result", QVariant()}} << QJsonObject{{"result", ""}};
        QTest::newRow("duration is never an attribute")
            << QVariantMap{{"duration_ms", 5}, {"status", 1}} << QJsonObject{{"status", 1}};
    }

    void attributes()
    {
        QFETCH(QVariantMap, fields);
        QFETCH(QJsonObject, attributes);
        const QJsonObject event = *TelemetryPolicy::event(QStringLiteral("api"), QStringLiteral("info"),
                                                          QStringLiteral("request_complete"), fields, false);
        QCOMPARE(event.value(QStringLiteral("attributes")).toObject(), attributes);
    }

    void duration_data()
    {
        QTest::addColumn<QVariantMap>("fields");
        QTest::addColumn<QJsonValue>("durationMs"); // undefined when absent

        QTest::newRow("5000") << QVariantMap{{"duration_ms", 5000}} << QJsonValue(5000);
        QTest::newRow("negative") << QVariantMap{{"duration_ms", -3}} << QJsonValue(0);
        QTest::newRow("beyond a day") << QVariantMap{{"duration_ms", 1e12}} << QJsonValue(86400000);
        QTest::newRow("not a number") << QVariantMap{{"duration_ms", "soon"}} << QJsonValue(0);
        QTest::newRow("numeric text") << QVariantMap{{"duration_ms", "12.5"}} << QJsonValue(12.5);
        QTest::newRow("other spelling")
            << QVariantMap{{"Duration_MS", 5000}} << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("absent") << QVariantMap{} << QJsonValue(QJsonValue::Undefined);
    }

    void duration()
    {
        QFETCH(QVariantMap, fields);
        QFETCH(QJsonValue, durationMs);
        const QJsonObject event = *TelemetryPolicy::event(QStringLiteral("gui"), QStringLiteral("warning"),
                                                          QStringLiteral("event_loop_stall"), fields, false);
        QCOMPARE(event.value(QStringLiteral("durationMs")), durationMs);
        QVERIFY(
            !event.value(QStringLiteral("attributes")).toObject().contains(QStringLiteral("duration_ms")));
    }

    void sensitiveKeys_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("sensitive");
        QTest::newRow("id") << "ID" << true;
        QTest::newRow("_id") << "quiz_id" << true;
        QTest::newRow("_fp") << "session_fp" << true;
        QTest::newRow("contains name") << "filename" << true;
        QTest::newRow("contains auth") << "OAuthState" << true;
        QTest::newRow("contains content") << "content_type" << true;
        QTest::newRow("idle is not id") << "idle" << false;
        QTest::newRow("status") << "status" << false;
        QTest::newRow("retry_count") << "retry_count" << false;
    }

    void sensitiveKeys()
    {
        QFETCH(QString, key);
        QFETCH(bool, sensitive);
        QCOMPARE(TelemetryPolicy::isSensitiveKey(key), sensitive);
    }
};

QTEST_APPLESS_MAIN(tst_TelemetryPolicy)
#include "tst_TelemetryPolicy.moc"
