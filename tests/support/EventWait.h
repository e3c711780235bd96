#ifndef KAVELO_TESTS_SUPPORT_EVENTWAIT_H
#define KAVELO_TESTS_SUPPORT_EVENTWAIT_H

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <functional>

namespace kavelo::test {

// Lets events run until `done` holds or a generous deadline passes (a safety net against a hang, not a timing
// test); returns `done()` at the end.
inline bool waitUntil(const std::function<bool()>& done, int deadlineMs = 20000)
{
    QDeadlineTimer deadline(deadlineMs);
    while (!done()) {
        if (deadline.hasExpired()) {
            return done();
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

} // namespace kavelo::test

#endif
