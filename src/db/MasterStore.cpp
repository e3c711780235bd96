#include "db/MasterStore.h"

#include "db/PgConnection.h"
#include "db/PgStore.h"
#include "db/SqliteStore.h"

namespace kavelo::db {

StoreLocation::StoreLocation(QString path, QString schemaName, int lockWait)
    : database(std::move(path))
    , schema(std::move(schemaName))
    , lockWaitSeconds(lockWait)
{
}

QString StoreLocation::describe() const
{
    return isServerUri(database) ? QStringLiteral("%1, schema %2").arg(describeUri(database), schema) : database;
}

bool isServerUri(QStringView database)
{
    return database.startsWith(u"postgresql://") || database.startsWith(u"postgres://");
}

QString describeDatabase(const QString& database)
{
    return isServerUri(database) ? describeUri(database) : database;
}

platform::Result<std::unique_ptr<MasterStore>> openStore(const StoreLocation& location, const StoreOptions& options)
{
    if (isServerUri(location.database)) {
        platform::Result<std::unique_ptr<PgStore>> store = PgStore::open(location);
        if (!store.isOk()) {
            return store.status();
        }
        return std::unique_ptr<MasterStore>(std::move(*store));
    }
    platform::Result<std::unique_ptr<SqliteStore>> store = SqliteStore::open(location.database, options);
    if (!store.isOk()) {
        return store.status();
    }
    return std::unique_ptr<MasterStore>(std::move(*store));
}

} // namespace kavelo::db
