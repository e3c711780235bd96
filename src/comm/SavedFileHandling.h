#ifndef KAVELO_COMM_SAVEDFILEHANDLING_H
#define KAVELO_COMM_SAVEDFILEHANDLING_H

#include "platform/Status.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace kavelo::comm {

// What the handling of a saved file came to; the terminal is told OK or ERR from it.
struct TransferOutcome
{
    platform::Status status;
    // Set when the file was a control file: the master files staged for the terminal, in master order (what was
    // staged before a failure, empty when none). The server sends exactly these on GET.
    std::optional<QStringList> staged;
};

// The handling of a saved file (the rename into the program folder has been done): implemented by the transfer
// handling, asked by the server right after it raised TransferStatus kind 3. Handlings run one at a time, on the
// event loop's thread, in the order the uploads completed; one never yields to the event loop, so nothing else
// happens in the program folder while it runs.
class SavedFileHandling
{
  public:
    virtual ~SavedFileHandling() = default;
    virtual TransferOutcome fileSaved(const QString& name, int terminalNo) = 0;
};

} // namespace kavelo::comm

#endif
