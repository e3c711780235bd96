#include "shell/Settings.h"

#include "platform/SystemError.h"
#include "platform/Text.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <limits>

namespace kavelo::shell {

using platform::Result;
using platform::Status;

namespace {

constexpr qint64 kMaxSettingsBytes = 1024 * 1024;
constexpr QByteArrayView kUtf8Bom("\xEF\xBB\xBF");
constexpr int kMaxLogKeep = 99;
// A file of junk would fill the log with one warning per line; beyond this many, the rest are counted.
constexpr int kMaxIgnoredLineWarnings = 5;

enum class Encoding
{
    Windows31J,
    Utf8,
};

struct RawValue
{
    QString value;
    qint64 line = 0;
};

// What the lines of a settings file set, by key.
struct RawSettings
{
    QHash<QString, RawValue> values;
    QStringList warnings;
};

// The keys read here: a line setting one of them must decode, any other line may be anything.
bool isReadKey(QByteArrayView key)
{
    static const QStringList kKeys{kKeyDbName,    kKeyData,    kKeyImportDb,    kKeyImportDir,
                                   kKeyListenAddress, kKeyListenPort, kKeyAllowFrom, kKeyMaxFileSize,
                                   kKeyUsbPort,   kKeyLogMaxBytes, kKeyLogKeep, kKeyMaxSessions, kKeyMaxStartups,
                                   kKeySerialPort, kKeySerialBaud, kKeySerialFlow, kKeyStatusAddress, kKeyStatusPort,
                                   kKeyStatusAllowFrom, kKeyHttpsPort, kKeyTlsCertificate, kKeyTlsKey,
                                   kKeyRequireTerminalKeys};
    return std::any_of(kKeys.cbegin(), kKeys.cend(), [key](const QString& known) { return known == QLatin1String(key); });
}

QByteArrayView trimBlanks(QByteArrayView bytes)
{
    while (bytes.startsWith(' ')) {
        bytes = bytes.sliced(1);
    }
    while (bytes.endsWith(' ')) {
        bytes.chop(1);
    }
    return bytes;
}

// The text of a piece of a line, or why it is not text in the file's encoding.
Result<QString> decodePiece(QByteArrayView bytes, Encoding encoding)
{
    if (encoding == Encoding::Utf8) {
        if (bytes.contains('\0')) {
            return Status::error(QStringLiteral("contains a NUL byte"));
        }
        if (!bytes.isValidUtf8()) {
            return Status::error(QStringLiteral("not valid UTF-8 text"));
        }
        return QString::fromUtf8(bytes);
    }
    Result<QString> text = platform::decodeShiftJis(bytes);
    if (!text.isOk() && bytes.isValidUtf8() && !bytes.contains('\0')) {
        return Status::error(text.status().message() +
                             QStringLiteral(" (it is UTF-8: a UTF-8 settings file must start with a byte order mark)"));
    }
    return text;
}

Result<RawSettings> readLines(QByteArrayView content, const QString& sourceName)
{
    Encoding encoding = Encoding::Windows31J;
    if (content.startsWith(kUtf8Bom)) {
        encoding = Encoding::Utf8;
        content = content.sliced(kUtf8Bom.size());
    } else if (content.startsWith("\xFF\xFE") || content.startsWith("\xFE\xFF")) {
        return Status::error(QStringLiteral("%1, line 1: UTF-16 text; the settings file is Windows-31J text, or UTF-8 "
                                            "text starting with a byte order mark")
                                 .arg(sourceName));
    }
    RawSettings raw;
    qint64 lineNumber = 0;
    qint64 undecoded = 0;
    qsizetype pos = 0;
    while (pos < content.size()) {
        qsizetype end = content.indexOf('\n', pos);
        const qsizetype next = end < 0 ? content.size() : end + 1;
        if (end < 0) {
            end = content.size();
        }
        QByteArrayView bytes = content.sliced(pos, end - pos);
        if (bytes.endsWith('\r')) {
            bytes.chop(1);
        }
        pos = next;
        ++lineNumber;
        const qsizetype eq = bytes.indexOf('=');
        const QByteArrayView key = eq < 0 ? QByteArrayView() : trimBlanks(bytes.first(eq));
        if (eq >= 0 && isReadKey(key)) {
            Result<QString> value = decodePiece(bytes.sliced(eq + 1), encoding);
            if (!value.isOk()) {
                return value.status().prefixed(QStringLiteral("%1, line %2: ").arg(sourceName).arg(lineNumber));
            }
            raw.values.insert(QString::fromLatin1(key), RawValue{platform::Trim(*value), lineNumber});
            continue;
        }
        Result<QString> ignored = decodePiece(bytes, encoding);
        if (!ignored.isOk() && ++undecoded <= kMaxIgnoredLineWarnings) {
            raw.warnings << QStringLiteral("%1, line %2: %3; ignored, as it sets nothing that KAVELO reads")
                                .arg(sourceName)
                                .arg(lineNumber)
                                .arg(ignored.status().message());
        }
    }
    if (undecoded > kMaxIgnoredLineWarnings) {
        raw.warnings << QStringLiteral("%1: %2 more lines that do not decode were ignored")
                            .arg(sourceName)
                            .arg(undecoded - kMaxIgnoredLineWarnings);
    }
    return raw;
}

bool endsWithSeparator(const QString& path)
{
    return path.endsWith(QLatin1Char('/')) || path.endsWith(QDir::separator());
}

QString defaultImportDb(const QString& programFolder)
{
#ifdef Q_OS_WIN
    Q_UNUSED(programFolder);
    return QStringLiteral("C:\\WORKS\\Vastel\\ハンディ\\HT\\0000\\MasterConv.mdb");
#else
    return QDir(programFolder).filePath(QStringLiteral("HT/0000/MasterConv.db"));
#endif
}

QString defaultImportDir(const QString& programFolder)
{
#ifdef Q_OS_WIN
    Q_UNUSED(programFolder);
    return QStringLiteral("C:\\WORKS\\Vastel\\ハンディ\\HT\\0000\\rcv\\");
#else
    return QDir(programFolder).filePath(QStringLiteral("HT/0000/rcv/"));
#endif
}

// Sets `target` from `key` when the file sets it; a value that is not a whole number from `min` to `max` is an
// error naming the line.
template <typename Number>
Status readNumber(const RawSettings& raw, const QString& sourceName, const QString& key, qint64 min, qint64 max,
                  const QString& expected, Number& target)
{
    const auto found = raw.values.constFind(key);
    if (found == raw.values.cend()) {
        return Status::ok();
    }
    bool ok = false;
    const qint64 number = found->value.toLongLong(&ok);
    if (!ok || number < min || number > max) {
        return Status::error(QStringLiteral("%1, line %2: %3=%4 is not %5")
                                 .arg(sourceName)
                                 .arg(found->line)
                                 .arg(key, found->value, expected));
    }
    target = static_cast<Number>(number);
    return Status::ok();
}

Status readNumbers(const RawSettings& raw, const QString& sourceName, Settings& s)
{
    constexpr qint64 kMaxBytes = std::numeric_limits<qint64>::max();
    for (const Status& status :
         {readNumber(raw, sourceName, kKeyListenPort, 0, 65535, QStringLiteral("a port number (0 to 65535)"), s.listenPort),
          readNumber(raw, sourceName, kKeyMaxFileSize, 0, kMaxBytes, QStringLiteral("a size in bytes"), s.maxFileSize),
          readNumber(raw, sourceName, kKeyLogMaxBytes, 0, kMaxBytes, QStringLiteral("a size in bytes"), s.logMaxBytes),
          readNumber(raw, sourceName, kKeySerialBaud, 50, 4000000, QStringLiteral("a rate in baud (50 to 4000000)"), s.serialBaud),
          readNumber(raw, sourceName, kKeyStatusPort, 0, 65535, QStringLiteral("a port number (0 to 65535)"), s.statusPort),
          readNumber(raw, sourceName, kKeyHttpsPort, 0, 65535, QStringLiteral("a port number (0 to 65535)"), s.httpsPort),
          readNumber(raw, sourceName, kKeyMaxSessions, 1, 1000, QStringLiteral("a count from 1 to 1000"), s.maxSessions),
          readNumber(raw, sourceName, kKeyMaxStartups, 1, 1000, QStringLiteral("a count from 1 to 1000"), s.maxStartups),
          readNumber(raw, sourceName, kKeyLogKeep, 0, kMaxLogKeep,
                     QStringLiteral("a number of files (0 to %1)").arg(kMaxLogKeep), s.logKeep)}) {
        if (!status.isOk()) {
            return status;
        }
    }
    return Status::ok();
}

void addWarnings(const QString& sourceName, Settings& s)
{
    if (s.DBPath.isEmpty()) {
        s.warnings << QStringLiteral("%1: no value for DBname; the master database cannot be opened").arg(sourceName);
    }
    if (s.DataRoot.isEmpty()) {
        s.warnings << QStringLiteral("%1: no value for DATA; the terminal folders are taken relative to %2")
                          .arg(sourceName, s.programFolder);
    } else if (!endsWithSeparator(s.DataRoot)) {
        s.warnings << QStringLiteral("%1: DATA=%2 does not end with a separator; terminal IDs are joined to it "
                                     "directly (%2%3)")
                          .arg(sourceName, s.DataRoot, QStringLiteral("0001"));
    }
    if (!s.importDir.isEmpty() && !endsWithSeparator(s.importDir)) {
        s.warnings << QStringLiteral("%1: ImportDir=%2 does not end with a separator; host file names are joined to "
                                     "it directly")
                          .arg(sourceName, s.importDir);
    }
}

} // namespace

QString settingsPath(const QString& programFolder)
{
    return QDir(programFolder).filePath(kSettingsFileName);
}

Result<Settings> parseSettings(QByteArrayView content, const QString& programFolder, const QString& sourceName)
{
    Result<RawSettings> raw = readLines(content, sourceName);
    if (!raw.isOk()) {
        return raw.status();
    }
    const QHash<QString, RawValue>& values = raw->values;
    Settings s;
    s.programFolder = programFolder;
    s.warnings = raw->warnings;
    s.DBPath = values.value(kKeyDbName).value;
    s.DataRoot = values.value(kKeyData).value;
    s.importDb = values.contains(kKeyImportDb) ? values.value(kKeyImportDb).value : defaultImportDb(programFolder);
    s.importDir = values.contains(kKeyImportDir) ? values.value(kKeyImportDir).value : defaultImportDir(programFolder);
    if (values.contains(kKeyListenAddress)) {
        s.listenAddress = values.value(kKeyListenAddress).value;
    }
    s.allowFrom = values.value(kKeyAllowFrom).value;
    s.usbPort = values.value(kKeyUsbPort).value;
    s.serialPort = values.value(kKeySerialPort).value;
    if (values.contains(kKeyStatusAddress)) {
        s.statusAddress = values.value(kKeyStatusAddress).value;
    }
    s.statusAllowFrom = values.value(kKeyStatusAllowFrom).value;
    s.tlsCertificate = values.value(kKeyTlsCertificate).value;
    s.tlsKey = values.value(kKeyTlsKey).value;
    Status numbers = readNumbers(*raw, sourceName, s);
    if (!numbers.isOk()) {
        return numbers;
    }
    if (values.contains(kKeySerialFlow)) {
        const RawValue& flow = values.value(kKeySerialFlow);
        if (flow.value != QLatin1String("none") && flow.value != QLatin1String("rtscts")) {
            return Status::error(QStringLiteral("%1, line %2: %3=%4 is not none or rtscts")
                                     .arg(sourceName)
                                     .arg(flow.line)
                                     .arg(kKeySerialFlow, flow.value));
        }
        s.serialRtsCts = flow.value == QLatin1String("rtscts");
    }
    if (values.contains(kKeyRequireTerminalKeys)) {
        const RawValue& require = values.value(kKeyRequireTerminalKeys);
        if (require.value != QLatin1String("yes") && require.value != QLatin1String("no")) {
            return Status::error(QStringLiteral("%1, line %2: %3=%4 is not yes or no")
                                     .arg(sourceName)
                                     .arg(require.line)
                                     .arg(kKeyRequireTerminalKeys, require.value));
        }
        s.requireTerminalKeys = require.value == QLatin1String("yes");
    }
    if (s.tlsCertificate.isEmpty() != s.tlsKey.isEmpty()) {
        return Status::error(QStringLiteral("%1: TlsCertificate and TlsKey go together; set both or neither")
                                 .arg(sourceName));
    }
    addWarnings(sourceName, s);
    return s;
}

Result<Settings> ReadSettings(const QString& programFolder)
{
    const QString path = settingsPath(programFolder);
    QFile file(path);
    if (!file.exists()) {
        return Status::error(QStringLiteral("%1: settings file not found").arg(path));
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return Status::error(QStringLiteral("%1: cannot read the settings file: %2").arg(path, platform::fileReason(file)));
    }
    if (file.size() > kMaxSettingsBytes) {
        return Status::error(QStringLiteral("%1: settings file is larger than %2 bytes").arg(path).arg(kMaxSettingsBytes));
    }
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return Status::error(QStringLiteral("%1: cannot read the settings file: %2").arg(path, platform::fileReason(file)));
    }
    return parseSettings(content, programFolder, path);
}

} // namespace kavelo::shell
