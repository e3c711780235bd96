#include "platform/Database.h"

#include "platform/FileMode.h"
#include "platform/Log.h"
#include "platform/SystemError.h"

#include <QFile>
#include <QFileInfo>
#include <QStringEncoder>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include <sqlite3.h>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

namespace kavelo::platform {

namespace {

constexpr int kBusyTimeoutMs = 30000;

// SQLite's message, with the system's reason when the file system refused: "disk I/O error (Read-only file system)".
// A full disk gives SQLITE_FULL with no error number kept (the write was short); the database has no page limit
// of its own, so "full" is the disk.
QString sqliteMessage(sqlite3* db)
{
    QString message = QString::fromUtf8(sqlite3_errmsg(db));
    const int primary = sqlite3_extended_errcode(db) & 0xff;
    int errnum = 0;
    if (primary == SQLITE_IOERR || primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY) {
        errnum = sqlite3_system_errno(db);
    } else if (primary == SQLITE_FULL) {
        errnum = ENOSPC;
    }
    if (errnum != 0) {
        const QString reason = systemReason(errnum);
        if (!message.contains(reason)) {
            message += QStringLiteral(" (%1)").arg(reason);
        }
    }
    return message;
}

// Copies the ASCII units that `in` starts with to `out` as bytes and returns how many; stops at the first other.
inline qsizetype narrowAscii(const char16_t* in, qsizetype size, char* out)
{
    qsizetype i = 0;
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    while (i + 8 <= size) {
        const __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(units, high), _mm_setzero_si128())) != 0xFFFF) {
            break;
        }
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(units, units));
        i += 8;
    }
#endif
    while (i < size && in[i] < 0x80) {
        out[i] = static_cast<char>(in[i]);
        ++i;
    }
    return i;
}

class SqliteStatement final : public Statement
{
  public:
    SqliteStatement(sqlite3* db, sqlite3_stmt* stmt, QString dbPath, bool utf8Storage)
        : m_db(db)
        , m_stmt(stmt)
        , m_dbPath(std::move(dbPath))
        , m_utf8Storage(utf8Storage)
    {
    }
    ~SqliteStatement() override { sqlite3_finalize(m_stmt); }

    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    void bind(int index, QStringView value) override
    {
        // The text is converted to UTF-8 into a buffer of this parameter that lives until the next bind of it, so
        // SQLite takes it without a copy of its own (SQLITE_STATIC). An empty text is bound as empty text, not NULL.
        char* out = buffer(index, static_cast<size_t>(value.size()) * 3 + 1);
        if (!out) {
            return;
        }
        // Most values are ASCII (codes, dates, prices): copied eight units at a time; the rest is encoded from the
        // first other character on.
        const char16_t* in = value.utf16();
        const qsizetype size = value.size();
        const qsizetype ascii = narrowAscii(in, size, out);
        char* end = ascii == size ? out + size : encodeRest(value.sliced(ascii), out + ascii);
        remember(sqlite3_bind_text(m_stmt, index, out, static_cast<int>(end - out), SQLITE_STATIC));
    }

    void bindUtf8(int index, QByteArrayView value) override
    {
        char* out = buffer(index, static_cast<size_t>(value.size()) + 1);
        if (!out) {
            return;
        }
        std::copy(value.begin(), value.end(), out);
        remember(sqlite3_bind_text(m_stmt, index, out, static_cast<int>(value.size()), SQLITE_STATIC));
    }

    void bindNull(int index) override { remember(sqlite3_bind_null(m_stmt, index)); }

    void bindInteger(int index, qint64 value) override { remember(sqlite3_bind_int64(m_stmt, index, value)); }

    Result<bool> step() override
    {
        if (m_bindError != SQLITE_OK) {
            int rc = m_bindError;
            m_bindError = SQLITE_OK;
            return Status::fileError(
                m_dbPath, QString::fromUtf8(sqlite3_errstr(rc)), QStringLiteral("cannot bind a value"));
        }
        int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW) {
            return true;
        }
        if (rc == SQLITE_DONE) {
            return false;
        }
        Status failed = Status::fileError(m_dbPath, sqliteMessage(m_db));
        sqlite3_reset(m_stmt);
        return failed;
    }

    void reset() override
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        m_bindError = SQLITE_OK;
    }

    QString text(int column) const override
    {
        const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, column));
        int bytes = sqlite3_column_bytes(m_stmt, column);
        return data ? QString::fromUtf8(data, bytes) : QStringLiteral("");
    }

    QByteArrayView utf8(int column) const override
    {
        // Text asked for as text is first copied to get a terminating NUL; asked for as a blob it is handed over
        // as the row holds it, which is its UTF-8 text in a database stored as UTF-8 (the only kind this
        // program creates; others take the copy).
        const void* data = m_utf8Storage ? sqlite3_column_blob(m_stmt, column) : sqlite3_column_text(m_stmt, column);
        return data ? QByteArrayView(static_cast<const char*>(data), sqlite3_column_bytes(m_stmt, column))
                    : QByteArrayView();
    }

    bool isNull(int column) const override { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }

    qint64 integer(int column) const override { return sqlite3_column_int64(m_stmt, column); }

  private:
    // UTF-8 of `text` at `out`, which has room for three bytes a unit; the end of what was written. Characters of
    // the BMP are written here, text with a surrogate goes to the encoder whole.
    char* encodeRest(QStringView text, char* out)
    {
        char* const start = out;
        for (const QChar unit : text) {
            const char16_t c = unit.unicode();
            if (c < 0x80) {
                *out++ = static_cast<char>(c);
            } else if (c < 0x800) {
                *out++ = static_cast<char>(0xC0 | (c >> 6));
                *out++ = static_cast<char>(0x80 | (c & 0x3F));
            } else if (c < 0xD800 || c > 0xDFFF) {
                *out++ = static_cast<char>(0xE0 | (c >> 12));
                *out++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
                *out++ = static_cast<char>(0x80 | (c & 0x3F));
            } else {
                return m_utf8.appendToBuffer(start, text);
            }
        }
        return out;
    }

    // The buffer of parameter `index`, at least `size` bytes; nullptr (and the error remembered) for a bad index.
    char* buffer(int index, size_t size)
    {
        const auto slot = static_cast<size_t>(index);
        if (index >= 1 && slot < m_buffers.size() && m_buffers[slot].size() >= size) {
            return m_buffers[slot].data();
        }
        return grownBuffer(index, size);
    }

    char* grownBuffer(int index, size_t size)
    {
        if (index < 1) {
            remember(SQLITE_RANGE);
            return nullptr;
        }
        if (static_cast<size_t>(index) >= m_buffers.size()) {
            m_buffers.resize(static_cast<size_t>(index) + 1);
        }
        std::vector<char>& buffer = m_buffers[static_cast<size_t>(index)];
        // Room for a few more bytes than asked, so that a value a little longer next time fits as well.
        buffer.resize(std::max(size, size_t(32)));
        return buffer.data();
    }

    void remember(int rc)
    {
        if (rc != SQLITE_OK && m_bindError == SQLITE_OK) {
            m_bindError = rc;
        }
    }

    sqlite3* m_db;
    sqlite3_stmt* m_stmt;
    QString m_dbPath;
    bool m_utf8Storage;
    int m_bindError = SQLITE_OK;
    std::vector<std::vector<char>> m_buffers;
    QStringEncoder m_utf8{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
};

// State of one csv line function: the forms of its values and its line buffer, kept from row to row.
struct CsvLineState
{
    bool utf8Storage = true;
    std::vector<CsvForm> forms;
    std::string line;
};

void csvLine(sqlite3_context* context, int argc, sqlite3_value** argv)
{
    auto* state = static_cast<CsvLineState*>(sqlite3_user_data(context));
    std::string& line = state->line;
    line.clear();
    for (int i = 0; i < argc; ++i) {
        // Text asked for as a blob comes as the row holds it, without the copy that a terminating NUL needs.
        const void* value = state->utf8Storage ? sqlite3_value_blob(argv[i]) : sqlite3_value_text(argv[i]);
        const char* begin = static_cast<const char*>(value);
        const char* end = begin ? begin + sqlite3_value_bytes(argv[i]) : begin;
        if (static_cast<size_t>(i) < state->forms.size() && state->forms[static_cast<size_t>(i)] == CsvForm::Trimmed) {
            while (begin != end && *begin == ' ') {
                ++begin;
            }
            while (begin != end && end[-1] == ' ') {
                --end;
            }
        }
        if (i > 0) {
            line += ',';
        }
        line.append(begin, static_cast<size_t>(end - begin));
    }
    sqlite3_result_text(context, line.data(), static_cast<int>(line.size()), SQLITE_TRANSIENT);
}

struct SqliteCloser
{
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

class SqliteDatabase final : public Database
{
  public:
    SqliteDatabase(sqlite3* db, QString path)
        : m_db(db)
        , m_path(std::move(path))
    {
    }

    const QString& path() const override { return m_path; }

    Status exec(const QString& sql) override
    {
        if (sqlite3_exec(m_db.get(), sql.toUtf8().constData(), nullptr, nullptr, nullptr) != SQLITE_OK) {
            return Status::fileError(m_path, sqliteMessage(m_db.get()));
        }
        return Status::ok();
    }

    Result<std::unique_ptr<Statement>> prepare(const QString& sql) override
    {
        sqlite3_stmt* stmt = nullptr;
        QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(m_db.get(), utf8.constData(), static_cast<int>(utf8.size()), &stmt, nullptr) !=
            SQLITE_OK) {
            return Status::fileError(m_path, sqliteMessage(m_db.get()));
        }
        return std::unique_ptr<Statement>(new SqliteStatement(m_db.get(), stmt, m_path, m_utf8Storage));
    }

    qint64 changes() const override { return sqlite3_changes64(m_db.get()); }

    bool inTransaction() const override { return sqlite3_get_autocommit(m_db.get()) == 0; }

    void setUtf8Storage(bool utf8) { m_utf8Storage = utf8; }
    sqlite3* handle() const { return m_db.get(); }

    Result<bool> hasTable(const QString& table) override
    {
        Result<std::unique_ptr<Statement>> query =
            prepare(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1"));
        if (!query.isOk()) {
            return query.status();
        }
        (*query)->bind(1, table);
        return (*query)->step();
    }

    Status defineCsvLine(const QString& name, std::vector<CsvForm> forms) override
    {
        auto* state = new CsvLineState{m_utf8Storage, std::move(forms), {}};
        const int rc = sqlite3_create_function_v2(m_db.get(),
                                                  name.toUtf8().constData(),
                                                  -1,
                                                  SQLITE_UTF8 | SQLITE_DETERMINISTIC,
                                                  state,
                                                  csvLine,
                                                  nullptr,
                                                  nullptr,
                                                  [](void* p) { delete static_cast<CsvLineState*>(p); });
        if (rc != SQLITE_OK) { // SQLite has called the destructor
            return Status::fileError(m_path, sqliteMessage(m_db.get()));
        }
        return Status::ok();
    }

  private:
    std::unique_ptr<sqlite3, SqliteCloser> m_db;
    QString m_path;
    bool m_utf8Storage = false;
};

} // namespace

Result<std::unique_ptr<Database>> Database::openSqlite(const QString& path, OpenMode mode)
{
    // Memory statistics take a global mutex around every allocation; nothing here reads them. Must come before
    // SQLite initialises itself, hence at the first open.
    static std::once_flag configured;
    std::call_once(configured, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
    if (path.isEmpty()) {
        return Status::error(QStringLiteral("no database path is set (settings key \"DBname\")"));
    }
    // Whoever may be given a server's URI asks for its store instead (db::openStore); never named here, as a URI may
    // carry a password.
    if (path.startsWith(QLatin1String("postgresql://")) || path.startsWith(QLatin1String("postgres://"))) {
        return Status::error(QStringLiteral("the database is a PostgreSQL URI, not a SQLite file"));
    }
    QFileInfo info(path);
    if (mode != OpenMode::CreateIfMissing && !info.isFile()) {
        return Status::fileError(path, QStringLiteral("database not found"));
    }
    int flags = (mode == OpenMode::ReadOnly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX;
    if (mode == OpenMode::CreateIfMissing) {
        flags |= SQLITE_OPEN_CREATE;
    }
    const bool created = !info.exists();
    sqlite3* raw = nullptr;
    int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &raw, flags, nullptr);
    auto database = std::make_unique<SqliteDatabase>(raw, path);
    if (rc != SQLITE_OK) {
        return Status::fileError(path,
                                 raw ? sqliteMessage(raw) : QString::fromUtf8(sqlite3_errstr(rc)),
                                 QStringLiteral("cannot open the database"));
    }
    // SQLite makes a new file 0644 whatever the umask; the database gets the mode of any new file instead, and the
    // write-ahead log made next takes the database's mode.
    if (created) {
        Status moded = giveOrdinaryMode(path);
        if (!moded.isOk()) {
            return moded;
        }
    }
    sqlite3_busy_timeout(raw, kBusyTimeoutMs);
    sqlite3_extended_result_codes(raw, 1);
    // A new database gets 16 KiB pages (the default is 4 KiB): a master of a hundred thousand rows then takes a
    // quarter of the reads and writes per update, each a system call. An existing database keeps its page size.
    if (mode == OpenMode::CreateIfMissing) {
        Status paged = database->exec(QStringLiteral("PRAGMA page_size = 16384"));
        if (!paged.isOk()) {
            return paged.prefixed(QStringLiteral("cannot open the database: "));
        }
    }
    // WAL keeps readers and the one writer apart, and a killed process leaves either the old or the new state.
    // Debian's SQLite zeroes the space of every deleted row and freed page (secure_delete); the masters are no secret,
    // and the zeroing cost a tenth of an import's instructions and the writes of freed pages.
    Status pragmas = mode == OpenMode::ReadOnly
                         ? Status::ok()
                         : database->exec(QStringLiteral(
                               "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA secure_delete=OFF;"));
    if (!pragmas.isOk()) {
        return pragmas.prefixed(QStringLiteral("cannot open the database: "));
    }
    // A file that is not a database shows itself at the first read.
    Status probe = database->exec(QStringLiteral("SELECT count(*) FROM sqlite_master"));
    if (!probe.isOk()) {
        return Status::fileError(path, probe.reason(), QStringLiteral("not a usable database"));
    }
    Result<std::unique_ptr<Statement>> encoding = database->prepare(QStringLiteral("PRAGMA encoding"));
    bool utf8Storage = false;
    if (encoding.isOk()) {
        Result<bool> row = (*encoding)->step();
        utf8Storage = row.isOk() && *row && (*encoding)->text(0) == QLatin1String("UTF-8");
    }
    database->setUtf8Storage(utf8Storage);
    return std::unique_ptr<Database>(std::move(database));
}

namespace {

// Pages copied in one step of a backup: 4 MiB at KAVELO's page size.
constexpr int kBackupStepPages = 256;

// Runs the steps of `backup`; SQLITE_DONE when the copy is whole.
int runBackupSteps(sqlite3_backup* backup, qint64 pageSize, const std::function<void(qint64)>& afterStep)
{
    int stepPages = kBackupStepPages;
    int remainingBefore = std::numeric_limits<int>::max();
    int waited = 0;
    for (;;) {
        const int rc = sqlite3_backup_step(backup, stepPages);
        if (rc == SQLITE_BUSY || rc == SQLITE_LOCKED) {
            if ((waited += 50) > kBusyTimeoutMs) {
                return rc;
            }
            sqlite3_sleep(50);
            continue;
        }
        if (rc != SQLITE_OK) {
            return rc;
        }
        const int remaining = sqlite3_backup_remaining(backup);
        if (remaining > remainingBefore) {
            stepPages = -1; // started again: the rest in one go
        }
        remainingBefore = remaining;
        if (afterStep) {
            afterStep(qint64(sqlite3_backup_pagecount(backup) - remaining) * pageSize);
        }
    }
}

} // namespace

Status backupSqlite(const QString& source, const QString& target, const std::function<void(qint64)>& afterStep)
{
    if (QFileInfo::exists(target)) {
        return Status::error(
            QStringLiteral("%1: cannot copy the database %2 there: the file already exists").arg(target, source));
    }
    Result<std::unique_ptr<Database>> from = Database::openSqlite(source, Database::OpenMode::ReadOnly);
    if (!from.isOk()) {
        return from.status();
    }
    Result<std::unique_ptr<Statement>> pageSize = (*from)->prepare(QStringLiteral("PRAGMA page_size"));
    if (!pageSize.isOk() || !(*pageSize)->step().isOk()) {
        return Status::error(QStringLiteral("%1: cannot read the page size").arg(source));
    }
    sqlite3* raw = nullptr;
    const int opened = sqlite3_open_v2(QFile::encodeName(target).constData(),
                                       &raw,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                       nullptr);
    std::unique_ptr<sqlite3, SqliteCloser> to(raw);
    auto fail = [&](const QString& reason) {
        to.reset();
        QFile::remove(target);
        return Status::error(QStringLiteral("%1: cannot copy the database to %2: %3").arg(source, target, reason));
    };
    if (opened != SQLITE_OK) {
        return fail(raw ? sqliteMessage(raw) : QString::fromUtf8(sqlite3_errstr(opened)));
    }
    sqlite3_extended_result_codes(raw, 1);
    sqlite3* src = static_cast<SqliteDatabase&>(**from).handle();
    sqlite3_backup* backup = sqlite3_backup_init(raw, "main", src, "main");
    if (!backup) {
        return fail(sqliteMessage(raw));
    }
    const int rc = runBackupSteps(backup, (*pageSize)->integer(0), afterStep);
    sqlite3_backup_finish(backup);
    if (rc != SQLITE_DONE) {
        const int primary = rc & 0xff;
        return fail(primary == SQLITE_FULL || primary == SQLITE_IOERR || primary == SQLITE_READONLY
                        ? sqliteMessage(raw)
                        : QString::fromUtf8(sqlite3_errstr(rc)));
    }
    // The source's header says write-ahead log; the copy stands alone, with no -wal file to go with it.
    if (sqlite3_exec(raw, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr) != SQLITE_OK) {
        return fail(sqliteMessage(raw));
    }
    if (sqlite3_close(to.release()) != SQLITE_OK) {
        QFile::remove(target);
        return Status::error(QStringLiteral("%1: cannot close the copy of %2").arg(target, source));
    }
    return Status::ok();
}

QString quoteIdentifier(QStringView name)
{
    QString quoted = name.toString();
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

Transaction::Transaction(Database& database)
    : m_database(database)
{
}

Result<std::unique_ptr<Transaction>> Transaction::begin(Database& database)
{
    Status started = database.exec(QStringLiteral("BEGIN IMMEDIATE"));
    if (!started.isOk()) {
        return started;
    }
    return std::unique_ptr<Transaction>(new Transaction(database));
}

Transaction::~Transaction()
{
    if (m_open) {
        Status rolledBack = m_database.exec(QStringLiteral("ROLLBACK"));
        if (!rolledBack.isOk()) {
            qCWarning(lcPlatform).noquote() << "rollback failed:" << rolledBack.message();
        }
    }
}

Status Transaction::commit()
{
    Status committed = m_database.exec(QStringLiteral("COMMIT"));
    if (committed.isOk()) {
        m_open = false;
    }
    return committed;
}

} // namespace kavelo::platform
