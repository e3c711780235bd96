#ifndef KAVELO_SHELL_SIGNALPIPE_H
#define KAVELO_SHELL_SIGNALPIPE_H

#include <QList>
#include <QObject>

#include <memory>

class QSocketNotifier;

namespace kavelo::shell {

// Unix signals (SIGTERM, SIGHUP ...) brought onto the event loop: the handler does nothing but write() the signal's
// number into a socket pair, whose other end the loop watches. Signals that come faster than the loop looks are
// taken together, each once: a storm of SIGHUPs is one reload. One pipe at a time in a process (the handler can
// reach no object, only the pair's end); while it lives its signals never end the process by themselves. Where
// there are no such signals, or the pair cannot be made, it is not open and nothing arrives.
class SignalPipe : public QObject
{
    Q_OBJECT

  public:
    explicit SignalPipe(const QList<int>& signalNumbers, QObject* parent = nullptr);
    // The signals get their default handling back.
    ~SignalPipe() override;

    SignalPipe(const SignalPipe&) = delete;
    SignalPipe& operator=(const SignalPipe&) = delete;

    bool isOpen() const { return m_notifier != nullptr; }

  Q_SIGNALS:
    // The signals that arrived since the loop last looked, each once, in the order of their first arrival.
    void received(const QList<int>& signalNumbers);

  private:
    void drain();

    QList<int> m_signals;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace kavelo::shell

#endif
