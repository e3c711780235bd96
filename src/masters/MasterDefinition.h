#ifndef KAVELO_MASTERS_MASTERDEFINITION_H
#define KAVELO_MASTERS_MASTERDEFINITION_H

#include "platform/Database.h"

#include <QString>

#include <vector>

namespace kavelo::masters {

// Column of every master table that holds the terminal ID ("0007") of rows written for a terminal; imported rows
// hold NULL there.
inline const QString kTerminalIdColumn = QStringLiteral("端末ID");
// Column of every master table on a database server: the order in which rows were added, which a SQLite table
// keeps in its rowid. Exports list rows of equal keys in this order.
inline const QString kRowOrderColumn = QStringLiteral("kavelo_row");

enum class Transform
{
    AsSliced,
    Trimmed,
    TrimmedReplaceCommas,
};

// How an exported column enters the export line: trimmed or as stored.
using ExportForm = platform::CsvForm;

// A field of a fixed-width record: 1-based character position and length, and what is done to the slice.
struct Field
{
    QString column;
    int start;
    int length;
    Transform transform;
};

struct ExportField
{
    QString column;
    ExportForm form;
};

// Everything particular to one master. The update engine and the import run these facts; neither has a
// per-master copy of its flow.
struct MasterDefinition
{
    QString name; // table name; also names the files: name + ".dat" / ".sav" / ".csv" / ".DAT"
    QString keyColumn;

    // The table's columns besides the terminal ID, in their order in the table.
    std::vector<QString> columns;

    // Update file (terminal's receive folder). The search key finds the terminal's row; keys compare with
    // trailing blanks ignored on both sides.
    Field updateKey;
    std::vector<Field> updateFields;
    std::vector<ExportField> exportFields;

    // Host file (import folder). Values in insert order, the operation flag ("有効区分") first.
    Field importKey;
    std::vector<Field> importFields;

    QString updateFileName() const { return name + QStringLiteral(".dat"); }
    QString setAsideFileName() const { return name + QStringLiteral(".sav"); }
    QString exportFileName() const { return name + QStringLiteral(".csv"); }
    QString hostFileName() const { return name + QStringLiteral(".DAT"); }
};

} // namespace kavelo::masters

#endif
