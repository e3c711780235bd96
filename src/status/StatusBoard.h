#ifndef KAVELO_STATUS_STATUSBOARD_H
#define KAVELO_STATUS_STATUSBOARD_H

#include "distribution/MasterPoll.h"
#include "jobs/Outcomes.h"
#include "platform/Status.h"
#include "wire/TransferObserver.h"

#include <QDateTime>
#include <QMap>
#include <QObject>
#include <QString>

#include <deque>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace kavelo::status {

// The kinds of file a terminal sends, as the metrics count them.
enum class FileKind
{
    Order,       // S_HACH.dat
    Stocktaking, // S_TANA.dat
    Control,     // CTRL.csv
    Other,
};
FileKind fileKindOf(const QString& name);
const char* fileKindName(FileKind kind); // "order", "stocktaking", "control", "other"
constexpr int kFileKinds = 4;

struct UploadRecord
{
    QString name;
    qint64 bytes = 0;
    QDateTime at;
    bool ok = false;
};

struct GetRecord
{
    int files = 0;
    qint64 bytes = 0;
    qint64 wireBytes = 0;
    QDateTime at;
};

struct TerminalRecord
{
    int terminal = 0;
    QDateTime lastSeen;
    std::optional<UploadRecord> lastUpload;
    std::optional<GetRecord> lastGet;
    platform::Status lastError; // what it was last told of a failure ("ERR crc32 mismatch"); ok: nothing yet
    QDateTime lastErrorAt;
};

struct PollResult
{
    int terminal = 0;
    QString master; // "SHOMAS"
    bool ok = false;
    distribution::UpdateSummary counts;
    platform::Status failure; // the file, line and reason; ok when ok
};

// An update file by its terminal and master.
using UpdateFileKey = std::pair<int, QString>;

struct PollRecord
{
    QDateTime lastRun;     // null: no poll yet
    QDateTime lastSuccess; // the last poll in which nothing failed
    QDateTime nextRun;
    std::vector<PollResult> results; // of the last poll, one per update file
    platform::Status failure;        // the last poll itself failed (not one of its files)
    // The update files that failed in the last poll, with the number of polls in a row they have failed in.
    std::map<UpdateFileKey, int> failingPolls;
};

struct ImportRecord
{
    QString master;
    QDateTime at;
    QDateTime lastSuccess; // null: none since start-up
    bool ok = false;
    import::ImportSummary counts;
    platform::Status failure;
};

// KAVELO.ini as the service reads it: at start-up, and again at each reload (SIGHUP).
struct SettingsRecord
{
    QDateTime readAt;     // when the settings in force were read: start-up, or the last reload that took
    QDateTime lastReload; // the last reload asked for; null: none since start-up
    bool lastReloadOk = true;
    QString error;         // why the last reload was refused (the file and line), in English; empty when it took
    QString errorJapanese; // the same for the operator
    QString errorFile;
    qint64 errorLine = 0;      // 0: the file as a whole
    QStringList restartNeeded; // keys set differently in the file that take effect only at the next start
    qint64 reloadsOk = 0;
    qint64 reloadsFailed = 0;
};

// A failed outcome: an update, an import, a poll, or a terminal told ERR.
struct Failure
{
    QDateTime at;
    platform::Status failure;
};

struct Counters
{
    qint64 sessions = 0;
    qint64 uploadsSaved[kFileKinds] = {};
    qint64 uploadsFailed[kFileKinds] = {};
    qint64 bytesReceived[kFileKinds] = {};
    qint64 mastersSent = 0;
    qint64 bytesSent = 0;     // of the masters themselves
    qint64 wireBytesSent = 0; // on the wire (less with GET deflate)
    qint64 pollsOk = 0;
    qint64 pollsFailed = 0; // a poll in which any update file failed
    qint64 updatesApplied = 0;
    qint64 updatesFailed = 0;
    qint64 importsOk = 0;
    qint64 importsFailed = 0;
    qint64 errors = 0;         // failed outcomes, as in the failures kept
    qint64 uploadsNoSpace = 0; // uploads not stored for lack of room: refused below MinFreeBytes, or the disk full
};

// What the running service has done since it started, for the status page and the metrics: terminals seen, the
// last poll, the last import of each master, the last failures, and counts. Fed by direct calls on the event
// loop's thread with the outcome of each event (the server as its TransferObserver, the service after a poll or
// an import): it counts outcomes, not log lines.
class StatusBoard : public QObject, public wire::TransferObserver
{
    Q_OBJECT

  public:
    static constexpr int kKeptFailures = 50;

    explicit StatusBoard(QObject* parent = nullptr);

    // wire::TransferObserver.
    void sessionStarted(int terminalNo, const QString& transport, const QString& peer) override;
    void uploadFinished(int terminalNo, const QString& name, qint64 bytes, const platform::Status& outcome) override;
    void getFinished(int terminalNo, int files, qint64 bytes, qint64 wireBytes) override;
    void sessionFailed(int terminalNo, const platform::Status& told) override;

    // The settings were read at start-up.
    void settingsRead(const QDateTime& at) { m_settings.readAt = at; }
    // A reload took: the settings in force are the file's, but for `restartNeeded` (changed, not yet in force).
    void settingsReloaded(const QDateTime& at, const QStringList& restartNeeded);
    // A reload was refused: the settings in force stay. `error` in English, `japanese` for the operator.
    void settingsRefused(
        const QDateTime& at, const QString& error, const QString& japanese, const QString& file, qint64 line);

    void pollFinished(const distribution::PollReport& report, const QDateTime& at);
    void setNextPoll(const QDateTime& at) { m_poll.nextRun = at; }
    void importFinished(const jobs::ImportOutcome& outcome, const QDateTime& at);
    // The newest order or stocktaking file of each terminal in the backup tree, found at start-up: what the
    // terminals sent before the service started.
    void uploadsFiled(const std::map<int, QDateTime>& newest);

    const QMap<int, TerminalRecord>& terminals() const { return m_terminals; }
    const PollRecord& poll() const { return m_poll; }
    const QMap<QString, ImportRecord>& imports() const { return m_imports; }
    const std::deque<Failure>& failures() const { return m_failures; }
    const Counters& counters() const { return m_counters; }
    const SettingsRecord& settings() const { return m_settings; }
    // When each terminal last sent an order or stocktaking file that was filed, by terminal number.
    const std::map<int, QDateTime>& lastDataUploads() const { return m_lastDataUploads; }

  private:
    TerminalRecord& terminal(int terminalNo);
    void addFailure(const QDateTime& at, const platform::Status& failure);

    QMap<int, TerminalRecord> m_terminals;
    PollRecord m_poll;
    QMap<QString, ImportRecord> m_imports;
    std::deque<Failure> m_failures; // newest last
    Counters m_counters;
    std::map<int, QDateTime> m_lastDataUploads;
    SettingsRecord m_settings;
};

} // namespace kavelo::status

#endif
