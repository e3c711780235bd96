#include "support/TestSupport.h"

#include "masters/Schema.h"
#include "platform/Database.h"
#include "platform/Text.h"
#include "platform/TextCodec.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTcpServer>

namespace kavelo::test {

QByteArray sjis(const QString& text)
{
    platform::Result<QByteArray> bytes = platform::encodeShiftJis(text);
    EXPECT_TRUE(bytes.isOk()) << bytes.status().message().toStdString();
    return bytes.isOk() ? *bytes : QByteArray();
}

QByteArray sjisLines(const QStringList& lines)
{
    QByteArray out;
    for (const QString& line : lines) {
        out += sjis(line) + "\r\n";
    }
    return out;
}

void writeFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    ASSERT_EQ(file.write(content), content.size());
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "cannot read " << path.toStdString();
        return {};
    }
    return file.readAll();
}

QStringList readSjisLines(const QString& path)
{
    QByteArray content = readFile(path);
    QStringList lines;
    qsizetype pos = 0;
    while (pos < content.size()) {
        qsizetype end = content.indexOf("\r\n", pos);
        if (end < 0) {
            ADD_FAILURE() << path.toStdString() << ": last line has no CR LF";
            end = content.size();
        }
        QByteArray line = content.mid(pos, end - pos);
        EXPECT_FALSE(line.contains('\n')) << path.toStdString() << ": bare LF";
        platform::Result<QString> text = platform::decodeShiftJis(line);
        EXPECT_TRUE(text.isOk()) << path.toStdString();
        lines << (text.isOk() ? *text : QString());
        pos = end + 2;
    }
    return lines;
}

QString record(std::initializer_list<Piece> pieces)
{
    QString out;
    for (const Piece& p : pieces) {
        out += p.text.left(p.width).leftJustified(p.width, QLatin1Char(' '));
    }
    return out;
}

QString samplesDir()
{
    // Beside the checkout, or beside a folder further up (a worktree sits deeper than the main checkout).
    const QString configured = QStringLiteral(KAVELO_SAMPLES_DIR);
    QDir dir(QDir::cleanPath(configured + QStringLiteral("/../..")));
    do {
        if (QFileInfo(dir.filePath(QStringLiteral("shared/samples"))).isDir()) {
            return dir.filePath(QStringLiteral("shared/samples"));
        }
    } while (dir.cdUp());
    return configured;
}

QString testDataDir()
{
    return QStringLiteral(KAVELO_TEST_DATA_DIR);
}

QString binaryDir()
{
    return QStringLiteral(KAVELO_BINARY_DIR);
}

KaveloRun runKavelo(const QStringList& args, int timeoutMs)
{
    KaveloRun run;
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(binaryDir() + QStringLiteral("/kavelo"), args);
    if (!process.waitForStarted(30000)) {
        run.crashed = true;
        run.err = process.errorString();
        return run;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(10000);
        run.crashed = true;
    }
    run.elapsedMs = timer.elapsed();
    run.crashed = run.crashed || process.exitStatus() != QProcess::NormalExit;
    run.exitCode = process.exitCode();
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

ProgramFolder::ProgramFolder(const QStringList& extraSettings)
{
    m_home = QDir(m_dir.path()).absolutePath();
    // No status page and no HTTPS unless a test asks for them: tests run side by side, and their ports are fixed.
    QStringList settings{QStringLiteral("DBname=") + dbPath(),
                         QStringLiteral("DATA=") + dataRoot(),
                         QStringLiteral("StatusPort=0"),
                         QStringLiteral("HttpsPort=0")};
    settings << extraSettings;
    writeFile(path(QStringLiteral("KAVELO.ini")), sjisLines(settings));
    for (int t = 1; t <= 11; ++t) {
        QDir().mkpath(rcv(t));
        QDir().mkpath(snd(t));
        QDir().mkpath(backup(t));
    }
    QDir().mkpath(importDir());
    auto db = platform::Database::openSqlite(dbPath(), platform::Database::OpenMode::CreateIfMissing);
    EXPECT_TRUE(db.isOk()) << db.status().message().toStdString();
    if (db.isOk()) {
        platform::Status schema = masters::ensureSchema(**db);
        EXPECT_TRUE(schema.isOk()) << schema.message().toStdString();
    }
}

QString ProgramFolder::path(const QString& relative) const
{
    return QDir(m_home).filePath(relative);
}

QString ProgramFolder::dataRoot() const
{
    return m_home + QStringLiteral("/HT/");
}

QString ProgramFolder::dbPath() const
{
    return m_home + QStringLiteral("/HT/0000/MasterConv.db");
}

QString ProgramFolder::importDir() const
{
    return m_home + QStringLiteral("/HT/0000/rcv/");
}

QString ProgramFolder::rcv(int terminal) const
{
    return dataRoot() + platform::ZeroPad(4, terminal) + QStringLiteral("/rcv/");
}

QString ProgramFolder::snd(int terminal) const
{
    return dataRoot() + platform::ZeroPad(4, terminal) + QStringLiteral("/snd/");
}

QString ProgramFolder::backup(int terminal) const
{
    return dataRoot() + QStringLiteral("backup/") + platform::ZeroPad(4, terminal) + QStringLiteral("/snd/");
}

} // namespace kavelo::test
