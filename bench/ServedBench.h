#ifndef KAVELO_BENCH_SERVEDBENCH_H
#define KAVELO_BENCH_SERVEDBENCH_H

// What the benchmarks that serve terminals in their own process share: an operator's side that shows nothing, and
// terminals on threads of their own while the event loop of this thread serves them.

#include "comm/OperatorUi.h"

#include <QEventLoop>

#include <atomic>
#include <cstdio>
#include <functional>
#include <QThread>

#include <memory>
#include <vector>

namespace kavelo::bench {

class SilentUi : public comm::OperatorUi
{
  public:
    void showMessage(const QString& text) override { std::fprintf(stderr, "message: %s\n", qPrintable(text)); }
    void setStatusLine(const QString&) override {}
    void setListenCaption(const QString&) override {}
    void setLamp(comm::Lamp) override {}
    void setCountdownCaption(const QString&) override {}
    void endProgram() override {}
    std::optional<int> chooseUsbPort(const QStringList&) override { return std::nullopt; }
};

// Runs the jobs on threads while this thread's event loop serves them.
inline void runOnThreads(const std::vector<std::function<void()>>& jobs)
{
    if (jobs.empty()) {
        return;
    }
    QEventLoop loop;
    std::atomic<int> left(static_cast<int>(jobs.size()));
    std::vector<std::unique_ptr<QThread>> threads; // QThreads: a serial port's notifiers want one
    for (const auto& job : jobs) {
        threads.emplace_back(QThread::create([&loop, &left, job] {
            job();
            if (--left == 0) {
                QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
            }
        }));
        threads.back()->start();
    }
    loop.exec();
    for (const std::unique_ptr<QThread>& thread : threads) {
        thread->wait();
    }
}

inline double seconds(qint64 ns)
{
    return static_cast<double>(ns) / 1e9;
}

} // namespace kavelo::bench

#endif
