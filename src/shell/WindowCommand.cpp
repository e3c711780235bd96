#include "shell/Commands.h"

namespace kavelo::shell {

int runWindow(const CommandContext&)
{
    printError(QStringLiteral("window: not available in this build yet"));
    return kExitFailed;
}

} // namespace kavelo::shell
