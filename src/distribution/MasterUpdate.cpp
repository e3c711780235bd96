#include "distribution/MasterUpdate.h"

#include "masters/Masters.h"

namespace kavelo::distribution {

platform::Result<UpdateSummary> updateMaster(const masters::MasterDefinition& master, const UpdateContext&, qint64,
                                             const YieldHook&)
{
    return platform::Status::error(master.name + QStringLiteral(": the update engine is not built yet"));
}

platform::Result<UpdateSummary> UpdateBUNMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::classificationMaster(), c, t, y);
}
platform::Result<UpdateSummary> UpdateTENMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::storeMaster(), c, t, y);
}
platform::Result<UpdateSummary> UpdateSIRMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::supplierMaster(), c, t, y);
}
platform::Result<UpdateSummary> UpdateTOKMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::customerMaster(), c, t, y);
}
platform::Result<UpdateSummary> UpdateSHOMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::productMaster(), c, t, y);
}
platform::Result<UpdateSummary> UpdateJISYA(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::ownCompanyCodeMaster(), c, t, y);
}

} // namespace kavelo::distribution
