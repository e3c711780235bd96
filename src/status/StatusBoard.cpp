#include "status/StatusBoard.h"

#include "exchange/FolderTree.h"

namespace kavelo::status {

FileKind fileKindOf(const QString& name)
{
    if (name == QLatin1String("S_HACH.dat")) {
        return FileKind::Order;
    }
    if (name == QLatin1String("S_TANA.dat")) {
        return FileKind::Stocktaking;
    }
    if (name == QLatin1String("CTRL.csv")) {
        return FileKind::Control;
    }
    return FileKind::Other;
}

const char* fileKindName(FileKind kind)
{
    switch (kind) {
    case FileKind::Order:
        return "order";
    case FileKind::Stocktaking:
        return "stocktaking";
    case FileKind::Control:
        return "control";
    case FileKind::Other:
        break;
    }
    return "other";
}

StatusBoard::StatusBoard(QObject* parent)
    : QObject(parent)
{
}

TerminalRecord& StatusBoard::terminal(int terminalNo)
{
    TerminalRecord& record = m_terminals[terminalNo];
    record.terminal = terminalNo;
    record.lastSeen = QDateTime::currentDateTime();
    return record;
}

void StatusBoard::sessionStarted(int terminalNo, const QString&, const QString&)
{
    ++m_counters.sessions;
    terminal(terminalNo);
}

void StatusBoard::uploadFinished(int terminalNo, const QString& name, qint64 bytes, const platform::Status& outcome)
{
    TerminalRecord& record = terminal(terminalNo);
    record.lastUpload = UploadRecord{name, bytes, record.lastSeen, outcome.isOk()};
    const FileKind fileKind = fileKindOf(name);
    const auto kind = static_cast<int>(fileKind);
    if (outcome.isOk()) {
        if (fileKind == FileKind::Order || fileKind == FileKind::Stocktaking) {
            m_lastDataUploads[terminalNo] = record.lastSeen;
        }
        ++m_counters.uploadsSaved[kind];
        m_counters.bytesReceived[kind] += bytes;
    } else {
        ++m_counters.uploadsFailed[kind];
        if (outcome.kind() == platform::Status::Kind::NoSpace) {
            ++m_counters.uploadsNoSpace;
        }
    }
}

void StatusBoard::getFinished(int terminalNo, int files, qint64 bytes, qint64 wireBytes)
{
    TerminalRecord& record = terminal(terminalNo);
    record.lastGet = GetRecord{files, bytes, wireBytes, record.lastSeen};
    m_counters.mastersSent += files;
    m_counters.bytesSent += bytes;
    m_counters.wireBytesSent += wireBytes;
}

void StatusBoard::sessionFailed(int terminalNo, const platform::Status& told)
{
    const QDateTime now = QDateTime::currentDateTime();
    // A connection that never said a valid HELLO has no terminal record, only the failure.
    addFailure(now, told.about(QString(), terminalNo > 0 ? exchange::FolderTree::terminalId(terminalNo) : QString()));
    if (terminalNo <= 0) {
        return;
    }
    TerminalRecord& record = terminal(terminalNo);
    record.lastError = told;
    record.lastErrorAt = record.lastSeen;
}

void StatusBoard::pollFinished(const distribution::PollReport& report, const QDateTime& at)
{
    m_poll.lastRun = at;
    m_poll.results.clear();
    m_poll.failure = report.failure;
    std::map<UpdateFileKey, int> failing;
    for (const distribution::PollEntry& entry : report.entries) {
        m_poll.results.push_back(
            PollResult{static_cast<int>(entry.terminalNo), entry.master, entry.ok, entry.summary, entry.failure});
        ++(entry.ok ? m_counters.updatesApplied : m_counters.updatesFailed);
        if (!entry.ok) {
            addFailure(at, entry.failure);
            const UpdateFileKey key{static_cast<int>(entry.terminalNo), entry.master};
            const auto before = m_poll.failingPolls.find(key);
            failing[key] = before == m_poll.failingPolls.end() ? 1 : before->second + 1;
        }
    }
    m_poll.failingPolls = std::move(failing); // a file applied, or gone, is failing no more
    if (!report.failure.isOk()) {
        addFailure(at, report.failure);
    }
    ++(report.allOk() ? m_counters.pollsOk : m_counters.pollsFailed);
    if (report.allOk()) {
        m_poll.lastSuccess = at;
    }
}

void StatusBoard::importFinished(const jobs::ImportOutcome& outcome, const QDateTime& at)
{
    const QDateTime lastSuccess = outcome.ok() ? at : m_imports.value(outcome.master).lastSuccess;
    m_imports[outcome.master] =
        ImportRecord{outcome.master, at, lastSuccess, outcome.ok(), outcome.summary, outcome.status};
    ++(outcome.ok() ? m_counters.importsOk : m_counters.importsFailed);
    if (!outcome.ok()) {
        addFailure(at, outcome.status);
    }
}

void StatusBoard::settingsReloaded(const QDateTime& at, const QStringList& restartNeeded)
{
    m_settings.readAt = at;
    m_settings.lastReload = at;
    m_settings.lastReloadOk = true;
    m_settings.error.clear();
    m_settings.errorJapanese.clear();
    m_settings.errorFile.clear();
    m_settings.errorLine = 0;
    m_settings.restartNeeded = restartNeeded;
    ++m_settings.reloadsOk;
}

void StatusBoard::settingsRefused(
    const QDateTime& at, const QString& error, const QString& japanese, const QString& file, qint64 line)
{
    m_settings.lastReload = at;
    m_settings.lastReloadOk = false;
    m_settings.error = error;
    m_settings.errorJapanese = japanese;
    m_settings.errorFile = file;
    m_settings.errorLine = line;
    ++m_settings.reloadsFailed;
}

void StatusBoard::uploadsFiled(const std::map<int, QDateTime>& newest)
{
    for (const auto& [terminal, at] : newest) {
        QDateTime& known = m_lastDataUploads[terminal];
        if (!known.isValid() || at > known) {
            known = at;
        }
    }
}

void StatusBoard::addFailure(const QDateTime& at, const platform::Status& failure)
{
    ++m_counters.errors;
    m_failures.push_back(Failure{at, failure});
    while (m_failures.size() > kKeptFailures) {
        m_failures.pop_front();
    }
}

} // namespace kavelo::status
