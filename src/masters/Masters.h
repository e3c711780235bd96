#ifndef KAVELO_MASTERS_MASTERS_H
#define KAVELO_MASTERS_MASTERS_H

#include "masters/MasterDefinition.h"

#include <QStringView>

#include <array>

namespace kavelo::masters {

const MasterDefinition& classificationMaster(); // BUNMAS
const MasterDefinition& storeMaster();          // TENMAS
const MasterDefinition& supplierMaster();       // SIRMAS
const MasterDefinition& customerMaster();       // TOKMAS
const MasterDefinition& productMaster();        // SHOMAS
const MasterDefinition& ownCompanyCodeMaster(); // JISYA

// The six masters in their fixed order: BUNMAS, TENMAS, SIRMAS, TOKMAS, SHOMAS, JISYA.
const std::array<const MasterDefinition*, 6>& allMasters();

// The master of that exact (case-sensitive) name, or nullptr.
const MasterDefinition* findMaster(QStringView name);

} // namespace kavelo::masters

#endif
