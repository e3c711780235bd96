#ifndef KAVELO_TESTS_SUPPORT_HTTPPROBE_H
#define KAVELO_TESTS_SUPPORT_HTTPPROBE_H

#include <QByteArray>
#include <QTcpSocket>

namespace kavelo::test {

struct HttpReply
{
    int status = 0;  // 0: no reply
    QByteArray head; // status line and headers
    QByteArray body;
    QByteArray extra; // bytes after the announced body (a HEAD reply must have none)
};

// Sends `request` as it stands and reads one reply: the head, then the Content-Length bytes of body (none for
// HEAD, when `head` says so), then whatever else comes within a short while. Blocking: run it off the event loop's
// thread.
inline HttpReply httpExchange(quint16 port, const QByteArray& request, bool headOnly = false, int timeoutMs = 5000)
{
    HttpReply reply;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(timeoutMs)) {
        return reply;
    }
    socket.write(request);
    socket.waitForBytesWritten(timeoutMs);
    QByteArray data;
    qsizetype end = -1;
    while ((end = data.indexOf("\r\n\r\n")) < 0 && socket.waitForReadyRead(timeoutMs)) {
        data += socket.readAll();
    }
    if (end < 0) {
        return reply;
    }
    reply.head = data.left(end + 2);
    data.remove(0, end + 4);
    reply.status = reply.head.mid(9, 3).toInt();
    qint64 length = 0;
    for (const QByteArray& line : reply.head.split('\n')) {
        if (line.toLower().startsWith("content-length:")) {
            length = line.mid(15).trimmed().toLongLong();
        }
    }
    if (headOnly) {
        length = 0;
    }
    while (data.size() < length && socket.waitForReadyRead(timeoutMs)) {
        data += socket.readAll();
    }
    reply.body = data.left(length);
    reply.extra = data.mid(length);
    if (socket.waitForReadyRead(200)) {
        reply.extra += socket.readAll();
    }
    return reply;
}

inline HttpReply httpGet(quint16 port, const QByteArray& path)
{
    return httpExchange(port, "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
}

} // namespace kavelo::test

#endif
