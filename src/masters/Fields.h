#ifndef KAVELO_MASTERS_FIELDS_H
#define KAVELO_MASTERS_FIELDS_H

#include "masters/MasterDefinition.h"

#include <QString>
#include <QStringView>

namespace kavelo::masters {

// The field's slice of a decoded record line after its transform. Never a null string: a field beyond the end of
// the line is empty text.
QString cutField(QStringView line, const Field& field);

// The same value without a copy where the transform allows: a view into `line` (slicing and trimming), or, when
// commas are replaced, a view of `scratch`, which then holds the changed text. Valid while `line` and `scratch`
// are. A field beyond the end of the line is an empty view (bound as empty text, never NULL).
QStringView cutFieldView(QStringView line, const Field& field, QString& scratch);

} // namespace kavelo::masters

#endif
