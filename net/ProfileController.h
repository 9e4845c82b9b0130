#pragma once

#include "app/AppFailure.h"
#include "net/NetworkManager.h"

#include <QJsonDocument>
#include <QObject>
#include <QString>
#include <QVariantList>

struct ProfileSnapshot;

// The object behind the profile settings page: loads the signed-in user's profile and the
// institutions, saves profile edits, changes the password and deletes the account, one REST call
// each, and reports each outcome with a result signal, the state word and the last failure.
// After a saved profile has been read back it has the process-wide user identity refresh itself,
// and reports the save as done only when that refresh has ended. Each page makes its own object.
class ProfileController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "ProfileController")
    Q_PROPERTY(QString fullName READ fullName NOTIFY profileLoaded)
    Q_PROPERTY(QString phoneNumber READ phoneNumber NOTIFY profileLoaded)
    Q_PROPERTY(QString nickname READ nickname NOTIFY profileLoaded)
    Q_PROPERTY(QString institutionId READ institutionId NOTIFY profileLoaded)
    Q_PROPERTY(QString yearId READ yearId NOTIFY profileLoaded)
    Q_PROPERTY(QString educationLevel READ educationLevel NOTIFY profileLoaded)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY loadingStatusChanged)
    Q_PROPERTY(QVariantList enrollments READ enrollments NOTIFY profileLoaded)
    Q_PROPERTY(QVariantList institutions READ institutions NOTIFY institutionsChanged)
    Q_PROPERTY(QString state READ state NOTIFY stateChanged)
    Q_PROPERTY(AppFailure failure READ failure NOTIFY failureChanged)

public:
    explicit ProfileController(QObject *parent = nullptr);

    [[nodiscard]] QString fullName() const { return m_fullName; }
    [[nodiscard]] QString phoneNumber() const { return m_phoneNumber; }
    [[nodiscard]] QString nickname() const { return m_nickname; }
    [[nodiscard]] QString institutionId() const { return m_institutionId; }
    [[nodiscard]] QString yearId() const { return m_yearId; }
    [[nodiscard]] QString educationLevel() const { return m_educationLevel; }
    [[nodiscard]] bool isLoading() const { return m_isLoading; }
    [[nodiscard]] QVariantList enrollments() const { return m_enrollments; }
    [[nodiscard]] QVariantList institutions() const { return m_institutions; }
    // "idle" until the first operation, then "loading", "ready" or "failed".
    [[nodiscard]] QString state() const { return m_state; }
    [[nodiscard]] AppFailure failure() const { return m_failure; }

    // fetchProfile, updateProfile, changePassword and deleteAccount do nothing at all while a
    // call of theirs is outstanding. fetchInstitutions always runs.
    Q_INVOKABLE void fetchProfile();
    Q_INVOKABLE void fetchInstitutions();
    Q_INVOKABLE void updateProfile(const QString &fullName, const QString &nickname, const QString &yearId);
    // The passwords go out exactly as typed; matching the confirmation is the page's task.
    Q_INVOKABLE void changePassword(const QString &currentPassword, const QString &newPassword);
    // Does not sign out: the page that receives accountDeleted does.
    Q_INVOKABLE void deleteAccount();

Q_SIGNALS:
    void profileLoaded();
    void profileError(const AppFailure &failure);
    void loadingStatusChanged();
    void profileUpdated();
    void profileUpdateError(const AppFailure &failure);
    void passwordChanged();
    void passwordChangeError(const AppFailure &failure);
    void accountDeleted();
    void accountDeleteError(const AppFailure &failure);
    void institutionsChanged();
    void stateChanged();
    void failureChanged();

private:
    using AnswerHandler = void (ProfileController::*)(const QJsonDocument &, const NetworkFailure &);
    using FailureSignal = void (ProfileController::*)(const AppFailure &);

    void setLoading(bool loading);
    void setFailure(const AppFailure &failure);
    // Clears the last failure, marks the controller busy and sends the call; the answer first
    // ends the busy state, then goes to the handler, unless this controller is gone by then.
    void startRequest(NetworkManager::HttpMethod method, const QString &path, const QJsonObject &body,
                      AnswerHandler handler);
    void rejectUpdate(const AppFailure &failure);
    [[nodiscard]] bool recordedFailure(const NetworkFailure &failure, FailureSignal signal);

    void handleProfileAnswer(const QJsonDocument &answer, const NetworkFailure &failure);
    void handleInstitutionsAnswer(const QJsonDocument &answer, const NetworkFailure &failure);
    void handleUpdateAnswer(const QJsonDocument &answer, const NetworkFailure &failure);
    void handlePasswordAnswer(const QJsonDocument &answer, const NetworkFailure &failure);
    void handleDeleteAnswer(const QJsonDocument &answer, const NetworkFailure &failure);

    void logEducationShape(const QJsonObject &profile) const;
    void applySnapshot(const ProfileSnapshot &snapshot);
    void refreshIdentity();
    void finishIdentityRefresh();

    QString m_fullName;
    QString m_phoneNumber;
    QString m_nickname;
    QString m_institutionId;
    QString m_yearId;
    QString m_educationLevel;
    bool m_isLoading = false;
    QVariantList m_enrollments;
    QVariantList m_institutions;
    QString m_state = QStringLiteral("idle");
    AppFailure m_failure;
    // A save went through; the next successful profile load starts the identity refresh.
    bool m_profileRefreshPending = false;
    // The identity refresh after a save runs and profileUpdated has not been emitted for it.
    bool m_identityRefreshPending = false;
};
