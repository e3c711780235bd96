#ifndef KAVELO_PLATFORM_STATUS_H
#define KAVELO_PLATFORM_STATUS_H

#include <QString>

#include <optional>
#include <utility>

namespace kavelo::platform {

// Outcome of a fallible operation. The message names the file (and line, where there is one) and the reason,
// so that the handler that finally reports it needs to add nothing.
class [[nodiscard]] Status
{
public:
    // The kind of a failure, where a caller acts on it (a terminal is told that the PC's disk is full).
    enum class Kind
    {
        Other,
        NoSpace, // the disk or the user's quota is full
    };

    Status() = default;

    static Status ok() { return Status(); }
    static Status error(QString message, Kind kind = Kind::Other) { return Status(std::move(message), kind); }

    bool isOk() const { return !m_message.has_value(); }
    Kind kind() const { return m_kind; }
    const QString& message() const
    {
        static const QString kEmpty;
        return m_message ? *m_message : kEmpty;
    }

    // Returns this error with context put in front ("SHOMAS, terminal 0007: " + message).
    Status prefixed(const QString& context) const
    {
        return isOk() ? *this : Status(context + *m_message, m_kind);
    }

private:
    Status(QString message, Kind kind)
        : m_message(std::move(message))
        , m_kind(kind)
    {
    }

    std::optional<QString> m_message;
    Kind m_kind = Kind::Other;
};

// A value or an error, shaped like std::expected.
template <typename T> class [[nodiscard]] Result
{
public:
    Result(T value)
        : m_value(std::move(value))
    {
    }
    Result(Status status)
        : m_status(std::move(status))
    {
        Q_ASSERT(!m_status.isOk());
    }

    bool isOk() const { return m_value.has_value(); }
    const Status& status() const { return m_status; }
    T& value() { return *m_value; }
    const T& value() const { return *m_value; }
    T& operator*() { return *m_value; }
    const T& operator*() const { return *m_value; }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }

private:
    std::optional<T> m_value;
    Status m_status;
};

} // namespace kavelo::platform

#endif
