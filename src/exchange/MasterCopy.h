#ifndef KAVELO_EXCHANGE_MASTERCOPY_H
#define KAVELO_EXCHANGE_MASTERCOPY_H

#include "exchange/FolderTree.h"
#include "platform/FileOps.h"
#include "platform/Status.h"

#include <QStringList>

namespace kavelo::exchange {

struct StagingResult
{
    // Names staged into the program folder ("SIRMAS.csv"), in master order; filled even when a later master
    // failed, so the caller sends the terminal exactly what was staged for it.
    QStringList staged;
    platform::Status status;
};

// Stages a terminal's master files: for each master in the fixed order, copies <receive folder>/<MASTER>.csv over
// <program folder>/<MASTER>.csv. Missing sources are skipped (a missing receive folder stages nothing, without
// error); sources are never moved. The first failing copy ends the staging: the masters after it are not staged.
StagingResult
MasterCopy(const FolderTree& tree, qint64 terminalNo, platform::FileOps& files = platform::FileOps::real());

} // namespace kavelo::exchange

#endif
