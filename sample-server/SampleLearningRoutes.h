#pragma once

#include "testsupport/FixtureServer.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <functional>

// The course and notification routes of the sample platform: the course the sample account is
// enrolled in, with its outline, and the account's notifications, whose read state is kept in
// memory until the server stops. Every route answers 401 without a valid access token.
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

private:
    [[nodiscard]] QJsonObject readData(const QString &fileName) const;
    [[nodiscard]] Response course(const Request &request) const;
    [[nodiscard]] QJsonObject withLocalMedia(const QJsonObject &course) const;
    [[nodiscard]] QJsonArray withFileSizes(const QJsonArray &sections) const;
    [[nodiscard]] Response notificationList(const Request &request) const;
    [[nodiscard]] Response unreadCount(const Request &request) const;
    Response markRead(const Request &request);
    Response markAllRead(const Request &request);

    QString m_dataFolder;
    QString m_mediaFolder;
    UserOf m_userOf;
    const quorin::test::FixtureServer *m_server = nullptr;
    QJsonArray m_notifications;
};
