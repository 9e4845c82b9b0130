#include "sample-server/SampleLearningRoutes.h"

#include "sample-server/SampleAnswers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QUrl>
#include <algorithm>

namespace {

using Response = SampleLearningRoutes::Response;

const QString kCourses = QStringLiteral("/api/v1/courses/");
const QString kContents = QStringLiteral("/api/v1/contents/");
const QString kProgressSuffix = QStringLiteral("/progress");
const QString kIsCompleted = QStringLiteral("isCompleted");
const QString kNotifications = QStringLiteral("/api/v1/notifications");
const QString kIsRead = QStringLiteral("isRead");
// The origin the data files are written for; answers carry the server's own.
const QString kDataOrigin = QStringLiteral("https://localhost:8443/");

Response jsonAnswer(const QJsonObject &object)
{
    return SampleAnswers::json(object);
}

Response error(int status, const QString &code, const QString &message)
{
    return SampleAnswers::error(status, code, message);
}

// The decoded id of a path "<prefix><id><suffix>"; empty unless the id is one non-empty segment.
QString idBetween(const QByteArray &path, const QString &prefix, const QString &suffix)
{
    const QString text = QString::fromUtf8(path);
    if (!text.startsWith(prefix) || !text.endsWith(suffix) || text.size() <= prefix.size() + suffix.size())
        return {};
    const QString encoded = text.mid(prefix.size(), text.size() - prefix.size() - suffix.size());
    return encoded.contains(QLatin1Char('/')) ? QString() : QUrl::fromPercentEncoding(encoded.toUtf8());
}

// Whether a content item of the section tree has this id.
bool holdsContent(const QJsonArray &sections, const QString &contentId)
{
    for (const QJsonValue &value : sections) {
        const QJsonObject section = value.toObject();
        for (const QJsonValue &item : section.value(QStringLiteral("content")).toArray()) {
            if (item.toObject().value(QStringLiteral("id")).toString() == contentId)
                return true;
        }
        if (holdsContent(section.value(QStringLiteral("children")).toArray(), contentId))
            return true;
    }
    return false;
}

int unreadIn(const QJsonArray &notifications)
{
    int unread = 0;
    for (const QJsonValue &notification : notifications)
        unread += notification.toObject().value(kIsRead).toBool() ? 0 : 1;
    return unread;
}

} // namespace

SampleLearningRoutes::SampleLearningRoutes(QString dataFolder, QString mediaFolder, UserOf userOf)
    : m_dataFolder(std::move(dataFolder))
    , m_mediaFolder(std::move(mediaFolder))
    , m_userOf(std::move(userOf))
    , m_notifications(readData(QStringLiteral("notifications.json")).value(QStringLiteral("data")).toArray())
{
}

void SampleLearningRoutes::addTo(quorin::test::FixtureServer &server)
{
    m_server = &server;
    const auto signedIn = [this](auto route) {
        return [this, route](const Request &request) {
            return m_userOf(request).isEmpty() ? SampleAnswers::unauthorized() : route(request);
        };
    };
    server.setPrefixHandler(kCourses, signedIn([this](const Request &request) { return course(request); }));
    server.setPrefixHandler(kContents,
                            signedIn([this](const Request &request) { return markProgress(request); }));
    server.setHandler(kNotifications,
                      signedIn([this](const Request &request) { return notificationList(request); }));
    server.setHandler(kNotifications + QStringLiteral("/unread-count"),
                      signedIn([this](const Request &request) { return unreadCount(request); }));
    server.setHandler(kNotifications + QStringLiteral("/read-all"),
                      signedIn([this](const Request &request) { return markAllRead(request); }));
    server.setPrefixHandler(kNotifications + QLatin1Char('/'),
                            signedIn([this](const Request &request) { return markRead(request); }));
}

QJsonObject SampleLearningRoutes::readData(const QString &fileName) const
{
    QFile file(QDir(m_dataFolder).filePath(fileName));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

SampleLearningRoutes::Response SampleLearningRoutes::course(const Request &request) const
{
    if (request.method != "GET")
        return Response(405);
    const QJsonObject course = enrolledCourse(idBetween(request.path, kCourses, QString()));
    if (course.isEmpty())
        return error(404, QStringLiteral("not-found"), QStringLiteral("Course not found"));
    QJsonObject answer = withLocalMedia(course);
    answer.insert(QStringLiteral("sections"), withMarks(answer.value(QStringLiteral("sections")).toArray(),
                                                        m_completionMarks.value(m_userOf(request))));
    return jsonAnswer(answer);
}

QStringList SampleLearningRoutes::enrolledCourseIds() const
{
    QStringList ids;
    const QJsonArray enrollments =
        readData(QStringLiteral("me.json")).value(QStringLiteral("enrollments")).toArray();
    for (const QJsonValue &enrollment : enrollments)
        ids.append(enrollment.toObject().value(QStringLiteral("courseId")).toString());
    return ids;
}

QJsonObject SampleLearningRoutes::enrolledCourse(const QString &courseId) const
{
    // Only the courses the account is enrolled in, so no id ever names a file of its own choosing.
    if (courseId.isEmpty() || !enrolledCourseIds().contains(courseId))
        return {};
    return readData(QStringLiteral("courses/%1.json").arg(courseId));
}

QJsonArray SampleLearningRoutes::withMarks(const QJsonArray &sections,
                                           const QHash<QString, bool> &marks) const
{
    QJsonArray marked;
    for (const QJsonValue &value : sections) {
        QJsonObject section = value.toObject();
        if (section.contains(QStringLiteral("content"))) {
            QJsonArray content = section.value(QStringLiteral("content")).toArray();
            for (QJsonValueRef itemRef : content) {
                QJsonObject item = itemRef.toObject();
                const auto mark = marks.constFind(item.value(QStringLiteral("id")).toString());
                if (mark == marks.constEnd())
                    continue;
                item.insert(QStringLiteral("ContentProgress"),
                            QJsonArray{QJsonObject{{kIsCompleted, *mark}}});
                itemRef = item;
            }
            section.insert(QStringLiteral("content"), content);
        }
        if (section.contains(QStringLiteral("children")))
            section.insert(QStringLiteral("children"),
                           withMarks(section.value(QStringLiteral("children")).toArray(), marks));
        marked.append(section);
    }
    return marked;
}

bool SampleLearningRoutes::isEnrolledContent(const QString &contentId) const
{
    const QStringList courses = enrolledCourseIds();
    return std::any_of(courses.cbegin(), courses.cend(), [this, &contentId](const QString &courseId) {
        return holdsContent(enrolledCourse(courseId).value(QStringLiteral("sections")).toArray(), contentId);
    });
}

SampleLearningRoutes::Response SampleLearningRoutes::markProgress(const Request &request)
{
    if (m_progressUnavailable)
        return error(503, QStringLiteral("unavailable"), QStringLiteral("Progress is unavailable right now"));
    const QString id = idBetween(request.path, kContents, kProgressSuffix);
    if (id.isEmpty() || !isEnrolledContent(id))
        return error(404, QStringLiteral("not-found"), QStringLiteral("Content not found"));
    if (request.method != "POST")
        return Response(405);
    const QJsonValue completed = QJsonDocument::fromJson(request.body).object().value(kIsCompleted);
    if (!completed.isBool())
        return error(400, QStringLiteral("bad-request"), QStringLiteral("isCompleted must be a boolean"));
    m_completionMarks[m_userOf(request)].insert(id, completed.toBool());
    return jsonAnswer({});
}

QJsonObject SampleLearningRoutes::withLocalMedia(const QJsonObject &course) const
{
    QJsonObject answer = course;
    answer.insert(QStringLiteral("sections"),
                  withFileSizes(course.value(QStringLiteral("sections")).toArray()));
    QByteArray text = QJsonDocument(answer).toJson(QJsonDocument::Compact);
    text.replace(kDataOrigin.toUtf8(), m_server->url().toString().toUtf8());
    return QJsonDocument::fromJson(text).object();
}

QJsonArray SampleLearningRoutes::withFileSizes(const QJsonArray &sections) const
{
    // The media are made at build time, so their sizes are read from the files themselves.
    QJsonArray sized;
    for (const QJsonValue &value : sections) {
        QJsonObject section = value.toObject();
        QJsonArray content = section.value(QStringLiteral("content")).toArray();
        for (QJsonValueRef itemRef : content) {
            QJsonObject item = itemRef.toObject();
            const QString path = QUrl(item.value(QStringLiteral("url")).toString()).path();
            const QFileInfo file(QDir(m_mediaFolder).filePath(path.mid(QStringLiteral("/media/").size())));
            if (path.startsWith(QLatin1String("/media/")) && file.isFile() &&
                file.suffix() != QLatin1String("m3u8"))
                item.insert(QStringLiteral("fileSizeBytes"), file.size());
            itemRef = item;
        }
        if (section.contains(QStringLiteral("content")))
            section.insert(QStringLiteral("content"), content);
        if (section.contains(QStringLiteral("children")))
            section.insert(QStringLiteral("children"),
                           withFileSizes(section.value(QStringLiteral("children")).toArray()));
        sized.append(section);
    }
    return sized;
}

SampleLearningRoutes::Response SampleLearningRoutes::notificationList(const Request &request) const
{
    if (request.method != "GET")
        return Response(405);
    const QString filter = request.queryItems().queryItemValue(QStringLiteral("filter"));
    if (filter != QLatin1String("all") && filter != QLatin1String("unread"))
        return error(400, QStringLiteral("bad-request"), QStringLiteral("filter must be all or unread"));
    QJsonArray list;
    for (const QJsonValue &notification : m_notifications) {
        if (filter == QLatin1String("all") || !notification.toObject().value(kIsRead).toBool())
            list.append(notification);
    }
    return jsonAnswer({{QStringLiteral("data"), list}});
}

SampleLearningRoutes::Response SampleLearningRoutes::unreadCount(const Request &request) const
{
    if (request.method != "GET")
        return Response(405);
    return jsonAnswer({{QStringLiteral("count"), unreadIn(m_notifications)}});
}

SampleLearningRoutes::Response SampleLearningRoutes::markRead(const Request &request)
{
    const QString id = idBetween(request.path, kNotifications + QLatin1Char('/'), QStringLiteral("/read"));
    for (QJsonValueRef notificationRef : m_notifications) {
        QJsonObject notification = notificationRef.toObject();
        if (id.isEmpty() || notification.value(QStringLiteral("id")).toString() != id)
            continue;
        if (request.method != "PATCH")
            return Response(405);
        notification.insert(kIsRead, true);
        notificationRef = notification;
        return jsonAnswer({{QStringLiteral("id"), id}, {kIsRead, true}});
    }
    return error(404, QStringLiteral("not-found"), QStringLiteral("Notification not found"));
}

SampleLearningRoutes::Response SampleLearningRoutes::markAllRead(const Request &request)
{
    if (request.method != "POST")
        return Response(405);
    const int marked = unreadIn(m_notifications);
    for (QJsonValueRef notificationRef : m_notifications) {
        QJsonObject notification = notificationRef.toObject();
        notification.insert(kIsRead, true);
        notificationRef = notification;
    }
    return jsonAnswer({{QStringLiteral("updated"), marked}});
}
