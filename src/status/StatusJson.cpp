#include "status/StatusReport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace kavelo::status {

QString isoTime(const QDateTime& at)
{
    if (!at.isValid()) {
        return {};
    }
    const int offset = at.offsetFromUtc();
    const int minutes = qAbs(offset) / 60;
    return at.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QStringLiteral("%1%2:%3")
               .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

namespace {

QJsonValue timeOrNull(const QDateTime& at)
{
    return at.isValid() ? QJsonValue(isoTime(at)) : QJsonValue(QJsonValue::Null);
}

QJsonValue textOrNull(const QString& text)
{
    return text.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(text);
}

// The fields of a failure beside its text: `error` (the text, naming master, file and line), `file`, `line` and
// `reason` (the system's words), each null when it does not apply.
void addFailure(QJsonObject& object, const platform::Status& failure)
{
    object[QStringLiteral("error")] = textOrNull(failure.message());
    object[QStringLiteral("file")] = textOrNull(failure.file());
    object[QStringLiteral("line")] = failure.line() > 0 ? QJsonValue(failure.line()) : QJsonValue(QJsonValue::Null);
    object[QStringLiteral("reason")] = textOrNull(failure.reason());
}

QJsonObject work(const LiveState& live)
{
    const jobs::RunnerState& w = live.work;
    QJsonValue import = QJsonValue::Null;
    if (!w.importMaster.isEmpty()) {
        import = QJsonObject{{QStringLiteral("master"), w.importMaster},
                             {QStringLiteral("waiting"), w.importWaiting},
                             { QStringLiteral("percent"),
                               w.importPercent >= 0 ? QJsonValue(w.importPercent) : QJsonValue(QJsonValue::Null) }};
    }
    return QJsonObject{{QStringLiteral("pollRunning"), w.pollRunning},
                       {QStringLiteral("pollTerminal"),
                        w.pollTerminal > 0 ? QJsonValue(w.pollTerminal) : QJsonValue(QJsonValue::Null)},
                       {QStringLiteral("pollMaster"), textOrNull(w.pollMaster)},
                       {QStringLiteral("import"), import}};
}

QJsonArray sessions(const LiveState& live)
{
    QJsonArray array;
    for (const SessionView& session : live.sessions) {
        array.append(QJsonObject{{QStringLiteral("terminal"), session.terminal},
                                 {QStringLiteral("transport"), session.transport},
                                 {QStringLiteral("peer"), session.peer},
                                 {QStringLiteral("since"), timeOrNull(session.since)},
                                 {QStringLiteral("doing"), session.activity}});
    }
    return array;
}

QJsonArray terminals(const StatusBoard& board)
{
    QJsonArray array;
    for (const TerminalRecord& t : board.terminals()) {
        QJsonObject record{{QStringLiteral("terminal"), t.terminal},
                           {QStringLiteral("lastSeen"), timeOrNull(t.lastSeen)},
                           {QStringLiteral("lastUpload"), QJsonValue::Null},
                           {QStringLiteral("lastGet"), QJsonValue::Null},
                           {QStringLiteral("lastError"), textOrNull(t.lastError.detail())},
                           {QStringLiteral("lastErrorAt"), timeOrNull(t.lastErrorAt)}};
        if (t.lastUpload) {
            record[QStringLiteral("lastUpload")] = QJsonObject{{QStringLiteral("name"), t.lastUpload->name},
                                                               {QStringLiteral("bytes"), t.lastUpload->bytes},
                                                               {QStringLiteral("at"), timeOrNull(t.lastUpload->at)},
                                                               {QStringLiteral("ok"), t.lastUpload->ok}};
        }
        if (t.lastGet) {
            record[QStringLiteral("lastGet")] = QJsonObject{{QStringLiteral("files"), t.lastGet->files},
                                                            {QStringLiteral("bytes"), t.lastGet->bytes},
                                                            {QStringLiteral("wireBytes"), t.lastGet->wireBytes},
                                                            {QStringLiteral("at"), timeOrNull(t.lastGet->at)}};
        }
        array.append(record);
    }
    return array;
}

QJsonObject poll(const StatusBoard& board)
{
    const PollRecord& poll = board.poll();
    QJsonArray results;
    for (const PollResult& r : poll.results) {
        QJsonObject result{{QStringLiteral("terminal"), r.terminal},
                           {QStringLiteral("master"), r.master},
                           {QStringLiteral("ok"), r.ok},
                           {QStringLiteral("linesRead"), r.counts.linesRead},
                           {QStringLiteral("rowsAdded"), r.counts.rowsAdded},
                           {QStringLiteral("rowsReplaced"), r.counts.rowsReplaced},
                           {QStringLiteral("rowsExported"), r.counts.rowsExported}};
        addFailure(result, r.failure);
        results.append(result);
    }
    return QJsonObject{{QStringLiteral("lastRun"), timeOrNull(poll.lastRun)},
                       {QStringLiteral("lastSuccess"), timeOrNull(poll.lastSuccess)},
                       {QStringLiteral("nextRun"), timeOrNull(poll.nextRun)},
                       {QStringLiteral("error"), textOrNull(poll.failure.message())},
                       {QStringLiteral("results"), results}};
}

QJsonObject imports(const StatusBoard& board)
{
    QJsonObject object;
    for (const ImportRecord& i : board.imports()) {
        QJsonObject record{{QStringLiteral("at"), timeOrNull(i.at)},
                           {QStringLiteral("ok"), i.ok},
                           {QStringLiteral("recordsRead"), i.counts.recordsRead},
                           {QStringLiteral("replaced"), i.counts.replaced},
                           {QStringLiteral("deleted"), i.counts.deleted},
                           {QStringLiteral("skipped"), i.counts.skipped}};
        addFailure(record, i.failure);
        object[i.master] = record;
    }
    return object;
}

QJsonValue https(const LiveState& live)
{
    if (!live.https) {
        return QJsonValue::Null;
    }
    return QJsonObject{{QStringLiteral("port"), live.https->port},
                       {QStringLiteral("serving"), live.https->serving},
                       {QStringLiteral("problem"), textOrNull(live.https->problem)},
                       {QStringLiteral("sha256"), textOrNull(live.https->fingerprint)}};
}

QJsonObject keys(const LiveState& live)
{
    QJsonArray enrolled;
    for (const KeyView& key : live.keys) {
        enrolled.append(QJsonObject{{QStringLiteral("terminal"), key.terminal},
                                    {QStringLiteral("enrolledAt"), timeOrNull(key.enrolledAt)},
                                    {QStringLiteral("lastUsed"), timeOrNull(key.lastUsed)},
                                    {QStringLiteral("over"), textOrNull(key.protocol)}});
    }
    QJsonArray heldOff;
    for (const HeldOffView& held : live.heldOff) {
        heldOff.append(
            QJsonObject{{QStringLiteral("address"), held.address}, {QStringLiteral("until"), timeOrNull(held.until)}});
    }
    return QJsonObject{{QStringLiteral("enrolled"), enrolled},
                       {QStringLiteral("problem"), textOrNull(live.keysProblem)},
                       {QStringLiteral("heldOff"), heldOff},
                       {QStringLiteral("failures"), live.authFailures}};
}

QJsonValue disk(const LiveState& live)
{
    if (live.diskSizeBytes <= 0) {
        return QJsonValue::Null;
    }
    return QJsonObject{{QStringLiteral("freeBytes"), live.diskFreeBytes},
                       {QStringLiteral("sizeBytes"), live.diskSizeBytes},
                       {QStringLiteral("minFreeBytes"), live.minFreeBytes},
                       {QStringLiteral("refusingUploads"), live.refusingUploads}};
}

QJsonObject settings(const StatusBoard& board)
{
    const SettingsRecord& s = board.settings();
    QJsonValue reload = QJsonValue::Null;
    if (s.lastReload.isValid()) {
        reload = QJsonObject{
            {QStringLiteral("at"), timeOrNull(s.lastReload)},
            {QStringLiteral("ok"), s.lastReloadOk},
            {QStringLiteral("error"), textOrNull(s.error)},
            {QStringLiteral("file"), textOrNull(s.errorFile)},
            {QStringLiteral("line"), s.errorLine > 0 ? QJsonValue(s.errorLine) : QJsonValue(QJsonValue::Null)}};
    }
    return QJsonObject{{QStringLiteral("readAt"), timeOrNull(s.readAt)},
                       {QStringLiteral("lastReload"), reload},
                       {QStringLiteral("restartNeeded"), QJsonArray::fromStringList(s.restartNeeded)}};
}

QJsonArray failures(const StatusBoard& board)
{
    QJsonArray array;
    for (auto it = board.failures().rbegin(); it != board.failures().rend(); ++it) { // newest first
        const platform::Failure& f = it->failure.failure();
        QJsonObject failure{{QStringLiteral("at"), timeOrNull(it->at)},
                            {QStringLiteral("text"), it->failure.message()},
                            {QStringLiteral("master"), textOrNull(f.master)},
                            {QStringLiteral("terminal"), textOrNull(f.terminal)}};
        addFailure(failure, it->failure);
        failure.remove(QStringLiteral("error")); // the same as `text`
        array.append(failure);
    }
    return array;
}

} // namespace

QByteArray statusJson(const StatusBoard& board, const LiveState& live)
{
    QJsonValue serial = QJsonValue::Null;
    if (live.serial) {
        serial = QJsonObject{{QStringLiteral("port"), live.serial->port},
                             {QStringLiteral("kind"), live.serial->kind},
                             {QStringLiteral("open"), live.serial->open},
                             {QStringLiteral("problem"), textOrNull(live.serial->problem)}};
    }
    const QJsonObject status{
        {QStringLiteral("version"), live.version},
        {QStringLiteral("startedAt"), timeOrNull(live.startedAt)},
        {QStringLiteral("programFolder"), live.programFolder},
        {QStringLiteral("listening"), live.listening},
        {QStringLiteral("ip"),
         QJsonObject{{QStringLiteral("address"), live.ipAddress},
                     {QStringLiteral("port"), live.ipPort},
                     {QStringLiteral("bound"), live.ipBound},
                     {QStringLiteral("problem"), textOrNull(live.ipProblem)}}},
        {QStringLiteral("serial"), serial},
        {QStringLiteral("disk"), disk(live)},
        {QStringLiteral("settings"), settings(board)},
        {QStringLiteral("https"), https(live)},
        {QStringLiteral("keys"), keys(live)},
        {QStringLiteral("sessions"), sessions(live)},
        {QStringLiteral("work"), work(live)},
        {QStringLiteral("terminals"), terminals(board)},
        {QStringLiteral("poll"), poll(board)},
        {QStringLiteral("imports"), imports(board)},
        {QStringLiteral("errors"), failures(board)},
    };
    return QJsonDocument(status).toJson(QJsonDocument::Indented);
}

} // namespace kavelo::status
