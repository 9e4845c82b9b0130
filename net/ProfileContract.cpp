#include "net/ProfileContract.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QVariantMap>

namespace {

constexpr qsizetype kMaximumNicknameLength = 64;

QString textOf(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? value.toString() : QString();
}

QString firstPhoneNumber(const QJsonObject &profile)
{
    for (const QString &key :
         {QStringLiteral("mobileNumber"), QStringLiteral("phoneNumber"), QStringLiteral("phone")}) {
        const QString text = textOf(profile, key);
        if (!text.isEmpty())
            return text;
    }
    return {};
}

// The institution nested in the year wins over the top-level one; an empty object counts as none.
QJsonObject institutionOf(const QJsonObject &profile)
{
    const QJsonObject year = profile.value(QStringLiteral("year")).toObject();
    const QJsonObject nested = year.value(QStringLiteral("institution")).toObject();
    if (!nested.isEmpty())
        return nested;
    return profile.value(QStringLiteral("institution")).toObject();
}

} // namespace

namespace ProfileContract {

ProfileSnapshot parseProfile(const QJsonObject &profile)
{
    ProfileSnapshot snapshot;
    snapshot.fullName = textOf(profile, QStringLiteral("fullName"));
    snapshot.nickname = textOf(profile, QStringLiteral("nickname"));
    snapshot.phoneNumber = firstPhoneNumber(profile);

    snapshot.yearId = textOf(profile, QStringLiteral("yearId")).trimmed();
    if (snapshot.yearId.isEmpty())
        snapshot.yearId =
            textOf(profile.value(QStringLiteral("year")).toObject(), QStringLiteral("id")).trimmed();

    const QJsonObject institution = institutionOf(profile);
    snapshot.institutionId = textOf(profile, QStringLiteral("institutionId")).trimmed();
    if (snapshot.institutionId.isEmpty())
        snapshot.institutionId = textOf(institution, QStringLiteral("id")).trimmed();
    snapshot.educationLevel = textOf(institution, QStringLiteral("educationLevel")).trimmed();

    snapshot.enrollments = profile.value(QStringLiteral("enrollments")).toArray().toVariantList();
    return snapshot;
}

QVariantList parseInstitutions(const QJsonDocument &answer)
{
    if (answer.isArray())
        return answer.array().toVariantList();
    const QJsonObject root = answer.object();
    for (const QString &key : {QStringLiteral("data"), QStringLiteral("institutions")}) {
        const QJsonValue list = root.value(key);
        if (list.isArray())
            return list.toArray().toVariantList();
    }
    return {};
}

QVariantList yearsForInstitution(const QVariantList &institutions, const QString &institutionId)
{
    for (const QVariant &element : institutions) {
        const QVariantMap institution = element.toMap();
        if (institution.value(QStringLiteral("id")).toString() != institutionId)
            continue;
        const QVariantList years = institution.value(QStringLiteral("years")).toList();
        return years.isEmpty() ? institution.value(QStringLiteral("academicYears")).toList() : years;
    }
    return {};
}

QJsonObject updatePayload(const QString &fullName, const QString &nickname, const QString &yearId)
{
    const QString year = yearId.trimmed();
    return {{QStringLiteral("fullName"), fullName.trimmed()},
            {QStringLiteral("nickname"), nickname.trimmed()},
            {QStringLiteral("yearId"), year.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(year)}};
}

bool isValidNickname(const QString &nickname)
{
    const qsizetype length = nickname.trimmed().size();
    return length >= 1 && length <= kMaximumNicknameLength;
}

} // namespace ProfileContract
