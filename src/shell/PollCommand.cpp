#include "shell/Commands.h"

namespace kavelo::shell {

int runPoll(const CommandContext&)
{
    printError(QStringLiteral("poll: not available in this build yet"));
    return kExitFailed;
}

} // namespace kavelo::shell
