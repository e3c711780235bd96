#ifndef KAVELO_MASTERS_FIELDS_H
#define KAVELO_MASTERS_FIELDS_H

#include "masters/MasterDefinition.h"

#include <QString>
#include <QStringView>

namespace kavelo::masters {

// The field cutter of every record the system reads. The field at (start, length) is the run of at most `length`
// characters beginning at the 1-based character `start`: a line that ends inside the run yields what is there, a
// line shorter than `start` yields empty text. Then the field's transform is applied.
//
// The value as a view, without a copy where the transform allows: into `line` (slicing and trimming), or, when
// commas had to be replaced, into `scratch`, which then holds the changed text. Valid while `line` and `scratch`
// are. Never a null view: a field beyond the end of the line is empty text (bound as empty text, never NULL).
QStringView cutFieldView(QStringView line, const Field& field, QString& scratch);

// The same value as a string of its own.
QString cutField(QStringView line, const Field& field);

// What a record of a host file asks for by its first character, compared exactly: "1" or "2" replace the key's
// rows with the record, "3" deletes them; anything else (an empty line, a blank, a full-width digit) is skipped.
enum class HostOperation
{
    Skip,
    Replace,
    Delete,
};
HostOperation hostOperation(QStringView record);

} // namespace kavelo::masters

#endif
