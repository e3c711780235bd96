#ifndef KAVELO_SHELL_LOGGING_H
#define KAVELO_SHELL_LOGGING_H

#include <QString>

namespace kavelo::shell {

// Installs the one message handler of the process: one timestamped line per message in `logPath` (appended), and
// on stderr when `alsoStderr` (command line and headless use). Safe to call again to change the target.
void installLogHandler(const QString& logPath, bool alsoStderr);

} // namespace kavelo::shell

#endif
