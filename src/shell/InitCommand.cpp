#include "shell/Commands.h"

#include "db/MasterStore.h"
#include "exchange/FolderTree.h"
#include "masters/Schema.h"
#include "platform/Database.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"
#include "transfer/TlsCertificate.h"

#include <QDir>
#include <QFileInfo>

namespace kavelo::shell {

using platform::Result;
using platform::Status;

namespace {

constexpr int kTerminalCount = 11;

Status writeDefaultSettings(const QString& home)
{
    const QString path = settingsPath(home);
    if (QFileInfo::exists(path)) {
        return Status::ok();
    }
    Result<std::unique_ptr<platform::ShiftJisLineWriter>> writer = platform::ShiftJisLineWriter::create(path);
    if (!writer.isOk()) {
        return writer.status();
    }
    const QString db = QDir::toNativeSeparators(QDir(home).filePath(QStringLiteral("HT/0000/MasterConv.db")));
    const QString data = QDir::toNativeSeparators(QDir(home).filePath(QStringLiteral("HT"))) + QDir::separator();
    for (const QString& line : {kKeyDbName + QLatin1Char('=') + db, kKeyData + QLatin1Char('=') + data}) {
        Status written = (*writer)->writeLine(line);
        if (!written.isOk()) {
            return written;
        }
    }
    Status committed = (*writer)->commit();
    if (committed.isOk()) {
        printLine(QStringLiteral("wrote %1").arg(path));
    }
    return committed;
}

Status makeFolder(const QString& path)
{
    if (QFileInfo(path).isDir()) {
        return Status::ok();
    }
    if (!QDir().mkpath(path)) {
        return Status::error(QStringLiteral("%1: cannot create the folder").arg(path));
    }
    return Status::ok();
}

// A SQLite file is made where missing; on a server, the schema and its tables: a schema of another's with other
// columns is refused, changing nothing.
Status makeDatabase(const db::StoreLocation& location)
{
    if (db::isServerUri(location.database)) {
        auto store = db::openStore(location);
        return store.isOk() ? (*store)->ensureSchema() : store.status();
    }
    const QString& path = location.database;
    const QString folder = QFileInfo(path).absolutePath();
    Status made = makeFolder(folder);
    if (!made.isOk()) {
        return made;
    }
    auto database = platform::Database::openSqlite(path, platform::Database::OpenMode::CreateIfMissing);
    if (!database.isOk()) {
        return database.status();
    }
    return masters::ensureSchema(**database);
}

} // namespace

int runInit(const CommandContext& context)
{
    Status wrote = writeDefaultSettings(context.home);
    if (!wrote.isOk()) {
        printError(wrote.message());
        return kExitFailed;
    }
    platform::Result<Settings> settings = startCommand(context, QStringLiteral("init"), false);
    if (!settings.isOk()) {
        return kExitUsage;
    }

    exchange::FolderTree tree(settings->DataRoot, context.home);
    QStringList folders;
    for (int terminal = 1; terminal <= kTerminalCount; ++terminal) {
        const QString id = exchange::FolderTree::terminalId(terminal);
        folders << tree.sendFolder(id) << tree.receiveFolder(id) << tree.backupFolder(id);
    }
    folders << settings->importDir;
    for (const QString& folder : folders) {
        Status made = makeFolder(folder);
        if (!made.isOk()) {
            printError(made.message());
            qCCritical(lcShell).noquote() << made.message();
            return kExitFailed;
        }
    }

    QStringList databases{settings->DBPath};
    if (db::isServerUri(settings->importDb) || db::isServerUri(settings->DBPath)
            ? settings->importDb != settings->DBPath
            : QFileInfo(settings->importDb).absoluteFilePath() != QFileInfo(settings->DBPath).absoluteFilePath()) {
        databases << settings->importDb;
    }
    QStringList described;
    for (const QString& path : databases) {
        const db::StoreLocation location(path, settings->dbSchema, settings->dbLockWait);
        Status made = makeDatabase(location);
        if (!made.isOk()) {
            printError(made.message());
            qCCritical(lcShell).noquote() << made.message();
            return kExitFailed;
        }
        described << location.describe();
    }
    if (settings->httpsPort != 0) {
        const transfer::TlsFiles tls = transfer::tlsFiles(context.home, settings->tlsCertificate, settings->tlsKey);
        bool made = false;
        Status certificate = transfer::ensureCertificate(tls, settings->listenAddress, &made);
        if (!certificate.isOk()) {
            printError(certificate.message());
            qCCritical(lcShell).noquote() << certificate.message();
            return kExitFailed;
        }
        if (made) {
            printLine(QStringLiteral("wrote %1 and %2 (the terminals' HTTPS certificate and its key)")
                          .arg(tls.certificate, tls.key));
        }
    }
    qCInfo(lcShell).noquote() << "init complete:" << folders.size() << "folders,"
                              << described.join(QStringLiteral("; "));
    printLine(QStringLiteral("program folder %1 is ready (terminals 0001-0011, database %2)")
                  .arg(context.home, described.join(QStringLiteral("; "))));
    return kExitOk;
}

} // namespace kavelo::shell
