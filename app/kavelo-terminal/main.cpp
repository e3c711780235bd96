// kavelo-terminal: a terminal simulator that speaks the terminal protocol, version 1, or the HTTPS API to a running
// KAVELO.

#include "client/TerminalClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <memory>

namespace {

const char* const kUsage =
    "Usage:\n"
    "  kavelo-terminal CONNECTION --terminal N [--key K] send FILE...\n"
    "      send each FILE under its own name (S_HACH.dat, S_TANA.dat, CTRL.csv ...)\n"
    "  kavelo-terminal CONNECTION --terminal N [--key K] sync [--ctrl FILE] [--no-compress] --out DIR\n"
    "      send CTRL.csv (FILE, or a one-line default) and fetch the staged master files into DIR,\n"
    "      compressed on the way unless --no-compress is given\n"
    "  kavelo-terminal --enroll URI send FILE... | sync [--ctrl FILE] [--no-compress] --out DIR\n"
    "      the same over HTTPS, set up by the URI that `kavelo terminal enroll` prints and draws as a QR code:\n"
    "      kavelo://enroll?v=1&host=H&port=P&terminal=N&key=K&sha256=F\n"
    "\n"
    "CONNECTION is one of:\n"
    "  [--host H] [--port P]                 protocol v1 over TCP (defaults %1 and %2)\n"
    "  --serial DEVICE [--baud N]            protocol v1 over a serial line (a device such as /dev/ttyUSB0 or a\n"
    "                                        pseudo-terminal; --baud defaults to %3; 8 data bits, no parity,\n"
    "                                        1 stop bit)\n"
    "  --https --sha256 F [--host H] [--port P]\n"
    "                                        the HTTPS API (port default %4), the server's certificate pinned\n"
    "                                        by its SHA-256 fingerprint F (64 hex digits)\n"
    "--key K is the terminal's key: sent in HELLO over protocol v1, as Authorization: Bearer over HTTPS.\n"
    "Exit codes: 0 success, 1 ERR or an HTTP error from KAVELO or a broken connection (the reason goes to\n"
    "stderr), 2 wrong command line.\n";

// The usage with the defaults filled in.
QByteArray usage()
{
    return QString::fromLatin1(kUsage)
        .arg(kavelo::wire::kDefaultListenAddress)
        .arg(kavelo::wire::kDefaultListenPort)
        .arg(kavelo::wire::kDefaultSerialBaud)
        .arg(kavelo::wire::kDefaultHttpsPort)
        .toLocal8Bit();
}

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
    QString host = kavelo::wire::kDefaultListenAddress;
    quint16 port = kavelo::wire::kDefaultListenPort;
    int terminal = 0;
    QString command;
    QString ctrl;
    QString out;
    QStringList files;
    bool compress = true;
    QString serial;
    qint32 baud = kavelo::wire::kDefaultSerialBaud;
    bool https = false;
    bool portGiven = false;
    QString sha256;
    QString key;
    QString enroll;
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
            std::fputs(usage().constData(), stdout);
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
                portGiven = true;
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
        } else if (arg == QLatin1String("--https")) {
            https = true;
        } else if (arg == QLatin1String("--sha256") || arg == QLatin1String("--key") ||
                   arg == QLatin1String("--enroll")) {
            if (!value(arg == QLatin1String("--sha256") ? sha256 : arg == QLatin1String("--key") ? key : enroll)) {
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
            std::fputs(usage().constData(), stderr);
            return 2;
        } else if (command.isEmpty()) {
            command = arg;
        } else {
            files << arg;
        }
    }
    if (!enroll.isEmpty()) {
        kavelo::platform::Result<kavelo::client::Enrollment> enrollment = kavelo::client::parseEnrollment(enroll);
        if (!enrollment.isOk()) {
            fail(enrollment.status().message());
            return 2;
        }
        https = true;
        host = enrollment->host;
        port = enrollment->port;
        portGiven = true;
        terminal = enrollment->terminalNo;
        key = QString::fromLatin1(enrollment->key);
        sha256 = enrollment->sha256;
    }
    if (https && !portGiven) {
        port = kavelo::wire::kDefaultHttpsPort;
    }
    if (https && (sha256.size() != 64 || !serial.isEmpty())) {
        fail(QStringLiteral("--https needs --sha256 with the certificate's 64 hex digits, and no --serial"));
        return 2;
    }
    const bool send = command == QLatin1String("send");
    const bool sync = command == QLatin1String("sync");
    if (terminal == 0 || (!send && !sync) || (send && files.isEmpty()) ||
        (sync && (out.isEmpty() || !files.isEmpty()))) {
        fail(QStringLiteral("wrong command line"));
        std::fputs(usage().constData(), stderr);
        return 2;
    }

    using kavelo::client::TerminalClient;
    std::unique_ptr<TerminalClient> connection =
        https              ? std::make_unique<TerminalClient>(TerminalClient::Https{host, port, sha256})
        : serial.isEmpty() ? std::make_unique<TerminalClient>(host, port)
                           : std::make_unique<TerminalClient>(TerminalClient::SerialLine{serial, baud});
    TerminalClient& client = *connection;
    kavelo::platform::Status status = client.connectAs(terminal, key.toLatin1());
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
