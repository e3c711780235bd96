#ifndef KAVELO_DB_SQLITEUPDATESTATEMENTS_H
#define KAVELO_DB_SQLITEUPDATESTATEMENTS_H

#include "batch/RowInserter.h"
#include "masters/MasterDefinition.h"
#include "platform/Database.h"
#include "platform/Status.h"

#include <memory>

namespace kavelo::db {

// The order in which an export reads a terminal's rows (see UpdateStatements::prepare).
enum class ExportOrder
{
    ThroughIndex, // through the (terminal, key) index, no sort: every key without a character below U+0020
    FullSort,     // sorted by the key in binary order: any key
};

// The prepared statements of one update, on its connection. Every statement reads or writes the rows of one
// terminal only (?1 its terminal ID, or the rowid of one of its rows).
struct SqliteUpdateStatements
{
    // The stored keys and rowids of the terminal's rows from a given key on, in key order (batch::KeyWalk).
    std::unique_ptr<platform::Statement> walk;
    // ?1 rowid, ?2... the assignment list: the whole list, or all but the key column (replaceKept).
    std::unique_ptr<platform::Statement> replaceAll;
    std::unique_ptr<platform::Statement> replaceKept;
    // New rows: the terminal ID, then the assignment list.
    std::unique_ptr<batch::RowInserter> add;
    // The terminal's rows (?1): rowid, stored key, export line.
    std::unique_ptr<platform::Statement> exportThroughIndex;
    std::unique_ptr<platform::Statement> exportFullSort;
    // The index in the assignment list of the field that sets the key column from the search key's slice and
    // transform, or -1: a row whose stored key equals the new one exactly keeps its key column (replaceKept), so
    // that its index entries stay where they are.
    int keyField = -1;

    static platform::Result<SqliteUpdateStatements> prepare(platform::Database& database,
                                                            const masters::MasterDefinition& master);

    platform::Statement& exportRows(ExportOrder order)
    {
        return order == ExportOrder::ThroughIndex ? *exportThroughIndex : *exportFullSort;
    }
    // Finishes every statement, before the connection goes on to its checkpoint.
    void finish();
};

} // namespace kavelo::db

#endif
