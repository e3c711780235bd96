// The settings parser: any content of KAVELO.ini either parses or fails with the file and line named.
#include "FuzzSupport.h"

#include "shell/Settings.h"

#include <cstdint>

using namespace kavelo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArrayView content(data, static_cast<qsizetype>(size));
    const QString source = QStringLiteral("/prog/KAVELO.ini");
    platform::Result<shell::Settings> settings = shell::parseSettings(content, QStringLiteral("/prog"), source);
    if (!settings.isOk()) {
        const QString& message = settings.status().message();
        FUZZ_CHECK(message.startsWith(source + QStringLiteral(", line ")), message);
        return 0;
    }
    FUZZ_CHECK(settings->programFolder == QStringLiteral("/prog"), QString());
    FUZZ_CHECK(settings->maxFileSize >= 0, QString());
    FUZZ_CHECK(!settings->DBPath.startsWith(u' ') && !settings->DBPath.endsWith(u' '), settings->DBPath);
    FUZZ_CHECK(!settings->DataRoot.startsWith(u' ') && !settings->DataRoot.endsWith(u' '), settings->DataRoot);
    for (const QString& warning : settings->warnings) {
        FUZZ_CHECK(warning.startsWith(source), warning);
    }
    return 0;
}
