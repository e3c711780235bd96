#ifndef KAVELO_DB_PGCONNECTION_H
#define KAVELO_DB_PGCONNECTION_H

#include "platform/Status.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringView>

#include <functional>
#include <memory>
#include <mutex>

struct pg_cancel;
struct pg_conn;
struct pg_result;

namespace kavelo::db {

// The outcome of one statement on the server.
class PgResult
{
  public:
    explicit PgResult(pg_result* result);
    ~PgResult();

    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;

    // The statement ran (and, for COPY, the server is ready for the data).
    bool ok() const;
    // When !ok(): the server's (or libpq's) reason, and the SQLSTATE code ("55P03"), empty when libpq failed itself.
    QString error() const;
    QByteArray sqlState() const;

    int rows() const;
    QString text(int row, int column) const;
    bool isNull(int row, int column) const;
    // Rows an INSERT, UPDATE or DELETE changed.
    qint64 affected() const;
    // The command's tag: "COMMIT", or "ROLLBACK" for a COMMIT of a transaction that had failed.
    QByteArray commandTag() const;

  private:
    pg_result* m_result;
};

// A connection to a PostgreSQL server: RAII over PGconn, used by one thread at a time. Values reach the server
// only as parameters or as COPY data; identifiers only through platform::quoteIdentifier.
class PgConnection
{
  public:
    // `uri`: a postgresql:// or postgres:// URI in libpq's syntax; libpq's environment (PGPASSFILE, PGSSLROOTCERT,
    // ...) applies. A connection without a connect_timeout gives up after 10 s. The client encoding is UTF-8; a
    // database whose own encoding is not is refused, naming it.
    static platform::Result<std::unique_ptr<PgConnection>> connect(const QString& uri);
    ~PgConnection();

    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // "postgresql://user@host:port/database": the URI without a password or options, for messages.
    const QString& name() const { return m_name; }
    // The server process serving this connection.
    int backendPid() const;

    // Runs one statement with text parameters ($1, $2, ...; a null QByteArray is NULL). Never null.
    std::unique_ptr<PgResult> run(const QString& sql, const QList<QByteArray>& parameters = {});
    // The same, with a failure made a Status naming the database.
    platform::Result<std::unique_ptr<PgResult>> query(const QString& sql, const QList<QByteArray>& parameters = {});
    platform::Status exec(const QString& sql, const QList<QByteArray>& parameters = {});

    // COPY ... FROM STDIN: `produce` hands its data to the sink piece by piece. When it fails, the copy is
    // abandoned (nothing of it stored) and its error returned.
    using CopySink = std::function<platform::Status(QByteArrayView data)>;
    platform::Status copyIn(const QString& sql, const std::function<platform::Status(const CopySink& sink)>& produce);
    // COPY ... TO STDOUT: every piece of data the server sends goes to `consume` (for the binary format, one row
    // each, the header with the first). After a failure of `consume` the rest is read and dropped.
    platform::Status copyOut(const QString& sql, const std::function<platform::Status(QByteArrayView data)>& consume);

    // The error of a failed result, naming the database.
    platform::Status failure(const PgResult& result) const;
    // False once the connection is lost.
    bool isAlive() const;
    // Connects again, to the same server with the same settings, after the connection was lost.
    platform::Status reconnect();
    // From any thread: asks the server to end the statement running on this connection now, which then fails. A
    // request only: a statement that ends meanwhile is not affected.
    void cancel();

  private:
    PgConnection(pg_conn* connection, QString name);
    platform::Status setUp();
    platform::Status connectionFailure(const QString& what) const;
    platform::Status finishCopy();

    pg_conn* m_connection;
    QString m_name;
    std::mutex m_cancelMutex; // guards m_cancel, which cancel() uses from another thread
    pg_cancel* m_cancel = nullptr;
};

// All-or-nothing on a connection: rolls back on destruction unless commit() succeeded. A connection lost meanwhile
// needs no rollback: the server has given the transaction up.
class PgTransaction
{
  public:
    static platform::Result<std::unique_ptr<PgTransaction>> begin(PgConnection& connection);
    ~PgTransaction();

    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;

    platform::Status commit();

  private:
    explicit PgTransaction(PgConnection& connection);

    PgConnection& m_connection;
    bool m_open = true;
};

// A text as a parameter of PgConnection::run: its UTF-8, empty text included, never NULL.
QByteArray textParameter(QStringView text);

// Whether a connection URI holds a password.
bool uriCarriesPassword(const QString& uri);

// "postgresql://user@host:port/database" of a URI, without its password and options; when libpq cannot read it,
// the URI without its user part and parameters.
QString describeUri(const QString& uri);

} // namespace kavelo::db

#endif
