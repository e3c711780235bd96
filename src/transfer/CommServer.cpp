#include "transfer/CommServer.h"

namespace kavelo::transfer {

wire::TransferOutcome CommServer::handleSaved(const QString& name, int terminalNo)
{
    Q_EMIT TransferStatus(wire::kSaved, name, QVariant(), QVariant());
    wire::TransferOutcome outcome = m_handling ? m_handling->fileSaved(name, terminalNo) : wire::TransferOutcome{};
    if (!outcome.status.isOk()) {
        Q_EMIT FilingFailed(name, outcome.status);
    }
    return outcome;
}

} // namespace kavelo::transfer
