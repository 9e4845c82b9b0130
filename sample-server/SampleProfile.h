#pragma once

#include "testsupport/FixtureServer.h"

#include <QJsonObject>
#include <QString>

// One account's editable side: its profile, its password and the institutions and
// academic years it can choose from. Changes last until the sample platform stops. The answers
// are those of the platform's REST routes; whether the caller is signed in is checked before.
class SampleProfile
{
public:
    using Response = quorin::test::FixtureServer::Response;

    // profile: the answer of "users/me"; institutions: the answer of "institutions", where the
    // profile's academic year is looked up.
    void load(const QJsonObject &profile, const QString &password, const QJsonObject &institutions);

    [[nodiscard]] QString password() const { return m_password; }

    // GET "users/me".
    [[nodiscard]] Response profile() const;
    // PATCH "users/me": the full name, nickname and year id, all three required.
    [[nodiscard]] Response update(const QByteArray &body);
    // POST "users/me/change-password".
    [[nodiscard]] Response changePassword(const QByteArray &body);
    // The password part of POST "auth/reset-password", once the code has been checked.
    [[nodiscard]] Response resetPassword(const QString &newPassword);
    // The platform's one rule for a new password, at sign-up, change and reset.
    [[nodiscard]] static bool isAcceptablePassword(const QString &password);

private:
    // The year record with its institution, as the profile carries it; empty when unknown.
    [[nodiscard]] QJsonObject yearWithInstitution(const QString &yearId) const;
    [[nodiscard]] Response replacePassword(const QString &newPassword, const char *confirmation);

    QJsonObject m_profile;
    QString m_password;
    QJsonObject m_institutions;
};
