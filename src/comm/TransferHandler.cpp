#include "comm/TransferHandler.h"

#include "exchange/ControlFile.h"
#include "exchange/FileDelete.h"
#include "exchange/MasterCopy.h"
#include "platform/Log.h"

#include <exception>

namespace kavelo::comm {

using platform::Status;

TransferHandler::TransferHandler(CommServer& server,
                                 OperatorUi& ui,
                                 exchange::FolderTree tree,
                                 TransferOutcomeBoard* board,
                                 platform::FileOps& files,
                                 exchange::Clock clock,
                                 QObject* parent)
    : QObject(parent)
    , m_server(server)
    , m_ui(ui)
    , m_tree(std::move(tree))
    , m_board(board)
    , m_files(files)
    , m_clock(std::move(clock))
{
    connect(&m_server, &CommServer::TransferStatus, this, &TransferHandler::onTransferStatus);
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
    case kSaved: {
        TransferOutcome outcome;
        try {
            outcome = handleSaved(name, terminalNo);
        } catch (const std::exception& e) {
            outcome.status = Status::error(
                QStringLiteral("%1 of terminal %2: %3").arg(name, terminal, QString::fromLocal8Bit(e.what())));
            reportFailure(name, terminalNo, outcome.status);
        }
        if (m_board) {
            m_board->record(std::move(outcome));
        }
        return;
    }
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

TransferOutcome TransferHandler::handleSaved(const QString& name, int terminalNo)
{
    TransferOutcome outcome;
    const bool isControlFile = name == exchange::kControlFileName;
    if (isControlFile) {
        outcome.staged = QStringList();
        platform::Result<QString> firstLine = exchange::ReadControlFile(m_tree);
        if (!firstLine.isOk()) {
            // Without a readable control file nothing is staged.
            m_ui.setStatusLine(name + QStringLiteral("保存成功 :") + QString::number(terminalNo));
            outcome.status = firstLine.status();
            reportFailure(name, terminalNo, outcome.status);
            return outcome;
        }
    }
    m_ui.setStatusLine(name + QStringLiteral("保存成功 :") + QString::number(terminalNo));
    if (isControlFile) {
        exchange::StagingResult staging = exchange::MasterCopy(m_tree, terminalNo, m_files);
        outcome.staged = staging.staged;
        outcome.status = staging.status;
        qCInfo(lcComm).noquote() << QStringLiteral("terminal %1: staged %2")
                                        .arg(terminalNo)
                                        .arg(staging.staged.isEmpty() ? QStringLiteral("no master")
                                                                      : staging.staged.join(QLatin1Char(' ')));
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
