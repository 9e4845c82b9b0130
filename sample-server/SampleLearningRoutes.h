#pragma once

#include "testsupport/FixtureServer.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <functional>

// The course, progress and notification routes of the sample platform: the course the sample
// account is enrolled in, with its outline, the completion marks of its lectures and PDFs, and
// the account's notifications. Marks and read states are kept in memory, per account, until the
// server stops. Every route answers 401 without a valid access token.
class SampleLearningRoutes
{
public:
    using Request = quorin::test::FixtureServer::Request;
    using Response = quorin::test::FixtureServer::Response;
    // The signed-in user of a request; empty when its access token is missing, unknown or expired.
    using UserOf = std::function<QString(const Request &)>;

    SampleLearningRoutes(QString dataFolder, QString mediaFolder, UserOf userOf);

    // The routes answer on this server, which must outlive them.
    void addTo(quorin::test::FixtureServer &server);
    // Makes "contents/<id>/progress" answer 503, as a backend that is down would.
    void setProgressUnavailable(bool unavailable) { m_progressUnavailable = unavailable; }

private:
    [[nodiscard]] QJsonObject readData(const QString &fileName) const;
    [[nodiscard]] QStringList enrolledCourseIds() const;
    // The course's data; empty unless the account is enrolled in it.
    [[nodiscard]] QJsonObject enrolledCourse(const QString &courseId) const;
    [[nodiscard]] Response course(const Request &request) const;
    [[nodiscard]] QJsonObject withLocalMedia(const QJsonObject &course) const;
    [[nodiscard]] QJsonArray withFileSizes(const QJsonArray &sections) const;
    [[nodiscard]] QJsonArray withMarks(const QJsonArray &sections, const QHash<QString, bool> &marks) const;
    [[nodiscard]] bool isEnrolledContent(const QString &contentId) const;
    Response markProgress(const Request &request);
    [[nodiscard]] Response notificationList(const Request &request) const;
    [[nodiscard]] Response unreadCount(const Request &request) const;
    Response markRead(const Request &request);
    Response markAllRead(const Request &request);

    QString m_dataFolder;
    QString m_mediaFolder;
    UserOf m_userOf;
    const quorin::test::FixtureServer *m_server = nullptr;
    QJsonArray m_notifications;
    QHash<QString, QHash<QString, bool>> m_completionMarks; // user id -> content id -> completed
    bool m_progressUnavailable = false;
};
