#ifndef KAVELO_PLATFORM_TRANSLATIONS_H
#define KAVELO_PLATFORM_TRANSLATIONS_H

#include "platform/Status.h"

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

// A failure for the operator, in Japanese, made from its fields: what failed and why, "<action>: <reason>". The
// action and the engine's own reasons ("not valid Windows-31J (Shift-JIS) text") come from the catalogue's
// "Failure"; the system's reason ("No space left on device") is kept as it comes.
QString japaneseReason(const Failure& failure);
// The same after where it failed: "<context><file> <N>行目: <action>: <reason>", or without the file when the
// caller names it itself ("<context><N>行目: ..."). Its master and terminal are left to the caller too.
QString japaneseDetail(const Failure& failure, bool withFile = true);

} // namespace kavelo::platform

#endif
