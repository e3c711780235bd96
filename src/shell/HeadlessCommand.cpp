#include "shell/Commands.h"

namespace kavelo::shell {

int runHeadless(const CommandContext& context)
{
    if (!startCommand(context, QStringLiteral("headless"), false).isOk()) {
        return kExitUsage;
    }
    printError(QStringLiteral("headless: not available in this build yet"));
    return kExitFailed;
}

} // namespace kavelo::shell
