#include "shell/Commands.h"

#include "comm/OperatorUi.h"
#include "platform/Guarded.h"
#include "platform/Log.h"
#include "shell/Service.h"
#include "shell/SystemdNotifier.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif

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

#ifdef Q_OS_UNIX
int g_signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}
#endif

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

#ifdef Q_OS_UNIX
    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) == 0) {
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(SIGINT, &action, nullptr);
        sigaction(SIGTERM, &action, nullptr);
        stopNotifier = std::make_unique<QSocketNotifier>(g_signalPipe[0], QSocketNotifier::Read);
        QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, [&service, &stopNotifier, &systemd] {
            platform::guarded(lcShell, "stopping", [&service, &stopNotifier, &systemd] {
                char byte = 0;
                [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[0], &byte, 1);
                stopNotifier->setEnabled(false);
                qCInfo(lcShell) << "stop signal received: stopping";
                systemd.stopping();
                service.stop();
            });
            QCoreApplication::exit(kExitOk);
        });
    } else {
        qCWarning(lcShell) << "no signal pipe: SIGINT/SIGTERM end the process without a clean stop";
    }
#endif

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
#ifdef Q_OS_UNIX
    stopNotifier.reset();
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    ::close(g_signalPipe[0]);
    ::close(g_signalPipe[1]);
#endif
    qCInfo(lcShell) << "stopped";
    return code;
}

} // namespace kavelo::shell
