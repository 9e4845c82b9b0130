#pragma once

#include <QObject>

// The recently viewed resources. Until the learning work lands it is an empty object.
class HistoryManager : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "HistoryManager")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    [[nodiscard]] static HistoryManager *instance();

private:
    HistoryManager() = default;
};
