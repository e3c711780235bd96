#include "shell/Commands.h"

namespace kavelo::shell {

int runUpdate(const CommandContext&)
{
    printError(QStringLiteral("update: not available in this build yet"));
    return kExitFailed;
}

} // namespace kavelo::shell
