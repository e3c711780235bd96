#ifndef KAVELO_PLATFORM_TRANSLATIONS_H
#define KAVELO_PLATFORM_TRANSLATIONS_H

#include <QString>

class QTranslator;

namespace kavelo::platform {

// The Japanese catalogue built into the program (translations/kavelo_ja.ts). The operator's texts are written in
// English in the code and shown in Japanese through it, whatever the PC's locale: the window installs it in its
// application object, and the status page, which the headless service renders too, asks it directly. The log, the
// terminal's ERR texts, /status and the command line stay English and never pass through it.
QTranslator& japaneseCatalogue();

// `sourceText` of `context` in Japanese; the text itself when the catalogue has none.
QString japanese(const char* context, const char* sourceText);

} // namespace kavelo::platform

#endif
