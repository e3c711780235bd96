#include "shell/Commands.h"

namespace kavelo::shell {

int runUpdate(const CommandContext& context)
{
    if (!startCommand(context, QStringLiteral("update"), false).isOk()) {
        return kExitUsage;
    }
    printError(QStringLiteral("update: not available in this build yet"));
    return kExitFailed;
}

} // namespace kavelo::shell
