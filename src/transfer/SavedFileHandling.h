#ifndef KAVELO_TRANSFER_SAVEDFILEHANDLING_H
#define KAVELO_TRANSFER_SAVEDFILEHANDLING_H

#include "wire/TransferOutcome.h"

#include <QString>

namespace kavelo::transfer {

// The handling of a saved file (the rename into the program folder has been done): implemented by the transfer
// handling, asked by the server right after it raised TransferStatus kind 3. Handlings run one at a time, on the
// event loop's thread, in the order the uploads completed; one never yields to the event loop, so nothing else
// happens in the program folder while it runs.
class SavedFileHandling
{
  public:
    virtual ~SavedFileHandling() = default;
    virtual wire::TransferOutcome fileSaved(const QString& name, int terminalNo) = 0;
};

} // namespace kavelo::transfer

#endif
