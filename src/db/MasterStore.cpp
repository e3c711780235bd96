#include "db/MasterStore.h"

namespace kavelo::db {

bool isServerUri(QStringView database)
{
    return database.startsWith(u"postgresql://") || database.startsWith(u"postgres://");
}

} // namespace kavelo::db
