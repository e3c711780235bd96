#ifndef KAVELO_EXCHANGE_CONTROLFILE_H
#define KAVELO_EXCHANGE_CONTROLFILE_H

#include "exchange/FolderTree.h"
#include "platform/Status.h"

#include <QString>

namespace kavelo::exchange {

inline const QString kControlFileName = QStringLiteral("CTRL.csv");

// The first line of the terminal's control file "CTRL.csv" in the program folder, without its line end. The
// content is never interpreted: an empty file gives "", and bytes that are not valid Shift-JIS only cost a warning
// in the log (the readable part is returned). A missing or unreadable file is an error naming its path. The file
// stays where it is.
platform::Result<QString> ReadControlFile(const FolderTree& tree);

} // namespace kavelo::exchange

#endif
