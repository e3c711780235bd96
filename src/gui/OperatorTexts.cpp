#include "gui/OperatorTexts.h"

#include <QCoreApplication>

namespace kavelo::gui {

using shell::SettingsError;

QString handlerFailureText(const char* handler, const QString& reason)
{
    return QCoreApplication::translate("Window", "%1 failed: %2").arg(QString::fromLatin1(handler), reason);
}

QString settingsErrorText(const SettingsError& error)
{
    switch (error.kind) {
    case SettingsError::Kind::Missing:
        return QCoreApplication::translate("Settings", "The settings file %1 does not exist.").arg(error.file);
    case SettingsError::Kind::Unreadable:
        return QCoreApplication::translate("Settings", "Cannot read the settings file %1: %2")
            .arg(error.file, error.reason);
    case SettingsError::Kind::TooLarge:
        return QCoreApplication::translate("Settings", "The settings file %1 is larger than %2 bytes.")
            .arg(error.file)
            .arg(shell::kMaxSettingsBytes);
    case SettingsError::Kind::Utf16:
        return QCoreApplication::translate(
                   "Settings",
                   "The settings file %1 is UTF-16 text. Save it as Windows-31J, or as UTF-8 with a byte order mark.")
            .arg(error.file);
    case SettingsError::Kind::NotText:
        return QCoreApplication::translate("Settings",
                                           "Line %2 of the settings file %1 is not Windows-31J text, nor UTF-8 text in "
                                           "a file that starts with a byte order mark.")
            .arg(error.file)
            .arg(error.line);
    case SettingsError::Kind::Unpaired:
        return QCoreApplication::translate("Settings", "In the settings file %1, %2 and %3 go together: set both or "
                                                       "neither.")
            .arg(error.file, error.key, error.reason);
    case SettingsError::Kind::BadValue:
        break;
    }
    // What the value must be is one of the phrases of the catalogue's "Settings".
    return QCoreApplication::translate("Settings", "Line %2 of the settings file %1: %3=%4 is not %5.")
        .arg(error.file)
        .arg(error.line)
        .arg(error.key, error.value, QCoreApplication::translate("Settings", error.reason.toUtf8().constData()));
}

QString folderBeingRestoredText(const QString& folder)
{
    return QCoreApplication::translate(
               "Window", "The program folder %1 is being restored. Start KAVELO again when the restore has finished.")
        .arg(folder);
}

QString folderNotLockedText(const QString& folder, const QString& detail)
{
    return QCoreApplication::translate("Window", "Cannot lock the program folder %1.").arg(folder) + QLatin1Char('\n') +
           detail;
}

} // namespace kavelo::gui
