#include "exchange/FileDelete.h"

#include "platform/Log.h"

namespace kavelo::exchange {

using platform::Status;

Status FileDelete(const FolderTree& tree, const QString& dataName, platform::FileOps& files)
{
    // The name comes from a terminal: it must name a file in the program folder and nothing outside it.
    if (dataName.isEmpty() || dataName.contains(QLatin1Char('/')) || dataName.contains(QLatin1Char('\\')) ||
        dataName == QLatin1String(".") || dataName == QLatin1String("..")) {
        return Status::error(QStringLiteral("\"%1\": not a plain file name, nothing deleted").arg(dataName));
    }
    const QString path = tree.programFile(dataName);
    if (!files.exists(path)) {
        return Status::ok();
    }
    Status removed = files.remove(path);
    if (!removed.isOk()) {
        return removed; // reported by the caller
    }
    qCInfo(lcExchange).noquote() << QStringLiteral("%1: deleted").arg(path);
    return Status::ok();
}

} // namespace kavelo::exchange
