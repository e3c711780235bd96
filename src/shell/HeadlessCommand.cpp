#include "shell/Commands.h"

#include "comm/OperatorUi.h"
#include "platform/Guarded.h"
#include "platform/Log.h"
#include "shell/Service.h"
#include "shell/SystemdNotifier.h"

#include "shell/SignalPipe.h"

#include <QCoreApplication>

#include <csignal>

namespace kavelo::shell {

namespace {

// The operator's side without a window: every caption and message goes to the log (and stderr).
class HeadlessUi : public comm::OperatorUi
{
  public:
    explicit HeadlessUi(QString usbPort)
        : m_usbPort(std::move(usbPort))
    {
    }

    // A failure behind a message is logged as such where it happens; the message itself is for an operator.
    void showMessage(const QString& text) override { qCInfo(lcShell).noquote() << "message:" << text; }
    void setStatusLine(const QString& caption) override
    {
        if (!caption.isEmpty()) {
            qCInfo(lcShell).noquote() << "status:" << caption;
        }
    }
    void settingsReloaded(const QString&) override {} // logged by the service, in English
    void setListenCaption(const QString& caption) override { qCInfo(lcShell).noquote() << "listen button:" << caption; }
    void setLamp(comm::Lamp lamp) override
    {
        const char* colour = lamp == comm::Lamp::Green ? "green" : lamp == comm::Lamp::White ? "white" : "background";
        qCInfo(lcShell).noquote() << "lamp:" << colour;
    }
    void setCountdownCaption(const QString& text) override
    {
        if (text == QLatin1String("3600")) {
            qCInfo(lcShell).noquote() << "poll countdown:" << text;
        }
    }
    void endProgram() override
    {
        m_ended = true;
        QCoreApplication::exit(kExitOk);
    }
    // The port named by "UsbPort" when present, else the first.
    std::optional<int> chooseUsbPort(const QStringList& ports) override
    {
        if (ports.isEmpty()) {
            return std::nullopt;
        }
        int index = 0;
        if (!m_usbPort.isEmpty()) {
            const qsizetype found = ports.indexOf(m_usbPort);
            if (found >= 0) {
                index = static_cast<int>(found);
            } else {
                qCWarning(lcShell).noquote()
                    << QStringLiteral("UsbPort=%1 is not present; taking %2").arg(m_usbPort, ports.first());
            }
        }
        qCInfo(lcShell).noquote() << "USB port chosen:" << ports.at(index);
        return index;
    }

    bool ended() const { return m_ended; }

  private:
    QString m_usbPort;
    bool m_ended = false;
};

} // namespace

int runHeadless(const CommandContext& context)
{
    platform::Result<Settings> settings = startCommand(context, QStringLiteral("headless"), true);
    if (!settings.isOk()) {
        return kExitUsage;
    }
    HeadlessUi ui(settings->usbPort);
    Service service(*settings, ui);
    SystemdNotifier systemd;
    systemd.watch(service.server());

    // SIGINT and SIGTERM stop cleanly, SIGHUP reloads the settings (systemctl reload); all from the event loop.
    SignalPipe signalPipe({SIGINT, SIGTERM, SIGHUP});
    bool stopping = false;
    QObject::connect(&signalPipe, &SignalPipe::received, [&](const QList<int>& arrived) {
        if (stopping) {
            return;
        }
        if (arrived.contains(SIGINT) || arrived.contains(SIGTERM)) {
            stopping = true;
            platform::guarded(lcShell, "stopping", [&] {
                qCInfo(lcShell) << "stop signal received: stopping";
                systemd.stopping();
                service.stop();
            });
            QCoreApplication::exit(kExitOk);
            return;
        }
        platform::guarded(lcShell, "reloading the settings", [&] {
            qCInfo(lcShell) << "SIGHUP received: reloading KAVELO.ini and the terminal keys";
            systemd.reloading();
            systemd.reloaded(service.reload());
        });
    });
    if (!signalPipe.isOpen()) {
        qCWarning(lcShell) << "SIGINT and SIGTERM end the process without a clean stop; SIGHUP does not reload";
    }

    if (!service.start() || ui.ended()) {
        qCInfo(lcShell) << "the program ends";
        return kExitOk;
    }
    if (!service.server().Listening()) {
        qCWarning(lcShell) << "not listening yet: the address is tried again every few seconds (see above); the "
                              "master poll runs meanwhile";
    }
    const int code = QCoreApplication::exec();
    systemd.stopping();
    service.stop();
    qCInfo(lcShell) << "stopped";
    return code;
}

} // namespace kavelo::shell
