#include "shell/Commands.h"

namespace kavelo::shell {

int runImport(const CommandContext& context)
{
    if (!startCommand(context, QStringLiteral("import"), false).isOk()) {
        return kExitUsage;
    }
    printError(QStringLiteral("import: not available in this build yet"));
    return kExitFailed;
}

} // namespace kavelo::shell
