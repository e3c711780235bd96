#ifndef KAVELO_EXCHANGE_FILEDELETE_H
#define KAVELO_EXCHANGE_FILEDELETE_H

#include "exchange/FolderTree.h"
#include "platform/FileOps.h"
#include "platform/Status.h"

#include <QString>

namespace kavelo::exchange {

// Deletes a received file that the system does not keep from the program folder. A name that is not there is no
// error; a read-only file is refused (not forced).
platform::Status
FileDelete(const FolderTree& tree, const QString& dataName, platform::FileOps& files = platform::FileOps::real());

} // namespace kavelo::exchange

#endif
