#ifndef KAVELO_COMM_TRANSFERHANDLER_H
#define KAVELO_COMM_TRANSFERHANDLER_H

#include "comm/CommServer.h"
#include "comm/OperatorUi.h"
#include "comm/TransferOutcome.h"
#include "exchange/DataMove.h"
#include "exchange/FolderTree.h"
#include "platform/FileOps.h"

#include <QObject>

namespace kavelo::comm {

inline const QString kOrderDataName = QStringLiteral("S_HACH.dat");
inline const QString kStocktakingDataName = QStringLiteral("S_TANA.dat");

// Handles TransferStatus: shows each step in the status line and, when a file has been saved, files it by its
// exact name: "CTRL.csv" stages the terminal's masters, "S_HACH.dat" / "S_TANA.dat" go to the terminal's folders,
// anything else is deleted. A failing file operation is caught here: shown in the status line, logged, and left
// on the outcome board so that the terminal is answered ERR; serving goes on.
class TransferHandler : public QObject
{
    Q_OBJECT

  public:
    // Connects itself to the server's TransferStatus. `board` may be null (nobody waits for outcomes).
    TransferHandler(CommServer& server,
                    OperatorUi& ui,
                    exchange::FolderTree tree,
                    TransferOutcomeBoard* board = nullptr,
                    platform::FileOps& files = platform::FileOps::real(),
                    exchange::Clock clock = {},
                    QObject* parent = nullptr);

    void
    onTransferStatus(qint16 transferKind, const QString& fileName, const QVariant& unused1, const QVariant& unused2);

  private:
    TransferOutcome handleSaved(const QString& name, int terminalNo);
    void reportFailure(const QString& name, int terminalNo, const platform::Status& status);

    CommServer& m_server;
    OperatorUi& m_ui;
    exchange::FolderTree m_tree;
    TransferOutcomeBoard* m_board;
    platform::FileOps& m_files;
    exchange::Clock m_clock;
};

} // namespace kavelo::comm

#endif
