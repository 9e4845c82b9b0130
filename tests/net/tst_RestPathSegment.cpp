#include "net/RestPath.h"

#include <QTest>

class tst_RestPathSegment : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void segment_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("expected");
        QTest::newRow("delimiters, space and percent")
            << QStringLiteral("a/b?x#y z%") << QStringLiteral("a%2Fb%3Fx%23y%20z%25");
        QTest::newRow("UTF-8") << QStringLiteral("é") << QStringLiteral("%C3%A9");
        QTest::newRow("unreserved kept") << QStringLiteral("v1.2") << QStringLiteral("v1.2");
        QTest::newRow("every unreserved character")
            << QStringLiteral("AZaz09-._~") << QStringLiteral("AZaz09-._~");
        QTest::newRow("backslash and plus") << QStringLiteral("a\\b+c") << QStringLiteral("a%5Cb%2Bc");
        QTest::newRow("already encoded text is encoded again")
            << QStringLiteral("%2E%2E") << QStringLiteral("%252E%252E");
        QTest::newRow("three dots are a name") << QStringLiteral("...") << QStringLiteral("...");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("dot") << QStringLiteral(".") << QString();
        QTest::newRow("dot dot") << QStringLiteral("..") << QString();
    }

    void segment()
    {
        QFETCH(QString, id);
        QFETCH(QString, expected);
        QCOMPARE(quorin::RestPath::segment(id), expected);
    }
};

QTEST_APPLESS_MAIN(tst_RestPathSegment)
#include "tst_RestPathSegment.moc"
