#ifndef KAVELO_PLATFORM_GUARDED_H
#define KAVELO_PLATFORM_GUARDED_H

#include <QLoggingCategory>
#include <QString>

#include <exception>
#include <type_traits>
#include <utility>

namespace kavelo::platform {

// A logging category as Q_DECLARE_LOGGING_CATEGORY declares it (lcComm, lcShell, ...).
using LogCategory = const QLoggingCategory& (*)();

// Runs the body of one event handler (a slot, a socket or timer callback, a command). Project code does not
// throw, but an allocation can, and an exception leaving a Qt slot is undefined: it is caught here, logged under
// `category` as "<what> failed: <reason>", and handed to `report` (the status line, a message box) when one is
// given: that text, or (a report taking two arguments) `what` and the reason, for a text of the operator's own.
// Returns false when the body threw; the caller then carries on serving.
template <typename Body, typename Report>
bool guarded(LogCategory category, const char* what, Body&& body, Report&& report)
{
    QString reason;
    try {
        std::forward<Body>(body)();
        return true;
    } catch (const std::exception& e) {
        reason = QString::fromLocal8Bit(e.what());
    } catch (...) {
        reason = QStringLiteral("unknown error");
    }
    const QString text = QStringLiteral("%1 failed: %2").arg(QLatin1String(what), reason);
    try {
        qCCritical(category).noquote() << text;
        if constexpr (std::is_invocable_v<Report, const char*, const QString&>) {
            report(what, reason);
        } else {
            report(text);
        }
    } catch (...) {
        // Nothing more can be done from inside a failing handler.
    }
    return false;
}

template <typename Body> bool guarded(LogCategory category, const char* what, Body&& body)
{
    return guarded(category, what, std::forward<Body>(body), [](const QString&) {});
}

} // namespace kavelo::platform

#endif
