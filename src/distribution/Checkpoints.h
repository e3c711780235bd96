#ifndef KAVELO_DISTRIBUTION_CHECKPOINTS_H
#define KAVELO_DISTRIBUTION_CHECKPOINTS_H

#include "platform/Database.h"

#include <memory>

namespace kavelo::distribution {

// An update's rows are committed to the database's write-ahead log; copying them into the database file (the
// checkpoint) is left to a worker thread, one connection after the other, so that the update returns as soon as
// its rows are committed and its export is in place. Until then readers find the rows in the log; a process that
// ends first leaves the log, which the next connection takes up, so nothing is lost either way.

// Takes the connection of a finished update: the worker checkpoints and then closes it.
void checkpointInBackground(std::unique_ptr<platform::Database> connection);

// Returns when every connection handed over so far has been checkpointed and closed. Programs call it before they
// end (and tests before they remove a database).
void waitForCheckpoints();

} // namespace kavelo::distribution

#endif
