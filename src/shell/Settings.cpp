#include "shell/Settings.h"

#include "db/PgConnection.h"
#include "platform/SystemError.h"
#include "platform/Text.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <limits>
#include <optional>

namespace kavelo::shell {

using platform::Result;
using platform::Status;

namespace {

constexpr QByteArrayView kUtf8Bom("\xEF\xBB\xBF");
constexpr int kMaxLogKeep = 99;
constexpr int kMaxLockWaitSeconds = 3600;
// The server's longest identifier, in bytes; a longer schema name would be cut to it.
constexpr qsizetype kMaxSchemaBytes = 63;
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
    static const QStringList kKeys{kKeyDbName,        kKeyData,           kKeyImportDb,        kKeyImportDir,
                                   kKeyListenAddress, kKeyListenPort,     kKeyAllowFrom,       kKeyMaxFileSize,
                                   kKeyUsbPort,       kKeyLogMaxBytes,    kKeyLogKeep,         kKeyMaxSessions,
                                   kKeyMaxStartups,   kKeySerialPort,     kKeySerialBaud,      kKeySerialFlow,
                                   kKeyStatusAddress, kKeyStatusPort,     kKeyStatusAllowFrom, kKeyDbSchema,
                                   kKeyDbLockWait,    kKeyBackupCopies,   kKeyBackupKeepDays,  kKeyUploadAlertHours,
                                   kKeyHttpsPort,     kKeyTlsCertificate, kKeyTlsKey,          kKeyRequireTerminalKeys,
                                   kKeyMinFreeBytes};
    return std::any_of(
        kKeys.cbegin(), kKeys.cend(), [key](const QString& known) { return known == QLatin1String(key); });
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

std::variant<RawSettings, SettingsError> readLines(QByteArrayView content, const QString& sourceName)
{
    Encoding encoding = Encoding::Windows31J;
    if (content.startsWith(kUtf8Bom)) {
        encoding = Encoding::Utf8;
        content = content.sliced(kUtf8Bom.size());
    } else if (content.startsWith("\xFF\xFE") || content.startsWith("\xFE\xFF")) {
        return SettingsError{SettingsError::Kind::Utf16, sourceName, 1, {}, {}, {}};
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
                return SettingsError{SettingsError::Kind::NotText,
                                     sourceName,
                                     lineNumber,
                                     QString::fromLatin1(key),
                                     {},
                                     value.status().message()};
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
std::optional<SettingsError> readNumber(const RawSettings& raw,
                                        const QString& sourceName,
                                        const QString& key,
                                        qint64 min,
                                        qint64 max,
                                        const QString& expected,
                                        Number& target)
{
    const auto found = raw.values.constFind(key);
    if (found == raw.values.cend()) {
        return std::nullopt;
    }
    bool ok = false;
    const qint64 number = found->value.toLongLong(&ok);
    if (!ok || number < min || number > max) {
        return SettingsError{SettingsError::Kind::BadValue, sourceName, found->line, key, found->value, expected};
    }
    target = static_cast<Number>(number);
    return std::nullopt;
}

std::optional<SettingsError> readNumbers(const RawSettings& raw, const QString& sourceName, Settings& s)
{
    constexpr qint64 kMaxBytes = std::numeric_limits<qint64>::max();
    for (const std::optional<SettingsError>& error :
         {readNumber(
              raw, sourceName, kKeyListenPort, 0, 65535, QStringLiteral("a port number (0 to 65535)"), s.listenPort),
          readNumber(raw, sourceName, kKeyMaxFileSize, 0, kMaxBytes, QStringLiteral("a size in bytes"), s.maxFileSize),
          readNumber(raw, sourceName, kKeyLogMaxBytes, 0, kMaxBytes, QStringLiteral("a size in bytes"), s.logMaxBytes),
          readNumber(
              raw, sourceName, kKeyMinFreeBytes, 0, kMaxBytes, QStringLiteral("a size in bytes"), s.minFreeBytes),
          readNumber(raw,
                     sourceName,
                     kKeySerialBaud,
                     50,
                     4000000,
                     QStringLiteral("a rate in baud (50 to 4000000)"),
                     s.serialBaud),
          readNumber(
              raw, sourceName, kKeyStatusPort, 0, 65535, QStringLiteral("a port number (0 to 65535)"), s.statusPort),
          readNumber(
              raw, sourceName, kKeyHttpsPort, 0, 65535, QStringLiteral("a port number (0 to 65535)"), s.httpsPort),
          readNumber(
              raw, sourceName, kKeyMaxSessions, 1, 1000, QStringLiteral("a count from 1 to 1000"), s.maxSessions),
          readNumber(
              raw, sourceName, kKeyMaxStartups, 1, 1000, QStringLiteral("a count from 1 to 1000"), s.maxStartups),
          readNumber(raw,
                     sourceName,
                     kKeyLogKeep,
                     0,
                     kMaxLogKeep,
                     QStringLiteral("a number of files (0 to %1)").arg(kMaxLogKeep),
                     s.logKeep),
          readNumber(raw,
                     sourceName,
                     kKeyDbLockWait,
                     0,
                     kMaxLockWaitSeconds,
                     QStringLiteral("a number of seconds (0 to %1)").arg(kMaxLockWaitSeconds),
                     s.dbLockWait),
          readNumber(
              raw, sourceName, kKeyBackupCopies, 0, 1000, QStringLiteral("a count from 0 to 1000"), s.backupCopies),
          readNumber(raw,
                     sourceName,
                     kKeyBackupKeepDays,
                     0,
                     36500,
                     QStringLiteral("a number of days (0 to 36500)"),
                     s.backupKeepDays),
          readNumber(raw,
                     sourceName,
                     kKeyUploadAlertHours,
                     0,
                     8760,
                     QStringLiteral("a number of hours (0 to 8760)"),
                     s.uploadAlertHours)}) {
        if (error) {
            return error;
        }
    }
    return std::nullopt;
}

// "DBSchema": a name of 1 to 63 bytes (UTF-8).
std::optional<SettingsError> readSchema(const RawSettings& raw, const QString& sourceName, Settings& s)
{
    const auto found = raw.values.constFind(kKeyDbSchema);
    if (found == raw.values.cend()) {
        return std::nullopt;
    }
    const qsizetype bytes = found->value.toUtf8().size();
    if (bytes == 0 || bytes > kMaxSchemaBytes) {
        return SettingsError{SettingsError::Kind::BadValue,
                             sourceName,
                             found->line,
                             kKeyDbSchema,
                             found->value,
                             QStringLiteral("a schema name (1 to %1 bytes)").arg(kMaxSchemaBytes)};
    }
    s.dbSchema = found->value;
    return std::nullopt;
}

void addWarnings(const QString& sourceName, Settings& s)
{
    for (const auto& [key, database] : {std::pair{kKeyDbName, s.DBPath}, std::pair{kKeyImportDb, s.importDb}}) {
        if (db::uriCarriesPassword(database)) {
            s.warnings << QStringLiteral("%1: %2 carries a password, which anyone who can read the file can read; "
                                         "keep it in a password file (PGPASSFILE) instead")
                              .arg(sourceName, key);
        }
    }
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

std::variant<Settings, SettingsError>
parse(QByteArrayView content, const QString& programFolder, const QString& sourceName)
{
    std::variant<RawSettings, SettingsError> read = readLines(content, sourceName);
    if (const SettingsError* error = std::get_if<SettingsError>(&read)) {
        return *error;
    }
    const RawSettings& raw = std::get<RawSettings>(read);
    const QHash<QString, RawValue>& values = raw.values;
    Settings s;
    s.programFolder = programFolder;
    s.warnings = raw.warnings;
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
    if (std::optional<SettingsError> error = readNumbers(raw, sourceName, s)) {
        return *error;
    }
    if (std::optional<SettingsError> error = readSchema(raw, sourceName, s)) {
        return *error;
    }
    if (values.contains(kKeySerialFlow)) {
        const RawValue& flow = values.value(kKeySerialFlow);
        if (flow.value != QLatin1String("none") && flow.value != QLatin1String("rtscts")) {
            return SettingsError{SettingsError::Kind::BadValue,
                                 sourceName,
                                 flow.line,
                                 kKeySerialFlow,
                                 flow.value,
                                 QStringLiteral("none or rtscts")};
        }
        s.serialRtsCts = flow.value == QLatin1String("rtscts");
    }
    if (values.contains(kKeyRequireTerminalKeys)) {
        const RawValue& require = values.value(kKeyRequireTerminalKeys);
        if (require.value != QLatin1String("yes") && require.value != QLatin1String("no")) {
            return SettingsError{SettingsError::Kind::BadValue,
                                 sourceName,
                                 require.line,
                                 kKeyRequireTerminalKeys,
                                 require.value,
                                 QStringLiteral("yes or no")};
        }
        s.requireTerminalKeys = require.value == QLatin1String("yes");
    }
    if (s.tlsCertificate.isEmpty() != s.tlsKey.isEmpty()) {
        return SettingsError{SettingsError::Kind::Unpaired, sourceName, 0, kKeyTlsCertificate, {}, kKeyTlsKey};
    }
    addWarnings(sourceName, s);
    return s;
}

Result<Settings> toResult(std::variant<Settings, SettingsError>&& outcome)
{
    if (const SettingsError* error = std::get_if<SettingsError>(&outcome)) {
        return Status::error(error->text());
    }
    return std::move(std::get<Settings>(outcome));
}

} // namespace

QString SettingsError::text() const
{
    switch (kind) {
    case Kind::Missing:
        return QStringLiteral("%1: settings file not found").arg(file);
    case Kind::Unreadable:
        return QStringLiteral("%1: cannot read the settings file: %2").arg(file, reason);
    case Kind::TooLarge:
        return QStringLiteral("%1: settings file is larger than %2 bytes").arg(file).arg(kMaxSettingsBytes);
    case Kind::Utf16:
        return QStringLiteral("%1, line 1: UTF-16 text; the settings file is Windows-31J text, or UTF-8 text starting "
                              "with a byte order mark")
            .arg(file);
    case Kind::NotText:
        return QStringLiteral("%1, line %2: %3").arg(file).arg(line).arg(reason);
    case Kind::Unpaired:
        return QStringLiteral("%1: %2 and %3 go together; set both or neither").arg(file, key, reason);
    case Kind::BadValue:
        break;
    }
    return QStringLiteral("%1, line %2: %3=%4 is not %5").arg(file).arg(line).arg(key, value, reason);
}

QString settingsPath(const QString& programFolder)
{
    return QDir(programFolder).filePath(kSettingsFileName);
}

Result<Settings> parseSettings(QByteArrayView content, const QString& programFolder, const QString& sourceName)
{
    return toResult(parse(content, programFolder, sourceName));
}

std::variant<Settings, SettingsError> loadSettings(const QString& programFolder)
{
    const QString path = settingsPath(programFolder);
    QFile file(path);
    if (!file.exists()) {
        return SettingsError{SettingsError::Kind::Missing, path, 0, {}, {}, {}};
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return SettingsError{SettingsError::Kind::Unreadable, path, 0, {}, {}, platform::fileReason(file)};
    }
    if (file.size() > kMaxSettingsBytes) {
        return SettingsError{SettingsError::Kind::TooLarge, path, 0, {}, {}, {}};
    }
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return SettingsError{SettingsError::Kind::Unreadable, path, 0, {}, {}, platform::fileReason(file)};
    }
    return parse(content, programFolder, path);
}

Result<Settings> ReadSettings(const QString& programFolder)
{
    return toResult(loadSettings(programFolder));
}

} // namespace kavelo::shell
