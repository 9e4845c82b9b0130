#include "testsupport/LogLineParser.h"

#include <QTest>

using quorin::test::LogLineParser;

class tst_LogLineParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void undoesEscapes_data()
    {
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << QStringLiteral("\"abc\"") << QStringLiteral("abc");
        QTest::newRow("line feed") << QStringLiteral("\"a\\nb\"") << QStringLiteral("a\nb");
        QTest::newRow("carriage return") << QStringLiteral("\"a\\rb\"") << QStringLiteral("a\rb");
        QTest::newRow("quote") << QStringLiteral("\"say \\\"hi\\\"\"") << QStringLiteral("say \"hi\"");
        QTest::newRow("backslash") << QStringLiteral("\"C:\\\\x\"") << QStringLiteral("C:\\x");
        QTest::newRow("unicode escape") << QStringLiteral("\"a\\u0009b\"") << QStringLiteral("a\tb");
        QTest::newRow("space inside") << QStringLiteral("\"two words\"") << QStringLiteral("two words");
        QTest::newRow("empty") << QStringLiteral("\"\"") << QString();
    }

    void undoesEscapes()
    {
        QFETCH(QString, written);
        const auto record =
            LogLineParser::parse(QStringLiteral("schema_version=1 event=\"x\" field=") + written);
        QVERIFY(record.valid);
        QTEST(record.value(QStringLiteral("field")), "value");
    }

    void keepsFieldOrderAndRepeats()
    {
        const auto record = LogLineParser::parse(
            QStringLiteral("schema_version=1 level=\"info\" event=\"startup\" level=\"custom\""));
        QVERIFY(record.valid);
        QCOMPARE(record.keys(), QStringList({QStringLiteral("schema_version"), QStringLiteral("level"),
                                             QStringLiteral("event"), QStringLiteral("level")}));
        QCOMPARE(record.value(QStringLiteral("schema_version")), QStringLiteral("1"));
        QCOMPARE(record.count(QStringLiteral("level")), 2);
        QCOMPARE(record.event(), QStringLiteral("startup"));
    }

    void refusesBrokenLines()
    {
        QVERIFY(!LogLineParser::parse(QStringLiteral("schema_version=1 event=\"open")).valid);
        QVERIFY(!LogLineParser::parse(QStringLiteral("event=\"x\"")).valid);
    }
};

QTEST_GUILESS_MAIN(tst_LogLineParser)
#include "tst_LogLineParser.moc"
