#include "shell/Commands.h"

namespace kavelo::shell {

int runHeadless(const CommandContext&)
{
    printError(QStringLiteral("headless: not available in this build yet"));
    return kExitFailed;
}

} // namespace kavelo::shell
