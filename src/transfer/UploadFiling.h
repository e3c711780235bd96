#ifndef KAVELO_TRANSFER_UPLOADFILING_H
#define KAVELO_TRANSFER_UPLOADFILING_H

#include "exchange/DataMove.h"
#include "exchange/FolderTree.h"
#include "platform/FileOps.h"
#include "transfer/SavedFileHandling.h"

namespace kavelo::transfer {

inline const QString kOrderDataName = QStringLiteral("S_HACH.dat");
inline const QString kStocktakingDataName = QStringLiteral("S_TANA.dat");

// Files a saved upload by its exact name: "CTRL.csv" is read and stages the terminal's masters, "S_HACH.dat" /
// "S_TANA.dat" go to the terminal's folders, anything else is deleted. A failure is logged here, once, with the
// terminal, the file and the system's reason, and returned as the outcome so that the terminal is told; serving
// goes on.
class UploadFiling : public SavedFileHandling
{
  public:
    explicit UploadFiling(exchange::FolderTree tree,
                          platform::FileOps& files = platform::FileOps::real(),
                          exchange::Clock clock = {});

    wire::TransferOutcome fileSaved(const QString& name, int terminalNo) override;

  private:
    wire::TransferOutcome file(const QString& name, int terminalNo);

    exchange::FolderTree m_tree;
    platform::FileOps& m_files;
    exchange::Clock m_clock;
};

} // namespace kavelo::transfer

#endif
