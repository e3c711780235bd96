#include "distribution/RunningUpdates.h"

#include <algorithm>
#include <mutex>
#include <thread>
#include <vector>

namespace kavelo::distribution {

using platform::Status;

namespace {

struct Entry
{
    QString master;
    QString terminalId;
    std::thread::id thread;
};

std::mutex g_mutex;
std::vector<Entry> g_running;

} // namespace

RunningUpdate::RunningUpdate(QString master, QString terminalId)
    : m_master(std::move(master))
    , m_terminalId(std::move(terminalId))
{
}

platform::Result<std::unique_ptr<RunningUpdate>> RunningUpdate::claim(const QString& master, const QString& terminalId)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const std::thread::id self = std::this_thread::get_id();
    for (const Entry& e : g_running) {
        if (e.master == master && e.terminalId == terminalId) {
            return Status::error(QStringLiteral("an update of this master for this terminal is already running"));
        }
    }
    for (const Entry& e : g_running) {
        if (e.thread == self) {
            return Status::error(QStringLiteral("the update of %1 for terminal %2 is already running and holds the "
                                                "database; try again when it has finished")
                                     .arg(e.master, e.terminalId));
        }
    }
    g_running.push_back({master, terminalId, self});
    return std::unique_ptr<RunningUpdate>(new RunningUpdate(master, terminalId));
}

RunningUpdate::~RunningUpdate()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    auto it = std::find_if(g_running.begin(), g_running.end(),
                           [&](const Entry& e) { return e.master == m_master && e.terminalId == m_terminalId; });
    if (it != g_running.end()) {
        g_running.erase(it);
    }
}

} // namespace kavelo::distribution
