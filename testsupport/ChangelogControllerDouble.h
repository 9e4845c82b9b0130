#pragma once

#include <QObject>

namespace quorin::test {

// Stands in for ChangelogController in Qt Quick tests: the test decides whether the changes are
// to be shown; dismiss() counts its calls and stops showing them, as the real one does; reopen()
// only counts its calls.
class ChangelogControllerDouble : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool shouldShow MEMBER m_shouldShow NOTIFY shouldShowChanged)
    Q_PROPERTY(int dismissCount MEMBER m_dismissCount NOTIFY shouldShowChanged)
    Q_PROPERTY(int reopenCount MEMBER m_reopenCount NOTIFY reopenCountChanged)

public:
    using QObject::QObject;

    Q_INVOKABLE void dismiss();
    Q_INVOKABLE void reopen();

Q_SIGNALS:
    void shouldShowChanged();
    void reopenCountChanged();

private:
    bool m_shouldShow = false;
    int m_dismissCount = 0;
    int m_reopenCount = 0;
};

} // namespace quorin::test
