#ifndef KAVELO_SHELL_CLI_H
#define KAVELO_SHELL_CLI_H

namespace kavelo::shell {

// The whole `kavelo` command line: options, commands, the window or the headless service. Returns the exit code.
int runKavelo(int argc, char** argv);

} // namespace kavelo::shell

#endif
