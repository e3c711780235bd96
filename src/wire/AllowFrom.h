#ifndef KAVELO_WIRE_ALLOWFROM_H
#define KAVELO_WIRE_ALLOWFROM_H

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

#include <utility>

namespace kavelo::wire {

// Default of "AllowFrom": loopback and the private ranges.
inline const QString kDefaultAllowFrom =
    QStringLiteral("127.0.0.0/8,::1,10.0.0.0/8,172.16.0.0/12,192.168.0.0/16,fc00::/7,fe80::/10");

// One allowed range.
using Subnet = std::pair<QHostAddress, int>;

// Parses a list of addresses or CIDR ranges, comma-separated ("AllowFrom"); empty text means `fallback`. Entries
// that are not addresses are left out and named in `invalid`.
QList<Subnet>
parseAllowFrom(const QString& text, QStringList* invalid = nullptr, const QString& fallback = kDefaultAllowFrom);
// Whether a peer is allowed; an IPv4-mapped IPv6 address counts as its IPv4 address.
bool isAllowed(const QHostAddress& peer, const QList<Subnet>& allowed);

} // namespace kavelo::wire

#endif
