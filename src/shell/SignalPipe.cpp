#include "shell/SignalPipe.h"

#include "platform/Guarded.h"
#include "platform/Log.h"

#include <QSocketNotifier>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace kavelo::shell {

#ifdef Q_OS_UNIX

namespace {

// The pair of the one pipe of the process: [0] read by the loop, [1] written by the handler.
int g_pair[2] = {-1, -1};

extern "C" void onSignal(int signalNumber)
{
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    // A full pair (the loop is far behind) loses nothing that matters: the signal is there already, waiting.
    [[maybe_unused]] const ssize_t written = ::write(g_pair[1], &byte, 1);
    errno = saved;
}

} // namespace

SignalPipe::SignalPipe(const QList<int>& signalNumbers, QObject* parent)
    : QObject(parent)
    , m_signals(signalNumbers)
{
    Q_ASSERT(g_pair[0] < 0);
    if (g_pair[0] >= 0 || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pair) != 0) {
        qCWarning(lcShell) << "no signal pipe: signals keep their default handling";
        return;
    }
    // Neither end may block: not the handler in a storm, nor the loop reading what is there.
    for (int fd : g_pair) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : m_signals) {
        sigaction(signalNumber, &action, nullptr);
    }
    m_notifier = std::make_unique<QSocketNotifier>(g_pair[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        platform::guarded(lcShell, "taking a signal", [this] { drain(); });
    });
}

SignalPipe::~SignalPipe()
{
    if (!m_notifier) {
        return;
    }
    for (int signalNumber : m_signals) {
        signal(signalNumber, SIG_DFL);
    }
    m_notifier.reset();
    ::close(g_pair[0]);
    ::close(g_pair[1]);
    g_pair[0] = g_pair[1] = -1;
}

void SignalPipe::drain()
{
    QList<int> arrived;
    unsigned char bytes[256];
    for (;;) {
        const ssize_t got = ::read(g_pair[0], bytes, sizeof(bytes));
        if (got <= 0) {
            break; // EAGAIN: all read
        }
        for (ssize_t i = 0; i < got; ++i) {
            if (!arrived.contains(bytes[i])) {
                arrived << bytes[i];
            }
        }
    }
    if (!arrived.isEmpty()) {
        Q_EMIT received(arrived);
    }
}

#else

SignalPipe::SignalPipe(const QList<int>& signalNumbers, QObject* parent)
    : QObject(parent)
    , m_signals(signalNumbers)
{
}

SignalPipe::~SignalPipe() = default;

void SignalPipe::drain() {}

#endif

} // namespace kavelo::shell
