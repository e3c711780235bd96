#include "shell/Logging.h"

#include <QByteArray>
#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <cstdio>
#include <memory>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace kavelo::shell {

namespace {

constexpr qint64 kDefaultMaxBytes = 10 * 1024 * 1024;
constexpr int kDefaultKeep = 5;

struct LogSink
{
    QMutex mutex;
    QString path;
    std::unique_ptr<QFile> file;
    bool alsoStderr = true;
    bool stderrIsJournal = false;
    qint64 maxBytes = kDefaultMaxBytes;
    int keep = kDefaultKeep;
    bool rotationFailed = false;
};

LogSink& sink()
{
    static LogSink instance;
    return instance;
}

const char* levelName(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "DEBUG";
    case QtInfoMsg:
        return "INFO";
    case QtWarningMsg:
        return "WARN";
    case QtCriticalMsg:
        return "ERROR";
    case QtFatalMsg:
        return "FATAL";
    }
    return "INFO";
}

// The syslog priority that the journal reads from a "<N>" in front of a line.
char journalPriority(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return '7';
    case QtInfoMsg:
        return '6';
    case QtWarningMsg:
        return '4';
    case QtCriticalMsg:
        return '3';
    case QtFatalMsg:
        return '2';
    }
    return '6';
}

// systemd names the stream it connected to the journal in JOURNAL_STREAM ("device:inode").
bool stderrIsJournal()
{
#ifdef Q_OS_UNIX
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    struct stat info = {};
    if (stream.isEmpty() || ::fstat(2, &info) != 0) {
        return false;
    }
    return stream == QByteArray::number(static_cast<qulonglong>(info.st_dev)) + ':' +
                         QByteArray::number(static_cast<qulonglong>(info.st_ino));
#else
    return false;
#endif
}

// True when the log path names another file than the one open (another process rotated it, or it was removed).
bool pathMoved(const LogSink& s)
{
#ifdef Q_OS_UNIX
    struct stat open = {};
    struct stat named = {};
    if (::fstat(s.file->handle(), &open) != 0 || ::stat(QFile::encodeName(s.path).constData(), &named) != 0) {
        return true;
    }
    return open.st_dev != named.st_dev || open.st_ino != named.st_ino;
#else
    Q_UNUSED(s);
    return false;
#endif
}

bool openLog(LogSink& s)
{
    auto file = std::make_unique<QFile>(s.path);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        s.file.reset();
        return false;
    }
    s.file = std::move(file);
    return true;
}

QString generation(const QString& path, int n)
{
    return path + QLatin1Char('.') + QString::number(n);
}

// Moves the generations up by one and starts a new log. Renaming over an existing generation replaces it, so the
// oldest one goes by itself; generations beyond `keep` left from a larger setting go too.
void rotate(LogSink& s)
{
    s.file.reset();
    for (int n = s.keep + 1; QFile::exists(generation(s.path, n)); ++n) {
        QFile::remove(generation(s.path, n));
    }
    bool moved = true;
    for (int n = s.keep; n >= 1; --n) {
        const QString from = n > 1 ? generation(s.path, n - 1) : s.path;
        if (QFile::exists(from) && std::rename(QFile::encodeName(from).constData(),
                                               QFile::encodeName(generation(s.path, n)).constData()) != 0) {
            moved = false;
        }
    }
    if (s.keep == 0 && !QFile::remove(s.path)) {
        moved = false;
    }
    if (!moved) {
        // Appending on is better than losing lines or rotating at every line; say so once.
        s.rotationFailed = true;
        writeStderrLine(QtWarningMsg, QStringLiteral("kavelo: cannot rotate the log file %1; it grows on").arg(s.path));
    }
    openLog(s);
}

void writeToFile(LogSink& s, const QByteArray& utf8)
{
    if (s.file && pathMoved(s)) {
        openLog(s);
    }
    if (!s.file) {
        return;
    }
    const qint64 size = s.file->size();
    if (s.maxBytes > 0 && !s.rotationFailed && size > 0 && size + utf8.size() > s.maxBytes) {
        rotate(s);
        if (!s.file) {
            return;
        }
    }
    s.file->write(utf8);
}

// Writes one message's line to the log file and, where wanted, to stderr. Called with the sink's mutex held.
void write(LogSink& s, QtMsgType type, const QString& text, const QByteArray& utf8)
{
    writeToFile(s, utf8);
    if (!s.alsoStderr && s.file) {
        return;
    }
    if (s.stderrIsJournal) {
        // The journal has its own time stamps; each line of a message is an entry with the message's priority.
        const QByteArray prefix = QByteArray("<") + journalPriority(type) + '>';
        QByteArray entry = prefix + text.toUtf8();
        entry.chop(1);
        entry.replace('\n', "\n" + prefix);
        entry += '\n';
        std::fwrite(entry.constData(), 1, static_cast<size_t>(entry.size()), stderr);
    } else {
        std::fwrite(utf8.constData(), 1, static_cast<size_t>(utf8.size()), stderr);
    }
    std::fflush(stderr);
}

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString category = context.category && qstrcmp(context.category, "default") != 0
                                 ? QString::fromLatin1(context.category)
                                 : QStringLiteral("kavelo");
    const QString text = QStringLiteral("%1: %2\n").arg(category, message);
    const QDateTime now = QDateTime::currentDateTime();
    const QByteArray utf8 = (now.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz ")) + QLatin1String(levelName(type)) +
                             QLatin1Char(' ') + text)
                                .toUtf8();
    LogSink& s = sink();
    QMutexLocker lock(&s.mutex);
    write(s, type, text, utf8);
}

} // namespace

void installLogHandler(const QString& logPath, bool alsoStderr)
{
    LogSink& s = sink();
    {
        QMutexLocker lock(&s.mutex);
        s.path = logPath;
        s.rotationFailed = false;
        if (!openLog(s)) {
            writeStderrLine(QtWarningMsg,
                            QStringLiteral("kavelo: cannot open the log file %1; logging to stderr only").arg(logPath));
        }
        s.alsoStderr = alsoStderr;
        s.stderrIsJournal = stderrIsJournal();
    }
    qInstallMessageHandler(handleMessage);
}

void writeStderrLine(QtMsgType type, const QString& line)
{
    QByteArray bytes = line.toLocal8Bit() + '\n';
    if (stderrIsJournal()) {
        bytes.prepend(QByteArray("<") + journalPriority(type) + '>');
    }
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fflush(stderr);
}

void setLogRotation(qint64 maxBytes, int keep)
{
    LogSink& s = sink();
    QMutexLocker lock(&s.mutex);
    s.maxBytes = maxBytes;
    s.keep = keep;
}

QStringList logFileNames(const QString& logName, int keep)
{
    QStringList names{logName};
    for (int n = 1; n <= keep; ++n) {
        names << generation(logName, n);
    }
    return names;
}

} // namespace kavelo::shell
