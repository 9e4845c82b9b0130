// Tries the sample platform's course and notification routes as the client meets them: signs in
// with the sample account, prints the normalised outline of the enrolled course and the unread
// count, marks the newest unread notification read and prints the count again.
// Usage: learning_routes_client <API base URL ending in /api/v1/>
#include "learning/CourseController.h"
#include "learning/NotificationsController.h"
#include "net/NetworkManager.h"
#include "testsupport/FixtureServer.h"
#include "testsupport/InMemoryKeychain.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonObject>
#include <QSignalSpy>
#include <QSslConfiguration>
#include <QTextStream>

namespace {

QTextStream out(stdout);

void printSections(const QVariantList &sections, int depth)
{
    const QString indent(depth * 2, QLatin1Char(' '));
    for (const QVariant &entry : sections) {
        const QVariantMap section = entry.toMap();
        out << indent << "- " << section.value(QStringLiteral("title")).toString() << '\n';
        for (const QVariant &itemEntry : section.value(QStringLiteral("content")).toList()) {
            const QVariantMap item = itemEntry.toMap();
            out << indent << "    " << item.value(QStringLiteral("type")).toString() << ' '
                << item.value(QStringLiteral("title")).toString();
            if (item.value(QStringLiteral("isCompleted")).toBool())
                out << " [completed]";
            if (item.value(QStringLiteral("isShareable")).toBool())
                out << " [shareable]";
            out << '\n';
        }
        for (const QVariant &quiz : section.value(QStringLiteral("quizzes")).toList())
            out << indent << "    QUIZ " << quiz.toMap().value(QStringLiteral("title")).toString() << '\n';
        printSections(section.value(QStringLiteral("children")).toList(), depth + 1);
    }
}

bool waitFor(QObject *sender, const char *signal)
{
    QSignalSpy spy(sender, signal);
    return spy.wait(10000);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc < 2) {
        QTextStream(stderr) << "usage: learning_routes_client <API base URL>\n";
        return 2;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(quorin::test::FixtureServer::certificateAuthority());
    QSslConfiguration::setDefaultConfiguration(tls);

    quorin::test::InMemoryKeychain keychain;
    NetworkManager::Configuration configuration;
    configuration.baseUrl = QString::fromLocal8Bit(argv[1]);
    configuration.credentialStore = keychain.createStore();
    NetworkManager manager(std::move(configuration));
    manager.login(QStringLiteral("+201012345678"), QStringLiteral("quorin-demo"), QString());
    if (!waitFor(&manager, SIGNAL(loginSuccess())))
        return 1;

    CourseController course(&manager);
    course.setCourseId(QStringLiteral("c-101"));
    course.fetchCourse();
    if (!waitFor(&course, SIGNAL(courseLoaded())))
        return 1;
    out << "course " << course.courseId() << ": " << course.title() << " (" << course.educationLevel() << ", "
        << course.author() << "), watermark " << (course.watermarkEnabled() ? "on" : "off") << ", headphones "
        << (course.requireHeadphones() ? "required" : "not required") << '\n';
    printSections(course.sections(), 0);

    NotificationsController notifications(&manager, NotificationsController::ProductionPollIntervalMs);
    if (!waitFor(&notifications, SIGNAL(unreadCountChanged())))
        return 1;
    out << "unread: " << notifications.unreadCount() << '\n';
    notifications.setFilterUnread(true);
    if (!waitFor(&notifications, SIGNAL(notificationsChanged())) || notifications.notifications().isEmpty())
        return 1;
    const QString id = notifications.notifications().first().toMap().value(QStringLiteral("id")).toString();
    notifications.markAsRead(id);
    out << "marked " << id << " read; unread shown: " << notifications.unreadCount() << '\n';

    // The mark goes out on its own connection: ask the server until it counts it too.
    const int expected = notifications.unreadCount();
    int serverCount = -1;
    for (int attempt = 0; attempt < 50 && serverCount != expected; ++attempt) {
        QEventLoop answered;
        manager.sendRequestDetailed(NetworkManager::HttpMethod::Get,
                                    QStringLiteral("notifications/unread-count"), {},
                                    [&](const QJsonDocument &reply, const NetworkFailure &) {
                                        serverCount = reply.object().value(QStringLiteral("count")).toInt(-1);
                                        answered.quit();
                                    });
        answered.exec();
    }
    out << "unread on the server: " << serverCount << Qt::endl;
    return serverCount == expected ? 0 : 1;
}
