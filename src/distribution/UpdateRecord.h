#ifndef KAVELO_DISTRIBUTION_UPDATERECORD_H
#define KAVELO_DISTRIBUTION_UPDATERECORD_H

#include "masters/MasterDefinition.h"

#include <QString>
#include <QStringView>

namespace kavelo::distribution {

// The same value as masters::cutField, without allocating: a view into the line, or into `scratch` when commas
// had to be replaced. The view stays valid until the line or `scratch` changes. A field beyond the end of the line
// is an empty view (bound as empty text, never NULL).
QStringView fieldView(QStringView line, const masters::Field& field, QString& scratch);

} // namespace kavelo::distribution

#endif
