#ifndef KAVELO_PLATFORM_STATUS_H
#define KAVELO_PLATFORM_STATUS_H

#include <QString>

#include <memory>
#include <optional>
#include <utility>

namespace kavelo::platform {

// What went wrong, as the fields a caller needs. Each field is empty (line 0) when it does not apply.
struct Failure
{
    QString master;   // the master concerned ("SHOMAS")
    QString terminal; // the terminal concerned ("0007")
    QString context;  // text put in front by Status::prefixed ("staging SHOMAS.csv for terminal 0003: ")
    QString file;     // the file concerned
    qint64 line = 0;  // 1-based line of that file
    QString action;   // what failed there ("cannot open for reading", "write failed")
    QString reason;   // why: the system's words ("No space left on device") or the engine's
    // Where a caller acts on the kind of a failure (a terminal is told that the PC's disk is full).
    enum class Kind
    {
        Other,
        NoSpace, // the disk or the user's quota is full
    };
    Kind kind = Kind::Other;
};

// Outcome of a fallible operation: ok, or a Failure. message() makes the one text of a failure from its fields,
// "SHOMAS, terminal 0007: <context><file>, line 12: <action>: <reason>", for the log and for whoever shows no more
// than a sentence; a caller that shows more (a window, a page) reads the fields.
class [[nodiscard]] Status
{
  public:
    using Kind = Failure::Kind;

    Status() = default;

    static Status ok() { return Status(); }
    // A failure told by its reason alone (which may already name its file).
    static Status error(QString reason, Kind kind = Kind::Other)
    {
        Failure failure;
        failure.reason = std::move(reason);
        failure.kind = kind;
        return Status(std::move(failure));
    }
    // "FILE: reason", or "FILE: action: reason".
    static Status fileError(QString file, QString reason, QString action = {}, Kind kind = Kind::Other)
    {
        Failure failure;
        failure.file = std::move(file);
        failure.action = std::move(action);
        failure.reason = std::move(reason);
        failure.kind = kind;
        return Status(std::move(failure));
    }
    // "FILE, line N: reason".
    static Status lineError(QString file, qint64 line, QString reason)
    {
        Failure failure;
        failure.file = std::move(file);
        failure.line = line;
        failure.reason = std::move(reason);
        return Status(std::move(failure));
    }
    static Status failed(Failure failure) { return Status(std::move(failure)); }

    bool isOk() const { return !m_failure; }
    // The fields of the failure; all empty when ok.
    const Failure& failure() const
    {
        static const Failure kNone;
        return m_failure ? *m_failure : kNone;
    }
    const QString& file() const { return failure().file; }
    qint64 line() const { return failure().line; }
    const QString& reason() const { return failure().reason; }
    Kind kind() const { return failure().kind; }

    // The failure as one text; empty when ok.
    QString message() const;
    // The same without its master and terminal, for a caller that names them itself.
    QString detail() const;

    // Returns this failure with text put in front of everything but its master and terminal.
    Status prefixed(const QString& context) const;
    // Returns this failure as one of the given master and terminal.
    Status about(const QString& master, const QString& terminal) const;

  private:
    explicit Status(Failure failure)
        : m_failure(std::make_shared<const Failure>(std::move(failure)))
    {
    }

    // Shared and never changed once made: a Status is copied freely, and the ok one costs a null pointer.
    std::shared_ptr<const Failure> m_failure;
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
