#ifndef KAVELO_EXCHANGE_BACKUPRETENTION_H
#define KAVELO_EXCHANGE_BACKUPRETENTION_H

#include "exchange/FolderTree.h"
#include "platform/FileOps.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <map>

namespace kavelo::exchange {

// The time in the name DataMove gives a file of the backup tree ("20261207131057_S_HACH.dat", also _S_TANA.dat);
// invalid for any other name, which is not KAVELO's.
QDateTime backupFileTime(const QString& name);

struct RetentionOutcome
{
    int removed = 0;
    qint64 bytes = 0;
    int failed = 0;
    QStringList failures; // the first few, each naming the file and the reason
};

// Removes the files of the backup tree (DataRoot/backup/<ID>/snd/) whose names KAVELO gave them and whose time is
// more than `keepDays` days before `now`; anything else there is left alone, and so is a read-only file (not
// forced, as everywhere). `keepDays` 0 keeps everything.
RetentionOutcome pruneBackupTree(const FolderTree& tree,
                                 int keepDays,
                                 const QDateTime& now,
                                 platform::FileOps& files = platform::FileOps::real());

// The newest file of each terminal in the backup tree, by terminal number: when it last sent an order or
// stocktaking file that was filed.
std::map<int, QDateTime> newestBackups(const FolderTree& tree);

} // namespace kavelo::exchange

#endif
