#pragma once

#include <QObject>

// Shows what is new in this version. Until the changelog work lands there is never anything to
// show.
class ChangelogController : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("QML.Element", "ChangelogController")
    Q_CLASSINFO("QML.Singleton", "true")
    Q_PROPERTY(bool shouldShow READ shouldShow NOTIFY shouldShowChanged)

public:
    [[nodiscard]] static ChangelogController *instance();

    [[nodiscard]] bool shouldShow() const { return false; }
    // Remembers that the changes of this version were seen.
    Q_INVOKABLE void dismiss() {}

Q_SIGNALS:
    void shouldShowChanged();

private:
    ChangelogController() = default;
};
