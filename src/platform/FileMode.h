#ifndef KAVELO_PLATFORM_FILEMODE_H
#define KAVELO_PLATFORM_FILEMODE_H

#include "platform/Status.h"

#include <QString>

class QFileDevice;
class QTemporaryFile;

namespace kavelo::platform {

// Files that the system creates are read by others (the send folders by the host's collector, running under an
// account of its own), so each gets the mode any ordinary program gives a new file: 0666 less the process's
// umask (0644 under 022, 0640 under 027). A temporary file starts as 0600 and is given that mode before it is
// renamed into place.

// 0666 & ~umask, as POSIX permission bits.
unsigned ordinaryFileMode();

// Opens `file` (whose template names a folder) and gives it the ordinary mode. Errors name the folder and carry
// the system's reason.
Status openTemporary(QTemporaryFile& file);

// Gives the open `file` the ordinary mode, without the write bits when `readOnly`.
Status giveOrdinaryMode(QFileDevice& file, bool readOnly = false);
// The same for the file at `path`.
Status giveOrdinaryMode(const QString& path);

// Replaces the file at `path` with `content` in one step (a temporary file renamed over it), with the permission
// bits `mode` (0600 for a secret).
Status writeWholeFile(const QString& path, QByteArrayView content, unsigned mode);

} // namespace kavelo::platform

#endif
