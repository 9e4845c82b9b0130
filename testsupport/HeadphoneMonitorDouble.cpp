#include "testsupport/HeadphoneMonitorDouble.h"

namespace quorin::test {

void HeadphoneMonitorDouble::changeRoute(bool permits)
{
    m_permits = permits;
    Q_EMIT activeRouteChanged();
}

} // namespace quorin::test
