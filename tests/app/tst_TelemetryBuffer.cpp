#include "app/TelemetryBuffer.h"

#include <QJsonDocument>
#include <QTest>

namespace {

const QDateTime kNow = QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC);

QString isoTime(const QDateTime &time)
{
    return time.toString(Qt::ISODateWithMs);
}

QJsonObject makeEvent(const QString &id, const QString &eventClass, const QDateTime &occurredAt = kNow,
                      int padding = 0)
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("occurredAt"), isoTime(occurredAt)},
            {QStringLiteral("class"), eventClass},
            {QStringLiteral("name"), QStringLiteral("app.test")},
            {QStringLiteral("severity"), QStringLiteral("info")},
            {QStringLiteral("attributes"),
             QJsonObject{{QStringLiteral("reason"), QString(padding, QLatin1Char('p'))}}}};
}

QJsonObject reliability(const QString &id, int padding = 0)
{
    return makeEvent(id, QStringLiteral("reliability"), kNow, padding);
}

QJsonObject usage(const QString &id, int padding = 0)
{
    return makeEvent(id, QStringLiteral("usage"), kNow, padding);
}

QStringList ids(const QJsonArray &events)
{
    QStringList result;
    for (const QJsonValue &event : events)
        result.append(event.toObject().value(QStringLiteral("id")).toString());
    return result;
}

qint64 serialisedSize(const QJsonArray &events)
{
    qint64 sum = 0;
    for (const QJsonValue &event : events)
        sum += QJsonDocument(event.toObject()).toJson(QJsonDocument::Compact).size();
    return sum;
}

TelemetryBuffer fixedClockBuffer()
{
    return TelemetryBuffer([] { return kNow; });
}

} // namespace

// Checked after every operation: the running byte count and the queue text never drift from
// what serialising the events gives.
#define VERIFY_BYTES(buffer)                                                                                 \
    do {                                                                                                     \
        QCOMPARE((buffer).bytes(), serialisedSize((buffer).json()));                                         \
        QCOMPARE((buffer).compactJson(), QJsonDocument((buffer).json()).toJson(QJsonDocument::Compact));     \
    } while (false)

class tst_TelemetryBuffer : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void fullCountEvictsUsageBeforeTheOldest()
    {
        TelemetryBuffer buffer = fixedClockBuffer();
        for (int i = 0; i < TelemetryBuffer::kMaxEvents; ++i) {
            const QString id = QString::number(i);
            buffer.add(i == 500 ? usage(id) : reliability(id));
        }
        QCOMPARE(buffer.count(), TelemetryBuffer::kMaxEvents);
        VERIFY_BYTES(buffer);

        buffer.add(reliability(QStringLiteral("new")));
        QCOMPARE(buffer.count(), TelemetryBuffer::kMaxEvents);
        const QStringList kept = ids(buffer.json());
        QVERIFY(!kept.contains(QStringLiteral("500")));
        QCOMPARE(kept.first(), QStringLiteral("0"));
        QCOMPARE(kept.last(), QStringLiteral("new"));
        VERIFY_BYTES(buffer);

        // With no usage event left, the oldest goes.
        buffer.add(reliability(QStringLiteral("newer")));
        QCOMPARE(ids(buffer.json()).first(), QStringLiteral("1"));
        VERIFY_BYTES(buffer);
    }

    void byteLimitEvictsUsageFirstThenTheOldest()
    {
        TelemetryBuffer buffer = fixedClockBuffer();
        const int padding = 4000;
        buffer.add(reliability(QStringLiteral("r0"), padding));
        buffer.add(usage(QStringLiteral("u0"), padding));
        buffer.add(reliability(QStringLiteral("r1"), padding));
        buffer.add(usage(QStringLiteral("u1"), padding));
        VERIFY_BYTES(buffer);

        int next = 2;
        while (buffer.bytes() + TelemetryBuffer::sizeOf(reliability(QStringLiteral("rX"), padding)) <=
               TelemetryBuffer::kMaxBytes) {
            buffer.add(reliability(QStringLiteral("r%1").arg(next++), padding));
            VERIFY_BYTES(buffer);
        }
        const qsizetype fullCount = buffer.count();
        QCOMPARE(ids(buffer.json()).mid(0, 4), QStringList({"r0", "u0", "r1", "u1"}));

        // Passing the limit: the usage events go first, one per added event, newer though they
        // are than r0; then the oldest.
        const QStringList expectedFronts[] = {{"r0", "r1", "u1"}, {"r0", "r1", "r2"}, {"r1", "r2", "r3"}};
        for (const QStringList &front : expectedFronts) {
            buffer.add(reliability(QStringLiteral("r%1").arg(next++), padding));
            QCOMPARE(ids(buffer.json()).mid(0, 3), front);
            QCOMPARE(buffer.count(), fullCount);
            QVERIFY(buffer.bytes() <= TelemetryBuffer::kMaxBytes);
            VERIFY_BYTES(buffer);
        }
    }

    void restoreKeepsOnlyDatedRecentObjects()
    {
        TelemetryBuffer buffer = fixedClockBuffer();
        buffer.add(reliability(QStringLiteral("replaced")));
        QJsonObject undated = reliability(QStringLiteral("undated"));
        undated.insert(QStringLiteral("occurredAt"), QStringLiteral("x"));
        QJsonObject missingDate = reliability(QStringLiteral("missing-date"));
        missingDate.remove(QStringLiteral("occurredAt"));
        const QJsonArray file{
            makeEvent(QStringLiteral("eight-days"), QStringLiteral("reliability"), kNow.addDays(-8)),
            makeEvent(QStringLiteral("seven-days"), QStringLiteral("usage"), kNow.addDays(-7)),
            makeEvent(QStringLiteral("a-minute-over"), QStringLiteral("usage"),
                      kNow.addDays(-7).addMSecs(-1)),
            undated,
            missingDate,
            QStringLiteral("not an object"),
            42,
            QJsonArray{1, 2},
            QJsonValue::Null,
            reliability(QStringLiteral("fresh")),
        };
        buffer.restore(file);
        QCOMPARE(ids(buffer.json()), QStringList({"seven-days", "fresh"}));
        VERIFY_BYTES(buffer);
    }

    void restoreEnforcesTheLimits()
    {
        TelemetryBuffer buffer = fixedClockBuffer();
        QJsonArray file;
        for (int i = 0; i < 1500; ++i)
            file.append(i % 100 == 0 ? usage(QString::number(i)) : reliability(QString::number(i)));
        buffer.restore(file);
        QCOMPARE(buffer.count(), TelemetryBuffer::kMaxEvents);
        const QStringList kept = ids(buffer.json());
        // The 15 usage events go first, then the 485 oldest of the rest (1 to 489 less 0, 100 … 400).
        QVERIFY(std::none_of(kept.cbegin(), kept.cend(),
                             [](const QString &id) { return id.toInt() % 100 == 0; }));
        QCOMPARE(kept.first(), QStringLiteral("490"));
        QCOMPARE(kept.last(), QStringLiteral("1499"));
        VERIFY_BYTES(buffer);
    }

    void addPrunesExpiredEvents()
    {
        QDateTime now = kNow;
        TelemetryBuffer buffer([&] { return now; });
        buffer.add(reliability(QStringLiteral("old")));
        now = kNow.addDays(7).addSecs(1);
        buffer.add(makeEvent(QStringLiteral("new"), QStringLiteral("reliability"), now));
        QCOMPARE(ids(buffer.json()), QStringList({"new"}));
        VERIFY_BYTES(buffer);
    }

    void removeFirstIgnoresNonPositiveCounts_data()
    {
        QTest::addColumn<qint64>("count");
        QTest::addColumn<QStringList>("remaining");
        QTest::newRow("-1") << qint64(-1) << QStringList({"a", "b", "c"});
        QTest::newRow("0") << qint64(0) << QStringList({"a", "b", "c"});
        QTest::newRow("2") << qint64(2) << QStringList({"c"});
        QTest::newRow("more than held") << qint64(50) << QStringList();
    }

    void removeFirstIgnoresNonPositiveCounts()
    {
        QFETCH(qint64, count);
        QFETCH(QStringList, remaining);
        TelemetryBuffer buffer = fixedClockBuffer();
        for (const char *id : {"a", "b", "c"})
            buffer.add(reliability(QString::fromLatin1(id)));
        buffer.removeFirst(count);
        QCOMPARE(ids(buffer.json()), remaining);
        VERIFY_BYTES(buffer);
    }

    void batchTakesFromTheFrontWithoutRemoving()
    {
        TelemetryBuffer buffer = fixedClockBuffer();
        for (const char *id : {"a", "b", "c"})
            buffer.add(reliability(QString::fromLatin1(id)));
        QCOMPARE(ids(buffer.batch(50)), QStringList({"a", "b", "c"}));
        QCOMPARE(ids(buffer.batch(2)), QStringList({"a", "b"}));
        QVERIFY(buffer.batch(0).isEmpty());
        QVERIFY(buffer.batch(-5).isEmpty());
        QCOMPARE(buffer.count(), 3);
    }

    void purgeUsageKeepsTheRestInOrder()
    {
        TelemetryBuffer buffer = fixedClockBuffer();
        buffer.add(usage(QStringLiteral("u0")));
        buffer.add(reliability(QStringLiteral("r0")));
        buffer.add(usage(QStringLiteral("u1")));
        buffer.add(reliability(QStringLiteral("r1")));
        buffer.add(usage(QStringLiteral("u2")));
        buffer.purgeUsage();
        QCOMPARE(ids(buffer.json()), QStringList({"r0", "r1"}));
        VERIFY_BYTES(buffer);
    }

    void removeIdsTakesExactlyThoseEvents()
    {
        TelemetryBuffer buffer = fixedClockBuffer();
        for (const char *id : {"a", "b", "c", "d"})
            buffer.add(reliability(QString::fromLatin1(id)));
        QCOMPARE(buffer.removeIds({QStringLiteral("b"), QStringLiteral("d"), QStringLiteral("gone")}), 2);
        QCOMPARE(ids(buffer.json()), QStringList({"a", "c"}));
        VERIFY_BYTES(buffer);
    }
};

QTEST_APPLESS_MAIN(tst_TelemetryBuffer)
#include "tst_TelemetryBuffer.moc"
