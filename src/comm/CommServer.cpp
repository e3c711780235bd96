#include "comm/CommServer.h"

namespace kavelo::comm {

TransferOutcome CommServer::handleSaved(const QString& name, int terminalNo)
{
    Q_EMIT TransferStatus(kSaved, name, QVariant(), QVariant());
    return m_handling ? m_handling->fileSaved(name, terminalNo) : TransferOutcome{};
}

} // namespace kavelo::comm
