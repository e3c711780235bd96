#include "status/StatusReport.h"

namespace kavelo::status {

namespace {

// One metric family in the text exposition format: its HELP and TYPE lines, then its samples.
class Exposition
{
  public:
    void family(const char* name, const char* type, const char* help)
    {
        m_text += QByteArrayLiteral("# HELP kavelo_") + name + ' ' + help + '\n';
        m_text += QByteArrayLiteral("# TYPE kavelo_") + name + ' ' + type + '\n';
        m_name = name;
    }
    void sample(qint64 value, const QByteArray& labels = {})
    {
        m_text += QByteArrayLiteral("kavelo_") + m_name + (labels.isEmpty() ? QByteArray() : '{' + labels + '}') +
                  ' ' + QByteArray::number(value) + '\n';
    }
    void timestamp(const QDateTime& at)
    {
        // Seconds since the epoch; 0 when it has not happened yet.
        sample(at.isValid() ? at.toSecsSinceEpoch() : 0);
    }
    const QByteArray& text() const { return m_text; }

  private:
    QByteArray m_text;
    QByteArray m_name;
};

QByteArray kindLabel(int kind, const char* extra = nullptr)
{
    QByteArray label = QByteArrayLiteral("kind=\"") + fileKindName(static_cast<FileKind>(kind)) + '"';
    if (extra) {
        label += ',' + QByteArray(extra);
    }
    return label;
}

} // namespace

QByteArray metricsText(const StatusBoard& board, const LiveState& live)
{
    const Counters& c = board.counters();
    Exposition e;
    e.family("sessions_total", "counter", "Terminal sessions started (past HELLO).");
    e.sample(c.sessions);
    e.family("uploads_total", "counter", "Files received from terminals, by kind and outcome.");
    for (int kind = 0; kind < kFileKinds; ++kind) {
        e.sample(c.uploadsSaved[kind], kindLabel(kind, "outcome=\"saved\""));
        e.sample(c.uploadsFailed[kind], kindLabel(kind, "outcome=\"failed\""));
    }
    e.family("received_bytes_total", "counter", "Bytes of the files received and saved, by kind.");
    for (int kind = 0; kind < kFileKinds; ++kind) {
        e.sample(c.bytesReceived[kind], kindLabel(kind));
    }
    e.family("masters_sent_total", "counter", "Master files sent to terminals.");
    e.sample(c.mastersSent);
    e.family("sent_bytes_total", "counter", "Bytes of the master files sent to terminals.");
    e.sample(c.bytesSent);
    e.family("sent_wire_bytes_total", "counter", "Bytes on the wire for the master files sent (less when compressed).");
    e.sample(c.wireBytesSent);
    e.family("update_files_total", "counter", "Master update files the poll applied or failed to apply.");
    e.sample(c.updatesApplied, QByteArrayLiteral("outcome=\"applied\""));
    e.sample(c.updatesFailed, QByteArrayLiteral("outcome=\"failed\""));
    e.family("imports_total", "counter", "Host master imports, by outcome.");
    e.sample(c.importsOk, QByteArrayLiteral("outcome=\"ok\""));
    e.sample(c.importsFailed, QByteArrayLiteral("outcome=\"failed\""));
    e.family("errors_total", "counter", "Failures logged (warnings and errors).");
    e.sample(c.errors);
    e.family("auth_failures_total", "counter", "Wrong terminal keys presented (over HTTPS or in a HELLO).");
    e.sample(live.authFailures);
    e.family("open_sessions", "gauge", "Terminal sessions open now.");
    e.sample(static_cast<qint64>(live.sessions.size()));
    e.family("listening", "gauge", "1 while the server listens for terminals.");
    e.sample(live.listening ? 1 : 0);
    e.family("serial_line_open", "gauge", "1 while the serial line is open; 0 when it is not, or none is served.");
    e.sample(live.serial && live.serial->open ? 1 : 0);
    e.family("https_serving", "gauge", "1 while the terminals' HTTPS endpoint serves; 0 when it cannot, or is off.");
    e.sample(live.https && live.https->serving ? 1 : 0);
    e.family("enrolled_terminals", "gauge", "Terminals with a key.");
    e.sample(static_cast<qint64>(live.keys.size()));
    e.family("held_off_addresses", "gauge", "Addresses held off now for guessing keys.");
    e.sample(static_cast<qint64>(live.heldOff.size()));
    e.family("last_poll_timestamp_seconds", "gauge", "When the last master poll ran (0: not yet).");
    e.timestamp(board.poll().lastRun);
    e.family("last_successful_poll_timestamp_seconds", "gauge", "When the last master poll without a failure ran.");
    e.timestamp(board.poll().lastSuccess);
    e.family("start_time_seconds", "gauge", "When the service started.");
    e.timestamp(live.startedAt);
    return e.text();
}

} // namespace kavelo::status
