#ifndef KAVELO_GUI_WINDOWPROGRAM_H
#define KAVELO_GUI_WINDOWPROGRAM_H

#include "shell/Commands.h"

#include <QString>

namespace kavelo::gui {

// `kavelo` without a command: the main window in front of the service, until the window closes.
int runWindow(const shell::CommandContext& context);

// The window's side of the command line (shell::WindowProgram): the QApplication, the program folder, runWindow.
int runWindowProgram(int argc, char** argv, const QString& home);

} // namespace kavelo::gui

#endif
