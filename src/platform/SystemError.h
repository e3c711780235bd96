#ifndef KAVELO_PLATFORM_SYSTEMERROR_H
#define KAVELO_PLATFORM_SYSTEMERROR_H

#include "platform/Status.h"

#include <QByteArrayView>
#include <QString>

class QFileDevice;

namespace kavelo::platform {

// The operating system's reason for the error number `errnum`, as the C library words it in the "C" locale
// ("No space left on device", "Permission denied", "Read-only file system"): plain ASCII whatever the user's
// locale, so that the same text fits the log, a message and a terminal's one-line reply.
QString systemReason(int errnum);
// NoSpace for a full disk or quota (ENOSPC, EDQUOT), else Other.
Status::Kind kindOfErrno(int errnum);

// The reason of the last failure of `file` in the same words. Qt words the reason in the user's locale; when it is
// the text of an error number, the "C" locale's text of that number comes back, otherwise Qt's own text.
QString fileReason(const QFileDevice& file);
// The kind of the last failure of `file` (NoSpace for a full disk).
Status::Kind failureKind(const QFileDevice& file);

// Writes all of `bytes` to `file`. A short write (the disk filled up in the middle) is carried on until the
// system refuses the rest with its reason, so the error is "PATH: write failed: No space left on device" rather
// than a short count with no reason at all. PATH is `name`, or file.fileName() when empty (for a QSaveFile that is
// the target's name; a temporary file is better named by the file it stands for).
Status writeAll(QFileDevice& file, QByteArrayView bytes, const QString& name = {});
// Flushes what `file` buffers in the same way: a flush that stops half-way is carried on until done or refused.
Status flushAll(QFileDevice& file, const QString& name = {});

} // namespace kavelo::platform

#endif
