#include "shell/HostImports.h"

#include "platform/Log.h"

namespace kavelo::shell {

HostImports::HostImports(import::ImportContext context, QTimer& pollTimer, const bool& pollRunning, QObject* parent)
    : QObject(parent)
    , m_context(std::move(context))
    , m_pollTimer(pollTimer)
    , m_pollRunning(pollRunning)
{
    connect(&m_runner, &import::ImportRunner::started, this, &HostImports::onStarted);
    connect(&m_runner, &import::ImportRunner::finished, this, &HostImports::onFinished);
}

QString HostImports::currentMaster() const
{
    const masters::MasterDefinition* master = m_queued != nullptr ? m_queued : m_running;
    return master != nullptr ? master->name : QString();
}

HostImports::Request HostImports::request(const masters::MasterDefinition& master)
{
    if (busy()) {
        qCInfo(lcShell).noquote() << master.name << "import refused: another import is under way";
        return Request::Refused;
    }
    if (m_pollRunning) {
        qCInfo(lcShell).noquote() << master.name << "import waits for the master poll to end";
        m_queued = &master;
        Q_EMIT queued(master.name);
        return Request::Queued;
    }
    m_running = &master;
    m_runner.start(master, m_context);
    return Request::Started;
}

void HostImports::startQueued()
{
    if (m_queued == nullptr || m_pollRunning || m_runner.isRunning()) {
        return;
    }
    m_running = m_queued;
    m_queued = nullptr;
    m_runner.start(*m_running, m_context);
}

void HostImports::onStarted()
{
    if (m_pollTimer.isActive()) {
        m_pollTimer.stop();
        m_pollTimerPaused = true;
        qCInfo(lcShell) << "poll timer paused while the host import runs";
    }
}

void HostImports::onFinished()
{
    m_running = nullptr;
    if (m_pollTimerPaused) {
        m_pollTimerPaused = false;
        m_pollTimer.start();
        qCInfo(lcShell) << "poll timer resumed";
    }
}

} // namespace kavelo::shell
