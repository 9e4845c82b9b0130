#include "net/SignupController.h"

#include "app/ProgramOwnership.h"
#include "net/ControllerRequest.h"
#include "net/NetworkManager.h"
#include "net/ProfileContract.h"

#include <QJsonObject>
#include <QVariantMap>

namespace {

const QString kInstitutionsPath = QStringLiteral("institutions");
const QString kSignupPath = QStringLiteral("auth/signup");

} // namespace

SignupController::SignupController(QObject *parent)
    : QObject(parent)
{
}

SignupController *SignupController::instance()
{
    static SignupController controller;
    return &controller;
}

SignupController *SignupController::create(QQmlEngine *, QJSEngine *)
{
    return quorin::ownedByProgram(instance());
}

void SignupController::setLoading(bool loading)
{
    if (m_isLoading == loading)
        return;
    m_isLoading = loading;
    Q_EMIT isLoadingChanged();
}

// Announced every time, changed or not, so the form hears of every attempt's outcome.
void SignupController::reject(const AppFailure &failure, FailureSignal signal)
{
    m_failure = failure;
    Q_EMIT failureChanged();
    Q_EMIT(this->*signal)(m_failure);
}

bool SignupController::finishedWithFailure(const NetworkFailure &failure, FailureSignal signal)
{
    setLoading(false);
    if (failure.failure.code.isEmpty())
        return false;
    reject(failure.failure, signal);
    return true;
}

// Institutions

void SignupController::fetchInstitutions()
{
    if (m_isLoading)
        return;
    setLoading(true);
    quorin::sendForController(this, NetworkManager::HttpMethod::Get, kInstitutionsPath, QJsonObject(),
                              &SignupController::handleInstitutionsAnswer);
}

void SignupController::handleInstitutionsAnswer(const QJsonDocument &answer, const NetworkFailure &failure)
{
    if (finishedWithFailure(failure, &SignupController::institutionsError))
        return;
    m_failure = AppFailure();
    Q_EMIT failureChanged();
    m_allInstitutions = ProfileContract::parseInstitutions(answer);
    // Until a level is chosen the form shows no institutions, so there is nothing to rebuild.
    if (!m_selectedStage.isEmpty())
        selectStage(m_selectedStage);
}

void SignupController::selectStage(const QString &stage)
{
    m_selectedStage = stage;
    m_institutions.clear();
    for (const QVariant &record : std::as_const(m_allInstitutions)) {
        if (record.toMap().value(QStringLiteral("educationLevel")).toString() == stage)
            m_institutions.append(record);
    }
    Q_EMIT institutionsChanged();
}

void SignupController::selectInstitution(const QString &instId)
{
    m_academicYears.clear();
    // Looked up among the chosen level's institutions only, so one of another level cannot be
    // picked by its id.
    for (const QVariant &record : std::as_const(m_institutions)) {
        if (record.toMap().value(QStringLiteral("id")).toString() == instId) {
            m_academicYears = ProfileContract::yearsForInstitution(m_institutions, instId);
            break;
        }
    }
    Q_EMIT academicYearsChanged();
}

// Registration

void SignupController::registerUser(const QString &fullName, const QString &nickname,
                                    const QString &mobileNumber, const QString &password,
                                    const QString &confirmPassword, const QString &instId,
                                    const QString &yearId)
{
    if (m_isLoading)
        return;
    if (!ProfileContract::isValidNickname(nickname)) {
        // Worded after the rule that is checked, the one the profile editor applies too.
        reject(AppFailure::local(QStringLiteral("NICKNAME_INVALID"),
                                 tr("Nickname must contain 1–64 characters."), QStringLiteral("validation"),
                                 false),
               &SignupController::registerError);
        return;
    }
    setLoading(true);
    const QJsonObject body{
        {QStringLiteral("fullName"), fullName.trimmed()},
        {QStringLiteral("nickname"), nickname.trimmed()},
        {QStringLiteral("mobileNumber"), mobileNumber},
        {QStringLiteral("password"), password},
        {QStringLiteral("confirmPassword"), confirmPassword},
        {QStringLiteral("institutionId"), instId},
        {QStringLiteral("yearId"), yearId},
        {QStringLiteral("deviceType"), QStringLiteral("DESKTOP")},
        {QStringLiteral("deviceId"), NetworkManager::instance()->getDeviceId()},
    };
    quorin::sendForController(this, NetworkManager::HttpMethod::Post, kSignupPath, body,
                              &SignupController::handleRegistrationAnswer);
}

void SignupController::handleRegistrationAnswer(const QJsonDocument &answer, const NetworkFailure &failure)
{
    if (finishedWithFailure(failure, &SignupController::registerError))
        return;
    // Only the JSON value true counts: an answer that does not say so plainly made no account.
    if (answer.object().value(QStringLiteral("success")) == QJsonValue(true)) {
        Q_EMIT registerSuccess();
        return;
    }
    reject(AppFailure::local(QStringLiteral("REGISTRATION_FAILED"), tr("Registration failed"),
                             QStringLiteral("server"), true),
           &SignupController::registerError);
}
