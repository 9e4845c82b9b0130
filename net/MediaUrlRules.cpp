#include "net/MediaUrlRules.h"

#include "app/HttpsUrl.h"

#include <QHostAddress>
#include <array>
#include <utility>

namespace quorin {

namespace {

constexpr int DefaultHttpsPort = 443;
constexpr int DefaultHttpPort = 80;

int portOf(const QUrl &url)
{
    return url.port(url.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0 ? DefaultHttpPort
                                                                                          : DefaultHttpsPort);
}

// IPv4-mapped IPv6 addresses reach the IPv4 host, but isInSubnet never matches them against
// IPv4 ranges, so they are judged as the IPv4 address they carry ("::" becomes 0.0.0.0).
QHostAddress withMappedIpv4Unwrapped(const QHostAddress &address)
{
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    return isIpv4 ? QHostAddress(ipv4) : address;
}

bool isRefusedAddress(const QHostAddress &literal)
{
    static const std::array<std::pair<QHostAddress, int>, 7> refusedRanges = {{
        {QHostAddress(QStringLiteral("10.0.0.0")), 8},
        {QHostAddress(QStringLiteral("172.16.0.0")), 12},
        {QHostAddress(QStringLiteral("169.254.0.0")), 16},
        {QHostAddress(QStringLiteral("192.168.0.0")), 16},
        {QHostAddress(QStringLiteral("127.0.0.0")), 8},
        {QHostAddress(QStringLiteral("fc00::")), 7},
        {QHostAddress(QStringLiteral("fe80::")), 10},
    }};
    const QHostAddress address = withMappedIpv4Unwrapped(literal);
    // 0.0.0.0 and :: connect to the local host on Linux.
    if (address.isLoopback() || address == QHostAddress::AnyIPv4 || address == QHostAddress::AnyIPv6)
        return true;
    for (const auto &[network, prefixLength] : refusedRanges) {
        if (address.isInSubnet(network, prefixLength))
            return true;
    }
    return false;
}

} // namespace

bool MediaUrlRules::validHttpsDestination(const QUrl &url)
{
    if (!HttpsUrl::isAbsoluteWithHost(url) || !url.userInfo().isEmpty())
        return false;
    QHostAddress literal;
    if (literal.setAddress(url.host(QUrl::FullyDecoded)) && isRefusedAddress(literal))
        return false;
    return true;
}

bool MediaUrlRules::allowRedirect(const QUrl &requested, const QUrl &target, bool carriesBearer)
{
    if (carriesBearer)
        return mayForwardBearer(requested, target);
    return validHttpsDestination(requested.resolved(target));
}

bool MediaUrlRules::mayForwardBearer(const QUrl &requested, const QUrl &target)
{
    const QUrl resolved = requested.resolved(target);
    return validHttpsDestination(resolved) && sameOrigin(requested, resolved);
}

bool MediaUrlRules::sameOrigin(const QUrl &origin, const QUrl &target)
{
    return !origin.isRelative() && !target.isRelative() && target.userInfo().isEmpty() &&
           target.scheme().compare(origin.scheme(), Qt::CaseInsensitive) == 0 &&
           target.host(QUrl::FullyDecoded).compare(origin.host(QUrl::FullyDecoded), Qt::CaseInsensitive) ==
               0 &&
           portOf(target) == portOf(origin);
}

QString MediaUrlRules::origin(const QUrl &url)
{
    return QStringLiteral("%1://%2:%3")
        .arg(url.scheme().toLower(), url.host(QUrl::FullyEncoded).toLower())
        .arg(portOf(url));
}

} // namespace quorin
