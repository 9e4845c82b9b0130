#include "testsupport/ChangelogControllerDouble.h"

namespace quorin::test {

void ChangelogControllerDouble::dismiss()
{
    ++m_dismissCount;
    m_shouldShow = false;
    Q_EMIT shouldShowChanged();
}

void ChangelogControllerDouble::reopen()
{
    ++m_reopenCount;
    Q_EMIT reopenCountChanged();
}

} // namespace quorin::test
