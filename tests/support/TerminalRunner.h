#ifndef KAVELO_TESTS_SUPPORT_TERMINALRUNNER_H
#define KAVELO_TESTS_SUPPORT_TERMINALRUNNER_H

#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

namespace kavelo::test {

// Runs terminal code (blocking clients) on threads of their own while this thread's event loop serves them; returns
// when all have finished (or after `timeoutMs`, which fails the caller's expectations instead of hanging).
inline void runTerminals(const std::vector<std::function<void()>>& terminals, int timeoutMs = 60000)
{
    QEventLoop loop;
    std::atomic<int> left(static_cast<int>(terminals.size()));
    std::vector<std::unique_ptr<QThread>> threads; // QThreads: a serial port's notifiers want one
    for (const std::function<void()>& terminal : terminals) {
        threads.emplace_back(QThread::create([&loop, &left, terminal] {
            terminal();
            if (--left == 0) {
                QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
            }
        }));
        threads.back()->start();
    }
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (left > 0) {
        loop.exec();
    }
    for (const std::unique_ptr<QThread>& thread : threads) {
        thread->wait();
    }
}

inline void runTerminal(const std::function<void()>& terminal)
{
    runTerminals({terminal});
}

// Lets the event loop run for a while (a server's queued work, a timer).
inline void spin(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs a program while this thread's event loop keeps serving; its exit code, or -1 when it did not finish.
inline int runProgram(QProcess& process, const QString& program, const QStringList& args, int timeoutMs = 60000)
{
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    process.start(program, args);
    loop.exec();
    if (process.state() != QProcess::NotRunning || process.exitStatus() != QProcess::NormalExit) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitCode();
}

} // namespace kavelo::test

#endif
