#include "learning/CourseController.h"

#include "app/DiagnosticLogger.h"
#include "learning/CourseSectionNormalizer.h"
#include "net/NetworkManager.h"
#include "net/RestPath.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString kCategory = QStringLiteral("course");
const QString kLoadResult = QStringLiteral("load_result");

// The "name" text of a member object; empty when the name is missing or not a text.
QString nameOf(const QJsonValue &object)
{
    return object.toObject().value(QStringLiteral("name")).toString();
}

} // namespace

CourseController::CourseController(QObject *parent)
    : QObject(parent)
    , m_usesProcessClient(true)
{
}

CourseController::CourseController(NetworkManager *network, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_usesProcessClient(false)
{
}

void CourseController::setCourseId(const QString &courseId)
{
    if (courseId == m_courseId)
        return;
    m_courseId = courseId;
    Q_EMIT courseIdChanged();
}

void CourseController::fetchCourse()
{
    if (m_isLoading || quorin::RestPath::segment(m_courseId).isEmpty() || !network())
        return;
    setLoading(true);
    sendCourseRequest();
}

NetworkManager *CourseController::network() const
{
    return m_usesProcessClient ? NetworkManager::instance() : m_network.data();
}

void CourseController::setLoading(bool loading)
{
    m_isLoading = loading;
    Q_EMIT loadingStatusChanged();
}

void CourseController::sendCourseRequest()
{
    const QString requestedId = m_courseId;
    logRecord(QStringLiteral("info"), QStringLiteral("load_started"), {});
    // The reply may come before this returns, when the session ends on the spot.
    network()->sendRequestDetailed(
        NetworkManager::HttpMethod::Get, QStringLiteral("courses/") + quorin::RestPath::segment(requestedId),
        QJsonObject(),
        [controller = QPointer(this), requestedId](const QJsonDocument &reply,
                                                   const NetworkFailure &failure) {
            if (controller)
                controller->handleReply(requestedId, reply.object(), failure.failure);
        });
}

void CourseController::handleReply(const QString &requestedId, const QJsonObject &course,
                                   const AppFailure &failure)
{
    if (requestedId != m_courseId) {
        // The page moved to another course during the load; this reply must not show under the
        // new id. The load goes on for the id the page holds now.
        if (!quorin::RestPath::segment(m_courseId).isEmpty() && network())
            sendCourseRequest();
        else
            setLoading(false);
        return;
    }
    setLoading(false);
    if (!failure.code.isEmpty())
        applyFailure(failure);
    else
        applyCourse(course);
}

void CourseController::applyFailure(const AppFailure &failure)
{
    logRecord(QStringLiteral("warning"), kLoadResult,
              {{QStringLiteral("result"), QStringLiteral("failure")}});
    m_failure = failure;
    Q_EMIT failureChanged();
    Q_EMIT courseError(m_failure);
}

void CourseController::applyCourse(const QJsonObject &course)
{
    m_failure = AppFailure();
    Q_EMIT failureChanged();

    const auto mergeText = [&course](const QString &key, QString &property) {
        if (course.contains(key))
            property = course.value(key).toString();
    };
    mergeText(QStringLiteral("title"), m_title);
    mergeText(QStringLiteral("description"), m_description);
    mergeText(QStringLiteral("imageUrl"), m_imageUrl);

    const QJsonValue watermark = course.value(QStringLiteral("watermarkEnabled"));
    m_watermarkEnabled = watermark.isBool() ? watermark.toBool() : true;
    const QJsonValue headphones = course.value(QStringLiteral("requireHeadphones"));
    m_requireHeadphones = headphones.isBool() && headphones.toBool();

    const QJsonValue author = course.value(QStringLiteral("author"));
    if (author.isObject())
        m_author = author.toObject().value(QStringLiteral("fullName")).toString();

    const QJsonValue year = course.value(QStringLiteral("year"));
    if (year.isObject()) {
        const QJsonObject yearObject = year.toObject();
        if (yearObject.value(QStringLiteral("institution")).isObject())
            m_educationLevel = nameOf(yearObject.value(QStringLiteral("institution")));
        else if (yearObject.value(QStringLiteral("educationLevel")).isObject())
            m_educationLevel = nameOf(yearObject.value(QStringLiteral("educationLevel")));
    }
    const QJsonValue institution = course.value(QStringLiteral("institution"));
    if (m_educationLevel.isEmpty() && institution.isObject())
        m_educationLevel = nameOf(institution);

    const QJsonValue sections = course.value(QStringLiteral("sections"));
    if (sections.isArray()) {
        QVariantList normalized;
        const QJsonArray array = sections.toArray();
        normalized.reserve(array.size());
        for (const QJsonValue &section : array)
            normalized.append(quorin::CourseSectionNormalizer::normalize(section.toObject().toVariantMap()));
        m_sections = normalized;
    }

    logRecord(QStringLiteral("info"), kLoadResult,
              {{QStringLiteral("result"), QStringLiteral("success")},
               {QStringLiteral("sections"), int(m_sections.size())}});
    Q_EMIT courseLoaded();
}

void CourseController::logRecord(const QString &level, const QString &event, QVariantMap fields) const
{
    // The id reaches the log only as its fingerprint.
    fields.insert(QStringLiteral("course_fp"), DiagnosticLogger::fingerprint(m_courseId));
    DiagnosticLogger::log(kCategory, level, event, fields);
}
