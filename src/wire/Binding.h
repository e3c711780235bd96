#ifndef KAVELO_WIRE_BINDING_H
#define KAVELO_WIRE_BINDING_H

#include "platform/Status.h"

#include <QString>

class QAbstractSocket;
class QTcpServer;

namespace kavelo::wire {

// Binds `server` to `address` ("*" or "any": every interface) and `port`, with room in its backlog for
// `maxStartups` connections and a burst beyond them. The error names the address, the port and the system's reason.
platform::Status bindListener(QTcpServer& server, const QString& address, quint16 port, int maxStartups);

// How many connections the system may hold for accepting: the startups and a burst beyond them.
inline int backlogFor(int maxStartups)
{
    return maxStartups + 64;
}

// "address:port" of the peer, as the log names a connection.
QString peerText(const QAbstractSocket* socket);

} // namespace kavelo::wire

#endif
