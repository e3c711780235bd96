#include "comm/TransferHandler.h"

#include "exchange/ControlFile.h"
#include "exchange/FileDelete.h"
#include "exchange/MasterCopy.h"
#include "platform/Guarded.h"
#include "platform/Log.h"

namespace kavelo::comm {

using platform::Status;

TransferHandler::TransferHandler(CommServer& server,
                                 OperatorUi& ui,
                                 exchange::FolderTree tree,
                                 platform::FileOps& files,
                                 exchange::Clock clock,
                                 QObject* parent)
    : QObject(parent)
    , m_server(server)
    , m_ui(ui)
    , m_tree(std::move(tree))
    , m_files(files)
    , m_clock(std::move(clock))
{
    connect(&m_server, &CommServer::TransferStatus, this, &TransferHandler::onTransferStatus);
    m_server.setSavedFileHandling(this);
}

TransferHandler::~TransferHandler()
{
    m_server.setSavedFileHandling(nullptr);
}

void TransferHandler::onTransferStatus(qint16 transferKind, const QString& fileName, const QVariant&, const QVariant&)
{
    const QString name = fileName; // our own copy
    const int terminalNo = m_server.TerminalNo();
    const QString terminal = QString::number(terminalNo);
    switch (transferKind) {
    case kSending:
        m_ui.setStatusLine(name + QStringLiteral("送信中 :") + terminal);
        return;
    case kReceiving:
        m_ui.setStatusLine(name + QStringLiteral("受信中 :") + terminal);
        return;
    case kSaving:
        m_ui.setStatusLine(name + QStringLiteral("保存中 :") + terminal);
        return;
    case kSaved:
        m_ui.setStatusLine(name + QStringLiteral("保存成功 :") + terminal);
        return; // filed by fileSaved(), which the server calls next
    case kSavingFailed:
        m_ui.setStatusLine(name + QStringLiteral("保存失敗"));
        return;
    case kUnpackingLog:
        m_ui.setStatusLine(QStringLiteral("ログファイル解凍中"));
        return;
    default:
        return;
    }
}

TransferOutcome TransferHandler::fileSaved(const QString& name, int terminalNo)
{
    const QString own = name; // our own copy
    TransferOutcome outcome;
    const bool handled = platform::guarded(
        lcComm, "filing a saved file", [&] { outcome = handleSaved(own, terminalNo); },
        [&](const QString& reason) {
            outcome.status = Status::error(QStringLiteral("%1 of terminal %2: %3").arg(own).arg(terminalNo).arg(reason));
        });
    if (!handled) {
        reportFailure(own, terminalNo, outcome.status);
    }
    return outcome;
}

TransferOutcome TransferHandler::handleSaved(const QString& name, int terminalNo)
{
    TransferOutcome outcome;
    const bool isControlFile = name == exchange::kControlFileName;
    if (isControlFile) {
        outcome.staged = QStringList();
        platform::Result<QString> firstLine = exchange::ReadControlFile(m_tree);
        if (!firstLine.isOk()) {
            // Without a readable control file nothing is staged.
            outcome.status = firstLine.status();
            reportFailure(name, terminalNo, outcome.status);
            return outcome;
        }
        exchange::StagingResult staging = exchange::MasterCopy(m_tree, terminalNo, m_files);
        outcome.staged = staging.staged;
        outcome.status = staging.status; // the staging logs what it staged
    } else if (name == kOrderDataName) {
        outcome.status = exchange::DataMove(m_tree, terminalNo, kOrderDataName, m_files, m_clock);
    } else if (name == kStocktakingDataName) {
        outcome.status = exchange::DataMove(m_tree, terminalNo, kStocktakingDataName, m_files, m_clock);
    } else {
        outcome.status = exchange::FileDelete(m_tree, name, m_files);
    }
    if (!outcome.status.isOk()) {
        reportFailure(name, terminalNo, outcome.status);
    } else {
        qCInfo(lcComm).noquote() << QStringLiteral("terminal %1: %2 saved and handled").arg(terminalNo).arg(name);
    }
    return outcome;
}

void TransferHandler::reportFailure(const QString& name, int terminalNo, const platform::Status& status)
{
    m_ui.setStatusLine(name + QStringLiteral("処理失敗 :") + QString::number(terminalNo));
    qCWarning(lcComm).noquote()
        << QStringLiteral("terminal %1: handling of %2 failed: %3").arg(terminalNo).arg(name, status.message());
}

} // namespace kavelo::comm
