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

// What a terminal is told of a failure: the last part of the message, which for a file or socket failure is the
// system's reason ("No space left on device"); the paths before it stay on the PC.
inline QString reasonForTerminal(const platform::Status& status)
{
    const QString& message = status.message();
    const qsizetype colon = message.lastIndexOf(QLatin1String(": "));
    return colon < 0 ? message : message.mid(colon + 2);
}

} // namespace kavelo::wire

#endif
