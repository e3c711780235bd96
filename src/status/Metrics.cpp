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
        m_text += QByteArrayLiteral("kavelo_") + m_name + (labels.isEmpty() ? QByteArray() : '{' + labels + '}') + ' ' +
                  QByteArray::number(value) + '\n';
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

// A terminal's ID as its folders are named: terminal="0003".
QByteArray terminalLabel(int terminal)
{
    return QByteArrayLiteral("terminal=\"") + QByteArray::number(terminal).rightJustified(4, '0') + '"';
}

QByteArray kindLabel(int kind, const char* extra = nullptr)
{
    QByteArray label = QByteArrayLiteral("kind=\"") + fileKindName(static_cast<FileKind>(kind)) + '"';
    if (extra) {
        label += ',' + QByteArray(extra);
    }
    return label;
}

// What the alert rules (packaging/prometheus/kavelo-alerts.yml) ask about: when things last went well, and the disk.
void addAlertGauges(Exposition& e, const StatusBoard& board, const LiveState& live)
{
    e.family("last_poll_success_timestamp_seconds",
             "gauge",
             "When the last master poll in which every update file applied ran (0: not yet).");
    e.timestamp(board.poll().lastSuccess);
    e.family("update_file_failing_polls",
             "gauge",
             "Update files that failed in the last poll, by terminal and master: in how many polls in a row.");
    for (const auto& [file, polls] : board.poll().failingPolls) {
        e.sample(polls, terminalLabel(file.first) + ",master=\"" + file.second.toLatin1() + '"');
    }
    e.family("terminal_last_upload_timestamp_seconds",
             "gauge",
             "When each terminal last sent an order or stocktaking file that was filed (at start-up: the newest in "
             "the backup tree).");
    for (const auto& [terminal, at] : board.lastDataUploads()) {
        e.sample(at.toSecsSinceEpoch(), terminalLabel(terminal));
    }
    e.family("terminal_upload_alert_seconds",
             "gauge",
             "UploadAlertHours in seconds: how long a terminal may send nothing before it is alerted on (0: never).");
    e.sample(live.uploadAlertSeconds);
    e.family("last_import_success_timestamp_seconds",
             "gauge",
             "When each master was last imported from the host without a failure (0: not since start-up).");
    for (const ImportRecord& record : board.imports()) {
        e.sample(record.lastSuccess.isValid() ? record.lastSuccess.toSecsSinceEpoch() : 0,
                 QByteArrayLiteral("master=\"") + record.master.toLatin1() + '"');
    }
    if (live.diskSizeBytes > 0) {
        e.family(
            "filesystem_free_bytes", "gauge", "Bytes free on the program folder's file system, for KAVELO's user.");
        e.sample(live.diskFreeBytes);
        e.family("filesystem_size_bytes", "gauge", "Size of the program folder's file system in bytes.");
        e.sample(live.diskSizeBytes);
    }
    e.family("min_free_bytes", "gauge", "MinFreeBytes: an upload that would leave less free is refused (0: no check).");
    e.sample(live.minFreeBytes);
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
    e.family("polls_total", "counter", "Master polls, by outcome (failed: any update file failed).");
    e.sample(c.pollsOk, QByteArrayLiteral("outcome=\"ok\""));
    e.sample(c.pollsFailed, QByteArrayLiteral("outcome=\"failed\""));
    e.family("update_files_total", "counter", "Master update files the poll applied or failed to apply.");
    e.sample(c.updatesApplied, QByteArrayLiteral("outcome=\"applied\""));
    e.sample(c.updatesFailed, QByteArrayLiteral("outcome=\"failed\""));
    e.family("imports_total", "counter", "Host master imports, by outcome.");
    e.sample(c.importsOk, QByteArrayLiteral("outcome=\"ok\""));
    e.sample(c.importsFailed, QByteArrayLiteral("outcome=\"failed\""));
    e.family("errors_total", "counter", "Failed outcomes: update files, imports, polls, terminals told ERR.");
    e.sample(c.errors);
    e.family("uploads_no_space_total",
             "counter",
             "Uploads not stored for lack of room: refused below MinFreeBytes, or the disk full.");
    e.sample(c.uploadsNoSpace);
    e.family("settings_reloads_total", "counter", "Reloads of KAVELO.ini (SIGHUP), by outcome (failed: refused).");
    e.sample(board.settings().reloadsOk, QByteArrayLiteral("outcome=\"ok\""));
    e.sample(board.settings().reloadsFailed, QByteArrayLiteral("outcome=\"failed\""));
    e.family("settings_last_reload_ok", "gauge", "0 while the last reload of KAVELO.ini was refused, else 1.");
    e.sample(board.settings().lastReloadOk ? 1 : 0);
    e.family("settings_restart_needed", "gauge", "Settings changed in KAVELO.ini that take effect only at a restart.");
    e.sample(static_cast<qint64>(board.settings().restartNeeded.size()));
    e.family("poll_running", "gauge", "1 while a master poll runs.");
    e.sample(live.work.pollRunning ? 1 : 0);
    e.family("import_running", "gauge", "1 while a host import runs (not while it waits for the poll).");
    e.sample(live.work.importRunning() ? 1 : 0);
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
    addAlertGauges(e, board, live);
    return e.text();
}

} // namespace kavelo::status
