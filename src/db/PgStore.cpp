#include "db/PgStore.h"

#include "db/PgImportWork.h"
#include "db/PgUpdateWork.h"
#include "masters/Masters.h"

namespace kavelo::db {

using masters::MasterDefinition;
using platform::Result;
using platform::Status;

namespace {

// SQLSTATE lock_not_available: lock_timeout ran out.
const QByteArray kLockNotAvailable = QByteArrayLiteral("55P03");

// The master's number in the lock key: 1 to 6 in the masters' order.
qint64 masterNumber(const MasterDefinition& master)
{
    const auto& all = masters::allMasters();
    const auto found =
        std::find_if(all.begin(), all.end(), [&](const MasterDefinition* m) { return m->name == master.name; });
    return found - all.begin() + 1;
}

} // namespace

PgStore::PgStore(std::unique_ptr<PgConnection> connection, const StoreLocation& location)
    : m_connection(std::move(connection))
    , m_schema(*m_connection, location.schema)
    , m_lockWaitSeconds(location.lockWaitSeconds)
    , m_name(QStringLiteral("%1, schema %2").arg(m_connection->name(), location.schema))
{
}

Result<std::unique_ptr<PgStore>> PgStore::open(const StoreLocation& location)
{
    Result<std::unique_ptr<PgConnection>> connection = PgConnection::connect(location.database);
    if (!connection.isOk()) {
        return connection.status();
    }
    return std::unique_ptr<PgStore>(new PgStore(std::move(*connection), location));
}

Status PgStore::ensureSchema()
{
    return m_schema.ensure();
}

Status PgStore::lockMaster(const MasterDefinition& master)
{
    // The lock's key: the schema's oid and the master's number. Any two schemas have different oids.
    const QString lock =
        QStringLiteral("SELECT %1(n.oid::bigint * 16 + $2::bigint) FROM pg_namespace n WHERE n.nspname = $1");
    const QList<QByteArray> parameters{textParameter(m_schema.schema()), QByteArray::number(masterNumber(master))};
    Result<std::unique_ptr<PgResult>> tried =
        m_connection->query(lock.arg(QStringLiteral("pg_try_advisory_xact_lock")), parameters);
    if (!tried.isOk()) {
        return tried.status();
    }
    if ((*tried)->rows() == 0) {
        return Status::error(QStringLiteral("%1: the schema does not exist (run \"kavelo init\")").arg(m_name));
    }
    if ((*tried)->text(0, 0) == QLatin1String("t")) {
        return Status::ok();
    }
    const Status busy = Status::error(QStringLiteral("%1: %2 is being written by another KAVELO; gave up after %3 s")
                                          .arg(m_name, master.name)
                                          .arg(m_lockWaitSeconds));
    if (m_lockWaitSeconds <= 0) {
        return busy;
    }
    Status limited = m_connection->exec(QStringLiteral("SELECT set_config('lock_timeout', $1, true)"),
                                        {QByteArray::number(qint64(m_lockWaitSeconds) * 1000)});
    if (!limited.isOk()) {
        return limited;
    }
    std::unique_ptr<PgResult> waited = m_connection->run(lock.arg(QStringLiteral("pg_advisory_xact_lock")), parameters);
    if (!waited->ok()) {
        return waited->sqlState() == kLockNotAvailable ? busy : m_connection->failure(*waited);
    }
    return m_connection->exec(QStringLiteral("SET LOCAL lock_timeout TO DEFAULT"));
}

Result<std::unique_ptr<PgTransaction>> PgStore::beginWork(const MasterDefinition& master)
{
    // A connection lost since the last work (a server restarted, a network cut) is made again, once.
    Result<std::unique_ptr<PgTransaction>> transaction =
        m_connection->isAlive() ? PgTransaction::begin(*m_connection)
                                : Result<std::unique_ptr<PgTransaction>>(Status::error(QStringLiteral("lost")));
    if (!transaction.isOk() && !m_connection->isAlive()) {
        Status reconnected = m_connection->reconnect();
        if (!reconnected.isOk()) {
            return reconnected;
        }
        transaction = PgTransaction::begin(*m_connection);
    }
    if (!transaction.isOk()) {
        return transaction;
    }
    Status ready = lockMaster(master);
    if (ready.isOk()) {
        ready = m_schema.check(master);
    }
    // A work's few statements sort and join whole batches: in memory rather than in temporary files, and without
    // compiling them first (a batch's statements are not worth it).
    if (ready.isOk()) {
        ready = m_connection->exec(
            QStringLiteral("SELECT set_config('work_mem', '32MB', true), set_config('jit', 'off', true)"));
    }
    if (!ready.isOk()) {
        return ready;
    }
    return transaction;
}

Result<std::unique_ptr<UpdateWork>> PgStore::beginUpdate(const MasterDefinition& master, const QString& terminalId)
{
    Result<std::unique_ptr<PgTransaction>> transaction = beginWork(master);
    if (!transaction.isOk()) {
        return transaction.status();
    }
    Result<std::unique_ptr<PgUpdateWork>> work =
        PgUpdateWork::start(*m_connection, m_schema, master, terminalId, std::move(*transaction));
    if (!work.isOk()) {
        return work.status();
    }
    return std::unique_ptr<UpdateWork>(std::move(*work));
}

Result<std::unique_ptr<ImportWork>> PgStore::beginImport(const MasterDefinition& master)
{
    Result<std::unique_ptr<PgTransaction>> transaction = beginWork(master);
    if (!transaction.isOk()) {
        return transaction.status();
    }
    Result<std::unique_ptr<PgImportWork>> work =
        PgImportWork::start(*m_connection, m_schema, master, std::move(*transaction));
    if (!work.isOk()) {
        return work.status();
    }
    return std::unique_ptr<ImportWork>(std::move(*work));
}

} // namespace kavelo::db
