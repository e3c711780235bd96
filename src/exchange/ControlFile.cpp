#include "exchange/ControlFile.h"

#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <QFile>

namespace kavelo::exchange {

namespace {

// Nothing reads more of the control file than its first few characters; a longer first line is cut here.
constexpr qint64 kMaxFirstLineBytes = 1024;

// The longest prefix of `bytes` that is valid Shift-JIS, decoded.
QString readablePrefix(const QByteArray& bytes)
{
    for (qsizetype length = bytes.size(); length > 0; --length) {
        platform::Result<QString> decoded = platform::decodeShiftJis(QByteArrayView(bytes).first(length));
        if (decoded.isOk()) {
            return *decoded;
        }
    }
    return QString();
}

} // namespace

platform::Result<QString> ReadControlFile(const FolderTree& tree)
{
    const QString path = tree.programFile(kControlFileName);
    QFile file(path);
    if (!file.exists()) {
        return platform::Status::error(QStringLiteral("%1: the control file is missing").arg(path));
    }
    if (!file.open(QIODevice::ReadOnly)) {
        return platform::Status::error(
            QStringLiteral("%1: cannot read the control file: %2").arg(path, file.errorString()));
    }
    QByteArray line = file.readLine(kMaxFirstLineBytes + 1);
    if (line.isEmpty() && file.error() != QFileDevice::NoError) {
        return platform::Status::error(
            QStringLiteral("%1: cannot read the control file: %2").arg(path, file.errorString()));
    }
    if (line.size() > kMaxFirstLineBytes) {
        line.truncate(kMaxFirstLineBytes);
    }
    while (line.endsWith('\n') || line.endsWith('\r')) {
        line.chop(1);
    }
    platform::Result<QString> decoded = platform::decodeShiftJis(line);
    if (decoded.isOk()) {
        return *decoded;
    }
    QString readable = readablePrefix(line);
    qCWarning(lcExchange).noquote()
        << QStringLiteral("%1, line 1: not valid Shift-JIS; kept the readable part \"%2\"").arg(path, readable);
    return readable;
}

} // namespace kavelo::exchange
