#pragma once

#include "app/AppFailure.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QObject>
#include <QString>

class QJSEngine;
class QQmlEngine;
struct NetworkFailure;

// The object behind the two forms of a forgotten password: it asks the backend to send a
// verification code to the mobile number, then sets a new password with that code. It keeps
// nothing between the two steps; the screen passes the number to both. One process-wide object.
class ResetPasswordController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "ResetPasswordController")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged)
    Q_PROPERTY(AppFailure failure READ failure NOTIFY failureChanged)

public:
    // The program uses instance(); a separate object is for tests.
    explicit ResetPasswordController(QObject *parent = nullptr);

    [[nodiscard]] static ResetPasswordController *instance();
    // The QML singleton factory: the process-wide object, never owned by the engine.
    [[nodiscard]] static ResetPasswordController *create(QQmlEngine *, QJSEngine *);

    // One flag for both steps: while either request is outstanding, both operations do nothing.
    [[nodiscard]] bool isLoading() const { return m_isLoading; }
    // The last failure; never cleared, not even by a success.
    [[nodiscard]] AppFailure failure() const { return m_failure; }

    // Every value goes out exactly as given; the backend judges the number, the code and the
    // password. The only check here is that the two passwords are equal.
    Q_INVOKABLE void requestPasswordReset(const QString &mobileNumber);
    Q_INVOKABLE void resetPassword(const QString &mobileNumber, const QString &otp,
                                   const QString &newPassword, const QString &confirmPassword);

Q_SIGNALS:
    void isLoadingChanged();
    void requestSuccess();
    void requestError(const AppFailure &failure);
    void resetSuccess();
    void resetError(const AppFailure &failure);
    void failureChanged();

private:
    using OutcomeSignal = void (ResetPasswordController::*)();
    using FailureSignal = void (ResetPasswordController::*)(const AppFailure &);

    void setLoading(bool loading);
    void reject(const AppFailure &failure, FailureSignal signal);
    void sendStep(const QString &path, const QJsonObject &body,
                  void (ResetPasswordController::*handler)(const QJsonDocument &, const NetworkFailure &));
    // Ends the outstanding step with its success signal, or keeps and announces its failure.
    void finishStep(const NetworkFailure &failure, OutcomeSignal succeeded, FailureSignal failed);
    void handleCodeRequestAnswer(const QJsonDocument &answer, const NetworkFailure &failure);
    void handleResetAnswer(const QJsonDocument &answer, const NetworkFailure &failure);

    bool m_isLoading = false;
    AppFailure m_failure;
};
