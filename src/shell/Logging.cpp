#include "shell/Logging.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>

#include <cstdio>
#include <memory>

namespace kavelo::shell {

namespace {

struct LogSink
{
    QMutex mutex;
    std::unique_ptr<QFile> file;
    bool alsoStderr = true;
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

void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    const QString category = context.category && qstrcmp(context.category, "default") != 0
                                 ? QString::fromLatin1(context.category)
                                 : QStringLiteral("kavelo");
    const QString line = QStringLiteral("%1 %2 %3: %4\n")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")),
                                  QString::fromLatin1(levelName(type)), category, message);
    const QByteArray utf8 = line.toUtf8();
    LogSink& s = sink();
    QMutexLocker lock(&s.mutex);
    if (s.file) {
        s.file->write(utf8);
        s.file->flush();
    }
    if (s.alsoStderr || !s.file) {
        std::fwrite(utf8.constData(), 1, static_cast<size_t>(utf8.size()), stderr);
        std::fflush(stderr);
    }
}

} // namespace

void installLogHandler(const QString& logPath, bool alsoStderr)
{
    LogSink& s = sink();
    {
        QMutexLocker lock(&s.mutex);
        auto file = std::make_unique<QFile>(logPath);
        if (file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            s.file = std::move(file);
        } else {
            s.file.reset();
            std::fprintf(stderr, "kavelo: cannot open the log file %s; logging to stderr only\n",
                         qPrintable(logPath));
        }
        s.alsoStderr = alsoStderr;
    }
    qInstallMessageHandler(handleMessage);
}

} // namespace kavelo::shell
