#include "import/HostImport.h"

namespace kavelo::import {

platform::Result<ImportSummary> importMaster(const masters::MasterDefinition& master, const ImportContext&,
                                             const ProgressHook&)
{
    return platform::Status::error(master.name + QStringLiteral(": the host import is not built yet"));
}

} // namespace kavelo::import
