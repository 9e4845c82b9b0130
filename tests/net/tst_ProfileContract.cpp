#include "net/ProfileContract.h"

#include <QJsonArray>
#include <QTest>

namespace {

QJsonObject object(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

QVariantList list(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).array().toVariantList();
}

// Every field of a snapshot, so that a row also catches a value leaking into the wrong field.
QVariantMap fieldsOf(const ProfileSnapshot &snapshot)
{
    return {{QStringLiteral("fullName"), snapshot.fullName},
            {QStringLiteral("nickname"), snapshot.nickname},
            {QStringLiteral("phoneNumber"), snapshot.phoneNumber},
            {QStringLiteral("institutionId"), snapshot.institutionId},
            {QStringLiteral("yearId"), snapshot.yearId},
            {QStringLiteral("educationLevel"), snapshot.educationLevel},
            {QStringLiteral("enrollments"), snapshot.enrollments}};
}

// The fields a row expects; every other one is empty.
QVariantMap expectedFields(const QVariantMap &differences)
{
    QVariantMap fields = fieldsOf(ProfileSnapshot());
    for (auto field = differences.constBegin(); field != differences.constEnd(); ++field)
        fields.insert(field.key(), field.value());
    return fields;
}

QString repeated(const QString &text, int times)
{
    return text.repeated(times);
}

} // namespace

class tst_ProfileContract : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parseProfile_data()
    {
        QTest::addColumn<QByteArray>("profile");
        QTest::addColumn<QVariantMap>("expected");

        QTest::newRow("year id trimmed")
            << QByteArray(R"({"yearId":" y1 "})") << QVariantMap{{"yearId", "y1"}};
        QTest::newRow("year id from the year object")
            << QByteArray(R"({"year":{"id":" y2 "}})") << QVariantMap{{"yearId", "y2"}};
        QTest::newRow("numeric year id without a year object")
            << QByteArray(R"({"yearId":7})") << QVariantMap{};
        QTest::newRow("numeric year id falls back to the year object")
            << QByteArray(R"({"yearId":7,"year":{"id":"y3"}})") << QVariantMap{{"yearId", "y3"}};
        QTest::newRow("year id beats the year object")
            << QByteArray(R"({"yearId":"y1","year":{"id":"y2"}})") << QVariantMap{{"yearId", "y1"}};
        QTest::newRow("nested institution beats the top level")
            << QByteArray(R"({"year":{"id":"y1","institution":{"id":"i9","educationLevel":"UNIVERSITY"}},
                              "institution":{"id":"i1","educationLevel":"SCHOOL"}})")
            << QVariantMap{{"yearId", "y1"}, {"institutionId", "i9"}, {"educationLevel", "UNIVERSITY"}};
        QTest::newRow("empty nested institution falls back to the top level")
            << QByteArray(
                   R"({"year":{"institution":{}},"institution":{"id":" i1 ","educationLevel":" SCHOOL "}})")
            << QVariantMap{{"institutionId", "i1"}, {"educationLevel", "SCHOOL"}};
        QTest::newRow("nested institution that is not an object falls back")
            << QByteArray(
                   R"({"year":{"institution":"i9"},"institution":{"id":"i1","educationLevel":"SCHOOL"}})")
            << QVariantMap{{"institutionId", "i1"}, {"educationLevel", "SCHOOL"}};
        QTest::newRow("top-level institution id wins, level from the chosen object")
            << QByteArray(R"({"institutionId":" i5 ",
                              "year":{"institution":{"id":"i9","educationLevel":"UNIVERSITY"}},
                              "institution":{"id":"i1","educationLevel":"SCHOOL"}})")
            << QVariantMap{{"institutionId", "i5"}, {"educationLevel", "UNIVERSITY"}};
        QTest::newRow("numeric institution id falls back to the object")
            << QByteArray(R"({"institutionId":5,"institution":{"id":"i1"}})")
            << QVariantMap{{"institutionId", "i1"}};
        QTest::newRow("top-level education level alone")
            << QByteArray(R"({"educationLevel":"SCHOOL"})") << QVariantMap{};
        QTest::newRow("institution that is not an object")
            << QByteArray(R"({"institution":"i1","educationLevel":"SCHOOL"})") << QVariantMap{};
        QTest::newRow("blank mobile number is kept")
            << QByteArray(R"({"mobileNumber":"  ","phone":"+966512345678"})")
            << QVariantMap{{"phoneNumber", "  "}};
        QTest::newRow("empty mobile number gives way to phone")
            << QByteArray(R"({"mobileNumber":"","phone":"+966512345678"})")
            << QVariantMap{{"phoneNumber", "+966512345678"}};
        QTest::newRow("phone number before phone")
            << QByteArray(R"({"phoneNumber":"+201012345678","phone":"+966512345678"})")
            << QVariantMap{{"phoneNumber", "+201012345678"}};
        QTest::newRow("numbers are not text")
            << QByteArray(R"({"mobileNumber":201012345678,"fullName":5,"nickname":true})") << QVariantMap{};
        QTest::newRow("names as sent") << QByteArray(R"({"fullName":" Salma Adel ","nickname":" salma "})")
                                       << QVariantMap{{"fullName", " Salma Adel "}, {"nickname", " salma "}};
        QTest::newRow("enrollments as an object")
            << QByteArray(R"({"enrollments":{"courseId":"c1"}})") << QVariantMap{};
        QTest::newRow("enrollments converted, elements untouched")
            << QByteArray(R"({"enrollments":[{"courseId":"c1","course":{"id":"c1"},"progress":0.5},3]})")
            << QVariantMap{
                   {"enrollments", list(R"([{"courseId":"c1","course":{"id":"c1"},"progress":0.5},3])")}};
    }

    void parseProfile()
    {
        QFETCH(QByteArray, profile);
        QFETCH(QVariantMap, expected);
        const QJsonObject root = object(profile);
        QVERIFY(!root.isEmpty());

        QCOMPARE(fieldsOf(ProfileContract::parseProfile(root)), expectedFields(expected));
    }

    void parseInstitutions_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("array of one") << QByteArray(R"([{"id":"i1","name":"North School"}])")
                                      << QByteArray(R"([{"id":"i1","name":"North School"}])");
        QTest::newRow("empty data beside institutions")
            << QByteArray(R"({"data":[],"institutions":[{"id":"i1"}]})") << QByteArray("[]");
        QTest::newRow("data that is not an array")
            << QByteArray(R"({"data":{"id":"i0"},"institutions":[{"id":"i1"}]})")
            << QByteArray(R"([{"id":"i1"}])");
        QTest::newRow("data first") << QByteArray(R"({"data":[{"id":"i2"}],"institutions":[{"id":"i1"}]})")
                                    << QByteArray(R"([{"id":"i2"}])");
        QTest::newRow("neither key") << QByteArray(R"({"items":[{"id":"i1"}]})") << QByteArray("[]");
        QTest::newRow("no body") << QByteArray() << QByteArray("[]");
        QTest::newRow("records kept whole, unfiltered")
            << QByteArray(R"({"data":[{"id":"i1","years":[{"id":"y1","value":1}],"extra":null},"odd"]})")
            << QByteArray(R"([{"id":"i1","years":[{"id":"y1","value":1}],"extra":null},"odd"])");
    }

    void parseInstitutions()
    {
        QFETCH(QByteArray, answer);
        QFETCH(QByteArray, expected);

        QCOMPARE(ProfileContract::parseInstitutions(QJsonDocument::fromJson(answer)), list(expected));
    }

    void yearsForInstitution_data()
    {
        QTest::addColumn<QByteArray>("institutions");
        QTest::addColumn<QString>("institutionId");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("years") << QByteArray(
                                      R"([{"id":"i1","years":[{"id":"y1"}],"academicYears":[{"id":"a1"}]}])")
                               << QStringLiteral("i1") << QByteArray(R"([{"id":"y1"}])");
        QTest::newRow("empty years fall back to academic years")
            << QByteArray(R"([{"id":"i1","years":[],"academicYears":[{"id":"a1","name":"1"}]}])")
            << QStringLiteral("i1") << QByteArray(R"([{"id":"a1","name":"1"}])");
        QTest::newRow("absent years fall back to academic years")
            << QByteArray(R"([{"id":"i1","academicYears":[{"id":"a1"}]}])") << QStringLiteral("i1")
            << QByteArray(R"([{"id":"a1"}])");
        QTest::newRow("first of two records decides, even empty")
            << QByteArray(R"([{"id":"i1","years":[]},{"id":"i1","years":[{"id":"y9"}]}])")
            << QStringLiteral("i1") << QByteArray("[]");
        QTest::newRow("no trimming of the id") << QByteArray(R"([{"id":" 12","years":[{"id":"y1"}]}])")
                                               << QStringLiteral("12") << QByteArray("[]");
        QTest::newRow("numeric id matches its text")
            << QByteArray(R"([{"id":12,"years":[{"id":"y1"}]}])") << QStringLiteral("12")
            << QByteArray(R"([{"id":"y1"}])");
        QTest::newRow("case matters") << QByteArray(R"([{"id":"I1","years":[{"id":"y1"}]}])")
                                      << QStringLiteral("i1") << QByteArray("[]");
        QTest::newRow("elements that are not records are passed over")
            << QByteArray(R"(["i1",{"id":"i1","years":[{"id":"y1"}]}])") << QStringLiteral("i1")
            << QByteArray(R"([{"id":"y1"}])");
        QTest::newRow("no match") << QByteArray(R"([{"id":"i2","years":[{"id":"y1"}]}])")
                                  << QStringLiteral("i1") << QByteArray("[]");
    }

    void yearsForInstitution()
    {
        QFETCH(QByteArray, institutions);
        QFETCH(QString, institutionId);
        QFETCH(QByteArray, expected);

        QCOMPARE(ProfileContract::yearsForInstitution(list(institutions), institutionId), list(expected));
    }

    void updatePayload_data()
    {
        QTest::addColumn<QString>("fullName");
        QTest::addColumn<QString>("nickname");
        QTest::addColumn<QString>("yearId");
        QTest::addColumn<QByteArray>("expected");

        QTest::newRow("no year") << QStringLiteral(" A ") << QStringLiteral(" n ") << QStringLiteral("  ")
                                 << QByteArray(R"({"fullName":"A","nickname":"n","yearId":null})");
        QTest::newRow("year trimmed")
            << QStringLiteral("Salma Adel") << QStringLiteral("salma") << QStringLiteral(" y1 ")
            << QByteArray(R"({"fullName":"Salma Adel","nickname":"salma","yearId":"y1"})");
        QTest::newRow("all empty") << QString() << QString() << QString()
                                   << QByteArray(R"({"fullName":"","nickname":"","yearId":null})");
    }

    void updatePayload()
    {
        QFETCH(QString, fullName);
        QFETCH(QString, nickname);
        QFETCH(QString, yearId);
        QFETCH(QByteArray, expected);

        QCOMPARE(ProfileContract::updatePayload(fullName, nickname, yearId), object(expected));
    }

    void isValidNickname_data()
    {
        QTest::addColumn<QString>("nickname");
        QTest::addColumn<bool>("valid");

        const QString outsideBmp = QString::fromUcs4(U"\U0001F600");
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("spaces alone") << QStringLiteral("   ") << false;
        QTest::newRow("white space alone") << QStringLiteral("\t\n ") << false;
        QTest::newRow("one character") << QStringLiteral("a") << true;
        QTest::newRow("64 with spaces around") << "  " + repeated(QStringLiteral("a"), 64) + "  " << true;
        QTest::newRow("65") << repeated(QStringLiteral("a"), 65) << false;
        QTest::newRow("62 and one outside the BMP") << repeated(QStringLiteral("a"), 62) + outsideBmp << true;
        QTest::newRow("63 and one outside the BMP")
            << repeated(QStringLiteral("a"), 63) + outsideBmp << false;
        QTest::newRow("inner spaces count") << "a" + repeated(QStringLiteral(" "), 63) + "b" << false;
    }

    void isValidNickname()
    {
        QFETCH(QString, nickname);
        QFETCH(bool, valid);

        QCOMPARE(ProfileContract::isValidNickname(nickname), valid);
    }
};

QTEST_GUILESS_MAIN(tst_ProfileContract)
#include "tst_ProfileContract.moc"
