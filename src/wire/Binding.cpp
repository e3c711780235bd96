#include "wire/Binding.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace kavelo::wire {

platform::Status bindListener(QTcpServer& server, const QString& address, quint16 port, int maxStartups)
{
    const bool any = address == QLatin1String("*") || address.compare(QLatin1String("any"), Qt::CaseInsensitive) == 0;
    const QHostAddress host = any ? QHostAddress(QHostAddress::Any) : QHostAddress(address);
    if (host.isNull() || !server.listen(host, port)) {
        const QString reason = host.isNull() ? QStringLiteral("not an address") : server.errorString();
        return platform::Status::error(QStringLiteral("%1 port %2: %3").arg(address).arg(port).arg(reason));
    }
    server.setMaxPendingConnections(backlogFor(maxStartups));
    return platform::Status::ok();
}

QString peerText(const QAbstractSocket* socket)
{
    return QStringLiteral("%1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort());
}

} // namespace kavelo::wire
