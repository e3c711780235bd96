#ifndef KAVELO_BENCH_PRODUCTFOLDER_H
#define KAVELO_BENCH_PRODUCTFOLDER_H

// A program folder whose SQLite master database holds the same products for terminals 3 and 7, stored by the update
// engine itself: where the benchmarks of the update and of a poll start.

#include "ProductRecords.h"

#include "distribution/MasterUpdate.h"
#include "exchange/FolderTree.h"
#include "masters/Masters.h"
#include "masters/Schema.h"
#include "platform/Database.h"

#include <QDir>
#include <QString>

#include <cstdio>

namespace kavelo::bench {

struct ProductFolder
{
    QString home;
    QString dataRoot() const { return home + QStringLiteral("/HT/"); }
    QString dbPath() const { return home + QStringLiteral("/MasterConv.db"); }
    distribution::UpdateContext context() const { return {dbPath(), exchange::FolderTree(dataRoot(), home)}; }
    QString receiveFile(int terminal, const QString& name) const
    {
        return context().tree.receiveFile(exchange::FolderTree::terminalId(terminal), name);
    }
    QString updatePath(int terminal) const { return receiveFile(terminal, masters::productMaster().updateFileName()); }
};

// Creates the tables and gives terminals 3 and 7 the same `rows` products, each through an update of its own. Without
// a checkpoint worker each update checkpoints as it ends, so the database file holds everything afterwards.
inline bool seedProducts(const ProductFolder& folder, qint64 rows)
{
    auto db = platform::Database::openSqlite(folder.dbPath(), platform::Database::OpenMode::CreateIfMissing);
    if (!db.isOk() || !masters::ensureSchema(**db).isOk()) {
        std::fprintf(stderr, "cannot create the database\n");
        return false;
    }
    db->reset();
    for (int terminal : {3, 7}) {
        QDir().mkpath(folder.context().tree.receiveFolder(exchange::FolderTree::terminalId(terminal)));
        if (!writeProductUpdateFile(folder.updatePath(terminal), rows, 0, 1)) {
            return false;
        }
        auto seeded = distribution::UpdateSHOMAS(folder.context(), terminal);
        if (!seeded.isOk()) {
            std::fprintf(stderr, "%s\n", qPrintable(seeded.status().message()));
            return false;
        }
    }
    return true;
}

} // namespace kavelo::bench

#endif
