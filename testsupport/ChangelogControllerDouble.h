#pragma once

#include <QObject>

namespace quorin::test {

// Stands in for ChangelogController in Qt Quick tests: the test decides whether the changes are
// to be shown; dismiss() counts its calls and stops showing them, as the real one does.
class ChangelogControllerDouble : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool shouldShow MEMBER m_shouldShow NOTIFY shouldShowChanged)
    Q_PROPERTY(int dismissCount MEMBER m_dismissCount NOTIFY shouldShowChanged)

public:
    using QObject::QObject;

    Q_INVOKABLE void dismiss();

Q_SIGNALS:
    void shouldShowChanged();

private:
    bool m_shouldShow = false;
    int m_dismissCount = 0;
};

} // namespace quorin::test
