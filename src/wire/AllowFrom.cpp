#include "wire/AllowFrom.h"

namespace kavelo::wire {

QList<Subnet> parseAllowFrom(const QString& text, QStringList* invalid, const QString& fallback)
{
    const QString effective = text.trimmed().isEmpty() ? fallback : text;
    QList<Subnet> subnets;
    for (const QString& rawEntry : effective.split(QLatin1Char(','))) {
        const QString entry = rawEntry.trimmed();
        if (entry.isEmpty()) {
            continue;
        }
        Subnet subnet;
        if (entry.contains(QLatin1Char('/'))) {
            subnet = QHostAddress::parseSubnet(entry);
        } else {
            QHostAddress address(entry);
            if (!address.isNull()) {
                subnet = {address, address.protocol() == QAbstractSocket::IPv4Protocol ? 32 : 128};
            }
        }
        if (subnet.first.isNull() || subnet.second < 0) {
            if (invalid) {
                invalid->append(entry);
            }
            continue;
        }
        subnets.append(subnet);
    }
    return subnets;
}

bool isAllowed(const QHostAddress& peer, const QList<Subnet>& allowed)
{
    QHostAddress address = peer;
    if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        bool mapped = false;
        const quint32 ipv4 = address.toIPv4Address(&mapped);
        if (mapped) {
            address = QHostAddress(ipv4);
        }
    }
    address.setScopeId(QString());
    for (const Subnet& subnet : allowed) {
        if (address.isInSubnet(subnet)) {
            return true;
        }
    }
    return false;
}

} // namespace kavelo::wire
