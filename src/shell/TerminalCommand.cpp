#include "shell/Commands.h"

#include "platform/FileMode.h"
#include "platform/Log.h"
#include "shell/QrCode.h"
#include "transfer/TerminalKeys.h"
#include "transfer/TlsCertificate.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkInterface>

#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kavelo::shell {

using platform::Result;
using platform::Status;

namespace {

const char* const kTerminalUsage =
    "Usage:\n"
    "  kavelo terminal enroll N [--host H] [--qr FILE.png] [--home DIR]\n"
    "      give terminal N (1 to 9999) a new key, replacing the one it had, and print on a line of its own\n"
    "        kavelo://enroll?v=1&host=H&port=P&terminal=N&key=K&sha256=F\n"
    "      then draw it as a QR code (and with --qr write it as a PNG image, mode 0600) for the handheld to scan.\n"
    "      H: --host, else ListenAddress when it is one address, else this PC's first address that is not\n"
    "      loopback; P: HttpsPort; F: the SHA-256 fingerprint of the HTTPS certificate, to pin.\n"
    "      The key is shown this once: only its SHA-256 is kept (terminal-keys.txt, mode 0600).\n"
    "  kavelo terminal revoke N [--home DIR]\n"
    "      forget terminal N's key; its connections end\n"
    "  kavelo terminal list [--home DIR]\n"
    "      the enrolled terminals: when each was enrolled, when its key was last used and over which protocol\n"
    "\n"
    "A running KAVELO (window or service) takes an enroll or a revoke within 2 seconds, without a restart.\n"
    "Exit codes: 0 success, 1 the work failed, 2 wrong command line or no usable KAVELO.ini.\n";

constexpr int kMaxTerminal = 9999;

struct TerminalArgs
{
    QString action;
    int terminal = 0;
    QString host;
    QString qrFile;
    bool help = false;
    QString error;
};

TerminalArgs parseTerminalArgs(const QStringList& args)
{
    TerminalArgs parsed;
    QStringList plain;
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            parsed.help = true;
        } else if (arg == QLatin1String("--host") || arg == QLatin1String("--qr")) {
            if (i + 1 >= args.size()) {
                parsed.error = QStringLiteral("%1 needs a value").arg(arg);
                return parsed;
            }
            (arg == QLatin1String("--host") ? parsed.host : parsed.qrFile) = args.at(++i);
        } else if (arg.startsWith(QLatin1Char('-'))) {
            parsed.error = QStringLiteral("unknown option %1").arg(arg);
            return parsed;
        } else {
            plain << arg;
        }
    }
    if (parsed.help) {
        return parsed;
    }
    static const QStringList kActions{QStringLiteral("enroll"), QStringLiteral("revoke"), QStringLiteral("list")};
    parsed.action = plain.value(0);
    const bool numbered = parsed.action != QLatin1String("list");
    if (!kActions.contains(parsed.action) || plain.size() != (numbered ? 2 : 1)) {
        parsed.error = QStringLiteral("wrong command line");
        return parsed;
    }
    if ((!parsed.host.isEmpty() || !parsed.qrFile.isEmpty()) && parsed.action != QLatin1String("enroll")) {
        parsed.error = QStringLiteral("--host and --qr go with enroll only");
        return parsed;
    }
    if (numbered) {
        bool ok = false;
        parsed.terminal = plain.at(1).toInt(&ok);
        if (!ok || parsed.terminal < 1 || parsed.terminal > kMaxTerminal) {
            parsed.error = QStringLiteral("terminal %1 is not a number from 1 to 9999").arg(plain.at(1));
        }
    }
    return parsed;
}

// The host a handheld is told to reach: --host, else ListenAddress when it is one address, else this PC's first
// address that is not loopback (IPv4 first).
QString enrollmentHost(const QString& requested, const QString& listenAddress)
{
    if (!requested.isEmpty()) {
        return requested;
    }
    const QHostAddress listen(listenAddress);
    if (!listen.isNull() && listen != QHostAddress(QHostAddress::AnyIPv4) &&
        listen != QHostAddress(QHostAddress::AnyIPv6)) {
        return listen.toString();
    }
    QString ipv6;
    const QList<QHostAddress> addresses = QNetworkInterface::allAddresses();
    for (const QHostAddress& address : addresses) {
        if (address.isLoopback() || address.isLinkLocal()) {
            continue;
        }
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            return address.toString();
        }
        if (ipv6.isEmpty()) {
            ipv6 = address.toString();
        }
    }
    return ipv6.isEmpty() ? QStringLiteral("127.0.0.1") : ipv6;
}

// Run as root (sudo kavelo terminal enroll ...), a file written in the program folder would be root's, and the
// service, running as the folder's owner, could not read it: it is given to the folder's owner.
void giveToFolderOwner(const QString& path, const QString& home)
{
#ifdef Q_OS_UNIX
    struct stat folder = {};
    if (::geteuid() == 0 && ::stat(QFile::encodeName(home).constData(), &folder) == 0 && folder.st_uid != 0 &&
        ::chown(QFile::encodeName(path).constData(), folder.st_uid, folder.st_gid) != 0) {
        printError(QStringLiteral("%1: cannot give it to the program folder's owner").arg(path));
    }
#else
    Q_UNUSED(path);
    Q_UNUSED(home);
#endif
}

int fail(const Status& status)
{
    printError(status.message());
    qCCritical(lcShell).noquote() << status.message();
    return kExitFailed;
}

int enroll(const CommandContext& context, const Settings& settings, const TerminalArgs& args)
{
    if (settings.httpsPort == 0) {
        printError(QStringLiteral("HttpsPort=0 in KAVELO.ini: the terminals' HTTPS endpoint is off"));
        return kExitUsage;
    }
    const transfer::TlsFiles tls = transfer::tlsFiles(context.home, settings.tlsCertificate, settings.tlsKey);
    bool made = false;
    Status certificate = transfer::ensureCertificate(tls, settings.listenAddress, &made);
    if (!certificate.isOk()) {
        return fail(certificate);
    }
    if (made) {
        for (const QString& path : {QFileInfo(tls.key).absolutePath(), tls.key, tls.certificate}) {
            giveToFolderOwner(path, context.home);
        }
    }
    Result<QString> fingerprint = transfer::certificateFingerprint(tls.certificate);
    if (!fingerprint.isOk()) {
        return fail(fingerprint.status());
    }
    Result<transfer::TerminalKeys> keys = transfer::TerminalKeys::read(context.home);
    if (!keys.isOk()) {
        return fail(keys.status());
    }
    const bool replacing = keys->isEnrolled(args.terminal);
    Result<QString> key = keys->enroll(args.terminal, QDateTime::currentDateTime());
    if (!key.isOk()) {
        return fail(key.status());
    }
    const QString uri = QStringLiteral("kavelo://enroll?v=1&host=%1&port=%2&terminal=%3&key=%4&sha256=%5")
                            .arg(enrollmentHost(args.host, settings.listenAddress))
                            .arg(settings.httpsPort)
                            .arg(args.terminal)
                            .arg(*key, *fingerprint);
    Result<QrCode> qr = QrCode::encode(uri.toLatin1());
    if (!qr.isOk()) {
        return fail(qr.status());
    }
    if (!args.qrFile.isEmpty()) {
        // It holds the key in clear: for its owner's eyes only, and to be deleted once scanned.
        Status written = platform::writeWholeFile(args.qrFile, qr->png(), 0600);
        if (!written.isOk()) {
            return fail(written);
        }
    }
    // The key is stored only once everything else has worked: a failed enroll leaves the old key in force.
    Status stored = keys->write(context.home);
    if (!stored.isOk()) {
        return fail(stored);
    }
    giveToFolderOwner(transfer::TerminalKeys::path(context.home), context.home);
    qCInfo(lcShell).noquote() << QStringLiteral("terminal %1 enrolled%2")
                                     .arg(args.terminal)
                                     .arg(replacing ? QStringLiteral(", replacing its earlier key") : QString());
    printLine(QStringLiteral("terminal %1 enrolled%2; its key is shown this once (KAVELO keeps only its SHA-256):")
                  .arg(args.terminal)
                  .arg(replacing ? QStringLiteral(", replacing its earlier key") : QString()));
    printLine(uri);
#ifdef Q_OS_UNIX
    const bool ansi = ::isatty(STDOUT_FILENO) != 0;
#else
    const bool ansi = false;
#endif
    std::fputs(qr->text(ansi).toUtf8().constData(), stdout);
    if (!args.qrFile.isEmpty()) {
        printLine(QStringLiteral("QR code written to %1 (it holds the key: delete it once the handheld has scanned it)")
                      .arg(args.qrFile));
    }
    std::fflush(stdout);
    return kExitOk;
}

int revoke(const CommandContext& context, const TerminalArgs& args)
{
    Result<transfer::TerminalKeys> keys = transfer::TerminalKeys::read(context.home);
    if (!keys.isOk()) {
        return fail(keys.status());
    }
    if (!keys->revoke(args.terminal)) {
        printError(QStringLiteral("terminal %1 has no key").arg(args.terminal));
        return kExitFailed;
    }
    Status stored = keys->write(context.home);
    if (!stored.isOk()) {
        return fail(stored);
    }
    giveToFolderOwner(transfer::TerminalKeys::path(context.home), context.home);
    qCInfo(lcShell).noquote() << QStringLiteral("terminal %1's key revoked").arg(args.terminal);
    printLine(QStringLiteral("terminal %1's key revoked; a running KAVELO ends its connections within 2 seconds")
                  .arg(args.terminal));
    return kExitOk;
}

QString listTime(const QDateTime& at)
{
    return at.isValid() ? at.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QStringLiteral("-");
}

int list(const CommandContext& context)
{
    Result<transfer::TerminalKeys> keys = transfer::TerminalKeys::read(context.home);
    if (!keys.isOk()) {
        return fail(keys.status());
    }
    Result<QMap<int, transfer::KeyUse>> uses = transfer::readKeyUse(context.home);
    if (!uses.isOk()) {
        printError(uses.status().message()); // the keys are still worth listing
    }
    if (keys->keys().isEmpty()) {
        printLine(QStringLiteral("no terminal is enrolled (kavelo terminal enroll N)"));
        return kExitOk;
    }
    printLine(QStringLiteral("terminal  enrolled at          last used            over"));
    for (const transfer::EnrolledKey& key : keys->keys()) {
        const transfer::KeyUse use = uses.isOk() ? uses->value(key.terminal) : transfer::KeyUse{};
        // A use before the enrolment was the old key's.
        const bool current = use.at.isValid() && use.at >= key.enrolledAt;
        printLine(QStringLiteral("%1  %2  %3  %4")
                      .arg(key.terminal, 8)
                      .arg(listTime(key.enrolledAt), -19)
                      .arg(current ? listTime(use.at) : QStringLiteral("never"), -19)
                      .arg(current ? use.protocol : QStringLiteral("-")));
    }
    return kExitOk;
}

} // namespace

int runTerminal(const CommandContext& context)
{
    const TerminalArgs args = parseTerminalArgs(context.args);
    if (args.help) {
        std::fputs(kTerminalUsage, stdout);
        return kExitOk;
    }
    if (!args.error.isEmpty()) {
        printError(args.error);
        std::fputs(kTerminalUsage, stderr);
        return kExitUsage;
    }
    Result<Settings> settings = startCommand(context, QStringLiteral("terminal ") + args.action, false);
    if (!settings.isOk()) {
        return kExitUsage;
    }
    if (args.action == QLatin1String("enroll")) {
        return enroll(context, *settings, args);
    }
    if (args.action == QLatin1String("revoke")) {
        return revoke(context, args);
    }
    return list(context);
}

} // namespace kavelo::shell
