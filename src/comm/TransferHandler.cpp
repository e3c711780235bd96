#include "comm/TransferHandler.h"

#include "platform/Translations.h"

namespace kavelo::comm {

TransferHandler::TransferHandler(transfer::CommServer& server, OperatorUi& ui, QObject* parent)
    : QObject(parent)
    , m_server(server)
    , m_ui(ui)
{
    connect(&m_server, &transfer::CommServer::TransferStatus, this, &TransferHandler::onTransferStatus);
    connect(&m_server, &transfer::CommServer::UploadFailed, this, &TransferHandler::onUploadFailed);
    connect(&m_server, &transfer::CommServer::FilingFailed, this, &TransferHandler::onFilingFailed);
}

void TransferHandler::onTransferStatus(qint16 transferKind, const QString& fileName, const QVariant&, const QVariant&)
{
    const QString name = fileName; // our own copy
    const QString terminal = QString::number(m_server.TerminalNo());
    switch (transferKind) {
    case wire::kSending:
        m_ui.setStatusLine(name + QStringLiteral("送信中 :") + terminal);
        return;
    case wire::kReceiving:
        m_ui.setStatusLine(name + QStringLiteral("受信中 :") + terminal);
        return;
    case wire::kSaving:
        m_ui.setStatusLine(name + QStringLiteral("保存中 :") + terminal);
        return;
    case wire::kSaved:
        m_ui.setStatusLine(name + QStringLiteral("保存成功 :") + terminal);
        return;
    case wire::kSavingFailed:
        m_ui.setStatusLine(name + QStringLiteral("保存失敗"));
        return;
    case wire::kUnpackingLog:
        m_ui.setStatusLine(QStringLiteral("ログファイル解凍中"));
        return;
    default:
        return;
    }
}

// Why, after the caption: "S_HACH.dat保存失敗（ファイルを保存できません: No space left on device）".
void TransferHandler::onUploadFailed(const QString& fileName, const platform::Status& why)
{
    m_ui.setStatusLine(fileName + QStringLiteral("保存失敗（%1）").arg(platform::japaneseReason(why.failure())));
}

void TransferHandler::onFilingFailed(const QString& fileName, const platform::Status& why)
{
    m_ui.setStatusLine(fileName +
                       QStringLiteral("処理失敗 :%1（%2）")
                           .arg(QString::number(m_server.TerminalNo()), platform::japaneseDetail(why.failure())));
}

} // namespace kavelo::comm
