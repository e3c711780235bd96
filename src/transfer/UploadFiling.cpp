#include "transfer/UploadFiling.h"

#include "exchange/ControlFile.h"
#include "exchange/FileDelete.h"
#include "exchange/MasterCopy.h"
#include "platform/Guarded.h"
#include "platform/Log.h"

namespace kavelo::transfer {

using platform::Status;
using wire::TransferOutcome;

UploadFiling::UploadFiling(exchange::FolderTree tree, platform::FileOps& files, exchange::Clock clock)
    : m_tree(std::move(tree))
    , m_files(files)
    , m_clock(std::move(clock))
{
}

TransferOutcome UploadFiling::fileSaved(const QString& name, int terminalNo)
{
    TransferOutcome outcome;
    platform::guarded(
        lcComm,
        "filing a saved file",
        [&] { outcome = file(name, terminalNo); },
        [&](const QString& reason) { outcome.status = Status::error(reason); });
    if (!outcome.status.isOk()) {
        qCWarning(lcComm).noquote() << QStringLiteral("terminal %1: %2 saved but not filed: %3")
                                           .arg(terminalNo)
                                           .arg(name, outcome.status.detail());
    }
    return outcome;
}

TransferOutcome UploadFiling::file(const QString& name, int terminalNo)
{
    TransferOutcome outcome;
    if (name == exchange::kControlFileName) {
        outcome.staged = QStringList();
        platform::Result<QString> firstLine = exchange::ReadControlFile(m_tree);
        if (!firstLine.isOk()) {
            outcome.status = firstLine.status(); // without a readable control file nothing is staged
            return outcome;
        }
        exchange::StagingResult staging = exchange::MasterCopy(m_tree, terminalNo, m_files);
        outcome.staged = staging.staged;
        outcome.status = staging.status;
    } else if (name == kOrderDataName || name == kStocktakingDataName) {
        outcome.status = exchange::DataMove(m_tree, terminalNo, name, m_files, m_clock);
    } else {
        outcome.status = exchange::FileDelete(m_tree, name, m_files);
    }
    return outcome;
}

} // namespace kavelo::transfer
