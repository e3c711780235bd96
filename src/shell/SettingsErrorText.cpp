#include "shell/Settings.h"

#include "platform/Translations.h"

namespace kavelo::shell {

namespace {

// A text of the catalogue's "Settings" in Japanese.
QString japanese(const char* sourceText)
{
    return platform::japanese("Settings", sourceText);
}

} // namespace

QString SettingsError::japaneseText() const
{
    const QString lineText = QString::number(line);
    switch (kind) {
    case Kind::Missing:
        return japanese("The settings file %1 does not exist.").arg(file);
    case Kind::Unreadable:
        return japanese("Cannot read the settings file %1: %2").arg(file, reason);
    case Kind::TooLarge:
        return japanese("The settings file %1 is larger than %2 bytes.").arg(file, QString::number(kMaxSettingsBytes));
    case Kind::Utf16:
        return japanese(
                   "The settings file %1 is UTF-16 text. Save it as Windows-31J, or as UTF-8 with a byte order mark.")
            .arg(file);
    case Kind::NotText:
        return japanese("Line %2 of the settings file %1 is not Windows-31J text, nor UTF-8 text in a file that starts "
                        "with a byte order mark.")
            .arg(file, lineText);
    case Kind::Unpaired:
        return japanese("In the settings file %1, %2 and %3 go together: set both or neither.").arg(file, key, reason);
    case Kind::BadValue:
        break;
    }
    // What the value must be is one of the phrases of the catalogue's "Settings".
    const QByteArray expected = reason.toUtf8();
    return japanese("Line %2 of the settings file %1: %3=%4 is not %5.")
        .arg(file, lineText, key, value, japanese(expected.constData()));
}

} // namespace kavelo::shell
