#pragma once

#include "app/AppFailure.h"

#include <QJsonDocument>
#include <QObject>
#include <QString>
#include <QVariantList>

class NetworkManager;
class QJSEngine;
class QQmlEngine;
struct NetworkFailure;

// Who is signed in: the user id, full name and phone number, and the user's course enrollments
// from "users/me?include=enrollments", with the state of the last profile fetch for the screens.
// The enrollments and the name are cached per user in the settings store so the home screen has
// courses while the server is out of reach; the phone number and its owner are kept in the
// keychain so the identity watermark over protected content works offline. Forgets the identity
// when the session ends. GUI thread only. QML sees the process-wide object as "UserIdentity".
class UserIdentityController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "UserIdentity")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(QString userId READ userId NOTIFY identityChanged)
    Q_PROPERTY(QString fullName READ fullName NOTIFY identityChanged)
    Q_PROPERTY(QString phoneNumber READ phoneNumber NOTIFY identityChanged)
    Q_PROPERTY(QString watermarkText READ watermarkText NOTIFY identityChanged)
    Q_PROPERTY(WatermarkSource watermarkSource READ watermarkSource NOTIFY identityChanged)
    Q_PROPERTY(QVariantList enrollments READ enrollments NOTIFY identityChanged)
    Q_PROPERTY(bool loading READ loading NOTIFY loadingChanged)
    Q_PROPERTY(bool ready READ ready NOTIFY identityChanged)
    Q_PROPERTY(ProfileState profileState READ profileState NOTIFY profileStateChanged)
    Q_PROPERTY(QString profileErrorCode READ profileErrorCode NOTIFY profileStateChanged)
    Q_PROPERTY(QString profileErrorText READ profileErrorText NOTIFY profileStateChanged)
    Q_PROPERTY(bool usingCachedProfile READ usingCachedProfile NOTIFY profileStateChanged)
    Q_PROPERTY(AppFailure profileFailure READ profileFailure NOTIFY profileStateChanged)

public:
    enum ProfileState {
        Idle = 0,
        Loading = 1,
        Ready = 2,
        TemporarilyUnavailable = 3,
        Offline = 4,
        AuthenticationRequired = 5,
    };
    Q_ENUM(ProfileState)

    enum WatermarkSource {
        PhoneWatermark = 0,
        DeviceWatermark = 1,
    };
    Q_ENUM(WatermarkSource)

    // Created on first use, with NetworkManager::instance(); lives until the process exits.
    [[nodiscard]] static UserIdentityController *instance();
    // The QML singleton factory: the process-wide object, never owned by an engine.
    [[nodiscard]] static UserIdentityController *create(QQmlEngine *, QJSEngine *);

    [[nodiscard]] QString userId() const { return m_userId; }
    [[nodiscard]] QString fullName() const { return m_fullName; }
    [[nodiscard]] QString phoneNumber() const { return m_phoneNumber; }
    [[nodiscard]] QString watermarkText() const;
    [[nodiscard]] WatermarkSource watermarkSource() const;
    [[nodiscard]] QVariantList enrollments() const { return m_enrollments; }
    [[nodiscard]] bool loading() const { return m_loading; }
    [[nodiscard]] bool ready() const { return !m_userId.isEmpty(); }
    [[nodiscard]] ProfileState profileState() const { return m_profileState; }
    [[nodiscard]] QString profileErrorCode() const { return m_profileErrorCode; }
    [[nodiscard]] QString profileErrorText() const { return m_profileErrorText; }
    [[nodiscard]] bool usingCachedProfile() const { return m_usingCachedProfile; }
    [[nodiscard]] AppFailure profileFailure() const { return m_profileFailure; }

    // Asks the server for the profile; does nothing while signed out or while a fetch runs.
    Q_INVOKABLE void fetchProfile();
    // Forgets the identity (the cache and the keychain items stay for the next sign-in).
    Q_INVOKABLE void clear();

    // The watermark's digits: the last five decimal digits of the phone number, each kept as
    // written (Arabic-Indic digits stay Arabic-Indic); empty with fewer than five.
    [[nodiscard]] static QString watermarkTextFor(const QString &phoneNumber, const QString &installationId);

Q_SIGNALS:
    void identityChanged();
    void loadingChanged();
    void profileStateChanged();
    void profileError(const AppFailure &failure);

private:
    explicit UserIdentityController(NetworkManager *network);

    void loadLastIdentitySecurely();
    void loadProfileCache();
    void saveProfileCache();
    void savePhoneSecurely();
    void loadPhoneSecurely();
    void setProfileFailure(ProfileState state, const AppFailure &failure);

    void handleProfileAnswer(const QJsonDocument &answer, const NetworkFailure &failure);
    void applyFailedFetch(const NetworkFailure &failure);
    void applyProfile(const QJsonObject &profile);
    [[nodiscard]] QString phoneFromProfile(const QJsonObject &profile) const;

    [[nodiscard]] static QString profileCacheKey(const QString &userId, const QString &field);
    [[nodiscard]] static QString watermarkPhoneKey(const QString &userId);
    [[nodiscard]] static QString jsonIdentifier(const QJsonValue &value);

    NetworkManager *m_network;
    QString m_userId;
    QString m_fullName;
    QString m_phoneNumber;
    QVariantList m_enrollments;
    bool m_loading = false;
    ProfileState m_profileState = Idle;
    QString m_profileErrorCode;
    QString m_profileErrorText;
    bool m_usingCachedProfile = false;
    AppFailure m_profileFailure;

    // Grows with every clear(): an answer to a fetch sent before the last clear() belongs to a
    // session that has ended and must not bring its user back.
    quint64 m_clearGeneration = 0;
    // The value m_clearGeneration had when the fetch in flight (or the last one) was sent.
    quint64 m_fetchGeneration = 0;
    // A fetch was asked for (a sign-in, most often) while such a stale fetch was still in flight.
    bool m_fetchAfterStaleAnswer = false;
};
