#include "net/UserIdentityController.h"

#include "app/PreferencesStore.h"
#include "app/ProgramOwnership.h"
#include "net/CredentialStore.h"
#include "net/NetworkManager.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QPointer>
#include <QRegularExpression>
#include <QSettings>
#include <string>
#include <utility>

namespace {

const QString kLastUserIdKey = QStringLiteral("watermarkLastUserId");
const QString kProfilePath = QStringLiteral("users/me?include=enrollments");
constexpr qsizetype kWatermarkDigits = 5;

// A sign-in text that looks like a phone number, as opposed to an e-mail or a user name.
bool looksLikePhoneNumber(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[+]?[0-9][0-9 ()-]{4,}$"));
    return pattern.match(text).hasMatch();
}

QVariantList enrollmentMaps(const QJsonArray &array)
{
    QVariantList enrollments;
    enrollments.reserve(array.size());
    for (const QJsonValue &element : array)
        enrollments.append(element.isObject() ? element.toObject().toVariantMap() : QVariantMap());
    return enrollments;
}

QString sessionExpiredText()
{
    return UserIdentityController::tr("Your session has expired. Please sign in again.");
}

// A read that failed is told apart from an absent item by the store's error text.
QString readSecret(CredentialStore &store, const QString &key, const char *failureWarning)
{
    const QString value = store.read(key);
    if (value.isEmpty() && !store.errorString().isEmpty())
        qWarning().noquote() << failureWarning << store.errorString();
    return value;
}

// A user's settings keys and keychain items carry this digest of the id, never the id itself.
QString userDigest(const QString &userId)
{
    return QString::fromLatin1(QCryptographicHash::hash(userId.toUtf8(), QCryptographicHash::Sha256).toHex());
}

} // namespace

UserIdentityController::UserIdentityController(NetworkManager *network)
    : m_network(network)
{
    connect(m_network, &NetworkManager::loginSuccess, this, &UserIdentityController::fetchProfile);
    connect(m_network, &NetworkManager::sessionExpired, this, &UserIdentityController::clear);
    loadLastIdentitySecurely();
}

UserIdentityController *UserIdentityController::instance()
{
    static UserIdentityController controller(NetworkManager::instance());
    return &controller;
}

UserIdentityController *UserIdentityController::create(QQmlEngine *, QJSEngine *)
{
    return quorin::ownedByProgram(instance());
}

QString UserIdentityController::watermarkText() const
{
    return watermarkTextFor(m_phoneNumber, m_network->installationId());
}

UserIdentityController::WatermarkSource UserIdentityController::watermarkSource() const
{
    return m_phoneNumber.trimmed().size() < kWatermarkDigits ? DeviceWatermark : PhoneWatermark;
}

// Without five known digits there is no watermark at all. A text made from the installation
// identity would mark the device rather than the person, so the player refuses content that
// needs a watermark instead of showing one that traces back to nobody.
QString UserIdentityController::watermarkTextFor(const QString &phoneNumber,
                                                 [[maybe_unused]] const QString &installationId)
{
    std::u32string digits;
    for (const uint codePoint : phoneNumber.toUcs4()) {
        if (QChar::category(char32_t(codePoint)) == QChar::Number_DecimalDigit)
            digits.push_back(char32_t(codePoint));
    }
    if (qsizetype(digits.size()) < kWatermarkDigits)
        return {};
    return QString::fromUcs4(digits.data() + digits.size() - kWatermarkDigits, kWatermarkDigits);
}

// Restore at start-up

void UserIdentityController::loadLastIdentitySecurely()
{
    if (!m_network->isAuthenticated())
        return;
    const std::unique_ptr<CredentialStore> store = CredentialStore::createNative();
    QString id = m_network->authenticatedUserId();
    if (id.isEmpty())
        id = readSecret(*store, kLastUserIdKey, "Unable to read the offline identity owner securely:")
                 .trimmed();
    if (id.isEmpty())
        return;
    m_userId = id;
    const QString phone =
        readSecret(*store, watermarkPhoneKey(id), "Unable to read the watermark phone securely:").trimmed();
    if (phone.size() >= kWatermarkDigits)
        m_phoneNumber = phone;
    loadProfileCache();
    if (!store->write(kLastUserIdKey, m_userId))
        qWarning().noquote() << "Unable to migrate the offline identity owner securely:"
                             << store->errorString();
}

// Fetch

void UserIdentityController::fetchProfile()
{
    if (m_loading) {
        // The fetch in flight belongs to a session that has ended; its answer will be dropped, so
        // this request (a new sign-in, most often) is served once it is in.
        if (m_fetchGeneration != m_clearGeneration)
            m_fetchAfterStaleAnswer = true;
        return;
    }
    if (!m_network->isAuthenticated())
        return;
    m_loading = true;
    m_profileState = Loading;
    m_profileErrorCode.clear();
    m_profileErrorText.clear();
    Q_EMIT loadingChanged();
    Q_EMIT profileStateChanged();

    m_fetchGeneration = m_clearGeneration;
    const QPointer<UserIdentityController> self(this);
    m_network->sendRequestDetailed(NetworkManager::HttpMethod::Get, kProfilePath, QJsonObject(),
                                   [self](const QJsonDocument &answer, const NetworkFailure &failure) {
                                       if (self)
                                           self->handleProfileAnswer(answer, failure);
                                   });
}

void UserIdentityController::handleProfileAnswer(const QJsonDocument &answer, const NetworkFailure &failure)
{
    m_loading = false;
    Q_EMIT loadingChanged();

    if (m_fetchGeneration != m_clearGeneration) {
        if (std::exchange(m_fetchAfterStaleAnswer, false))
            fetchProfile();
        return;
    }
    // A failure always carries a message; the code is checked too so that a failure can never be
    // read as an answer.
    if (!failure.message.isEmpty() || !failure.failure.code.isEmpty()) {
        applyFailedFetch(failure);
        return;
    }
    const QJsonObject profile = answer.object();
    if (!profile.value(QStringLiteral("enrollments")).isArray()) {
        const AppFailure record =
            AppFailure::local(QStringLiteral("invalid_profile_response"),
                              tr("The server returned an invalid course list. Please try again."),
                              QStringLiteral("server"), true);
        setProfileFailure(TemporarilyUnavailable, record);
        Q_EMIT profileError(record);
        return;
    }
    applyProfile(profile);
}

void UserIdentityController::applyFailedFetch(const NetworkFailure &failure)
{
    loadPhoneSecurely();
    ProfileState state = TemporarilyUnavailable;
    AppFailure record = failure.failure;
    if (failure.authentication) {
        state = AuthenticationRequired;
        record.code = QStringLiteral("authentication_required");
        record.userMessage = sessionExpiredText();
    } else if (failure.httpStatus == 0 && failure.networkError != 0) {
        state = Offline;
        record.code = QStringLiteral("offline");
        record.userMessage = tr("You are offline. Cached courses and downloads remain available.");
    } else {
        record.code = QStringLiteral("server_unavailable");
        record.userMessage = tr("The server is temporarily unavailable. Courses could not be refreshed.");
    }
    setProfileFailure(state, record);
    Q_EMIT profileError(record);
}

void UserIdentityController::applyProfile(const QJsonObject &profile)
{
    const QString previousUserId = m_userId;
    m_userId = jsonIdentifier(profile.value(QStringLiteral("id")));
    if (m_userId.isEmpty())
        m_userId = jsonIdentifier(profile.value(QStringLiteral("userId")));
    if (m_userId.isEmpty())
        m_userId = m_network->authenticatedUserId();

    if (m_userId != previousUserId) {
        m_phoneNumber.clear();
        m_enrollments.clear();
        m_fullName.clear();
        m_usingCachedProfile = false;
        loadProfileCache();
    }

    m_fullName = profile.value(QStringLiteral("fullName")).toString().trimmed();
    const QString phone = phoneFromProfile(profile);
    if (phone.isEmpty())
        loadPhoneSecurely();
    else
        m_phoneNumber = phone;
    m_enrollments = enrollmentMaps(profile.value(QStringLiteral("enrollments")).toArray());

    savePhoneSecurely();
    saveProfileCache();

    m_usingCachedProfile = false;
    m_profileState = Ready;
    m_profileErrorCode.clear();
    m_profileErrorText.clear();
    m_profileFailure = AppFailure();
    Q_EMIT identityChanged();
    Q_EMIT profileStateChanged();
}

// The profile's own number, else the number the user signed in with when it looks like one.
QString UserIdentityController::phoneFromProfile(const QJsonObject &profile) const
{
    for (const QString &key :
         {QStringLiteral("mobileNumber"), QStringLiteral("phoneNumber"), QStringLiteral("phone")}) {
        const QString phone = profile.value(key).toString().trimmed();
        if (!phone.isEmpty())
            return phone;
    }
    const QString signInText = m_network->loginMobileNumber().trimmed();
    return looksLikePhoneNumber(signInText) ? signInText : QString();
}

QString UserIdentityController::jsonIdentifier(const QJsonValue &value)
{
    if (value.isString())
        return value.toString().trimmed();
    if (value.isDouble())
        return QString::number(value.toInteger());
    return {};
}

void UserIdentityController::setProfileFailure(ProfileState state, const AppFailure &failure)
{
    m_profileState = state;
    m_profileFailure = failure;
    m_profileErrorCode = failure.code;
    m_profileErrorText = failure.userMessage;
    m_usingCachedProfile = !m_enrollments.isEmpty();
    Q_EMIT profileStateChanged();
}

void UserIdentityController::clear()
{
    ++m_clearGeneration;
    const bool hasIdentity =
        !m_userId.isEmpty() || !m_fullName.isEmpty() || !m_phoneNumber.isEmpty() || !m_enrollments.isEmpty();
    // A fetch of the session that just ended is still out: its answer will be dropped, so its
    // Loading state ends here with the session, identity or not.
    const bool endsFetch = m_profileState == Loading;
    if (!hasIdentity && !endsFetch)
        return;
    m_userId.clear();
    m_fullName.clear();
    m_phoneNumber.clear();
    m_enrollments.clear();
    m_profileState = AuthenticationRequired;
    m_profileErrorCode = QStringLiteral("authentication_required");
    m_profileErrorText = sessionExpiredText();
    m_profileFailure =
        AppFailure::local(m_profileErrorCode, m_profileErrorText, QStringLiteral("authentication"), false);
    m_usingCachedProfile = false;
    if (hasIdentity)
        Q_EMIT identityChanged();
    Q_EMIT profileStateChanged();
}

// Profile cache and keychain

void UserIdentityController::loadProfileCache()
{
    if (m_userId.isEmpty())
        return;
    const std::unique_ptr<QSettings> settings = quorin::PreferencesStore::open();
    const QJsonDocument cached = QJsonDocument::fromJson(
        settings->value(profileCacheKey(m_userId, QStringLiteral("enrollments"))).toByteArray());
    if (cached.isArray())
        m_enrollments = enrollmentMaps(cached.array());
    m_fullName = settings->value(profileCacheKey(m_userId, QStringLiteral("fullName"))).toString();
    m_usingCachedProfile = !m_enrollments.isEmpty();
}

void UserIdentityController::saveProfileCache()
{
    if (m_userId.isEmpty())
        return;
    const std::unique_ptr<QSettings> settings = quorin::PreferencesStore::open();
    settings->setValue(
        profileCacheKey(m_userId, QStringLiteral("enrollments")),
        QJsonDocument(QJsonArray::fromVariantList(m_enrollments)).toJson(QJsonDocument::Compact));
    settings->setValue(profileCacheKey(m_userId, QStringLiteral("fullName")), m_fullName);
}

void UserIdentityController::savePhoneSecurely()
{
    if (m_userId.isEmpty() || m_phoneNumber.isEmpty())
        return;
    const std::unique_ptr<CredentialStore> store = CredentialStore::createNative();
    if (!store->write(watermarkPhoneKey(m_userId), m_phoneNumber)) {
        qWarning().noquote() << "Unable to persist the watermark phone securely:" << store->errorString();
        return;
    }
    if (!store->write(kLastUserIdKey, m_userId))
        qWarning().noquote() << "Unable to persist the offline identity owner securely:"
                             << store->errorString();
}

void UserIdentityController::loadPhoneSecurely()
{
    if (m_userId.isEmpty())
        return;
    const std::unique_ptr<CredentialStore> store = CredentialStore::createNative();
    const QString phone =
        readSecret(*store, watermarkPhoneKey(m_userId), "Unable to read the watermark phone securely:");
    if (phone.isEmpty() || phone == m_phoneNumber)
        return;
    m_phoneNumber = phone;
    Q_EMIT identityChanged();
}

QString UserIdentityController::profileCacheKey(const QString &userId, const QString &field)
{
    return QStringLiteral("profileCache/%1/%2").arg(userDigest(userId), field);
}

QString UserIdentityController::watermarkPhoneKey(const QString &userId)
{
    return QStringLiteral("watermarkPhone/%1").arg(userDigest(userId));
}
