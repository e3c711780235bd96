#ifndef KAVELO_WIRE_TRANSFEROUTCOME_H
#define KAVELO_WIRE_TRANSFEROUTCOME_H

#include "platform/Status.h"

#include <QStringList>

#include <optional>
#include <utility>

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

// A failure as a terminal is told it and the operator reads it: what could not be done (`action`, "cannot store the
// file") and why, in the words reasonForTerminal() gives (the paths stay on the PC); its kind is the cause's.
inline platform::Status toldFailure(const QString& action, const platform::Status& cause)
{
    platform::Failure told;
    told.action = action;
    told.reason = reasonForTerminal(cause);
    told.kind = cause.kind();
    if (told.reason.isEmpty()) {
        std::swap(told.action, told.reason);
    }
    return platform::Status::failed(std::move(told));
}

} // namespace kavelo::wire

#endif
