#include "net/ResetPasswordController.h"

#include "app/ProgramOwnership.h"
#include "net/ControllerRequest.h"
#include "net/NetworkManager.h"

#include <QJsonObject>

namespace {

const QString kCodeRequestPath = QStringLiteral("auth/forgot-password");
const QString kResetPath = QStringLiteral("auth/reset-password");

} // namespace

ResetPasswordController::ResetPasswordController(QObject *parent)
    : QObject(parent)
{
}

ResetPasswordController *ResetPasswordController::instance()
{
    static ResetPasswordController controller;
    return &controller;
}

ResetPasswordController *ResetPasswordController::create(QQmlEngine *, QJSEngine *)
{
    return quorin::ownedByProgram(instance());
}

void ResetPasswordController::setLoading(bool loading)
{
    if (m_isLoading == loading)
        return;
    m_isLoading = loading;
    Q_EMIT isLoadingChanged();
}

// Announced every time, changed or not, so the form hears of every attempt's outcome.
void ResetPasswordController::reject(const AppFailure &failure, FailureSignal signal)
{
    m_failure = failure;
    Q_EMIT failureChanged();
    Q_EMIT(this->*signal)(m_failure);
}

void ResetPasswordController::sendStep(const QString &path, const QJsonObject &body,
                                       void (ResetPasswordController::*handler)(const QJsonDocument &,
                                                                                const NetworkFailure &))
{
    setLoading(true);
    quorin::sendForController(this, NetworkManager::HttpMethod::Post, path, body, handler);
}

void ResetPasswordController::finishStep(const NetworkFailure &failure, OutcomeSignal succeeded,
                                         FailureSignal failed)
{
    setLoading(false);
    if (failure.failure.code.isEmpty())
        Q_EMIT(this->*succeeded)();
    else
        reject(failure.failure, failed);
}

void ResetPasswordController::requestPasswordReset(const QString &mobileNumber)
{
    if (m_isLoading)
        return;
    sendStep(kCodeRequestPath, {{QStringLiteral("mobileNumber"), mobileNumber}},
             &ResetPasswordController::handleCodeRequestAnswer);
}

void ResetPasswordController::handleCodeRequestAnswer(const QJsonDocument &, const NetworkFailure &failure)
{
    finishStep(failure, &ResetPasswordController::requestSuccess, &ResetPasswordController::requestError);
}

void ResetPasswordController::resetPassword(const QString &mobileNumber, const QString &otp,
                                            const QString &newPassword, const QString &confirmPassword)
{
    if (m_isLoading)
        return;
    if (newPassword != confirmPassword) {
        reject(AppFailure::local(QStringLiteral("PASSWORDS_DO_NOT_MATCH"), tr("Passwords do not match."),
                                 QStringLiteral("validation"), false),
               &ResetPasswordController::resetError);
        return;
    }
    sendStep(kResetPath,
             {{QStringLiteral("mobileNumber"), mobileNumber},
              {QStringLiteral("otp"), otp},
              {QStringLiteral("newPassword"), newPassword},
              {QStringLiteral("confirmPassword"), confirmPassword}},
             &ResetPasswordController::handleResetAnswer);
}

void ResetPasswordController::handleResetAnswer(const QJsonDocument &, const NetworkFailure &failure)
{
    finishStep(failure, &ResetPasswordController::resetSuccess, &ResetPasswordController::resetError);
}
