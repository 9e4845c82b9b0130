#pragma once

#include "app/AppFailure.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QVariantList>

class NetworkManager;
class QJsonObject;

// One course and its outline for a course page; each page creates its own. It loads the course
// from the backend on request and holds its texts, its two playback rules and its normalised
// section tree. A later reply merges into what an earlier one left: keys the reply lacks keep
// their values. GUI thread only; nothing is kept on disk.
class CourseController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "CourseController")
    Q_PROPERTY(QString courseId READ courseId WRITE setCourseId NOTIFY courseIdChanged)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY loadingStatusChanged)
    Q_PROPERTY(QString title READ title NOTIFY courseLoaded)
    Q_PROPERTY(QString description READ description NOTIFY courseLoaded)
    Q_PROPERTY(QString author READ author NOTIFY courseLoaded)
    Q_PROPERTY(QString educationLevel READ educationLevel NOTIFY courseLoaded)
    Q_PROPERTY(QString imageUrl READ imageUrl NOTIFY courseLoaded)
    Q_PROPERTY(QVariantList sections READ sections NOTIFY courseLoaded)
    Q_PROPERTY(bool watermarkEnabled READ watermarkEnabled NOTIFY courseLoaded)
    Q_PROPERTY(bool requireHeadphones READ requireHeadphones NOTIFY courseLoaded)
    Q_PROPERTY(AppFailure failure READ failure NOTIFY failureChanged)

public:
    // Sends through the process-wide REST client.
    explicit CourseController(QObject *parent = nullptr);
    // Sends through the given client instead, which must outlive this object.
    explicit CourseController(NetworkManager *network, QObject *parent = nullptr);

    [[nodiscard]] QString courseId() const { return m_courseId; }
    // Only stores the id: the held course stays and nothing is loaded until fetchCourse().
    void setCourseId(const QString &courseId);

    [[nodiscard]] bool isLoading() const { return m_isLoading; }
    [[nodiscard]] QString title() const { return m_title; }
    [[nodiscard]] QString description() const { return m_description; }
    [[nodiscard]] QString author() const { return m_author; }
    [[nodiscard]] QString educationLevel() const { return m_educationLevel; }
    [[nodiscard]] QString imageUrl() const { return m_imageUrl; }
    [[nodiscard]] QVariantList sections() const { return m_sections; }
    [[nodiscard]] bool watermarkEnabled() const { return m_watermarkEnabled; }
    [[nodiscard]] bool requireHeadphones() const { return m_requireHeadphones; }
    [[nodiscard]] AppFailure failure() const { return m_failure; }

    // Loads the course of courseId, unless a load runs already or the id is empty or cannot be
    // one path segment.
    Q_INVOKABLE void fetchCourse();

Q_SIGNALS:
    void courseIdChanged();
    void loadingStatusChanged();
    void courseLoaded();
    void courseError(const AppFailure &failure);
    void failureChanged();

private:
    [[nodiscard]] NetworkManager *network() const;
    void setLoading(bool loading);
    void sendCourseRequest();
    void handleReply(const QString &requestedId, const QJsonObject &course, const AppFailure &failure);
    void applyFailure(const AppFailure &failure);
    void applyCourse(const QJsonObject &course);
    void logRecord(const QString &level, const QString &event, QVariantMap fields) const;

    QString m_courseId;
    bool m_isLoading = false;
    QString m_title;
    QString m_description;
    QString m_author;
    QString m_educationLevel;
    QString m_imageUrl;
    QVariantList m_sections;
    bool m_watermarkEnabled = true;
    bool m_requireHeadphones = false;
    AppFailure m_failure;

    // Null for the process-wide client.
    QPointer<NetworkManager> m_network;
    const bool m_usesProcessClient;
};
