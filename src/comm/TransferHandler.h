#ifndef KAVELO_COMM_TRANSFERHANDLER_H
#define KAVELO_COMM_TRANSFERHANDLER_H

#include "comm/CommServer.h"
#include "comm/OperatorUi.h"
#include "comm/SavedFileHandling.h"
#include "exchange/DataMove.h"
#include "exchange/FolderTree.h"
#include "platform/FileOps.h"

#include <QObject>

namespace kavelo::comm {

inline const QString kOrderDataName = QStringLiteral("S_HACH.dat");
inline const QString kStocktakingDataName = QStringLiteral("S_TANA.dat");

// Handles TransferStatus: shows each step in the status line. When the server hands it a saved file, it files it
// by its exact name: "CTRL.csv" stages the terminal's masters, "S_HACH.dat" / "S_TANA.dat" go to the terminal's
// folders, anything else is deleted. A failing file operation is caught here: shown in the status line, logged,
// and returned as the outcome so that the terminal is answered ERR; serving goes on.
class TransferHandler : public QObject, public SavedFileHandling
{
    Q_OBJECT

  public:
    // Connects itself to the server's TransferStatus and takes on the server's saved files.
    TransferHandler(CommServer& server,
                    OperatorUi& ui,
                    exchange::FolderTree tree,
                    platform::FileOps& files = platform::FileOps::real(),
                    exchange::Clock clock = {},
                    QObject* parent = nullptr);
    ~TransferHandler() override;

    void
    onTransferStatus(qint16 transferKind, const QString& fileName, const QVariant& unused1, const QVariant& unused2);

    // SavedFileHandling.
    TransferOutcome fileSaved(const QString& name, int terminalNo) override;

  private:
    TransferOutcome handleSaved(const QString& name, int terminalNo);
    void reportFailure(const QString& name, int terminalNo, const platform::Status& status);

    CommServer& m_server;
    OperatorUi& m_ui;
    exchange::FolderTree m_tree;
    platform::FileOps& m_files;
    exchange::Clock m_clock;
};

} // namespace kavelo::comm

#endif
