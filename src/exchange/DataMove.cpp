#include "exchange/DataMove.h"

#include "platform/Log.h"

namespace kavelo::exchange {

using platform::Status;

QString backupTimeStamp(const QDateTime& time)
{
    return time.toString(QStringLiteral("yyyyMMddHHmmss"));
}

Status
DataMove(const FolderTree& tree, qint64 terminalNo, const QString& dataName, platform::FileOps& files, const Clock& now)
{
    const QString terminalId = FolderTree::terminalId(terminalNo);
    const QString source = tree.programFile(dataName);
    const QString sendCopy = tree.sendFile(terminalId, dataName);
    // The time is read once, so the backup name is the same whatever happens in between.
    const QString stamp = backupTimeStamp(now ? now() : QDateTime::currentDateTime());
    const QString backup = tree.backupFile(terminalId, stamp + QLatin1Char('_') + dataName);

    // A failure is reported by the caller, which knows what the file was for; its path names the file.
    auto fail = [&](const Status& status) { return status.about(QString(), terminalId); };

    // The copy replaces the previous send copy in one step once it is complete: a failing copy leaves the send
    // folder with the latest upload it had. A read-only send copy is refused, not forced.
    Status copied = files.copy(source, sendCopy);
    if (!copied.isOk()) {
        return fail(copied);
    }
    // Two uploads within the same second share the backup name: the later one replaces the earlier one.
    if (files.exists(backup)) {
        Status removed = files.remove(backup);
        if (!removed.isOk()) {
            return fail(removed);
        }
    }
    Status moved = files.move(source, backup);
    if (!moved.isOk()) {
        return fail(moved);
    }
    qCInfo(lcExchange).noquote() << QStringLiteral("%1 of terminal %2: copied to %3, backed up as %4")
                                        .arg(dataName, terminalId, sendCopy, backup);
    return Status::ok();
}

} // namespace kavelo::exchange
