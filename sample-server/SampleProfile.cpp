#include "sample-server/SampleProfile.h"

#include "net/ProfileContract.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QVariantMap>

namespace {

constexpr qsizetype kMinimumPasswordLength = 8;

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

SampleProfile::Response refusal(const char *error, const char *message)
{
    return SampleProfile::Response::json(compact({{QStringLiteral("error"), QLatin1String(error)},
                                                  {QStringLiteral("message"), QLatin1String(message)}}),
                                         400);
}

} // namespace

void SampleProfile::load(const QJsonObject &profile, const QString &password, const QJsonObject &institutions)
{
    m_profile = profile;
    m_password = password;
    m_institutions = institutions;
}

SampleProfile::Response SampleProfile::profile() const
{
    return Response::json(compact(m_profile));
}

SampleProfile::Response SampleProfile::update(const QByteArray &body)
{
    const QJsonObject change = QJsonDocument::fromJson(body).object();
    const QJsonValue fullName = change.value(QStringLiteral("fullName"));
    const QJsonValue nickname = change.value(QStringLiteral("nickname"));
    const QJsonValue yearId = change.value(QStringLiteral("yearId"));
    if (!fullName.isString() || fullName.toString().trimmed().isEmpty() || !nickname.isString() ||
        !ProfileContract::isValidNickname(nickname.toString()) || !(yearId.isNull() || yearId.isString()))
        return refusal("invalid-profile", "Enter a full name and a nickname of 1 to 64 characters.");

    QJsonObject year;
    if (yearId.isString()) {
        year = yearWithInstitution(yearId.toString());
        if (year.isEmpty())
            return refusal("unknown-year", "The chosen academic year does not exist.");
    }
    m_profile.insert(QStringLiteral("fullName"), fullName.toString().trimmed());
    m_profile.insert(QStringLiteral("nickname"), nickname.toString().trimmed());
    if (year.isEmpty()) {
        m_profile.remove(QStringLiteral("yearId"));
        m_profile.remove(QStringLiteral("year"));
    } else {
        m_profile.insert(QStringLiteral("yearId"), yearId.toString());
        m_profile.insert(QStringLiteral("year"), year);
    }
    return profile();
}

SampleProfile::Response SampleProfile::changePassword(const QByteArray &body)
{
    const QJsonObject change = QJsonDocument::fromJson(body).object();
    if (change.value(QStringLiteral("currentPassword")).toString() != m_password)
        return refusal("invalid-current-password", "The current password is incorrect.");
    return replacePassword(change.value(QStringLiteral("newPassword")).toString(), "Password changed.");
}

SampleProfile::Response SampleProfile::resetPassword(const QString &newPassword)
{
    return replacePassword(newPassword, "Password reset.");
}

bool SampleProfile::isAcceptablePassword(const QString &password)
{
    return password.size() >= kMinimumPasswordLength;
}

SampleProfile::Response SampleProfile::replacePassword(const QString &newPassword, const char *confirmation)
{
    if (!isAcceptablePassword(newPassword))
        return refusal("invalid-new-password", "Choose a new password of at least 8 characters.");
    m_password = newPassword;
    return Response::json(compact({{QStringLiteral("message"), QLatin1String(confirmation)}}));
}

QJsonObject SampleProfile::yearWithInstitution(const QString &yearId) const
{
    const QVariantList institutions = ProfileContract::parseInstitutions(QJsonDocument(m_institutions));
    for (const QVariant &record : institutions) {
        const QVariantMap institution = record.toMap();
        const QString institutionId = institution.value(QStringLiteral("id")).toString();
        for (const QVariant &candidate : ProfileContract::yearsForInstitution(institutions, institutionId)) {
            QVariantMap year = candidate.toMap();
            if (year.value(QStringLiteral("id")).toString() != yearId)
                continue;
            year.insert(QStringLiteral("institution"),
                        QVariantMap{{QStringLiteral("id"), institutionId},
                                    {QStringLiteral("name"), institution.value(QStringLiteral("name"))},
                                    {QStringLiteral("educationLevel"),
                                     institution.value(QStringLiteral("educationLevel"))}});
            return QJsonObject::fromVariantMap(year);
        }
    }
    return {};
}
