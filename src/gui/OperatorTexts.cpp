#include "gui/OperatorTexts.h"

#include <QCoreApplication>

namespace kavelo::gui {

QString handlerFailureText(const char* handler, const QString& reason)
{
    return QCoreApplication::translate("Window", "%1 failed: %2").arg(QString::fromLatin1(handler), reason);
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
