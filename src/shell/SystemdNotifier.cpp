#include "shell/SystemdNotifier.h"

#include "platform/Guarded.h"
#include "platform/Log.h"
#include "transfer/CommServer.h"

#ifdef KAVELO_HAVE_SYSTEMD
#include <systemd/sd-daemon.h>
#endif

#include <cstdint>

namespace kavelo::shell {

SystemdNotifier::SystemdNotifier(QObject* parent)
    : QObject(parent)
{
#ifdef KAVELO_HAVE_SYSTEMD
    uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) > 0 && usec > 0) {
        // A quarter of the interval: a handler may then hold the loop for up to three quarters of it (a database
        // waiting out another writer, a large update) before systemd takes the service for hung.
        const auto pingMs = static_cast<int>(qBound<uint64_t>(1, usec / 4000, 24u * 3600 * 1000));
        m_watchdog.setInterval(pingMs);
        connect(&m_watchdog, &QTimer::timeout, this, [this] {
            platform::guarded(lcShell, "watchdog ping", [this] { send(QStringLiteral("WATCHDOG=1")); });
        });
        m_watchdog.start();
        qCInfo(lcShell).noquote() << QStringLiteral("systemd watchdog: a ping every %1 ms").arg(pingMs);
    }
#endif
}

void SystemdNotifier::watch(transfer::CommServer& server)
{
    connect(&server, &transfer::CommServer::ListenStarted, this, [this, &server] {
        platform::guarded(lcShell, "telling systemd of listening", [this, &server] {
            const QString status =
                QStringLiteral("STATUS=listening on %1 port %2").arg(server.IPAddress()).arg(server.PortNo());
            send(m_ready ? status : QStringLiteral("READY=1\n") + status);
            m_ready = true;
        });
    });
    connect(&server, &transfer::CommServer::ListenStopped, this, [this] {
        platform::guarded(
            lcShell, "telling systemd of not listening", [this] { send(QStringLiteral("STATUS=not listening")); });
    });
}

void SystemdNotifier::reloading()
{
    if (m_ready) {
        send(QStringLiteral("RELOADING=1\nSTATUS=reloading KAVELO.ini"));
    }
}

void SystemdNotifier::reloaded(bool taken)
{
    if (m_ready) {
        send(QStringLiteral("READY=1\nSTATUS=") +
             (taken ? QStringLiteral("settings reloaded") : QStringLiteral("settings not reloaded: see the log")));
    }
}

void SystemdNotifier::stopping()
{
    send(QStringLiteral("STOPPING=1\nSTATUS=stopping"));
}

void SystemdNotifier::send(const QString& state)
{
#ifdef KAVELO_HAVE_SYSTEMD
    // Negative: the socket refused; 0: not started by systemd. Neither stops the service.
    if (sd_notify(0, state.toUtf8().constData()) < 0 && !m_warned) {
        m_warned = true;
        qCWarning(lcShell).noquote() << "cannot notify systemd:" << state.section(QLatin1Char('\n'), 0, 0);
    }
#else
    Q_UNUSED(state);
#endif
}

} // namespace kavelo::shell
