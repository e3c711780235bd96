#include "gui/WindowProgram.h"
#include "shell/Cli.h"

int main(int argc, char** argv)
{
    return kavelo::shell::runKavelo(argc, argv, kavelo::gui::runWindowProgram);
}
