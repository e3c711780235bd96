#include "exchange/MasterCopy.h"

#include "masters/Masters.h"
#include "platform/Log.h"

namespace kavelo::exchange {

StagingResult MasterCopy(const FolderTree& tree, qint64 terminalNo, platform::FileOps& files)
{
    StagingResult result;
    const QString terminalId = FolderTree::terminalId(terminalNo);
    for (const masters::MasterDefinition* master : masters::allMasters()) {
        const QString name = master->exportFileName();
        const QString source = tree.receiveFile(terminalId, name);
        if (!files.exists(source)) {
            continue;
        }
        // Copied, never moved: the export stays in the receive folder for the terminal's next control file.
        platform::Status copied = files.copy(source, tree.programFile(name));
        if (!copied.isOk()) {
            result.status = copied.about(master->name, terminalId);
            return result; // reported by the caller
        }
        result.staged << name;
    }
    qCInfo(lcExchange).noquote() << QStringLiteral("terminal %1: staged %2")
                                        .arg(terminalId,
                                             result.staged.isEmpty() ? QStringLiteral("no master files")
                                                                     : result.staged.join(QLatin1Char(' ')));
    return result;
}

} // namespace kavelo::exchange
