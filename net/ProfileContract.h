#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QVariantList>

// The values of the signed-in user's profile that the account screens bind to, read from one
// profile answer. Every field is empty when the answer does not provide it.
struct ProfileSnapshot
{
    QString fullName;
    QString nickname;
    QString phoneNumber;
    QString institutionId;
    QString yearId;
    QString educationLevel;
    QVariantList enrollments;
};

// The translation between the backend's JSON for the profile and the institutions and what the
// account screens show and send. Shared by profile editing and sign-up so both read institutions,
// years and nicknames the same way. Pure functions: safe on any thread.
//
// Identifiers are read only from JSON strings: a number, boolean, null, object or array under a
// key reads as an empty text.
namespace ProfileContract {

[[nodiscard]] ProfileSnapshot parseProfile(const QJsonObject &profile);

// The institution records of an institutions answer, unchanged: the document itself when it is
// an array, else its "data" array (even an empty one), else its "institutions" array.
[[nodiscard]] QVariantList parseInstitutions(const QJsonDocument &answer);

// The academic years of the first institution whose id, as text, equals institutionId exactly:
// its "years", or its "academicYears" when "years" is empty.
[[nodiscard]] QVariantList yearsForInstitution(const QVariantList &institutions,
                                               const QString &institutionId);

// The body of a profile update: always exactly "fullName", "nickname" and "yearId", trimmed, with
// a null "yearId" when none is chosen.
[[nodiscard]] QJsonObject updatePayload(const QString &fullName, const QString &nickname,
                                        const QString &yearId);

// 1 to 64 UTF-16 code units once the surrounding white space is removed.
[[nodiscard]] bool isValidNickname(const QString &nickname);

} // namespace ProfileContract
