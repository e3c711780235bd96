#ifndef KAVELO_DB_STOREFLOW_H
#define KAVELO_DB_STOREFLOW_H

#include "db/MasterStore.h"
#include "masters/MasterDefinition.h"
#include "platform/Status.h"

#include <QString>

namespace kavelo::db {

// The lines of a file are applied in batches of at most about this much text; the memory a work needs grows with
// it.
constexpr qsizetype kDefaultBatchBytes = 24 * 1024 * 1024;

struct UpdateCounts
{
    qint64 linesRead = 0;
    qint64 rowsAdded = 0;
    qint64 rowsReplaced = 0; // every line held that did not add a row
    qint64 rowsExported = 0;
};

struct ImportCounts
{
    qint64 recordsRead = 0;
    qint64 replaced = 0; // flag 1 or 2
    qint64 deleted = 0;  // flag 3
    qint64 skipped = 0;  // any other first character, empty lines included
};

// One terminal's update on a store: the update file applied in batches sorted by key (each key's last line; an
// empty line is no record), the terminal's export written, the rows committed, then the export renamed into place.
// On failure nothing of the file is stored and the previous export stays.
platform::Result<UpdateCounts> updateOnStore(MasterStore& store,
                                             const masters::MasterDefinition& master,
                                             const QString& terminalId,
                                             const QString& updatePath,
                                             const QString& exportPath,
                                             qsizetype batchBytes = kDefaultBatchBytes);

// One host file's import on a store, as one transaction: on failure the tables stay as they were.
platform::Result<ImportCounts> importOnStore(MasterStore& store,
                                             const masters::MasterDefinition& master,
                                             const QString& hostPath,
                                             qsizetype batchBytes = kDefaultBatchBytes);

} // namespace kavelo::db

#endif
