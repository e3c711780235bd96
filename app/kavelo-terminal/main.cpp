// kavelo-terminal: a terminal simulator that speaks the terminal protocol, version 1, to a running KAVELO.

#include "client/TerminalClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

const char* const kUsage =
    "Usage:\n"
    "  kavelo-terminal [--host H] [--port P | --serial DEVICE [--baud N]] --terminal N send FILE...\n"
    "      send each FILE under its own name (S_HACH.dat, S_TANA.dat, CTRL.csv ...)\n"
    "  kavelo-terminal [--host H] [--port P | --serial DEVICE [--baud N]] --terminal N sync [--ctrl FILE]\n"
    "                  [--no-compress] --out DIR\n"
    "      send CTRL.csv (FILE, or a one-line default) and fetch the staged master files into DIR,\n"
    "      compressed on the way (GET deflate) unless --no-compress is given\n"
    "\n"
    "Over TCP to --host:--port (defaults 127.0.0.1:47100), or with --serial over a serial line (a device such as\n"
    "/dev/ttyUSB0 or a pseudo-terminal; --baud defaults to 115200; 8 data bits, no parity, 1 stop bit).\n"
    "Exit codes: 0 success, 1 ERR from KAVELO or a broken connection (the reason goes to stderr), 2 wrong\n"
    "command line.\n";

void fail(const QString& message)
{
    std::fprintf(stderr, "kavelo-terminal: %s\n", message.toLocal8Bit().constData());
}

void say(const QString& message)
{
    std::fprintf(stdout, "%s\n", message.toLocal8Bit().constData());
    std::fflush(stdout);
}

bool readContent(const QString& path, QByteArray& content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        fail(QStringLiteral("%1: cannot read: %2").arg(path, file.errorString()));
        return false;
    }
    content = file.readAll();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 47100;
    int terminal = 0;
    QString command;
    QString ctrl;
    QString out;
    QStringList files;
    bool compress = true;
    QString serial;
    qint32 baud = 115200;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        auto value = [&](QString& target) {
            if (i + 1 >= args.size()) {
                fail(QStringLiteral("%1 needs a value").arg(arg));
                return false;
            }
            target = args.at(++i);
            return true;
        };
        QString text;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == QLatin1String("--host")) {
            if (!value(host)) {
                return 2;
            }
        } else if (arg == QLatin1String("--port") || arg == QLatin1String("--terminal")) {
            if (!value(text)) {
                return 2;
            }
            bool ok = false;
            const uint number = text.toUInt(&ok);
            if (!ok || (arg == QLatin1String("--port") ? number > 65535 : (number < 1 || number > 9999))) {
                fail(QStringLiteral("%1 %2 is out of range").arg(arg, text));
                return 2;
            }
            if (arg == QLatin1String("--port")) {
                port = static_cast<quint16>(number);
            } else {
                terminal = static_cast<int>(number);
            }
        } else if (arg == QLatin1String("--ctrl")) {
            if (!value(ctrl)) {
                return 2;
            }
        } else if (arg == QLatin1String("--serial")) {
            if (!value(serial)) {
                return 2;
            }
        } else if (arg == QLatin1String("--baud")) {
            if (!value(text)) {
                return 2;
            }
            bool ok = false;
            baud = text.toInt(&ok);
            if (!ok || baud < 50 || baud > 4000000) {
                fail(QStringLiteral("--baud %1 is out of range").arg(text));
                return 2;
            }
        } else if (arg == QLatin1String("--no-compress")) {
            compress = false;
        } else if (arg == QLatin1String("--out")) {
            if (!value(out)) {
                return 2;
            }
        } else if (arg.startsWith(QLatin1String("--"))) {
            fail(QStringLiteral("unknown option %1").arg(arg));
            std::fputs(kUsage, stderr);
            return 2;
        } else if (command.isEmpty()) {
            command = arg;
        } else {
            files << arg;
        }
    }
    const bool send = command == QLatin1String("send");
    const bool sync = command == QLatin1String("sync");
    if (terminal == 0 || (!send && !sync) || (send && files.isEmpty()) ||
        (sync && (out.isEmpty() || !files.isEmpty()))) {
        fail(QStringLiteral("wrong command line"));
        std::fputs(kUsage, stderr);
        return 2;
    }

    kavelo::client::TerminalClient client = serial.isEmpty()
                                              ? kavelo::client::TerminalClient(host, port)
                                              : kavelo::client::TerminalClient(kavelo::client::TerminalClient::SerialLine{serial, baud});
    kavelo::platform::Status status = client.connectAs(terminal);
    if (!status.isOk()) {
        fail(status.message());
        return 1;
    }
    if (send) {
        for (const QString& path : files) {
            QByteArray content;
            if (!readContent(path, content)) {
                return 1;
            }
            const QString name = QFileInfo(path).fileName();
            status = client.put(name, content);
            if (!status.isOk()) {
                fail(status.message());
                return 1;
            }
            say(QStringLiteral("sent %1 (%2 bytes)").arg(name).arg(content.size()));
        }
    } else {
        QByteArray content = QByteArrayLiteral("CTRL\r\n");
        if (!ctrl.isEmpty() && !readContent(ctrl, content)) {
            return 1;
        }
        if (!QDir().mkpath(out)) {
            fail(QStringLiteral("%1: cannot create the folder").arg(out));
            return 1;
        }
        status = client.put(QStringLiteral("CTRL.csv"), content);
        if (!status.isOk()) {
            fail(status.message());
            return 1;
        }
        say(QStringLiteral("sent CTRL.csv (%1 bytes)").arg(content.size()));
        kavelo::platform::Result<QStringList> received = client.get(out, compress);
        if (!received.isOk()) {
            fail(received.status().message());
            return 1;
        }
        for (const QString& name : *received) {
            say(QStringLiteral("received %1").arg(QDir(out).filePath(name)));
        }
        say(QStringLiteral("%1 master file(s) received").arg(received->size()));
    }
    status = client.bye();
    if (!status.isOk()) {
        fail(status.message());
        return 1;
    }
    return 0;
}
