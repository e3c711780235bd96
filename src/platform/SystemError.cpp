#include "platform/SystemError.h"

#include <QFileDevice>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <locale.h>
#endif

namespace kavelo::platform {

namespace {

// Above every error number the systems we run on define (Linux stops at 133).
constexpr int kLastErrno = 255;

// True when the last failure of `file` came with the system's reason (not a short count without one).
bool hasReason(const QFileDevice& file)
{
    return file.error() != QFileDevice::NoError && !file.errorString().isEmpty() &&
           file.errorString() != QLatin1String("Unknown error");
}

} // namespace

QString systemReason(int errnum)
{
#ifdef Q_OS_UNIX
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    if (cLocale) {
        return QString::fromLatin1(strerror_l(errnum, cLocale));
    }
#endif
    return QString::fromLocal8Bit(std::strerror(errnum));
}

Status::Kind kindOfErrno(int errnum)
{
#ifdef EDQUOT
    if (errnum == EDQUOT) {
        return Status::Kind::NoSpace;
    }
#endif
    return errnum == ENOSPC ? Status::Kind::NoSpace : Status::Kind::Other;
}

namespace {

// The error number behind the last failure of `file`, 0 when there is none. Qt takes the text of an error number
// from the C library in the user's locale (qt_error_string); finding the number again gives the locale-free text,
// without relying on errno having survived Qt's clean-up.
int fileErrno(const QFileDevice& file)
{
    if (file.error() == QFileDevice::NoError) {
        return 0;
    }
    const QString qtReason = file.errorString();
    for (int errnum = 1; errnum <= kLastErrno; ++errnum) {
        if (qt_error_string(errnum) == qtReason) {
            return errnum;
        }
    }
    return 0;
}

} // namespace

Status::Kind failureKind(const QFileDevice& file)
{
    return kindOfErrno(fileErrno(file));
}

QString fileReason(const QFileDevice& file)
{
    const int errnum = fileErrno(file);
    return errnum != 0 ? systemReason(errnum) : file.errorString();
}

namespace {

Status refused(const QFileDevice& file, const QString& name)
{
    const QString reason = hasReason(file) ? fileReason(file) : QStringLiteral("the system accepted no more bytes");
    return Status::fileError(
        name.isEmpty() ? file.fileName() : name, reason, QStringLiteral("write failed"), kindOfErrno(fileErrno(file)));
}

} // namespace

Status writeAll(QFileDevice& file, QByteArrayView bytes, const QString& name)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qint64 written = file.write(bytes.data() + done, bytes.size() - done);
        if (written <= 0) {
            return refused(file, name);
        }
        done += written;
    }
    return Status::ok();
}

Status flushAll(QFileDevice& file, const QString& name)
{
    // Each failed flush() that still wrote something leaves less behind; the one that writes nothing has the reason.
    qint64 left = file.bytesToWrite();
    while (!file.flush()) {
        const qint64 now = file.bytesToWrite();
        if (now == 0 || now >= left || hasReason(file)) {
            return refused(file, name);
        }
        left = now;
    }
    return Status::ok();
}

} // namespace kavelo::platform
