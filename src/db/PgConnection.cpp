#include "db/PgConnection.h"

#include "db/MasterStore.h"
#include "platform/Log.h"

#include <QHash>
#include <QStringList>

#include <optional>

#include <vector>

#include <libpq-fe.h>

namespace kavelo::db {

using platform::Result;
using platform::Status;

namespace {

// Server 10 brought identity columns, which the tables use.
constexpr int kMinServerVersion = 100000;

QString trimmedMessage(const char* message)
{
    return QString::fromUtf8(message).trimmed();
}

void logNotice(void*, const char* message)
{
    qCDebug(lcDb).noquote() << "server:" << trimmedMessage(message);
}

struct ConninfoFree
{
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};

} // namespace

QByteArray textParameter(QStringView text)
{
    QByteArray utf8 = text.toUtf8();
    if (utf8.isNull()) {
        utf8 = QByteArray("", 0);
    }
    return utf8;
}

namespace {

// The keywords a URI sets, as libpq reads it; nothing when libpq cannot read it.
std::optional<QHash<QString, QString>> uriKeywords(const QString& uri)
{
    char* error = nullptr;
    std::unique_ptr<PQconninfoOption, ConninfoFree> options(PQconninfoParse(uri.toUtf8().constData(), &error));
    if (!options) {
        PQfreemem(error);
        return std::nullopt;
    }
    QHash<QString, QString> keywords;
    for (const PQconninfoOption* option = options.get(); option->keyword != nullptr; ++option) {
        if (option->val != nullptr) {
            keywords.insert(QString::fromLatin1(option->keyword), QString::fromUtf8(option->val));
        }
    }
    return keywords;
}

} // namespace

bool uriCarriesPassword(const QString& uri)
{
    if (!isServerUri(uri)) {
        return false;
    }
    const std::optional<QHash<QString, QString>> keywords = uriKeywords(uri);
    return keywords && !keywords->value(QStringLiteral("password")).isEmpty();
}

QString describeUri(const QString& uri)
{
    const std::optional<QHash<QString, QString>> keywords = uriKeywords(uri);
    if (!keywords) {
        // Named without what may hold a password: a user part ("user:password@") and the parameters.
        const qsizetype scheme = uri.indexOf(QLatin1String("://"));
        QString rest = scheme < 0 ? QString() : uri.mid(scheme + 3);
        rest = rest.mid(rest.indexOf(QLatin1Char('@')) + 1);
        return uri.left(scheme < 0 ? 0 : scheme + 3) + rest.left(rest.indexOf(QLatin1Char('?')));
    }
    const QString user = keywords->value(QStringLiteral("user"));
    const QString host = keywords->value(QStringLiteral("host"));
    const QString port = keywords->value(QStringLiteral("port"));
    QString name = QStringLiteral("postgresql://");
    if (!user.isEmpty()) {
        name += user + QLatin1Char('@');
    }
    // A socket folder (or several hosts with one) goes into the query, as libpq reads it back.
    const bool socket = host.contains(QLatin1Char('/'));
    if (!socket) {
        name += host + (port.isEmpty() ? QString() : QLatin1Char(':') + port);
    }
    name += QLatin1Char('/') + keywords->value(QStringLiteral("dbname"));
    if (socket) {
        name += QStringLiteral("?host=") + host + (port.isEmpty() ? QString() : QStringLiteral("&port=") + port);
    }
    return name;
}

PgResult::PgResult(pg_result* result)
    : m_result(result)
{
}

PgResult::~PgResult()
{
    PQclear(m_result);
}

bool PgResult::ok() const
{
    switch (PQresultStatus(m_result)) {
    case PGRES_COMMAND_OK:
    case PGRES_TUPLES_OK:
    case PGRES_COPY_IN:
    case PGRES_COPY_OUT:
        return true;
    default:
        return false;
    }
}

QString PgResult::error() const
{
    if (m_result == nullptr) {
        return QStringLiteral("out of memory");
    }
    const char* primary = PQresultErrorField(m_result, PG_DIAG_MESSAGE_PRIMARY);
    QString message = trimmedMessage(primary != nullptr ? primary : PQresultErrorMessage(m_result));
    if (const char* detail = PQresultErrorField(m_result, PG_DIAG_MESSAGE_DETAIL)) {
        message += QStringLiteral(" (%1)").arg(trimmedMessage(detail));
    }
    return message.isEmpty() ? QString::fromUtf8(PQresStatus(PQresultStatus(m_result))) : message;
}

QByteArray PgResult::sqlState() const
{
    const char* state = PQresultErrorField(m_result, PG_DIAG_SQLSTATE);
    return state != nullptr ? QByteArray(state) : QByteArray();
}

int PgResult::rows() const
{
    return PQntuples(m_result);
}

QString PgResult::text(int row, int column) const
{
    return QString::fromUtf8(PQgetvalue(m_result, row, column), PQgetlength(m_result, row, column));
}

bool PgResult::isNull(int row, int column) const
{
    return PQgetisnull(m_result, row, column) != 0;
}

qint64 PgResult::affected() const
{
    return QByteArray(PQcmdTuples(m_result)).toLongLong();
}

QByteArray PgResult::commandTag() const
{
    return QByteArray(PQcmdStatus(m_result));
}

PgConnection::PgConnection(pg_conn* connection, QString name)
    : m_connection(connection)
    , m_name(std::move(name))
{
}

PgConnection::~PgConnection()
{
    {
        std::lock_guard<std::mutex> lock(m_cancelMutex);
        PQfreeCancel(m_cancel);
        m_cancel = nullptr;
    }
    PQfinish(m_connection);
}

Result<std::unique_ptr<PgConnection>> PgConnection::connect(const QString& uri)
{
    const QByteArray dbname = uri.toUtf8();
    // Keywords are applied in order: the URI may set its own connect_timeout, never another client encoding.
    const char* const keywords[] = {
        "connect_timeout", "fallback_application_name", "dbname", "client_encoding", nullptr};
    const char* const values[] = {"10", "kavelo", dbname.constData(), "UTF8", nullptr};
    std::unique_ptr<PgConnection> connection(
        new PgConnection(PQconnectdbParams(keywords, values, 1), describeUri(uri)));
    if (connection->m_connection == nullptr) {
        return Status::error(QStringLiteral("%1: cannot connect: out of memory").arg(connection->m_name));
    }
    Status ready = connection->setUp();
    if (!ready.isOk()) {
        return ready;
    }
    return connection;
}

Status PgConnection::reconnect()
{
    qCInfo(lcDb).noquote() << QStringLiteral("%1: the connection was lost; connecting again").arg(m_name);
    PQreset(m_connection);
    return setUp();
}

// What every new connection checks and sets before its first statement.
Status PgConnection::setUp()
{
    if (PQstatus(m_connection) != CONNECTION_OK) {
        return connectionFailure(QStringLiteral("cannot connect"));
    }
    PQsetNoticeProcessor(m_connection, logNotice, nullptr);
    {
        std::lock_guard<std::mutex> lock(m_cancelMutex); // a new server process: a new key to cancel with
        PQfreeCancel(m_cancel);
        m_cancel = PQgetCancel(m_connection);
    }
    const QString encoding = QString::fromUtf8(PQparameterStatus(m_connection, "server_encoding"));
    if (encoding != QLatin1String("UTF8")) {
        return Status::error(QStringLiteral("%1: the database is encoded in %2; KAVELO needs a UTF-8 database "
                                            "(CREATE DATABASE ... ENCODING 'UTF8' TEMPLATE template0)")
                                 .arg(m_name, encoding));
    }
    const int version = PQserverVersion(m_connection);
    if (version < kMinServerVersion) {
        return Status::error(QStringLiteral("%1: the server runs PostgreSQL %2; KAVELO needs 10 or later")
                                 .arg(m_name)
                                 .arg(version / 10000));
    }
    // Every table is named with its schema; functions and operators come from the system catalog alone, whatever
    // search path the role or the database sets.
    return exec(QStringLiteral("SELECT pg_catalog.set_config('search_path', 'pg_catalog', false)"));
}

void PgConnection::cancel()
{
    std::lock_guard<std::mutex> lock(m_cancelMutex);
    if (m_cancel == nullptr) {
        return;
    }
    char error[256] = {};
    if (PQcancel(m_cancel, error, sizeof error) == 0) {
        qCDebug(lcDb).noquote() << QStringLiteral("%1: cancel not sent: %2").arg(m_name, trimmedMessage(error));
    }
}

bool PgConnection::isAlive() const
{
    return PQstatus(m_connection) == CONNECTION_OK;
}

int PgConnection::backendPid() const
{
    return PQbackendPID(m_connection);
}

std::unique_ptr<PgResult> PgConnection::run(const QString& sql, const QList<QByteArray>& parameters)
{
    std::vector<const char*> values;
    values.reserve(static_cast<size_t>(parameters.size()));
    for (const QByteArray& parameter : parameters) {
        values.push_back(parameter.isNull() ? nullptr : parameter.constData());
    }
    return std::make_unique<PgResult>(PQexecParams(m_connection,
                                                   sql.toUtf8().constData(),
                                                   static_cast<int>(values.size()),
                                                   nullptr,
                                                   values.data(),
                                                   nullptr,
                                                   nullptr,
                                                   0));
}

Result<std::unique_ptr<PgResult>> PgConnection::query(const QString& sql, const QList<QByteArray>& parameters)
{
    std::unique_ptr<PgResult> result = run(sql, parameters);
    if (!result->ok()) {
        return failure(*result);
    }
    return result;
}

Status PgConnection::exec(const QString& sql, const QList<QByteArray>& parameters)
{
    std::unique_ptr<PgResult> result = run(sql, parameters);
    return result->ok() ? Status::ok() : failure(*result);
}

Status PgConnection::failure(const PgResult& result) const
{
    return Status::error(QStringLiteral("%1: %2").arg(m_name, result.error()));
}

Status PgConnection::connectionFailure(const QString& what) const
{
    return Status::error(QStringLiteral("%1: %2: %3").arg(m_name, what, trimmedMessage(PQerrorMessage(m_connection))));
}

// The result that ends a COPY: success, or the server's reason.
Status PgConnection::finishCopy()
{
    Status status = Status::ok();
    while (PGresult* raw = PQgetResult(m_connection)) {
        PgResult result(raw);
        if (!result.ok() && status.isOk()) {
            status = failure(result);
        }
    }
    return status;
}

Status PgConnection::copyIn(const QString& sql, const std::function<Status(const CopySink& sink)>& produce)
{
    std::unique_ptr<PgResult> started = run(sql);
    if (!started->ok()) {
        return failure(*started);
    }
    const CopySink sink = [this](QByteArrayView data) {
        if (PQputCopyData(m_connection, data.data(), static_cast<int>(data.size())) != 1) {
            return connectionFailure(QStringLiteral("sending rows"));
        }
        return Status::ok();
    };
    const Status produced = produce(sink);
    // A failed producer ends the copy with an error message: the server then stores none of its rows.
    const QByteArray abandoned = produced.isOk() ? QByteArray() : produced.message().toUtf8();
    if (PQputCopyEnd(m_connection, produced.isOk() ? nullptr : abandoned.constData()) != 1) {
        const Status ended = connectionFailure(QStringLiteral("ending the rows"));
        static_cast<void>(finishCopy()); // the connection is lost; whatever it still reports adds nothing
        return produced.isOk() ? ended : produced;
    }
    const Status finished = finishCopy();
    return produced.isOk() ? finished : produced;
}

Status PgConnection::copyOut(const QString& sql, const std::function<Status(QByteArrayView data)>& consume)
{
    std::unique_ptr<PgResult> started = run(sql);
    if (!started->ok()) {
        return failure(*started);
    }
    Status consumed = Status::ok();
    for (;;) {
        char* buffer = nullptr;
        const int size = PQgetCopyData(m_connection, &buffer, 0);
        if (size < 0) {
            break; // -1: the copy is done; -2: it failed, and the result says why
        }
        if (consumed.isOk()) {
            consumed = consume(QByteArrayView(buffer, size));
        }
        PQfreemem(buffer);
    }
    const Status finished = finishCopy();
    return finished.isOk() ? consumed : finished;
}

PgTransaction::PgTransaction(PgConnection& connection)
    : m_connection(connection)
{
}

Result<std::unique_ptr<PgTransaction>> PgTransaction::begin(PgConnection& connection)
{
    Status started = connection.exec(QStringLiteral("BEGIN"));
    if (!started.isOk()) {
        return started;
    }
    return std::unique_ptr<PgTransaction>(new PgTransaction(connection));
}

PgTransaction::~PgTransaction()
{
    if (m_open && m_connection.isAlive()) {
        Status rolledBack = m_connection.exec(QStringLiteral("ROLLBACK"));
        if (!rolledBack.isOk()) {
            qCWarning(lcDb).noquote() << "rollback failed:" << rolledBack.message();
        }
    }
}

Status PgTransaction::commit()
{
    std::unique_ptr<PgResult> committed = m_connection.run(QStringLiteral("COMMIT"));
    if (!committed->ok()) {
        return m_connection.failure(*committed);
    }
    m_open = false;
    if (committed->commandTag() != "COMMIT") {
        return Status::error(
            QStringLiteral("%1: the transaction had failed and was rolled back").arg(m_connection.name()));
    }
    return Status::ok();
}

} // namespace kavelo::db
