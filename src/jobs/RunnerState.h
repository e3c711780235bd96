#ifndef KAVELO_JOBS_RUNNERSTATE_H
#define KAVELO_JOBS_RUNNERSTATE_H

#include "distribution/PollCountdown.h"

#include <QString>

namespace kavelo::jobs {

// What the job runner is doing, in one place: the windows, the service and the status page read it.
struct RunnerState
{
    // Ticks of the poll timer left until the next poll (LCount).
    int countdown = distribution::PollCountdown::kAtStartUp;
    bool pollRunning = false;
    // The update file the running poll applies now; 0 and empty between files.
    qint64 pollTerminal = 0;
    QString pollMaster;
    // The host import waiting for the poll or running ("SHOMAS"); empty when none.
    QString importMaster;
    bool importWaiting = false;
    // Of the running import's host file, once it has reported; -1 before.
    int importPercent = -1;
    // An update on its own (`kavelo update`) is running.
    bool updateRunning = false;

    bool importRunning() const { return !importMaster.isEmpty() && !importWaiting; }
};

} // namespace kavelo::jobs

#endif
