// kavelo-terminal: a terminal simulator that speaks the terminal protocol, version 1, or the HTTPS API to a running
// KAVELO.

#include "client/TerminalClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>
#include <memory>
#include <optional>

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

// What the command line asks for.
struct Options
{
    QString host = kavelo::wire::kDefaultListenAddress;
    quint16 port = kavelo::wire::kDefaultListenPort;
    bool portGiven = false;
    int terminal = 0;
    QString command; // send or sync
    QString ctrl;
    QString out;
    QStringList files;
    bool compress = true;
    QString serial;
    qint32 baud = kavelo::wire::kDefaultSerialBaud;
    bool https = false;
    QString sha256;
    QString key;
    QString enroll;
};

// A port (0 to 65535) or a terminal number (1 to 9999).
bool readNumber(const QString& option, const QString& text, Options& options)
{
    bool ok = false;
    const uint number = text.toUInt(&ok);
    const bool isPort = option == QLatin1String("--port");
    if (!ok || (isPort ? number > 65535 : (number < 1 || number > 9999))) {
        fail(QStringLiteral("%1 %2 is out of range").arg(option, text));
        return false;
    }
    if (isPort) {
        options.port = static_cast<quint16>(number);
        options.portGiven = true;
    } else {
        options.terminal = static_cast<int>(number);
    }
    return true;
}

// Reads the arguments into `options`; an exit code when the program ends here (--help, a wrong option).
std::optional<int> readArguments(const QStringList& args, Options& options)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        QString* target = arg == QLatin1String("--host")     ? &options.host
                          : arg == QLatin1String("--ctrl")   ? &options.ctrl
                          : arg == QLatin1String("--serial") ? &options.serial
                          : arg == QLatin1String("--sha256") ? &options.sha256
                          : arg == QLatin1String("--key")    ? &options.key
                          : arg == QLatin1String("--enroll") ? &options.enroll
                          : arg == QLatin1String("--out")    ? &options.out
                                                             : nullptr;
        const bool numeric =
            arg == QLatin1String("--port") || arg == QLatin1String("--terminal") || arg == QLatin1String("--baud");
        if ((target || numeric) && i + 1 >= args.size()) {
            fail(QStringLiteral("%1 needs a value").arg(arg));
            return 2;
        }
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            std::fputs(usage().constData(), stdout);
            return 0;
        } else if (target) {
            *target = args.at(++i);
        } else if (arg == QLatin1String("--baud")) {
            const QString text = args.at(++i);
            bool ok = false;
            options.baud = text.toInt(&ok);
            if (!ok || options.baud < 50 || options.baud > 4000000) {
                fail(QStringLiteral("--baud %1 is out of range").arg(text));
                return 2;
            }
        } else if (numeric) {
            if (!readNumber(arg, args.at(++i), options)) {
                return 2;
            }
        } else if (arg == QLatin1String("--https")) {
            options.https = true;
        } else if (arg == QLatin1String("--no-compress")) {
            options.compress = false;
        } else if (arg.startsWith(QLatin1String("--"))) {
            fail(QStringLiteral("unknown option %1").arg(arg));
            std::fputs(usage().constData(), stderr);
            return 2;
        } else if (options.command.isEmpty()) {
            options.command = arg;
        } else {
            options.files << arg;
        }
    }
    return std::nullopt;
}

// Takes host, port, terminal, key and fingerprint from --enroll, and checks what goes together; false: exit 2.
bool settle(Options& options)
{
    if (!options.enroll.isEmpty()) {
        kavelo::platform::Result<kavelo::client::Enrollment> enrollment =
            kavelo::client::parseEnrollment(options.enroll);
        if (!enrollment.isOk()) {
            fail(enrollment.status().message());
            return false;
        }
        options.https = true;
        options.host = enrollment->host;
        options.port = enrollment->port;
        options.portGiven = true;
        options.terminal = enrollment->terminalNo;
        options.key = QString::fromLatin1(enrollment->key);
        options.sha256 = enrollment->sha256;
    }
    if (options.https && !options.portGiven) {
        options.port = kavelo::wire::kDefaultHttpsPort;
    }
    if (options.https && (options.sha256.size() != 64 || !options.serial.isEmpty())) {
        fail(QStringLiteral("--https needs --sha256 with the certificate's 64 hex digits, and no --serial"));
        return false;
    }
    const bool send = options.command == QLatin1String("send");
    const bool sync = options.command == QLatin1String("sync");
    if (options.terminal == 0 || (!send && !sync) || (send && options.files.isEmpty()) ||
        (sync && (options.out.isEmpty() || !options.files.isEmpty()))) {
        fail(QStringLiteral("wrong command line"));
        std::fputs(usage().constData(), stderr);
        return false;
    }
    return true;
}

using kavelo::client::TerminalClient;
using kavelo::platform::Status;

// Prints a failure; true when there was none.
bool succeeded(const Status& status)
{
    if (!status.isOk()) {
        fail(status.message());
    }
    return status.isOk();
}

bool sendFiles(TerminalClient& client, const QStringList& files)
{
    for (const QString& path : files) {
        QByteArray content;
        if (!readContent(path, content)) {
            return false;
        }
        const QString name = QFileInfo(path).fileName();
        if (!succeeded(client.put(name, content))) {
            return false;
        }
        say(QStringLiteral("sent %1 (%2 bytes)").arg(name).arg(content.size()));
    }
    return true;
}

// Sends the control file and fetches the masters it stages into `options.out`.
bool sync(TerminalClient& client, const Options& options)
{
    QByteArray content = QByteArrayLiteral("CTRL\r\n");
    if (!options.ctrl.isEmpty() && !readContent(options.ctrl, content)) {
        return false;
    }
    if (!QDir().mkpath(options.out)) {
        fail(QStringLiteral("%1: cannot create the folder").arg(options.out));
        return false;
    }
    if (!succeeded(client.put(QStringLiteral("CTRL.csv"), content))) {
        return false;
    }
    say(QStringLiteral("sent CTRL.csv (%1 bytes)").arg(content.size()));
    kavelo::platform::Result<QStringList> received = client.get(options.out, options.compress);
    if (!succeeded(received.status())) {
        return false;
    }
    for (const QString& name : *received) {
        say(QStringLiteral("received %1").arg(QDir(options.out).filePath(name)));
    }
    say(QStringLiteral("%1 master file(s) received").arg(received->size()));
    return true;
}

std::unique_ptr<TerminalClient> connectionFor(const Options& options)
{
    if (options.https) {
        return std::make_unique<TerminalClient>(TerminalClient::Https{options.host, options.port, options.sha256});
    }
    if (options.serial.isEmpty()) {
        return std::make_unique<TerminalClient>(options.host, options.port);
    }
    return std::make_unique<TerminalClient>(TerminalClient::SerialLine{options.serial, options.baud});
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Options options;
    if (std::optional<int> exitCode = readArguments(app.arguments().mid(1), options)) {
        return *exitCode;
    }
    if (!settle(options)) {
        return 2;
    }
    std::unique_ptr<TerminalClient> client = connectionFor(options);
    if (!succeeded(client->connectAs(options.terminal, options.key.toLatin1()))) {
        return 1;
    }
    const bool done =
        options.command == QLatin1String("send") ? sendFiles(*client, options.files) : sync(*client, options);
    return done && succeeded(client->bye()) ? 0 : 1;
}
