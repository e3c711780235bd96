#include "shell/Commands.h"

namespace kavelo::shell {

int runImport(const CommandContext&)
{
    printError(QStringLiteral("import: not available in this build yet"));
    return kExitFailed;
}

} // namespace kavelo::shell
