#pragma once

#include "app/AppFailure.h"

#include <QJsonDocument>
#include <QObject>
#include <QString>
#include <QVariantList>

class QJSEngine;
class QQmlEngine;
struct NetworkFailure;

// The object behind the sign-up form: loads the institutions, narrows them to the educational
// level the student picks, offers the academic years of the picked institution, and creates the
// account with one request. One process-wide object, so the lists outlive each visit of the
// sign-in screen.
class SignupController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "SignupController")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(QVariantList institutions READ institutions NOTIFY institutionsChanged)
    Q_PROPERTY(QVariantList academicYears READ academicYears NOTIFY academicYearsChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(AppFailure failure READ failure NOTIFY failureChanged)

public:
    // The program uses instance(); a separate object is for tests.
    explicit SignupController(QObject *parent = nullptr);

    [[nodiscard]] static SignupController *instance();
    // The QML singleton factory: the process-wide object, never owned by the engine.
    [[nodiscard]] static SignupController *create(QQmlEngine *, QJSEngine *);

    // The institutions of the last chosen level, in the order the backend sent them.
    [[nodiscard]] QVariantList institutions() const { return m_institutions; }
    [[nodiscard]] QVariantList academicYears() const { return m_academicYears; }
    // One flag for both requests: while either is outstanding, fetchInstitutions and registerUser
    // do nothing at all.
    [[nodiscard]] bool isLoading() const { return m_isLoading; }
    // Cleared only by a successful institutions load.
    [[nodiscard]] AppFailure failure() const { return m_failure; }

    Q_INVOKABLE void fetchInstitutions();
    // stage is compared exactly ("SCHOOL", "UNIVERSITY"); the academic years stay as they are.
    Q_INVOKABLE void selectStage(const QString &stage);
    // Picks among the institutions of the chosen level only; an id not among them leaves no years.
    Q_INVOKABLE void selectInstitution(const QString &instId);
    // Only the nickname is checked here; the form has checked the number and the education.
    Q_INVOKABLE void registerUser(const QString &fullName, const QString &nickname,
                                  const QString &mobileNumber, const QString &password,
                                  const QString &confirmPassword, const QString &instId,
                                  const QString &yearId);

Q_SIGNALS:
    void institutionsChanged();
    void academicYearsChanged();
    void isLoadingChanged();
    void registerSuccess();
    void registerError(const AppFailure &failure);
    void institutionsError(const AppFailure &failure);
    void failureChanged();

private:
    using FailureSignal = void (SignupController::*)(const AppFailure &);

    void setLoading(bool loading);
    void reject(const AppFailure &failure, FailureSignal signal);
    // Ends the outstanding request; true when it failed, its failure then kept and announced.
    [[nodiscard]] bool finishedWithFailure(const NetworkFailure &failure, FailureSignal signal);
    void handleInstitutionsAnswer(const QJsonDocument &answer, const NetworkFailure &failure);
    void handleRegistrationAnswer(const QJsonDocument &answer, const NetworkFailure &failure);

    // Every record of the last successful load, unfiltered.
    QVariantList m_allInstitutions;
    QVariantList m_institutions;
    QVariantList m_academicYears;
    bool m_isLoading = false;
    AppFailure m_failure;
    QString m_selectedStage;
};
