#include "app/DiagnosticLogger.h"
#include "testsupport/LogLineParser.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <pthread.h>
#include <thread>

using quorin::test::LogLineParser;

namespace {

constexpr int kHeaderKeyCount = 10;

QString formatWith(const QVariantMap &fields)
{
    return DiagnosticLogger::formatRecord(QStringLiteral("app"), QStringLiteral("info"),
                                          QStringLiteral("probe"), fields);
}

QStringList fieldKeys(const LogLineParser::Record &record)
{
    return record.keys().mid(kHeaderKeyCount);
}

QStringList fieldValues(const LogLineParser::Record &record)
{
    QStringList values;
    for (qsizetype index = kHeaderKeyCount; index < record.fields.size(); ++index)
        values.append(record.fields.at(index).second);
    return values;
}

} // namespace

class tst_DiagnosticLogRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fingerprint_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("abc") << QStringLiteral("abc") << QStringLiteral("ba7816bf8f01");
        QTest::newRow("empty") << QString() << QStringLiteral("none");
        QTest::newRow("key with a space") << QStringLiteral("Course Id") << QStringLiteral("5d8649e35491");
        QTest::newRow("utf-8 bytes") << QStringLiteral("\u0645\u0631\u062d\u0628\u0627")
                                     << QStringLiteral("80eff1a750bb");
    }

    void fingerprint()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(DiagnosticLogger::fingerprint(text), expected);
    }

    void headerWithoutFieldsMatchesTemplate()
    {
        const QDateTime before = QDateTime::currentDateTimeUtc().addMSecs(-1);
        const QString line = DiagnosticLogger::formatRecord(QStringLiteral("app"), QStringLiteral("info"),
                                                            QStringLiteral("diagnostics_started"), {});
        const QDateTime after = QDateTime::currentDateTimeUtc();

        static const QRegularExpression header(QRegularExpression::anchoredPattern(QStringLiteral(
            "schema_version=1 event_id=\"([0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12})\" "
            "timestamp_utc=(\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}\\.\\d{3}Z) utc=(\\S+) mono_ms=0 "
            "category=\"app\" severity=\"info\" level=\"info\" thread=\"[^\"]+\" "
            "event=\"diagnostics_started\"")));
        const QRegularExpressionMatch match = header.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        QCOMPARE(match.captured(2), match.captured(3));
        const QDateTime stamped = QDateTime::fromString(match.captured(2), Qt::ISODateWithMs);
        QVERIFY(stamped >= before && stamped <= after);

        const QString second = DiagnosticLogger::formatRecord(QStringLiteral("app"), QStringLiteral("info"),
                                                              QStringLiteral("diagnostics_started"), {});
        QVERIFY(LogLineParser::parse(second).value(QStringLiteral("event_id")) != match.captured(1));
    }

    void threadLabel()
    {
        QString fromNamedThread;
        std::unique_ptr<QThread> named(
            QThread::create([&fromNamedThread] { fromNamedThread = formatWith({}); }));
        named->setObjectName(QStringLiteral("Quorin HLS proxy"));
        named->start();
        QVERIFY(named->wait(10000));
        QCOMPARE(LogLineParser::parse(fromNamedThread).value(QStringLiteral("thread")),
                 QStringLiteral("Quorin HLS proxy"));

        QString fromNativeThread;
        QString nativeId;
        std::thread native([&] {
            fromNativeThread = formatWith({});
            nativeId = QString::number(quintptr(pthread_self()), 16);
        });
        native.join();
        const QString label = LogLineParser::parse(fromNativeThread).value(QStringLiteral("thread"));
        QCOMPARE(label, nativeId);
        QCOMPARE(label, label.toLower());
    }

    void fieldPairs_data()
    {
        QTest::addColumn<QVariantMap>("fields");
        QTest::addColumn<QStringList>("keys");
        QTest::addColumn<QStringList>("values");

        const QString upperKey =
            QStringLiteral("field_") + DiagnosticLogger::fingerprint(QStringLiteral("Zeta"));
        QTest::newRow("ascending keys")
            << QVariantMap{{QStringLiteral("beta"), 2}, {QStringLiteral("alpha"), 1}}
            << QStringList{QStringLiteral("alpha"), QStringLiteral("beta")}
            << QStringList{QStringLiteral("1"), QStringLiteral("2")};
        QTest::newRow("upper-case first letter sorts first")
            << QVariantMap{{QStringLiteral("beta"), 2},
                           {QStringLiteral("alpha"), 1},
                           {QStringLiteral("Zeta"), 0}}
            << QStringList{upperKey, QStringLiteral("alpha"), QStringLiteral("beta")}
            << QStringList{QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")};
        QTest::newRow("key with space and capitals")
            << QVariantMap{{QStringLiteral("Course Id"), QStringLiteral("/home/u/f.txt")}}
            << QStringList{QStringLiteral("field_5d8649e35491")}
            << QStringList{QStringLiteral("[redacted-path]")};
        QTest::newRow("key ending in a line break")
            << QVariantMap{{QStringLiteral("name\n"), QStringLiteral("v")}}
            << QStringList{QStringLiteral("field_") + DiagnosticLogger::fingerprint(QStringLiteral("name\n"))}
            << QStringList{QStringLiteral("v")};
        QTest::newRow("header key repeated")
            << QVariantMap{{QStringLiteral("level"), QStringLiteral("custom")}}
            << QStringList{QStringLiteral("level")} << QStringList{QStringLiteral("custom")};
        QTest::newRow("sensitive key")
            << QVariantMap{{QStringLiteral("course_id"), QStringLiteral("123")}}
            << QStringList{QStringLiteral("course_id")} << QStringList{QStringLiteral("[redacted]")};
        QTest::newRow("fingerprint kept")
            << QVariantMap{{QStringLiteral("lecture_fp"), QStringLiteral("0123456789ab")}}
            << QStringList{QStringLiteral("lecture_fp")} << QStringList{QStringLiteral("0123456789ab")};
        QTest::newRow("line break and quote in a value")
            << QVariantMap{{QStringLiteral("note"), QStringLiteral("a\n\"b\"\r")}}
            << QStringList{QStringLiteral("note")} << QStringList{QStringLiteral("a\n\"b\"\r")};
        QTest::newRow("values as text")
            << QVariantMap{{QStringLiteral("count"), 3},
                           {QStringLiteral("ok"), true},
                           {QStringLiteral("ratio"), 0.5},
                           {QStringLiteral("nothing"), QVariant()}}
            << QStringList{QStringLiteral("count"), QStringLiteral("nothing"), QStringLiteral("ok"),
                           QStringLiteral("ratio")}
            << QStringList{QStringLiteral("3"), QString(), QStringLiteral("true"), QStringLiteral("0.5")};
    }

    void fieldPairs()
    {
        QFETCH(QVariantMap, fields);
        QFETCH(QStringList, keys);
        QFETCH(QStringList, values);

        const QString line = formatWith(fields);
        QVERIFY(!line.contains(QLatin1Char('\n')) && !line.contains(QLatin1Char('\r')));
        const LogLineParser::Record record = LogLineParser::parse(line);
        QVERIFY2(record.valid, qPrintable(line));
        QCOMPARE(record.keys().at(kHeaderKeyCount - 1), QStringLiteral("event"));
        QCOMPARE(fieldKeys(record), keys);
        QCOMPARE(fieldValues(record), values);
        if (keys.contains(QStringLiteral("level"))) {
            QCOMPARE(record.count(QStringLiteral("level")), 2);
            QCOMPARE(record.value(QStringLiteral("level")), QStringLiteral("info"));
        }
    }

    void formatValue_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("written");
        QTest::newRow("line feed") << QStringLiteral("\n") << QStringLiteral("\"\\n\"");
        QTest::newRow("carriage return") << QStringLiteral("\r") << QStringLiteral("\"\\r\"");
        QTest::newRow("double quote") << QStringLiteral("\"") << QStringLiteral("\"\\\"\"");
        QTest::newRow("backslash") << QStringLiteral("\\") << QStringLiteral("\"\\\\\"");
        QTest::newRow("tab") << QStringLiteral("\t") << QStringLiteral("\"\\u0009\"");
        QTest::newRow("delete") << QString(QChar(0x7f)) << QStringLiteral("\"\\u007f\"");
        QTest::newRow("unit separator") << QString(QChar(0x1f)) << QStringLiteral("\"\\u001f\"");
        QTest::newRow("arabic") << QStringLiteral("\u0645\u0631\u062d\u0628\u0627")
                                << QStringLiteral("\"\u0645\u0631\u062d\u0628\u0627\"");
        QTest::newRow("empty") << QString() << QStringLiteral("\"\"");
        QTest::newRow("percent is not scanned") << QStringLiteral("%1 %2") << QStringLiteral("\"%1 %2\"");
    }

    void formatValue()
    {
        QFETCH(QString, input);
        QFETCH(QString, written);
        QCOMPARE(DiagnosticLogger::formatValue(input), written);
    }

    void redact_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");

        const QString words = QStringList(1500, QStringLiteral("ab")).join(QLatin1Char(' '));
        QTest::newRow("sensitive key")
            << QStringLiteral("x") << QStringLiteral("course_id") << QStringLiteral("[redacted]");
        QTest::newRow("sensitive by ending")
            << QStringLiteral("x") << QStringLiteral("Refresh_Token") << QStringLiteral("[redacted]");
        QTest::newRow("sensitive by containing")
            << QStringLiteral("x") << QStringLiteral("user_email_hint") << QStringLiteral("[redacted]");
        QTest::newRow("fingerprint kept") << QStringLiteral("0123456789ab") << QStringLiteral("lecture_fp")
                                          << QStringLiteral("0123456789ab");
        QTest::newRow("none kept under a sensitive key")
            << QStringLiteral("none") << QStringLiteral("phone_fp") << QStringLiteral("none");
        QTest::newRow("upper-case hex is no fingerprint")
            << QStringLiteral("0123456789AB") << QStringLiteral("lecture_fp")
            << QStringLiteral("[redacted-phone]AB");
        QTest::newRow("masks act on each other") << QStringLiteral("courses/123/sections/456") << QString()
                                                 << QStringLiteral("courses[redacted-path]");
        QTest::newRow("bare query") << QStringLiteral("x?token=abc&y=2") << QString()
                                    << QStringLiteral("x[redacted-param]&y=2");
        QTest::newRow("web address") << QStringLiteral("see https://cdn.example/a?token=1 now") << QString()
                                     << QStringLiteral("see [redacted-url] now");
        QTest::newRow("nine digits") << QStringLiteral("123456789") << QString()
                                     << QStringLiteral("[redacted-phone]");
        QTest::newRow("eight digits")
            << QStringLiteral("12345678") << QString() << QStringLiteral("12345678");
        QTest::newRow("timestamp") << QStringLiteral("2024-05-01T10:20:30Z") << QString()
                                   << QStringLiteral("2024-05-01T10:20:30Z");
        QTest::newRow("e-mail") << QStringLiteral("a@b.example") << QString()
                                << QStringLiteral("[redacted-email]");
        QTest::newRow("home path") << QStringLiteral("/home/u/f.txt") << QString()
                                   << QStringLiteral("[redacted-path]");
        QTest::newRow("drive path") << QStringLiteral("C:\\Users\\u\\f.txt") << QString()
                                    << QStringLiteral("[redacted-path]");
        QTest::newRow("not sensitive by key")
            << QStringLiteral("abc") << QStringLiteral("token_count") << QStringLiteral("abc");
        QTest::newRow("secret") << QStringLiteral("Bearer abcdefghijklmnopqrstuvwxyz0123.x.y") << QString()
                                << QStringLiteral("[redacted-secret]");
        QTest::newRow("long value") << words << QString() << words.left(2048) + QStringLiteral("[truncated]");
    }

    void redact()
    {
        QFETCH(QString, value);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        QCOMPARE(DiagnosticLogger::redact(value, key), expected);
    }

    void sanitizeEventName_data()
    {
        QTest::addColumn<QString>("event");
        QTest::addColumn<QString>("expected");
        QTest::newRow("snake_case") << QStringLiteral("request_complete")
                                    << QStringLiteral("request_complete");
        QTest::newRow("space and capitals") << QStringLiteral("Bad Event") << QStringLiteral("Bad Event");
        QTest::newRow("masked") << QStringLiteral("open /home/u/x.txt")
                                << QStringLiteral("open [redacted-path]");
        QTest::newRow("too long") << QStringLiteral("a") + QString(64, QLatin1Char('b'))
                                  << QStringLiteral("[redacted-secret]");
    }

    void sanitizeEventName()
    {
        QFETCH(QString, event);
        QFETCH(QString, expected);
        QCOMPARE(DiagnosticLogger::sanitizeEventName(event), expected);
        const QString line =
            DiagnosticLogger::formatRecord(QStringLiteral("app"), QStringLiteral("info"), event, {});
        QCOMPARE(LogLineParser::parse(line).event(), expected);
    }
};

QTEST_GUILESS_MAIN(tst_DiagnosticLogRecords)
#include "tst_DiagnosticLogRecords.moc"
