#include "testsupport/DesktopUrlRecorder.h"

#include <QDesktopServices>

namespace quorin::test {

DesktopUrlRecorder::DesktopUrlRecorder(const QStringList &schemes)
    : m_schemes(schemes)
{
    for (const QString &scheme : schemes)
        handle(scheme);
}

DesktopUrlRecorder::~DesktopUrlRecorder()
{
    for (const QString &scheme : std::as_const(m_schemes))
        release(scheme);
}

void DesktopUrlRecorder::release(const QString &scheme)
{
    QDesktopServices::unsetUrlHandler(scheme);
}

void DesktopUrlRecorder::handle(const QString &scheme)
{
    QDesktopServices::setUrlHandler(scheme, this, "open");
}

} // namespace quorin::test
