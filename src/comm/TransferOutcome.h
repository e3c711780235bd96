#ifndef KAVELO_COMM_TRANSFEROUTCOME_H
#define KAVELO_COMM_TRANSFEROUTCOME_H

#include "platform/Status.h"

#include <QStringList>

#include <optional>

namespace kavelo::comm {

// What the handling of a saved file (TransferStatus kind 3) came to. Signals return nothing, so the handler leaves
// its outcome on a board that the server reads right after raising the event: the terminal is then told OK or ERR.
struct TransferOutcome
{
    platform::Status status;
    // Set when the file was a control file: the master files staged for the terminal, in master order (what was
    // staged before a failure, empty when none). The server sends exactly these on GET.
    std::optional<QStringList> staged;
};

class TransferOutcomeBoard
{
  public:
    void clear() { m_outcome.reset(); }
    void record(TransferOutcome outcome) { m_outcome = std::move(outcome); }
    // The outcome recorded since the last clear(), if any; clears it.
    std::optional<TransferOutcome> take()
    {
        std::optional<TransferOutcome> outcome = std::move(m_outcome);
        m_outcome.reset();
        return outcome;
    }

  private:
    std::optional<TransferOutcome> m_outcome;
};

} // namespace kavelo::comm

#endif
