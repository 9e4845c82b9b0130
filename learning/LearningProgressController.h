#pragma once

#include <QObject>
#include <QString>

class QJSEngine;
class QQmlEngine;

// Keeps the learning progress of the signed-in user. Until the learning work lands it only
// follows which user that is.
class LearningProgressController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "LearningProgress")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    [[nodiscard]] static LearningProgressController *instance();
    // The QML singleton factory: the process-wide object, never owned by the engine.
    [[nodiscard]] static LearningProgressController *create(QQmlEngine *, QJSEngine *);

    // Makes the store follow the given user; the id is trimmed first.
    void setUserId(const QString &userId);
    [[nodiscard]] QString userId() const { return m_userId; }
    // Writes pending progress at once.
    void flush();

private:
    LearningProgressController() = default;

    QString m_userId;
};
