#ifndef KAVELO_EXCHANGE_DATAMOVE_H
#define KAVELO_EXCHANGE_DATAMOVE_H

#include "exchange/FolderTree.h"
#include "platform/FileOps.h"
#include "platform/Status.h"

#include <QDateTime>
#include <QString>

#include <functional>

namespace kavelo::exchange {

// Source of the current local date and time; tests inject a fixed one.
using Clock = std::function<QDateTime()>;

// Time stamp of a backup name: local time as yyyyMMddHHmmss (14 digits).
QString backupTimeStamp(const QDateTime& time);

// Takes a received data file ("S_HACH.dat", "S_TANA.dat") out of the program folder: copies it over the
// terminal's send copy (temporary file renamed into place, so the previous send copy stays until the new one is
// complete), then moves it into the backup tree as "<yyyyMMddHHmmss>_<dataName>", replacing a backup of the same
// name (two uploads within one second: the later one wins). The received file leaves the program folder only by
// that final move; after any failure it is still there. The error names the path and the reason.
// An empty `now` means the local current time.
platform::Status DataMove(const FolderTree& tree,
                          qint64 terminalNo,
                          const QString& dataName,
                          platform::FileOps& files = platform::FileOps::real(),
                          const Clock& now = {});

} // namespace kavelo::exchange

#endif
