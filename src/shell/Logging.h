#ifndef KAVELO_SHELL_LOGGING_H
#define KAVELO_SHELL_LOGGING_H

#include <QDateTime>
#include <QtGlobal>
#include <QString>
#include <QStringList>

namespace kavelo::shell {

// Installs the one message handler of the process: one timestamped line per message in `logPath` (appended), and
// on stderr when `alsoStderr` (command line and headless use). When stderr is the systemd journal's stream, the
// lines there carry the journal's priority prefix ("<4>") instead of a time stamp. Safe to call again to change
// the target.
void installLogHandler(const QString& logPath, bool alsoStderr);

// Writes one line to stderr outside the log (a command's error or progress): when stderr is the systemd journal's
// stream it carries the priority of `type` ("<3>" for an error), as the log's lines there do.
void writeStderrLine(QtMsgType type, const QString& line);

// Rotation by size, from the settings: before a line would take the log past `maxBytes`, the log becomes
// `logPath`.1, the older generations move up one (.1 to .2 ...) and the oldest beyond `keep` goes; the line then
// starts the new log. A line is never split or lost, and one longer than `maxBytes` fills a log of its own.
// `maxBytes` 0 turns rotation off. Another process writing the same log (a command run while the service runs)
// follows a rotation made by the other one at its next line.
void setLogRotation(qint64 maxBytes, int keep);

// The log and its rotated generations, by file name: none may be overwritten from outside.
QStringList logFileNames(const QString& logName, int keep);

} // namespace kavelo::shell

#endif
