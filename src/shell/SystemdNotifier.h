#ifndef KAVELO_SHELL_SYSTEMDNOTIFIER_H
#define KAVELO_SHELL_SYSTEMDNOTIFIER_H

#include <QObject>
#include <QString>
#include <QTimer>

namespace kavelo::transfer {
class CommServer;
}

namespace kavelo::shell {

// Keeps systemd informed when it runs the headless service as a notify service (NOTIFY_SOCKET set): READY=1 when
// the server first listens, a status line as listening starts and stops, RELOADING=1 and READY=1 around a reload,
// STOPPING=1 at the end, and, when the unit
// sets WatchdogSec (WATCHDOG_USEC), a ping from the event loop four times per interval, so that a loop that hangs
// stops pinging and systemd restarts the service. Where systemd did not start the program, nothing is sent.
class SystemdNotifier : public QObject
{
    Q_OBJECT

  public:
    explicit SystemdNotifier(QObject* parent = nullptr);

    // Follows the server's listening events.
    void watch(transfer::CommServer& server);
    // Around a reload of the settings (SIGHUP): RELOADING=1, then READY=1 again, so that `systemctl reload` and
    // `systemctl status` tell it; before the service first listened, nothing.
    void reloading();
    void reloaded(bool taken);
    void stopping();

    bool watchdogRunning() const { return m_watchdog.isActive(); }

  private:
    void send(const QString& state);

    QTimer m_watchdog;
    bool m_ready = false;
    bool m_warned = false;
};

} // namespace kavelo::shell

#endif
