#ifndef KAVELO_IMPORT_HOSTIMPORT_H
#define KAVELO_IMPORT_HOSTIMPORT_H

#include "masters/MasterDefinition.h"
#include "platform/Status.h"

#include <functional>

namespace kavelo::import {

struct ImportContext
{
    QString dbPath;    // ImportDB
    QString importDir; // ImportDir, a plain prefix of the host file name
};

struct ImportSummary
{
    qint64 recordsRead = 0;
    qint64 replaced = 0; // flag 1 or 2: delete then insert
    qint64 deleted = 0;  // flag 3
    qint64 skipped = 0;  // any other flag, empty lines included
};

// Progress of a long import: bytes of the host file done so far, and its size. Called now and then while the file
// is read (every few hundred kilobytes) and once more when the whole file has been read.
using ProgressHook = std::function<void(qint64 bytesDone, qint64 bytesTotal)>;

// The host file of a master: the import folder and the file name ("SHOMAS.DAT") joined directly.
QString hostFilePath(const masters::MasterDefinition& master, const ImportContext& context);

// Imports <import folder><MASTER>.DAT into the import database. One host file is one transaction: on failure the
// tables stay exactly as before and the error names the file and line.
platform::Result<ImportSummary> importMaster(const masters::MasterDefinition& master, const ImportContext& context,
                                             const ProgressHook& progress = {});

} // namespace kavelo::import

#endif
