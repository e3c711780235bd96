#ifndef KAVELO_WIRE_TRANSFEROUTCOME_H
#define KAVELO_WIRE_TRANSFEROUTCOME_H

#include "platform/Status.h"

#include <QStringList>

#include <optional>

namespace kavelo::wire {

// What the handling of a saved upload came to; the terminal is told from it (OK or ERR, 200 or an error status).
struct TransferOutcome
{
    platform::Status status;
    // Set when the file was a control file: the master files staged for the terminal, in master order (what was
    // staged before a failure, empty when none).
    std::optional<QStringList> staged;
};

} // namespace kavelo::wire

#endif
