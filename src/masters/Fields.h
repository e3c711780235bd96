#ifndef KAVELO_MASTERS_FIELDS_H
#define KAVELO_MASTERS_FIELDS_H

#include "masters/MasterDefinition.h"

#include <QString>
#include <QStringView>

namespace kavelo::masters {

// The field's slice of a decoded record line after its transform. Never a null string: a field beyond the end of
// the line is empty text.
QString cutField(QStringView line, const Field& field);

} // namespace kavelo::masters

#endif
