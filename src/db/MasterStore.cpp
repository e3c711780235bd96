#include "db/MasterStore.h"

#include "db/PgConnection.h"

namespace kavelo::db {

bool isServerUri(QStringView database)
{
    return database.startsWith(u"postgresql://") || database.startsWith(u"postgres://");
}

QString describeDatabase(const QString& database)
{
    return isServerUri(database) ? describeUri(database) : database;
}

} // namespace kavelo::db
