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
void ResetPasswordController::recordFailure(const AppFailure &failure)
{
    m_failure = failure;
    Q_EMIT failureChanged();
}

void ResetPasswordController::requestPasswordReset(const QString &mobileNumber)
{
    if (m_isLoading)
        return;
    setLoading(true);
    quorin::sendForController(this, NetworkManager::HttpMethod::Post, kCodeRequestPath,
                              {{QStringLiteral("mobileNumber"), mobileNumber}},
                              &ResetPasswordController::handleCodeRequestAnswer);
}

void ResetPasswordController::handleCodeRequestAnswer(const QJsonDocument &, const NetworkFailure &failure)
{
    setLoading(false);
    if (!failure.failure.code.isEmpty()) {
        recordFailure(failure.failure);
        Q_EMIT requestError(m_failure);
        return;
    }
    Q_EMIT requestSuccess();
}

void ResetPasswordController::resetPassword(const QString &mobileNumber, const QString &otp,
                                            const QString &newPassword, const QString &confirmPassword)
{
    if (m_isLoading)
        return;
    if (newPassword != confirmPassword) {
        recordFailure(AppFailure::local(QStringLiteral("PASSWORDS_DO_NOT_MATCH"),
                                        tr("Passwords do not match."), QStringLiteral("validation"), false));
        Q_EMIT resetError(m_failure);
        return;
    }
    setLoading(true);
    quorin::sendForController(this, NetworkManager::HttpMethod::Post, kResetPath,
                              {{QStringLiteral("mobileNumber"), mobileNumber},
                               {QStringLiteral("otp"), otp},
                               {QStringLiteral("newPassword"), newPassword},
                               {QStringLiteral("confirmPassword"), confirmPassword}},
                              &ResetPasswordController::handleResetAnswer);
}

void ResetPasswordController::handleResetAnswer(const QJsonDocument &, const NetworkFailure &failure)
{
    setLoading(false);
    if (!failure.failure.code.isEmpty()) {
        recordFailure(failure.failure);
        Q_EMIT resetError(m_failure);
        return;
    }
    Q_EMIT resetSuccess();
}
