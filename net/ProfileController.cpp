#include "net/ProfileController.h"

#include "app/DiagnosticLogger.h"
#include "net/ControllerRequest.h"
#include "net/ProfileContract.h"
#include "net/UserIdentityController.h"

#include <QJsonObject>
#include <QPointer>
#include <utility>

namespace {

const QString kProfilePath = QStringLiteral("users/me?include=enrollments");
const QString kInstitutionsPath = QStringLiteral("institutions");
const QString kUserPath = QStringLiteral("users/me");
const QString kPasswordPath = QStringLiteral("users/me/change-password");

AppFailure validationFailure(const QString &code, const QString &message)
{
    return AppFailure::local(code, message, QStringLiteral("validation"), false);
}

} // namespace

ProfileController::ProfileController(QObject *parent)
    : QObject(parent)
{
}

void ProfileController::setLoading(bool loading)
{
    if (m_isLoading == loading)
        return;
    m_isLoading = loading;
    m_state = loading ? QStringLiteral("loading") : QStringLiteral("ready");
    Q_EMIT loadingStatusChanged();
    Q_EMIT stateChanged();
}

// Announced every time, changed or not, so a page always hears of a new attempt's outcome.
void ProfileController::setFailure(const AppFailure &failure)
{
    m_failure = failure;
    m_state = failure.code.isEmpty() ? QStringLiteral("ready") : QStringLiteral("failed");
    Q_EMIT failureChanged();
    Q_EMIT stateChanged();
}

// An answer failed when its failure record has a code; then the record is kept and announced.
bool ProfileController::recordedFailure(const NetworkFailure &failure, FailureSignal signal)
{
    if (failure.failure.code.isEmpty())
        return false;
    setFailure(failure.failure);
    Q_EMIT(this->*signal)(failure.failure);
    return true;
}

void ProfileController::startRequest(NetworkManager::HttpMethod method, const QString &path,
                                     const QJsonObject &body, AnswerHandler handler)
{
    setFailure(AppFailure());
    setLoading(true);
    const QPointer<ProfileController> self(this);
    NetworkManager::instance()->sendRequestDetailed(
        method, path, body, [self, handler](const QJsonDocument &answer, const NetworkFailure &failure) {
            if (!self)
                return;
            self->setLoading(false);
            (self.data()->*handler)(answer, failure);
        });
}

// Profile

void ProfileController::fetchProfile()
{
    if (m_isLoading)
        return;
    startRequest(NetworkManager::HttpMethod::Get, kProfilePath, QJsonObject(),
                 &ProfileController::handleProfileAnswer);
}

void ProfileController::handleProfileAnswer(const QJsonDocument &answer, const NetworkFailure &failure)
{
    if (recordedFailure(failure, &ProfileController::profileError)) {
        // The save stays unannounced: its changes could not be read back.
        m_profileRefreshPending = false;
        return;
    }
    const QJsonObject profile = answer.object();
    logEducationShape(profile);
    applySnapshot(ProfileContract::parseProfile(profile));
    Q_EMIT profileLoaded();
    if (m_profileRefreshPending)
        refreshIdentity();
}

// Which of the backend's education shapes the profile came in, for support: the year and the
// institution can each arrive nested or at the top level.
void ProfileController::logEducationShape(const QJsonObject &profile) const
{
    const QJsonValue year = profile.value(QStringLiteral("year"));
    const bool hasYearObject = year.isObject() && !year.toObject().isEmpty();
    DiagnosticLogger::log(QStringLiteral("profile"), QStringLiteral("info"),
                          QStringLiteral("education_shape"),
                          {{QStringLiteral("has_year_id"), profile.contains(QStringLiteral("yearId"))},
                           {QStringLiteral("has_year_object"), hasYearObject},
                           {QStringLiteral("has_nested_institution"),
                            hasYearObject && year.toObject().value(QStringLiteral("institution")).isObject()},
                           {QStringLiteral("has_top_level_institution"),
                            profile.value(QStringLiteral("institution")).isObject()}});
}

void ProfileController::applySnapshot(const ProfileSnapshot &snapshot)
{
    m_fullName = snapshot.fullName;
    m_nickname = snapshot.nickname;
    m_phoneNumber = snapshot.phoneNumber;
    m_institutionId = snapshot.institutionId;
    m_yearId = snapshot.yearId;
    m_educationLevel = snapshot.educationLevel;
    m_enrollments = snapshot.enrollments;
}

// The other screens read the name and the courses from the user identity, so a save is done only
// once the identity has caught up with it. The connections end with this controller; the flag
// makes each save announce itself once, however many pairs earlier saves left behind.
void ProfileController::refreshIdentity()
{
    m_profileRefreshPending = false;
    m_identityRefreshPending = true;
    UserIdentityController *identity = UserIdentityController::instance();
    connect(identity, &UserIdentityController::identityChanged, this,
            &ProfileController::finishIdentityRefresh);
    connect(identity, &UserIdentityController::profileStateChanged, this, [this, identity] {
        if (!identity->loading())
            finishIdentityRefresh();
    });
    identity->fetchProfile();
    if (!identity->loading())
        finishIdentityRefresh();
}

void ProfileController::finishIdentityRefresh()
{
    if (std::exchange(m_identityRefreshPending, false))
        Q_EMIT profileUpdated();
}

// Institutions

void ProfileController::fetchInstitutions()
{
    quorin::sendForController(this, NetworkManager::HttpMethod::Get, kInstitutionsPath, QJsonObject(),
                              &ProfileController::handleInstitutionsAnswer);
}

void ProfileController::handleInstitutionsAnswer(const QJsonDocument &answer, const NetworkFailure &failure)
{
    if (recordedFailure(failure, &ProfileController::profileError))
        return;
    m_institutions = ProfileContract::parseInstitutions(answer);
    Q_EMIT institutionsChanged();
}

// Saving

void ProfileController::updateProfile(const QString &fullName, const QString &nickname, const QString &yearId)
{
    if (m_isLoading)
        return;
    if (!ProfileContract::isValidNickname(nickname)) {
        rejectUpdate(validationFailure(QStringLiteral("NICKNAME_INVALID"),
                                       tr("Nickname must contain 1–64 characters.")));
        return;
    }
    const QJsonObject body = ProfileContract::updatePayload(fullName, nickname, yearId);
    if (body.value(QStringLiteral("fullName")).toString().isEmpty()) {
        rejectUpdate(validationFailure(QStringLiteral("PROFILE_REQUIRED_FIELDS"),
                                       tr("Enter a full name and quiz nickname.")));
        return;
    }
    startRequest(NetworkManager::HttpMethod::Patch, kUserPath, body, &ProfileController::handleUpdateAnswer);
}

void ProfileController::rejectUpdate(const AppFailure &failure)
{
    setFailure(failure);
    Q_EMIT profileUpdateError(failure);
}

void ProfileController::handleUpdateAnswer(const QJsonDocument &, const NetworkFailure &failure)
{
    if (recordedFailure(failure, &ProfileController::profileUpdateError))
        return;
    m_profileRefreshPending = true;
    fetchProfile();
}

// Password and account

void ProfileController::changePassword(const QString &currentPassword, const QString &newPassword)
{
    if (m_isLoading)
        return;
    startRequest(
        NetworkManager::HttpMethod::Post, kPasswordPath,
        {{QStringLiteral("currentPassword"), currentPassword}, {QStringLiteral("newPassword"), newPassword}},
        &ProfileController::handlePasswordAnswer);
}

void ProfileController::handlePasswordAnswer(const QJsonDocument &, const NetworkFailure &failure)
{
    if (recordedFailure(failure, &ProfileController::passwordChangeError))
        return;
    Q_EMIT passwordChanged();
}

void ProfileController::deleteAccount()
{
    if (m_isLoading)
        return;
    startRequest(NetworkManager::HttpMethod::Delete, kUserPath, QJsonObject(),
                 &ProfileController::handleDeleteAnswer);
}

void ProfileController::handleDeleteAnswer(const QJsonDocument &, const NetworkFailure &failure)
{
    if (recordedFailure(failure, &ProfileController::accountDeleteError))
        return;
    Q_EMIT accountDeleted();
}
