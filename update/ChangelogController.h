#pragma once

#include <QObject>

// Shows what is new in this version. Until the changelog work lands it holds nothing.
class ChangelogController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "ChangelogController")
    Q_CLASSINFO("QML.Singleton", "true")

public:
    [[nodiscard]] static ChangelogController *instance();

private:
    ChangelogController() = default;
};
