#ifndef KAVELO_COMM_TRANSFERHANDLER_H
#define KAVELO_COMM_TRANSFERHANDLER_H

#include "comm/OperatorUi.h"
#include "transfer/CommServer.h"

#include <QObject>

namespace kavelo::comm {

// Shows each transfer event of the server in the status line ("S_HACH.dat受信中 :3", "S_HACH.dat保存成功 :3"); a
// file not saved as "S_HACH.dat保存失敗" followed by why, and a saved file whose filing failed as
// "S_HACH.dat処理失敗 :3" followed by why, the reasons in Japanese. It only observes: the server files saved files.
class TransferHandler : public QObject
{
    Q_OBJECT

  public:
    // Connects itself to the server's TransferStatus, UploadFailed and FilingFailed.
    TransferHandler(transfer::CommServer& server, OperatorUi& ui, QObject* parent = nullptr);

    void
    onTransferStatus(qint16 transferKind, const QString& fileName, const QVariant& unused1, const QVariant& unused2);
    void onUploadFailed(const QString& fileName, const platform::Status& why);
    void onFilingFailed(const QString& fileName, const platform::Status& why);

  private:
    transfer::CommServer& m_server;
    OperatorUi& m_ui;
};

} // namespace kavelo::comm

#endif
