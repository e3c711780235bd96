#include "transfer/TerminalKeys.h"

#include "platform/Crypto.h"
#include "platform/FileMode.h"
#include "platform/SystemError.h"

#include <QDir>
#include <QFile>

namespace kavelo::transfer {

using platform::Result;
using platform::Status;

namespace {

constexpr int kKeyBytes = 24; // 192 bits
constexpr qint64 kMaxFileBytes = 4 * 1024 * 1024;
constexpr int kMaxTerminal = 9999;

QString timeText(const QDateTime& at)
{
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate);
}

// The lines of a small text file of ours, comments and blank lines left out, each with its number.
Result<QList<std::pair<int, QByteArray>>> dataLines(const QString& path)
{
    QList<std::pair<int, QByteArray>> lines;
    QFile file(path);
    if (!file.exists()) {
        return lines;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return Status::error(QStringLiteral("%1: cannot read: %2").arg(path, platform::fileReason(file)));
    }
    if (file.size() > kMaxFileBytes) {
        return Status::error(QStringLiteral("%1: larger than %2 bytes").arg(path).arg(kMaxFileBytes));
    }
    const QList<QByteArray> all = file.readAll().split('\n');
    for (int i = 0; i < all.size(); ++i) {
        const QByteArray line = all.at(i).trimmed();
        if (!line.isEmpty() && !line.startsWith('#')) {
            lines.append({i + 1, line});
        }
    }
    return lines;
}

Result<int> terminalField(const QByteArray& text)
{
    bool ok = false;
    const int terminal = text.toInt(&ok);
    if (!ok || terminal < 1 || terminal > kMaxTerminal) {
        return Status::error(QStringLiteral("not a terminal number from 1 to 9999"));
    }
    return terminal;
}

} // namespace

QString TerminalKeys::path(const QString& programFolder)
{
    return QDir(programFolder).filePath(kTerminalKeysFileName);
}

Result<TerminalKeys> TerminalKeys::read(const QString& programFolder)
{
    const QString file = path(programFolder);
    Result<QList<std::pair<int, QByteArray>>> lines = dataLines(file);
    if (!lines.isOk()) {
        return lines.status();
    }
    TerminalKeys keys;
    for (const auto& [number, line] : *lines) {
        const QList<QByteArray> fields = line.split(' ');
        EnrolledKey key;
        Result<int> terminal = fields.size() == 3 ? terminalField(fields.at(0)) : Result<int>(Status::error({}));
        if (terminal.isOk()) {
            key.terminal = *terminal;
            key.enrolledAt = QDateTime::fromString(QString::fromLatin1(fields.at(1)), Qt::ISODate);
            key.hash = QByteArray::fromHex(fields.at(2));
        }
        if (!terminal.isOk() || !key.enrolledAt.isValid() || key.hash.size() != 32 || fields.at(2).size() != 64) {
            return Status::error(
                QStringLiteral("%1, line %2: not \"terminal enrolled-at sha256\"").arg(file).arg(number));
        }
        keys.m_keys.insert(key.terminal, key);
    }
    return keys;
}

Status TerminalKeys::write(const QString& programFolder) const
{
    QByteArray content = "# KAVELO's terminal keys: only a SHA-256 of each key is kept. Written by\n"
                         "# \"kavelo terminal enroll\" and \"kavelo terminal revoke\"; edit nothing here by hand.\n"
                         "# terminal enrolled-at sha256\n";
    for (const EnrolledKey& key : m_keys) {
        content += QByteArray::number(key.terminal) + ' ' + timeText(key.enrolledAt).toLatin1() + ' ' +
                   key.hash.toHex() + '\n';
    }
    return platform::writeWholeFile(path(programFolder), content, 0600);
}

Result<QString> TerminalKeys::enroll(int terminal, const QDateTime& now)
{
    Result<QByteArray> random = platform::randomBytes(kKeyBytes);
    if (!random.isOk()) {
        return random.status();
    }
    const QByteArray key = random->toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    m_keys.insert(terminal, EnrolledKey{terminal, now, platform::sha256(key)});
    return QString::fromLatin1(key);
}

bool TerminalKeys::revoke(int terminal)
{
    return m_keys.remove(terminal) > 0;
}

KeyMatch TerminalKeys::match(int terminal, QByteArrayView key) const
{
    const QByteArray digest = platform::sha256(key);
    int owner = 0;
    for (const EnrolledKey& enrolled : m_keys) {
        // Every stored digest is compared, so the time taken tells nothing about which one matched.
        if (platform::equalInConstantTime(digest, enrolled.hash)) {
            owner = enrolled.terminal;
        }
    }
    if (owner == 0) {
        return KeyMatch::Unknown;
    }
    return owner == terminal ? KeyMatch::Right : KeyMatch::OtherTerminal;
}

Result<QMap<int, KeyUse>> readKeyUse(const QString& programFolder)
{
    const QString file = QDir(programFolder).filePath(kKeyUseFileName);
    Result<QList<std::pair<int, QByteArray>>> lines = dataLines(file);
    if (!lines.isOk()) {
        return lines.status();
    }
    QMap<int, KeyUse> uses;
    for (const auto& [number, line] : *lines) {
        const QList<QByteArray> fields = line.split(' ');
        Result<int> terminal = fields.size() == 3 ? terminalField(fields.at(0)) : Result<int>(Status::error({}));
        const QDateTime at =
            fields.size() == 3 ? QDateTime::fromString(QString::fromLatin1(fields.at(1)), Qt::ISODate) : QDateTime();
        if (!terminal.isOk() || !at.isValid()) {
            return Status::error(
                QStringLiteral("%1, line %2: not \"terminal used-at protocol\"").arg(file).arg(number));
        }
        uses.insert(*terminal, KeyUse{at, QString::fromLatin1(fields.at(2))});
    }
    return uses;
}

Status writeKeyUse(const QString& programFolder, const QMap<int, KeyUse>& uses)
{
    QByteArray content = "# When each terminal's key was last used, and over which protocol. Written by the running\n"
                         "# KAVELO service.\n# terminal used-at protocol\n";
    for (auto it = uses.cbegin(); it != uses.cend(); ++it) {
        content +=
            QByteArray::number(it.key()) + ' ' + timeText(it->at).toLatin1() + ' ' + it->protocol.toLatin1() + '\n';
    }
    return platform::writeWholeFile(
        QDir(programFolder).filePath(kKeyUseFileName), content, platform::ordinaryFileMode());
}

} // namespace kavelo::transfer
