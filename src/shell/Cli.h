#ifndef KAVELO_SHELL_CLI_H
#define KAVELO_SHELL_CLI_H

#include <QString>

namespace kavelo::shell {

// The window's side of the command line: makes the application object of the window, enters the program folder
// (`home`, empty for the default) and runs the window until it closes. Given by the executable that links the
// window (gui::runWindowProgram).
using WindowProgram = int (*)(int argc, char** argv, const QString& home);

// The whole `kavelo` command line: options, commands, the window or the headless service. Returns the exit code.
int runKavelo(int argc, char** argv, WindowProgram window);

} // namespace kavelo::shell

#endif
