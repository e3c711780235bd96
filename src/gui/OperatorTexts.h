#ifndef KAVELO_GUI_OPERATORTEXTS_H
#define KAVELO_GUI_OPERATORTEXTS_H

#include <QString>

namespace kavelo::gui {

// The failures the windows show, in Japanese through the catalogue (platform/Translations.h), each made from the
// failure's fields in one place. The system's reason stays as it comes.

// A handler that failed unexpectedly ("Command1_Click", "std::bad_alloc").
QString handlerFailureText(const char* handler, const QString& reason);
// The program folder is being restored (its lock is held by the restore).
QString folderBeingRestoredText(const QString& folder);
// The program folder's lock file cannot be opened; `detail` names it with the system's reason.
QString folderNotLockedText(const QString& folder, const QString& detail);

} // namespace kavelo::gui

#endif
