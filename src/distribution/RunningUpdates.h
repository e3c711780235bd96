#ifndef KAVELO_DISTRIBUTION_RUNNINGUPDATES_H
#define KAVELO_DISTRIBUTION_RUNNINGUPDATES_H

#include "platform/Status.h"

#include <QString>

#include <memory>

namespace kavelo::distribution {

// The guard against a second update of the same master for the same terminal (from the window's event handling
// while the first yields), and against any nested update on the thread of a yielding one: that one would wait for
// the database's write lock that the outer update holds, and the outer update cannot go on until it returns. Held
// for the length of one update.
class RunningUpdate
{
public:
    // Refused with the reason when another update stands in the way.
    static platform::Result<std::unique_ptr<RunningUpdate>> claim(const QString& master, const QString& terminalId);
    ~RunningUpdate();

    RunningUpdate(const RunningUpdate&) = delete;
    RunningUpdate& operator=(const RunningUpdate&) = delete;

private:
    RunningUpdate(QString master, QString terminalId);

    QString m_master;
    QString m_terminalId;
};

} // namespace kavelo::distribution

#endif
