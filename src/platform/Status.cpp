#include "platform/Status.h"

namespace kavelo::platform {

QString Status::message() const
{
    if (!m_failure) {
        return {};
    }
    const Failure& f = *m_failure;
    if (f.master.isEmpty() && f.terminal.isEmpty()) {
        return detail();
    }
    const QString subject = f.master.isEmpty()     ? QStringLiteral("terminal ") + f.terminal
                            : f.terminal.isEmpty() ? f.master
                                                   : f.master + QStringLiteral(", terminal ") + f.terminal;
    return subject + QStringLiteral(": ") + detail();
}

QString Status::detail() const
{
    if (!m_failure) {
        return {};
    }
    const Failure& f = *m_failure;
    QString text = f.context;
    if (!f.file.isEmpty()) {
        text += f.file;
        if (f.line > 0) {
            text += QStringLiteral(", line ") + QString::number(f.line);
        }
        text += QStringLiteral(": ");
    }
    if (!f.action.isEmpty()) {
        text += f.action + QStringLiteral(": ");
    }
    return text + f.reason;
}

Status Status::prefixed(const QString& context) const
{
    if (!m_failure) {
        return *this;
    }
    Failure failure = *m_failure;
    failure.context.prepend(context);
    return Status(std::move(failure));
}

Status Status::about(const QString& master, const QString& terminal) const
{
    if (!m_failure) {
        return *this;
    }
    Failure failure = *m_failure;
    failure.master = master;
    failure.terminal = terminal;
    return Status(std::move(failure));
}

} // namespace kavelo::platform
