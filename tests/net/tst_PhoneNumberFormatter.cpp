#include "net/PhoneNumberFormatter.h"

#include <QTest>

class tst_PhoneNumberFormatter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void normalize_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("countryCode");
        QTest::addColumn<QString>("expected");

        const QString none;
        const QString egypt = QStringLiteral("+20");
        const QString saudi = QStringLiteral("+966");

        // Egyptian mobile prefixes after the national zero: 10, 11, 12 and 15 only.
        for (const char *prefix : {"010", "011", "012", "015"}) {
            const QString national = QLatin1String(prefix) + QStringLiteral("12345678");
            QTest::addRow("national %s", prefix) << national << none << QStringLiteral("+2") + national;
        }
        for (const char *prefix : {"013", "014", "016", "017", "018", "019"})
            QTest::addRow("national %s", prefix)
                << QLatin1String(prefix) + QStringLiteral("12345678") << none << none;
        QTest::newRow("Egyptian national with +966") << QStringLiteral("01012345678") << saudi << none;
        QTest::newRow("Egyptian national with +20")
            << QStringLiteral("01012345678") << egypt << QStringLiteral("+201012345678");
        QTest::newRow("Egyptian without the zero")
            << QStringLiteral("1012345678") << none << QStringLiteral("+201012345678");
        QTest::newRow("Egyptian national one digit short") << QStringLiteral("0101234567") << none << none;
        QTest::newRow("Egyptian national one digit long") << QStringLiteral("010123456789") << none << none;

        QTest::newRow("Saudi national")
            << QStringLiteral("0512345678") << none << QStringLiteral("+966512345678");
        QTest::newRow("Saudi national with +966")
            << QStringLiteral("0512345678") << saudi << QStringLiteral("+966512345678");
        QTest::newRow("Saudi national with +20") << QStringLiteral("0512345678") << egypt << none;
        QTest::newRow("nine digits with +966")
            << QStringLiteral("512345678") << saudi << QStringLiteral("+966512345678");
        QTest::newRow("nine digits, default code +20") << QStringLiteral("512345678") << none << none;
        QTest::newRow("Saudi national not starting 5") << QStringLiteral("0412345678") << saudi << none;
        QTest::newRow("national with another code")
            << QStringLiteral("01012345678") << QStringLiteral("+1") << none;

        QTest::newRow("Arabic-Indic digits")
            << QStringLiteral("٠١٠١٢٣٤٥٦٧٨") << none << QStringLiteral("+201012345678");
        QTest::newRow("Extended Arabic-Indic digits")
            << QStringLiteral("۰۵۱۲۳۴۵۶۷۸") << none << QStringLiteral("+966512345678");
        QTest::newRow("fullwidth digits")
            << QStringLiteral("０１０１２３４５６７８") << none << QStringLiteral("+201012345678");
        QTest::newRow("mixed scripts with separators")
            << QStringLiteral("٠١٠-1234 ۵۶۷۸") << none << QStringLiteral("+201012345678");
        // Read one UTF-16 unit at a time: a digit outside the Basic Multilingual Plane is two
        // surrogates, neither a decimal digit, so it is dropped and the number falls short.
        QTest::newRow("digit outside the BMP is dropped")
            << QStringLiteral("0101234567") + QString::fromUcs4(U"\U0001D7D6") << none << none;

        QTest::newRow("separators") << QStringLiteral("(010) 1234-5678") << none
                                    << QStringLiteral("+201012345678");
        QTest::newRow("dots and letters")
            << QStringLiteral("tel. 010.1234.5678") << none << QStringLiteral("+201012345678");
        QTest::newRow("00 prefix, explicit code wins")
            << QStringLiteral("00201012345678") << saudi << QStringLiteral("+201012345678");
        QTest::newRow("00 prefix Saudi")
            << QStringLiteral("00966512345678") << egypt << QStringLiteral("+966512345678");
        QTest::newRow("plus with spaces around and inside")
            << QStringLiteral(" +966 51 234 5678 ") << none << QStringLiteral("+966512345678");
        QTest::newRow("tabs and line breaks trimmed")
            << QStringLiteral("\t+20 101 234 5678\n") << none << QStringLiteral("+201012345678");
        QTest::newRow("a second leading plus is dropped")
            << QStringLiteral("++201012345678") << none << QStringLiteral("+201012345678");
        QTest::newRow("plus after a separator still leads")
            << QStringLiteral("(+20) 1012345678") << none << QStringLiteral("+201012345678");

        QTest::newRow("+20 keeps its national zero") << QStringLiteral("+2001012345678") << none << none;
        QTest::newRow("+20 one digit short") << QStringLiteral("+20101234567") << none << none;
        QTest::newRow("+20 with second digit 3") << QStringLiteral("+201312345678") << none << none;
        QTest::newRow("+966 keeps its national zero") << QStringLiteral("+9660512345678") << none << none;
        QTest::newRow("+966 not starting 5") << QStringLiteral("+966412345678") << saudi << none;
        QTest::newRow("other calling code")
            << QStringLiteral("+15551234567") << QStringLiteral("+20") << none;
        QTest::newRow("other calling code via 00") << QStringLiteral("0015551234567") << none << none;
        QTest::newRow("plus alone") << QStringLiteral("+") << none << none;

        QTest::newRow("late plus is dropped") << QStringLiteral("20+1012345678") << none << none;
        QTest::newRow("country code not trimmed")
            << QStringLiteral("512345678") << QStringLiteral(" +966") << none;
        QTest::newRow("empty") << QString() << none << none;
        QTest::newRow("spaces only") << QStringLiteral("   ") << saudi << none;
    }

    void normalize()
    {
        QFETCH(QString, input);
        QFETCH(QString, countryCode);
        QFETCH(QString, expected);

        QCOMPARE(PhoneNumberFormatter::normalize(input, countryCode), expected);
        QCOMPARE(PhoneNumberFormatter::isValid(input, countryCode), !expected.isEmpty());
        if (countryCode.isEmpty()) {
            QCOMPARE(PhoneNumberFormatter::normalize(input), expected);
            QCOMPARE(PhoneNumberFormatter::isValid(input), !expected.isEmpty());
        }
    }

    void countryForNumber_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");

        QTest::newRow("+20") << QStringLiteral("+201012345678") << QStringLiteral("+20");
        QTest::newRow("0020 with spaces") << QStringLiteral("0020 101 234 5678") << QStringLiteral("+20");
        QTest::newRow("+966") << QStringLiteral("+966512345678") << QStringLiteral("+966");
        QTest::newRow("00966 and one digit") << QStringLiteral("00966 5") << QStringLiteral("+966");
        QTest::newRow("+20 alone, nothing else checked") << QStringLiteral("+20") << QStringLiteral("+20");
        QTest::newRow("Arabic-Indic 00") << QStringLiteral("٠٠٩٦٦") << QStringLiteral("+966");
        QTest::newRow("Egyptian national") << QStringLiteral("01012345678") << QString();
        QTest::newRow("Saudi subscriber") << QStringLiteral("512345678") << QString();
        QTest::newRow("digits only, no plus") << QStringLiteral("201012345678") << QString();
        QTest::newRow("+96") << QStringLiteral("+96") << QString();
        QTest::newRow("other code") << QStringLiteral("+15551234567") << QString();
        QTest::newRow("empty") << QString() << QString();
    }

    void countryForNumber()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(PhoneNumberFormatter::countryForNumber(input), expected);
    }
};

QTEST_APPLESS_MAIN(tst_PhoneNumberFormatter)
#include "tst_PhoneNumberFormatter.moc"
