#include "status/StatusReport.h"

#include "platform/Translations.h"

#include <QStringList>

namespace kavelo::status {

namespace {

// Seconds between the page's own reloads.
constexpr int kRefreshSeconds = 10;
// Below this share free, the disk is shown as a failure (the alert rules warn at the same point).
constexpr double kLowDiskShare = 0.10;

// The page's texts that come from the catalogue, in Japanese whatever the locale of the PC or the browser.
QString tr(const char* sourceText)
{
    return platform::japanese("StatusPage", sourceText);
}

QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

QString when(const QDateTime& at)
{
    return at.isValid() ? at.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) : QStringLiteral("—");
}

QString bytesText(qint64 bytes)
{
    if (bytes >= 10 * 1000 * 1000) {
        return QStringLiteral("%1 MB").arg(static_cast<double>(bytes) / 1e6, 0, 'f', 1);
    }
    if (bytes >= 10 * 1000) {
        return QStringLiteral("%1 kB").arg(static_cast<double>(bytes) / 1e3, 0, 'f', 1);
    }
    return QStringLiteral("%1 B").arg(bytes);
}

QString terminalId(int terminal)
{
    return terminal > 0 ? QStringLiteral("%1").arg(terminal, 4, 10, QLatin1Char('0')) : QStringLiteral("—");
}

// A failure as the page shows it, in Japanese from its fields: the file and line, what failed there, and why
// ("…/SHOMAS.dat 12行目: Windows-31J（シフトJIS）として読めない文字があります"); the system's reason as it comes.
QString failureText(const platform::Status& failure)
{
    return platform::japaneseDetail(failure.failure());
}

// Whom a failure concerns: "0004 SHOMAS", "0004", "SHOMAS", or "—".
QString subjectText(const platform::Status& failure)
{
    const platform::Failure& f = failure.failure();
    const QString subject = QStringList{f.terminal, f.master}.join(QLatin1Char(' ')).trimmed();
    return subject.isEmpty() ? QStringLiteral("—") : subject;
}

QString mark(bool ok, const QString& good, const QString& bad)
{
    return ok ? QStringLiteral("<span class=ok>%1</span>").arg(good)
              : QStringLiteral("<span class=ng>%1</span>").arg(bad);
}

// A table with a heading row; `rows` are already HTML. An empty table says so.
QString table(const QStringList& headings, const QStringList& rows, const QString& empty)
{
    if (rows.isEmpty()) {
        return QStringLiteral("<p class=none>%1</p>\n").arg(empty);
    }
    QString html = QStringLiteral("<table><tr>");
    for (const QString& heading : headings) {
        html += QStringLiteral("<th>%1</th>").arg(heading);
    }
    html += QStringLiteral("</tr>\n");
    for (const QString& row : rows) {
        html += row + QLatin1Char('\n');
    }
    return html + QStringLiteral("</table>\n");
}

QString cells(const QStringList& values, const QString& rowClass = {})
{
    QString row = rowClass.isEmpty() ? QStringLiteral("<tr>") : QStringLiteral("<tr class=%1>").arg(rowClass);
    for (const QString& value : values) {
        row += QStringLiteral("<td>%1</td>").arg(value);
    }
    return row + QStringLiteral("</tr>");
}

QString listeningSection(const LiveState& live)
{
    QString html =
        QStringLiteral("<h2>待ち受け</h2>\n<p>%1 — IP %2 ポート %3%4</p>\n")
            .arg(mark(live.listening, QStringLiteral("待ち受け中"), QStringLiteral("停止中")), esc(live.ipAddress))
            .arg(live.ipPort)
            .arg(live.ipProblem.isEmpty()
                     ? QString()
                     : QStringLiteral(" <span class=ng>使用できません（数秒ごとに再試行）: %1</span>")
                           .arg(esc(live.ipProblem)));
    if (live.serial) {
        const QString kind = live.serial->kind == QLatin1String("usb") ? QStringLiteral("USB仮想COMポート")
                                                                       : QStringLiteral("COMポート");
        html +=
            QStringLiteral("<p>%1 %2: %3</p>\n")
                .arg(kind,
                     esc(live.serial->port),
                     live.serial->open ? mark(true, QStringLiteral("使用中"), QString())
                                       : mark(false, QString(), QStringLiteral("未接続 ") + esc(live.serial->problem)));
    }
    if (live.https) {
        html += QStringLiteral("<p>HTTPS ポート %1: %2<br><span class=meta>証明書 SHA-256 %3</span></p>\n")
                    .arg(live.https->port)
                    .arg(live.https->serving
                             ? mark(true, QStringLiteral("待ち受け中"), QString())
                             : mark(false,
                                    QString(),
                                    QStringLiteral("使用できません（数秒ごとに再試行）: ") + esc(live.https->problem)),
                         live.https->fingerprint.isEmpty() ? QStringLiteral("—") : esc(live.https->fingerprint));
    }
    QStringList rows;
    for (const SessionView& s : live.sessions) {
        rows << cells({terminalId(s.terminal), esc(s.transport), esc(s.peer), when(s.since), esc(s.activity)});
    }
    return html + QStringLiteral("<h3>接続中のセッション</h3>\n") +
           table({QStringLiteral("端末"),
                  QStringLiteral("経路"),
                  QStringLiteral("相手"),
                  QStringLiteral("開始"),
                  QStringLiteral("状態")},
                 rows,
                 QStringLiteral("ありません"));
}

QString diskSection(const LiveState& live)
{
    QString text = tr("Unknown: the file system does not say.");
    if (live.diskSizeBytes > 0) {
        const double share = static_cast<double>(live.diskFreeBytes) / static_cast<double>(live.diskSizeBytes);
        text = tr("Free space on the program folder's disk: %1 of %2 (%3 %)")
                   .arg(bytesText(live.diskFreeBytes), bytesText(live.diskSizeBytes))
                   .arg(share * 100, 0, 'f', 0);
        if (share < kLowDiskShare) {
            text = QStringLiteral("<span class=ng>%1</span>").arg(text);
        }
    }
    QString kept = live.minFreeBytes > 0 ? tr("MinFreeBytes: uploads that would leave less than %1 free are refused.")
                                               .arg(bytesText(live.minFreeBytes))
                                         : tr("MinFreeBytes is 0: uploads are stored however little room is left.");
    if (live.refusingUploads) {
        kept += QStringLiteral(" <span class=ng>%1</span>")
                    .arg(tr("Uploads are being refused now: the disk is nearly full. The terminals keep their data "
                            "and send it again."));
    }
    return QStringLiteral("<h2>%1</h2>\n<p>%2</p>\n<p class=meta>%3</p>\n").arg(tr("Disk"), text, kept);
}

QString settingsSection(const StatusBoard& board)
{
    const SettingsRecord& s = board.settings();
    QString html = QStringLiteral("<h2>%1</h2>\n<p>%2</p>\n")
                       .arg(tr("Settings (KAVELO.ini)"), tr("Read at %1.").arg(when(s.readAt)));
    if (s.lastReload.isValid() && !s.lastReloadOk) {
        html += QStringLiteral("<p><span class=ng>%1</span><br>%2</p>\n")
                    .arg(tr("The reload at %1 was refused; the settings in force stay.").arg(when(s.lastReload)),
                         esc(s.errorJapanese));
    }
    if (!s.restartNeeded.isEmpty()) {
        html +=
            QStringLiteral("<p><span class=ng>%1</span></p>\n")
                .arg(tr("Changed, in force after a restart: %1").arg(esc(s.restartNeeded.join(QStringLiteral(", ")))));
    }
    return html;
}

QString terminalsSection(const StatusBoard& board)
{
    QStringList rows;
    for (const TerminalRecord& t : board.terminals()) {
        const QString upload =
            t.lastUpload ? QStringLiteral("%1 %2 %3 %4")
                               .arg(esc(t.lastUpload->name),
                                    bytesText(t.lastUpload->bytes),
                                    when(t.lastUpload->at),
                                    mark(t.lastUpload->ok, QStringLiteral("保存成功"), QStringLiteral("失敗")))
                         : QStringLiteral("—");
        const QString get = t.lastGet ? QStringLiteral("%1件 %2 %3")
                                            .arg(t.lastGet->files)
                                            .arg(bytesText(t.lastGet->bytes), when(t.lastGet->at))
                                      : QStringLiteral("—");
        const QString error =
            t.lastError.isOk()
                ? QStringLiteral("—")
                : QStringLiteral("<span class=ng>%1</span> %2").arg(esc(failureText(t.lastError)), when(t.lastErrorAt));
        rows << cells({terminalId(t.terminal), when(t.lastSeen), upload, get, error},
                      QStringLiteral("terminal-%1").arg(t.terminal));
    }
    return QStringLiteral("<h2>端末</h2>\n") + table({QStringLiteral("端末"),
                                                      QStringLiteral("最終接続"),
                                                      QStringLiteral("最終受信"),
                                                      QStringLiteral("最終マスター送信"),
                                                      QStringLiteral("最終エラー")},
                                                     rows,
                                                     QStringLiteral("起動してからまだ端末が来ていません"));
}

QString keysSection(const LiveState& live)
{
    QStringList rows;
    for (const KeyView& key : live.keys) {
        rows << cells({terminalId(key.terminal),
                       when(key.enrolledAt),
                       when(key.lastUsed),
                       key.protocol.isEmpty() ? QStringLiteral("—") : esc(key.protocol)});
    }
    QString html = QStringLiteral("<h2>端末キー</h2>\n");
    if (!live.keysProblem.isEmpty()) {
        html += QStringLiteral("<p><span class=ng>キーファイルを読めません（前回のキーを使用中）: %1</span></p>\n")
                    .arg(esc(live.keysProblem));
    }
    html += table({QStringLiteral("端末"), QStringLiteral("登録"), QStringLiteral("最終使用"), QStringLiteral("経路")},
                  rows,
                  QStringLiteral("キーを登録した端末はありません"));
    QStringList held;
    for (const HeldOffView& h : live.heldOff) {
        held << cells({esc(h.address), when(h.until)}, QStringLiteral("failed"));
    }
    html += QStringLiteral("<h3>キー誤りで拒否中のアドレス（誤り計 %1 回）</h3>\n").arg(live.authFailures);
    return html +
           table({QStringLiteral("アドレス"), QStringLiteral("拒否の終わり")}, held, QStringLiteral("ありません"));
}

QString pollSection(const StatusBoard& board, const LiveState& live)
{
    const PollRecord& poll = board.poll();
    QStringList rows;
    for (const PollResult& r : poll.results) {
        rows << cells({terminalId(r.terminal),
                       esc(r.master) + QStringLiteral(".dat"),
                       mark(r.ok, QStringLiteral("更新成功"), QStringLiteral("更新失敗")),
                       r.ok ? QStringLiteral("%1行 追加%2 置換%3 出力%4")
                                  .arg(r.counts.linesRead)
                                  .arg(r.counts.rowsAdded)
                                  .arg(r.counts.rowsReplaced)
                                  .arg(r.counts.rowsExported)
                            : esc(failureText(r.failure))},
                      r.ok ? QString() : QStringLiteral("failed"));
    }
    QString running;
    if (live.work.pollRunning) {
        running = live.work.pollMaster.isEmpty()
                      ? QStringLiteral(" ／ <b>実行中</b>")
                      : QStringLiteral(" ／ <b>実行中</b> %1 %2.dat")
                            .arg(terminalId(static_cast<int>(live.work.pollTerminal)), esc(live.work.pollMaster));
    }
    const QString failed =
        poll.failure.isOk()
            ? QString()
            : QStringLiteral("<p><span class=ng>ポーリング失敗</span> %1</p>\n").arg(esc(failureText(poll.failure)));
    return QStringLiteral("<h2>マスター更新（定期ポーリング）</h2>\n<p>前回 %1 ／ 次回 %2%3</p>\n")
               .arg(when(poll.lastRun), when(poll.nextRun), running) +
           failed +
           table({QStringLiteral("端末"), QStringLiteral("ファイル"), QStringLiteral("結果"), QStringLiteral("内容")},
                 rows,
                 poll.lastRun.isValid() ? QStringLiteral("前回のポーリングで更新ファイルはありませんでした")
                                        : QStringLiteral("まだポーリングしていません"));
}

QString importsSection(const StatusBoard& board, const LiveState& live)
{
    QStringList rows;
    for (const ImportRecord& i : board.imports()) {
        rows << cells({esc(i.master),
                       when(i.at),
                       mark(i.ok, QStringLiteral("成功"), QStringLiteral("失敗")),
                       i.ok ? QStringLiteral("%1件 置換%2 削除%3 対象外%4")
                                  .arg(i.counts.recordsRead)
                                  .arg(i.counts.replaced)
                                  .arg(i.counts.deleted)
                                  .arg(i.counts.skipped)
                            : esc(failureText(i.failure))},
                      i.ok ? QString() : QStringLiteral("failed"));
    }
    QString running;
    if (!live.work.importMaster.isEmpty()) {
        running = QStringLiteral("<p><b>%1</b> %2</p>\n")
                      .arg(live.work.importWaiting ? QStringLiteral("待機中") : QStringLiteral("取込中"),
                           esc(live.work.importMaster) + (live.work.importPercent >= 0
                                                              ? QStringLiteral(" %1%").arg(live.work.importPercent)
                                                              : QString()));
    }
    return QStringLiteral("<h2>ホストマスター取込</h2>\n") + running +
           table({QStringLiteral("マスター"), QStringLiteral("日時"), QStringLiteral("結果"), QStringLiteral("内容")},
                 rows,
                 QStringLiteral("起動してから取込はありません"));
}

QString errorsSection(const StatusBoard& board)
{
    QStringList rows;
    for (auto it = board.failures().rbegin(); it != board.failures().rend(); ++it) {
        rows << cells({when(it->at), esc(subjectText(it->failure)), esc(failureText(it->failure))});
    }
    return QStringLiteral("<h2>最近のエラー</h2>\n") +
           table({QStringLiteral("日時"), QStringLiteral("対象"), QStringLiteral("内容")},
                 rows,
                 QStringLiteral("ありません"));
}

const char* const kStyle =
    "body{font-family:sans-serif;margin:1.2em;color:#222;background:#fafafa}"
    "h1{font-size:1.4em;margin:0 0 .2em}h2{font-size:1.1em;margin:1.4em 0 .4em;border-bottom:1px solid #ccc}"
    "h3{font-size:1em}table{border-collapse:collapse;font-size:.9em}"
    "th,td{border:1px solid #ccc;padding:.25em .6em;text-align:left;vertical-align:top}th{background:#eee}"
    "tr.failed "
    "td{background:#fde8e8}.ok{color:#176b1e;font-weight:bold;white-space:nowrap}.ng{color:#b00020;font-weight:bold}"
    ".none{color:#777}.meta{color:#555;font-size:.9em}";

} // namespace

QByteArray statusPage(const StatusBoard& board, const LiveState& live)
{
    QString html = QStringLiteral("<!DOCTYPE html>\n<html lang=ja>\n<head>\n<meta charset=utf-8>\n"
                                  "<meta http-equiv=refresh content=%1>\n<title>KAVELO 稼働状況</title>\n"
                                  "<style>%2</style>\n</head>\n<body>\n")
                       .arg(kRefreshSeconds)
                       .arg(QLatin1String(kStyle));
    html +=
        QStringLiteral("<h1>KAVELO 稼働状況</h1>\n<p class=meta>バージョン %1 ／ 起動 %2 ／ %3 ／ 表示 %4"
                       "（%5秒ごとに更新）</p>\n")
            .arg(esc(live.version), when(live.startedAt), esc(live.programFolder), when(QDateTime::currentDateTime()))
            .arg(kRefreshSeconds);
    html += listeningSection(live);
    html += diskSection(live);
    html += settingsSection(board);
    html += terminalsSection(board);
    html += keysSection(live);
    html += pollSection(board, live);
    html += importsSection(board, live);
    html += errorsSection(board);
    html += QStringLiteral("<p class=meta>JSON: <a href=\"/status\">/status</a> ／ 監視用: <a "
                           "href=\"/metrics\">/metrics</a></p>\n</body>\n</html>\n");
    return html.toUtf8();
}

} // namespace kavelo::status
