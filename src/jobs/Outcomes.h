#ifndef KAVELO_JOBS_OUTCOMES_H
#define KAVELO_JOBS_OUTCOMES_H

#include "distribution/MasterUpdate.h"
#include "import/HostImport.h"
#include "platform/Status.h"

#include <QString>

namespace kavelo::jobs {

// What one update job (`kavelo update`) came to.
struct UpdateOutcome
{
    QString master; // "SHOMAS"
    qint64 terminalNo = 0;
    platform::Status status;             // the failure: master, terminal, file, line and reason
    distribution::UpdateSummary summary; // valid when ok()
    bool ok() const { return status.isOk(); }
};

// What one host import came to.
struct ImportOutcome
{
    QString master;                // "SHOMAS"
    QString hostFile;              // import folder + "SHOMAS.DAT"
    platform::Status status;       // the failure: master, file, line and reason
    import::ImportSummary summary; // valid when ok()
    bool ok() const { return status.isOk(); }
};

} // namespace kavelo::jobs

#endif
