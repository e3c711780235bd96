#include "shell/Settings.h"

#include "platform/Text.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QFile>
#include <QHash>

namespace kavelo::shell {

using platform::Result;
using platform::Status;

namespace {

constexpr qint64 kMaxSettingsBytes = 1024 * 1024;

struct RawValue
{
    QString value;
    qint64 line = 0;
};

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

Status badValue(const QString& sourceName, const QString& key, const RawValue& raw, const QString& expected)
{
    return Status::error(QStringLiteral("%1, line %2: %3=%4 is not %5").arg(sourceName).arg(raw.line).arg(key, raw.value, expected));
}

} // namespace

QString settingsPath(const QString& programFolder)
{
    return QDir(programFolder).filePath(kSettingsFileName);
}

Result<Settings> parseSettings(QByteArrayView content, const QString& programFolder, const QString& sourceName)
{
    QHash<QString, RawValue> values;
    qint64 lineNumber = 0;
    qsizetype pos = 0;
    while (pos < content.size()) {
        qsizetype end = content.indexOf('\n', pos);
        qsizetype next = end < 0 ? content.size() : end + 1;
        if (end < 0) {
            end = content.size();
        }
        QByteArrayView bytes = content.sliced(pos, end - pos);
        if (bytes.endsWith('\r')) {
            bytes.chop(1);
        }
        pos = next;
        ++lineNumber;
        Result<QString> line = platform::decodeShiftJis(bytes);
        if (!line.isOk()) {
            return Status::error(QStringLiteral("%1, line %2: %3").arg(sourceName).arg(lineNumber).arg(line.status().message()));
        }
        qsizetype eq = line->indexOf(QLatin1Char('='));
        if (eq < 0) {
            continue;
        }
        QString key = platform::Trim(QStringView(*line).left(eq));
        values.insert(key, RawValue{platform::Trim(QStringView(*line).mid(eq + 1)), lineNumber});
    }

    Settings s;
    s.programFolder = programFolder;
    s.DBPath = values.value(kKeyDbName).value;
    s.DataRoot = values.value(kKeyData).value;
    s.importDb = values.contains(kKeyImportDb) ? values.value(kKeyImportDb).value : defaultImportDb(programFolder);
    s.importDir = values.contains(kKeyImportDir) ? values.value(kKeyImportDir).value : defaultImportDir(programFolder);
    if (values.contains(kKeyListenAddress)) {
        s.listenAddress = values.value(kKeyListenAddress).value;
    }
    if (values.contains(kKeyListenPort)) {
        const RawValue& raw = values.value(kKeyListenPort);
        bool ok = false;
        uint port = raw.value.toUInt(&ok);
        if (!ok || port > 65535) {
            return badValue(sourceName, kKeyListenPort, raw, QStringLiteral("a port number (0 to 65535)"));
        }
        s.listenPort = static_cast<quint16>(port);
    }
    s.allowFrom = values.value(kKeyAllowFrom).value;
    if (values.contains(kKeyMaxFileSize)) {
        const RawValue& raw = values.value(kKeyMaxFileSize);
        bool ok = false;
        qint64 size = raw.value.toLongLong(&ok);
        if (!ok || size < 0) {
            return badValue(sourceName, kKeyMaxFileSize, raw, QStringLiteral("a size in bytes"));
        }
        s.maxFileSize = size;
    }
    s.usbPort = values.value(kKeyUsbPort).value;
    for (auto [key, target] : {std::pair{&kKeyMaxSessions, &s.maxSessions}, std::pair{&kKeyMaxStartups, &s.maxStartups}}) {
        if (values.contains(*key)) {
            const RawValue& raw = values.value(*key);
            bool ok = false;
            const int count = raw.value.toInt(&ok);
            if (!ok || count < 1 || count > 1000) {
                return badValue(sourceName, *key, raw, QStringLiteral("a count from 1 to 1000"));
            }
            *target = count;
        }
    }

    if (s.DBPath.isEmpty()) {
        s.warnings << QStringLiteral("%1: no value for DBname; the master database cannot be opened").arg(sourceName);
    }
    if (s.DataRoot.isEmpty()) {
        s.warnings << QStringLiteral("%1: no value for DATA; the terminal folders are taken relative to %2")
                          .arg(sourceName, programFolder);
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
        return Status::error(QStringLiteral("%1: cannot read the settings file: %2").arg(path, file.errorString()));
    }
    if (file.size() > kMaxSettingsBytes) {
        return Status::error(QStringLiteral("%1: settings file is larger than %2 bytes").arg(path).arg(kMaxSettingsBytes));
    }
    QByteArray content = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return Status::error(QStringLiteral("%1: cannot read the settings file: %2").arg(path, file.errorString()));
    }
    return parseSettings(content, programFolder, path);
}

} // namespace kavelo::shell
