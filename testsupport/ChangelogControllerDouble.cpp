#include "testsupport/ChangelogControllerDouble.h"

namespace quorin::test {

void ChangelogControllerDouble::dismiss()
{
    ++m_dismissCount;
    m_shouldShow = false;
    Q_EMIT shouldShowChanged();
}

} // namespace quorin::test
