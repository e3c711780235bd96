#include "ServedFolder.h"

#include "shell/Settings.h"
#include "transfer/TerminalServer.h"
#include "wire/ProtocolHeader.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QThread>

namespace kavelo::reliability {

ServedFolder::ServedFolder(const Options& options)
    : m_folder(QStringList{QStringLiteral("ListenPort=0")} + options.settings)
{
    platform::Result<shell::Settings> settings = shell::ReadSettings(m_folder.home());
    EXPECT_TRUE(settings.isOk()) << settings.status().message().toStdString();
    if (!settings.isOk()) {
        return;
    }
    transfer::ServerConfig config = shell::Service::serverConfig(*settings);
    config.idleTimeoutMs = options.idleTimeoutMs;
    auto server = std::make_unique<transfer::TerminalServer>(config, nullptr, [](const QString&) {});
    m_service = std::make_unique<shell::Service>(*settings, m_ui, std::move(server));
    EXPECT_TRUE(m_service->start());
    m_service->pollTimer().stop(); // polls run when a test asks for them
    EXPECT_TRUE(m_service->server().Listening());
    m_port = static_cast<quint16>(m_service->server().PortNo());
}

ServedFolder::~ServedFolder()
{
    if (m_service) {
        m_service->stop();
    }
}

RawExchange rawExchange(quint16 port, const QByteArray& bytes, int waitMs, const QByteArray& trickle, int pauseMs)
{
    RawExchange result;
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(5000)) {
        return result;
    }
    result.connected = true;
    socket.write(bytes);
    socket.waitForBytesWritten(5000);
    for (char c : trickle) {
        if (socket.state() != QAbstractSocket::ConnectedState) {
            break;
        }
        QThread::msleep(static_cast<unsigned long>(pauseMs));
        socket.write(&c, 1);
        socket.waitForBytesWritten(5000);
    }
    QByteArray received;
    while (socket.state() == QAbstractSocket::ConnectedState) {
        if (!socket.waitForReadyRead(waitMs)) {
            break;
        }
        received += socket.readAll();
    }
    received += socket.readAll();
    result.closedByServer = socket.state() != QAbstractSocket::ConnectedState;
    for (const QByteArray& line : received.split('\n')) {
        if (!line.isEmpty()) {
            result.lines << line;
        }
    }
    socket.abort();
    return result;
}

QHash<QString, QByteArray> treeContent(const QString& root)
{
    QHash<QString, QByteArray> content;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = it.fileName();
        if (name.startsWith(QLatin1String("kavelo.log")) || name.startsWith(QLatin1String("MasterConv.db"))) {
            continue;
        }
        QFile file(path);
        content.insert(path.mid(root.size()),
                       file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>"));
    }
    return content;
}

QByteArray putHeader(const QString& name, const QByteArray& content)
{
    return wire::putLine(name, content.size(), wire::crc32Update(0, content));
}

} // namespace kavelo::reliability
