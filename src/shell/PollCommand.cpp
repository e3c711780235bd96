#include "shell/Commands.h"

namespace kavelo::shell {

int runPoll(const CommandContext& context)
{
    if (!startCommand(context, QStringLiteral("poll"), false).isOk()) {
        return kExitUsage;
    }
    printError(QStringLiteral("poll: not available in this build yet"));
    return kExitFailed;
}

} // namespace kavelo::shell
