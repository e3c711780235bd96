#include "distribution/MasterUpdate.h"

#include "distribution/Checkpoints.h"
#include "distribution/UpdateRecord.h"
#include "masters/Masters.h"
#include "masters/Schema.h"
#include "platform/Database.h"
#include "platform/LargeBuffer.h"
#include "platform/Log.h"
#include "platform/TextCodec.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QStringEncoder>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace kavelo::distribution {

using masters::MasterDefinition;
using platform::Database;
using platform::Result;
using platform::Statement;
using platform::Status;

namespace {

// Page cache of the update's connection, in KiB. Measured on the product master with 200,000 rows: 24 or 40 MiB
// take no less time than 8 MiB (the lines come in key order and the replacements in rowid order, so pages are
// used one after the other, and every changed page goes to the write-ahead log once either way).
constexpr int kCacheKiB = 8 * 1024;

// Offsets into a batch are 32 bits.
constexpr qsizetype kMaxBatchBytes = qsizetype(1) << 30;

// New rows are added this many to a statement.
constexpr int kAddRows = 16;

// A key this many index entries or more beyond the walk's place is searched for instead of walked to.
constexpr int kWalkSteps = 16;

// Updates that are running now, so that a second update of the same master for the same terminal (from the
// window's event handling during a yield) is refused instead of interleaving with the first.
class RunningUpdates
{
public:
    struct Entry
    {
        QString master;
        QString terminalId;
        std::thread::id thread;
    };

    static Status claim(const QString& master, const QString& terminalId)
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        const std::thread::id self = std::this_thread::get_id();
        for (const Entry& e : s_entries) {
            if (e.master == master && e.terminalId == terminalId) {
                return Status::error(QStringLiteral("an update of this master for this terminal is already running"));
            }
        }
        for (const Entry& e : s_entries) {
            // A nested call on the thread of a yielding update would wait for the database's write lock that the
            // outer update holds, and the outer update cannot go on until the nested call returns.
            if (e.thread == self) {
                return Status::error(QStringLiteral("the update of %1 for terminal %2 is already running and "
                                                    "holds the database; try again when it has finished")
                                         .arg(e.master, e.terminalId));
            }
        }
        s_entries.push_back({master, terminalId, self});
        return Status::ok();
    }

    static void release(const QString& master, const QString& terminalId)
    {
        std::lock_guard<std::mutex> lock(s_mutex);
        auto it = std::find_if(s_entries.begin(), s_entries.end(), [&](const Entry& e) {
            return e.master == master && e.terminalId == terminalId;
        });
        if (it != s_entries.end()) {
            s_entries.erase(it);
        }
    }

private:
    static inline std::mutex s_mutex;
    static inline std::vector<Entry> s_entries;
};

class Claim
{
public:
    Claim(QString master, QString terminalId)
        : m_master(std::move(master))
        , m_terminalId(std::move(terminalId))
    {
    }
    ~Claim() { RunningUpdates::release(m_master, m_terminalId); }
    Claim(const Claim&) = delete;
    Claim& operator=(const Claim&) = delete;

private:
    QString m_master;
    QString m_terminalId;
};

// The assignment field that sets the key column from the same slice and transform as the search key, or -1.
int keyFieldIndex(const MasterDefinition& master)
{
    for (size_t i = 0; i < master.updateFields.size(); ++i) {
        const masters::Field& f = master.updateFields[i];
        if (f.column == master.keyColumn && f.start == master.updateKey.start && f.length == master.updateKey.length &&
            f.transform == master.updateKey.transform) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// One run of one master for one terminal. Owns its connection, statements and files; after a successful run the
// connection goes on to its checkpoint (takeConnection), nothing else outlives the run.
class UpdateRun
{
public:
    UpdateRun(const MasterDefinition& master, const UpdateContext& context, QString terminalId, const YieldHook& yield)
        : m_master(master)
        , m_terminalId(std::move(terminalId))
        , m_updatePath(context.tree.receiveFile(m_terminalId, master.updateFileName()))
        , m_exportPath(context.tree.receiveFile(m_terminalId, master.exportFileName()))
        , m_dbPath(context.dbPath)
        , m_batchBytes(qBound(qsizetype(1), context.batchBytes, kMaxBatchBytes))
        , m_yield(yield)
        , m_keyField(keyFieldIndex(master))
    {
    }

    Result<UpdateSummary> run()
    {
        if (!QFileInfo(m_updatePath).isFile()) {
            return Status::error(QStringLiteral("%1: update file not found").arg(m_updatePath));
        }
        Result<std::unique_ptr<platform::ShiftJisLineReader>> reader = platform::ShiftJisLineReader::open(m_updatePath);
        if (!reader.isOk()) {
            return reader.status();
        }
        Status opened = openDatabase();
        if (!opened.isOk()) {
            return opened;
        }

        Result<std::unique_ptr<platform::Transaction>> transaction = platform::Transaction::begin(*m_db);
        if (!transaction.isOk()) {
            return transaction.status();
        }
        QElapsedTimer phase;
        phase.start();
        Status applied = applyLines(**reader);
        if (!applied.isOk()) {
            return applied; // the transaction rolls back
        }
        reader->reset(); // the update file is closed before the export is written
        const qint64 appliedMs = phase.restart();

        Result<std::unique_ptr<platform::ShiftJisLineWriter>> writer = writeExport();
        if (!writer.isOk()) {
            return writer.status(); // the temporary export is removed, the transaction rolls back
        }

        // Order of the two commits: the database first, then the export's rename. A refused commit (the likelier
        // failure: a full disk, a lock) then leaves both the rows and the export as they were. If the rename fails,
        // or the process dies between the two, the database holds the new rows and the folder the previous, complete
        // export; the update file is still in place (the caller sets it aside only after success), so the next run
        // applies the same lines again, which sets every row to the same values, and writes the matching export.
        // The other order could leave an export whose rows the database refused to store.
        const qint64 exportedMs = phase.restart();
        // The export's data goes to disk while the database commits: both are waits on the disk.
        platform::ShiftJisLineWriter& exportFile = **writer;
        std::future<Status> exportSynced = std::async(std::launch::async, [&exportFile] { return exportFile.sync(); });
        Status committed = (*transaction)->commit();
        Status synced = exportSynced.get();
        if (!committed.isOk()) {
            return committed;
        }
        const qint64 committedMs = phase.restart();
        Status renamed = synced.isOk() ? exportFile.commit() : synced;
        qCDebug(lcDistribution).noquote()
            << QStringLiteral("%1, terminal %2: lines applied in %3 ms, export written in %4 ms, committed in %5 ms, "
                              "export renamed in %6 ms")
                   .arg(m_master.name, m_terminalId)
                   .arg(appliedMs)
                   .arg(exportedMs)
                   .arg(committedMs)
                   .arg(phase.elapsed());
        if (!renamed.isOk()) {
            return Status::error(
                QStringLiteral("the rows are stored, but the export could not be replaced: %1").arg(renamed.message()));
        }
        return m_summary;
    }

    // The connection of a successful run, for its checkpoint; the statements are finished first.
    std::unique_ptr<Database> takeConnection()
    {
        m_walk.reset();
        m_replaceAll.reset();
        m_replaceKept.reset();
        m_add.reset();
        m_addSeveral.reset();
        m_exportByIndex.reset();
        m_exportBySort.reset();
        return std::move(m_db);
    }

private:
    Status openDatabase()
    {
        Result<std::unique_ptr<Database>> db = Database::openSqlite(m_dbPath, Database::OpenMode::ExistingOnly);
        if (!db.isOk()) {
            return db.status();
        }
        m_db = std::move(*db);
        Status tuned = m_db->exec(QStringLiteral("PRAGMA cache_size = -%1; PRAGMA wal_autocheckpoint = 0;").arg(kCacheKiB));
        if (!tuned.isOk()) {
            return tuned;
        }
        // Makes a missing table or index (an older database) right before the first lookup: without the
        // (terminal, key) index every line would scan the table.
        Status schema = masters::ensureSchema(*m_db);
        if (!schema.isOk()) {
            return schema;
        }

        const QString table = platform::quoteIdentifier(m_master.name);
        const QString key = platform::quoteIdentifier(m_master.keyColumn);
        const QString terminal = platform::quoteIdentifier(masters::kTerminalIdColumn);

        // The walk reads the stored keys and rowids of this terminal from the (terminal, key) index alone, in key
        // order from a given key on. Trailing blanks of the key are ignored on both sides (RTRIM, the collation of
        // the index); otherwise the key compares exactly.
        const QString walk = QStringLiteral("SELECT %1, rowid FROM %2 WHERE %3 = ?1 AND %1 >= ?2 COLLATE RTRIM "
                                            "ORDER BY %1 COLLATE RTRIM")
                                 .arg(key, table, terminal);

        // ?1 rowid (replace) or terminal ID (add), ?2... the assignment list in order.
        QStringList setAll;
        QStringList setKept;
        QStringList columns{terminal};
        QStringList values{QStringLiteral("?1")};
        for (size_t i = 0; i < m_master.updateFields.size(); ++i) {
            const QString column = platform::quoteIdentifier(m_master.updateFields[i].column);
            const QString parameter = QStringLiteral("?%1").arg(i + 2);
            setAll << column + QStringLiteral(" = ") + parameter;
            if (static_cast<int>(i) != m_keyField) {
                setKept << column + QStringLiteral(" = ") + parameter;
            }
            columns << column;
            values << parameter;
        }
        const QString replaceAll = QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?1")
                                       .arg(table, setAll.join(QStringLiteral(", ")));
        // A row whose stored key equals the new one exactly keeps its key column, so that its index entries stay
        // where they are instead of being deleted and inserted again.
        const QString replaceKept = QStringLiteral("UPDATE %1 SET %2 WHERE rowid = ?1")
                                        .arg(table, (setKept.isEmpty() ? setAll : setKept).join(QStringLiteral(", ")));
        const QString add = QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                .arg(table, columns.join(QStringLiteral(", ")), values.join(QStringLiteral(", ")));
        // The same for kAddRows rows at once, their parameters one row after the other: one statement's setup
        // and end for several rows.
        QStringList rows;
        const int perRow = static_cast<int>(m_master.updateFields.size()) + 1;
        for (int row = 0; row < kAddRows; ++row) {
            QStringList parameters;
            for (int k = 1; k <= perRow; ++k) {
                parameters << QStringLiteral("?%1").arg(row * perRow + k);
            }
            rows << QLatin1Char('(') + parameters.join(QStringLiteral(", ")) + QLatin1Char(')');
        }
        const QString addSeveral = QStringLiteral("INSERT INTO %1 (%2) VALUES %3")
                                       .arg(table, columns.join(QStringLiteral(", ")), rows.join(QStringLiteral(", ")));
        // The rowid, the stored key and the export line, put together by csv_line from the export list's columns.
        QString forms;
        QStringList exported;
        for (const masters::ExportField& field : m_master.exportFields) {
            forms += field.form == masters::ExportForm::Trimmed ? u'T' : u'S';
            exported << platform::quoteIdentifier(field.column);
        }
        const QString selected = QStringLiteral("rowid, %1, %2")
                                     .arg(key,
                                          exported.isEmpty() ? QStringLiteral("''")
                                                             : QStringLiteral("csv_line('%1', %2)")
                                                                   .arg(forms, exported.join(QStringLiteral(", "))));
        // Binary order is code point order for UTF-8 text; rowid keeps rows of equal keys in a fixed order.
        // Keys without characters below U+0020 come in the same order when they are compared with trailing blanks
        // ignored first and exactly second, and the first of the two is the order of the (terminal, key) index:
        // the rows are read through the index, with no sort, and writeExport sorts the runs of keys that differ
        // only in trailing blanks (rare: an update finds such a key's row instead of adding one). A key with such
        // a character (where "A\t" sorts before "A " in binary order but after "A" with the blank ignored) takes
        // the full sort.
        const QString byIndex =
            QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?1 ORDER BY %4 COLLATE RTRIM").arg(selected, table, terminal, key);
        // The full sort picks the rows by rowid from the terminal's (sorted) rowid list, so that the table is read
        // in storage order rather than jumping around it.
        const QString bySort = QStringLiteral("SELECT %1 FROM %2 WHERE rowid IN (SELECT rowid FROM %2 WHERE %3 = ?1) "
                                              "ORDER BY %4 COLLATE BINARY, rowid")
                                   .arg(selected, table, terminal, key);

        for (auto [sql, target] : {std::pair{&walk, &m_walk},
                                   std::pair{&replaceAll, &m_replaceAll},
                                   std::pair{&replaceKept, &m_replaceKept},
                                   std::pair{&add, &m_add},
                                   std::pair{&addSeveral, &m_addSeveral},
                                   std::pair{&byIndex, &m_exportByIndex},
                                   std::pair{&bySort, &m_exportBySort}}) {
            Result<std::unique_ptr<Statement>> statement = m_db->prepare(*sql);
            if (!statement.isOk()) {
                return statement.status();
            }
            *target = std::move(*statement);
        }
        return Status::ok();
    }

    // Binds the assignment list from ?2 on; `skip` leaves out one field whose column the statement does not set.
    // `base` is added to every parameter number (the later rows of a statement that adds several).
    void bindFields(Statement& statement, QStringView line, int skip = -1, int base = 0)
    {
        for (size_t i = 0; i < m_master.updateFields.size(); ++i) {
            if (static_cast<int>(i) != skip) {
                statement.bind(base + static_cast<int>(i) + 2, fieldView(line, m_master.updateFields[i], m_scratch));
            }
        }
    }

    // The lines are read in batches. Within a batch they are applied in order of their keys, so that the key
    // indexes are searched and extended page after page instead of at random; the result is the same as applying
    // them in file order, because every line sets the whole assignment list of its row: of several lines with one
    // key only the last one's values remain, and a key that is new gets one row.
    Status applyLines(platform::ShiftJisLineReader& reader)
    {
        for (;;) {
            Result<std::optional<QString>> next = reader.next();
            if (!next.isOk()) {
                return next.status();
            }
            if (!next->has_value()) {
                return applyBatch();
            }
            ++m_summary.linesRead;
            if ((*next)->isEmpty()) {
                continue; // an empty line is no record: it would add a row with an empty key
            }
            Status held = holdLine(**next, reader.lineBytes(), reader.lineNumber());
            if (!held.isOk()) {
                return held;
            }
            if (m_batch.size() >= m_batchBytes) {
                Status applied = applyBatch();
                if (!applied.isOk()) {
                    return applied;
                }
            }
        }
    }

    Status lineError(qint64 lineNumber, const QString& reason) const
    {
        return Status::error(QStringLiteral("%1, line %2: %3").arg(m_updatePath).arg(lineNumber).arg(reason));
    }

    // What became of a key: set on the last of its lines in the batch, which is the one applied.
    enum class Outcome : quint8
    {
        NotLast,           // a line followed by another of the same key
        New,               // the key's row is added
        Found,             // the key's row (rowid) is replaced, key column included
        FoundKeyUnchanged, // the same, but the stored key equals the line's exactly and stays
    };

    // A line of the batch in m_batch: its search key (UTF-8) and its bytes as read (Windows-31J, which takes less
    // room than any other form; decoded again when the line is applied).
    struct Held
    {
        // The first 16 bytes of the compared key, big-endian, zero-padded: most keys are told apart by these alone.
        quint64 prefixHigh;
        quint64 prefixLow;
        qint64 lineNumber;
        qint64 rowid;
        quint32 keyOffset;   // in m_batch; the line's bytes follow the key
        quint32 keySize;
        quint32 keyCompared; // without trailing blanks
        quint32 lineSize;
        Outcome outcome;
    };

    Status holdLine(QStringView line, QByteArrayView bytes, qint64 lineNumber)
    {
        const QStringView keyText = fieldView(line, m_master.updateKey, m_keyScratch);
        m_keyUtf8.resize(keyText.size() * 3);
        m_keyUtf8.truncate(m_toUtf8.appendToBuffer(m_keyUtf8.data(), keyText) - m_keyUtf8.constData());

        Held held{0,
                  0,
                  lineNumber,
                  0,
                  static_cast<quint32>(m_batch.size()),
                  static_cast<quint32>(m_keyUtf8.size()),
                  static_cast<quint32>(m_keyUtf8.size()),
                  static_cast<quint32>(bytes.size()),
                  Outcome::NotLast};
        while (held.keyCompared > 0 && m_keyUtf8.at(held.keyCompared - 1) == ' ') {
            --held.keyCompared;
        }
        const auto* key = reinterpret_cast<const unsigned char*>(m_keyUtf8.constData());
        for (qsizetype i = 0; i < 16; ++i) {
            const quint64 byte = i < held.keyCompared ? key[i] : 0;
            (i < 8 ? held.prefixHigh : held.prefixLow) |= byte << (8 * (7 - i % 8));
        }
        if (!m_batch.append(m_keyUtf8) || !m_batch.append(bytes)) {
            return lineError(lineNumber, QStringLiteral("not enough memory to hold the lines"));
        }
        m_held.push_back(held);
        return Status::ok();
    }

    QByteArrayView key(const Held& h) const { return QByteArrayView(m_batch.data() + h.keyOffset, h.keySize); }
    // Compared as the (terminal, key) index compares: trailing blanks ignored, then byte by byte (code points).
    std::string_view comparedKey(const Held& h) const
    {
        return std::string_view(m_batch.data() + h.keyOffset, static_cast<size_t>(h.keyCompared));
    }
    // The line's text, valid until the next call. It was decoded once already, when it was read.
    std::optional<QStringView> lineText(const Held& h)
    {
        return m_decoder.decode(QByteArrayView(m_batch.data() + h.keyOffset + h.keySize, h.lineSize));
    }

    Status undecodable(const Held& h) const
    {
        return lineError(h.lineNumber, QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
    }

    // Applies the held lines: per key, the row is found; then the new keys' rows are added (addNewRows, with the
    // values of each key's last line) and the found rows replaced in rowid order (replacePending).
    Status applyBatch()
    {
        // By key, lines of one key in file order. Keys never hold a NUL (the reader refuses it), so equal
        // prefixes of keys of at most 16 bytes are equal keys.
        std::sort(m_held.begin(), m_held.end(), [this](const Held& a, const Held& b) {
            if (a.prefixHigh != b.prefixHigh) {
                return a.prefixHigh < b.prefixHigh;
            }
            if (a.prefixLow != b.prefixLow) {
                return a.prefixLow < b.prefixLow;
            }
            if (a.keyCompared > 16 || b.keyCompared > 16) {
                const int order = comparedKey(a).compare(comparedKey(b));
                if (order != 0) {
                    return order < 0;
                }
            }
            return a.lineNumber < b.lineNumber;
        });
        // First every key's row is looked up, with nothing changed meanwhile (the walk reads the index that adding
        // rows changes); then the new keys' rows are added, in key order, and the found ones wait for replacePending.
        Status status = Status::ok();
        m_walkOn = false;
        m_walkAtEnd = false;
        for (size_t first = 0; first < m_held.size() && status.isOk();) {
            size_t end = first + 1;
            while (end < m_held.size() && m_held[end].prefixHigh == m_held[first].prefixHigh &&
                   m_held[end].prefixLow == m_held[first].prefixLow &&
                   comparedKey(m_held[end]) == comparedKey(m_held[first])) {
                ++end;
            }
            status = find(m_held[end - 1]);
            first = end;
        }
        m_walk->reset();
        m_walkOn = false;
        for (size_t i = 0; i < m_held.size() && status.isOk(); ++i) {
            status = saveLine(static_cast<quint32>(i));
        }
        if (status.isOk()) {
            status = addNewRows();
        }
        if (status.isOk()) {
            status = replacePending();
        }
        m_held.clear();
        m_new.clear();
        m_pending.clear();
        m_batch.clear();
        return status;
    }

    // Starts the walk at the first entry of this terminal whose key is not below `key` (trailing blanks ignored).
    Status startWalk(QByteArrayView key)
    {
        m_walk->reset();
        m_walk->bind(1, m_terminalId);
        m_walk->bindUtf8(2, key);
        Result<bool> row = m_walk->step();
        if (!row.isOk()) {
            return row.status();
        }
        m_walkOn = *row;
        m_walkAtEnd = !*row;
        return Status::ok();
    }

    // Sets the outcome of the held line's key, whose row is found by a walk along the (terminal, key) index in key
    // order: the batch's keys come in the same order, so the walk mostly steps on to the next entries; a key far
    // ahead starts it again there (one search, as for a single key). Of several rows whose keys match, the first in
    // the index is taken.
    Status find(Held& held)
    {
        const std::string_view wanted = comparedKey(held);
        const QByteArrayView wantedView(wanted.data(), qsizetype(wanted.size()));
        auto current = [this] {
            const QByteArrayView stored = withoutTrailingBlanks(m_walk->utf8(0));
            return std::string_view(stored.data(), size_t(stored.size()));
        };
        held.outcome = Outcome::New;
        if (m_walkAtEnd) {
            return Status::ok(); // no key of this terminal is as high as an earlier one of the batch
        }
        Status moved = Status::ok();
        if (!m_walkOn) {
            moved = startWalk(wantedView);
        } else {
            for (int steps = 0; m_walkOn && current() < wanted; ++steps) {
                if (steps == kWalkSteps) {
                    moved = startWalk(wantedView);
                    break;
                }
                Result<bool> row = m_walk->step();
                if (!row.isOk()) {
                    moved = row.status();
                    break;
                }
                m_walkOn = *row;
                m_walkAtEnd = !*row;
            }
        }
        if (!moved.isOk()) {
            m_walk->reset();
            m_walkOn = false;
            return lineError(held.lineNumber, moved.message());
        }
        if (!m_walkOn || current() != wanted) {
            return Status::ok();
        }
        // The key column keeps its value when the stored key equals the new one exactly (and the key column takes
        // the search key's slice, as in every master); otherwise it is set like the other columns.
        held.rowid = m_walk->integer(1);
        held.outcome =
            m_keyField >= 0 && m_walk->utf8(0) == key(held) ? Outcome::FoundKeyUnchanged : Outcome::Found;
        return Status::ok();
    }

    // A held line in key order: the last of a key has its row added (addNewRows) or replaced (replacePending); the
    // others are counted as replacements (of the row that the key's first line would add).
    Status saveLine(quint32 index)
    {
        const Held& held = m_held[index];
        switch (held.outcome) {
        case Outcome::NotLast:
            ++m_summary.rowsReplaced;
            break;
        case Outcome::Found:
        case Outcome::FoundKeyUnchanged:
            ++m_summary.rowsReplaced;
            m_pending.push_back(index);
            break;
        case Outcome::New:
            ++m_summary.rowsAdded;
            m_new.push_back(index);
            return Status::ok(); // the yield follows its row
        }
        yield();
        return Status::ok();
    }

    void yield()
    {
        if (m_master.yieldsPerRow && m_yield) {
            m_yield();
        }
    }

    // Binds one new row's values, the first parameter of the row being base + 1.
    Status bindNewRow(Statement& statement, const Held& held, int base)
    {
        const std::optional<QStringView> text = lineText(held);
        if (!text) {
            return undecodable(held);
        }
        bindFields(statement, *text, -1, base);
        statement.bind(base + 1, m_terminalId);
        return Status::ok();
    }

    Status addOne(const Held& held)
    {
        Status bound = bindNewRow(*m_add, held, 0);
        Result<bool> added = bound.isOk() ? m_add->step() : Result<bool>(bound);
        m_add->reset();
        if (!added.isOk()) {
            return bound.isOk() ? lineError(held.lineNumber, added.status().message()) : bound;
        }
        return Status::ok();
    }

    // The rows of the batch's new keys, in key order, kAddRows to a statement. A statement that fails has stored
    // none of its rows; they are then added one by one, so that the error names the line. Not when the database
    // gave up the whole transaction with the failure: the rows would then be stored outside it, one by one.
    Status addNewRows()
    {
        const int perRow = static_cast<int>(m_master.updateFields.size()) + 1;
        size_t next = 0;
        while (next < m_new.size()) {
            const size_t count = std::min(m_new.size() - next, size_t(kAddRows));
            bool added = false;
            if (count == size_t(kAddRows)) {
                Status bound = Status::ok();
                for (int row = 0; row < kAddRows && bound.isOk(); ++row) {
                    bound = bindNewRow(*m_addSeveral, m_held[m_new[next + size_t(row)]], row * perRow);
                }
                Result<bool> stepped = bound.isOk() ? m_addSeveral->step() : Result<bool>(bound);
                m_addSeveral->reset();
                added = stepped.isOk();
                if (!added && !m_db->inTransaction()) {
                    return lineError(m_held[m_new[next]].lineNumber,
                                     QStringLiteral("%1 (one of %2 lines added together)")
                                         .arg(stepped.status().message())
                                         .arg(kAddRows));
                }
            }
            for (size_t i = next; i < next + count; ++i) {
                if (!added) {
                    Status one = addOne(m_held[m_new[i]]);
                    if (!one.isOk()) {
                        return one;
                    }
                }
                yield();
            }
            next += count;
        }
        return Status::ok();
    }

    // Replacements are written in rowid order: the table is then walked once in storage order instead of being
    // read and written at random, page by page, for every line.
    Status replacePending()
    {
        std::sort(m_pending.begin(), m_pending.end(), [this](quint32 a, quint32 b) {
            return m_held[a].rowid < m_held[b].rowid;
        });
        for (quint32 index : m_pending) {
            const Held& held = m_held[index];
            const bool keyUnchanged = held.outcome == Outcome::FoundKeyUnchanged;
            Statement& replace = keyUnchanged ? *m_replaceKept : *m_replaceAll;
            const std::optional<QStringView> text = lineText(held);
            if (!text) {
                return undecodable(held);
            }
            bindFields(replace, *text, keyUnchanged ? m_keyField : -1);
            replace.bindInteger(1, held.rowid);
            Result<bool> replaced = replace.step();
            replace.reset();
            if (!replaced.isOk()) {
                return lineError(held.lineNumber, replaced.status().message());
            }
        }
        return Status::ok();
    }

    static QByteArrayView withoutTrailingBlanks(QByteArrayView key)
    {
        while (!key.isEmpty() && key.back() == ' ') {
            key.chop(1);
        }
        return key;
    }

    // Writes the rows held in m_run (keys equal with trailing blanks ignored) in binary order of the key, then by
    // rowid.
    Status writeRun(platform::ShiftJisLineWriter& writer)
    {
        if (m_runSize > 1) {
            std::sort(m_run.begin(), m_run.begin() + static_cast<std::ptrdiff_t>(m_runSize),
                      [](const ExportRow& a, const ExportRow& b) {
                          return a.key != b.key ? a.key < b.key : a.rowid < b.rowid;
                      });
        }
        for (size_t i = 0; i < m_runSize; ++i) {
            Status written = writer.writeLineUtf8(QByteArrayView(m_run[i].line.data(), qsizetype(m_run[i].line.size())));
            if (!written.isOk()) {
                return written;
            }
            ++m_summary.rowsExported;
        }
        m_runSize = 0;
        return Status::ok();
    }

    // Writes every row of this terminal to a temporary file beside the export; the caller renames it. The rows are
    // read through the index; a key with a character below U+0020 (whose index order is not binary order) starts
    // the export again with the full sort.
    Result<std::unique_ptr<platform::ShiftJisLineWriter>> writeExport()
    {
        Result<std::optional<std::unique_ptr<platform::ShiftJisLineWriter>>> byIndex = writeExportWith(*m_exportByIndex);
        if (!byIndex.isOk()) {
            return byIndex.status();
        }
        if (byIndex->has_value()) {
            return std::move(**byIndex);
        }
        qCDebug(lcDistribution).noquote() << QStringLiteral("%1, terminal %2: a key holds a control character; the "
                                                            "export sorts the rows itself")
                                                 .arg(m_master.name, m_terminalId);
        Result<std::optional<std::unique_ptr<platform::ShiftJisLineWriter>>> bySort = writeExportWith(*m_exportBySort);
        if (!bySort.isOk()) {
            return bySort.status();
        }
        return std::move(**bySort);
    }

    static bool hasControlCharacter(QByteArrayView key)
    {
        return std::any_of(key.begin(), key.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
    }

    // std::nullopt when reading through the index met a key with a control character.
    Result<std::optional<std::unique_ptr<platform::ShiftJisLineWriter>>> writeExportWith(Statement& exportRows)
    {
        const bool byIndex = &exportRows == m_exportByIndex.get();
        Result<std::unique_ptr<platform::ShiftJisLineWriter>> writer =
            platform::ShiftJisLineWriter::create(m_exportPath);
        if (!writer.isOk()) {
            return writer.status();
        }
        m_summary.rowsExported = 0;
        exportRows.bind(1, m_terminalId);
        Status written = Status::ok();
        bool binaryOrder = true;
        m_runSize = 0;
        for (;;) {
            Result<bool> row = exportRows.step();
            if (!row.isOk()) {
                written = row.status();
                break;
            }
            if (!*row) {
                written = writeRun(**writer);
                break;
            }
            const QByteArrayView key = exportRows.utf8(1);
            if (byIndex && hasControlCharacter(key)) {
                binaryOrder = false;
                break;
            }
            if (m_runSize > 0 && withoutTrailingBlanks(key) != withoutTrailingBlanks(QByteArrayView(
                                                                  m_run[0].key.data(), qsizetype(m_run[0].key.size())))) {
                written = writeRun(**writer);
                if (!written.isOk()) {
                    break;
                }
            }
            if (m_runSize == m_run.size()) {
                m_run.emplace_back();
            }
            ExportRow& held = m_run[m_runSize++];
            held.rowid = exportRows.integer(0);
            held.key.assign(key.data(), static_cast<size_t>(key.size()));
            const QByteArrayView line = exportRows.utf8(2);
            held.line.assign(line.data(), static_cast<size_t>(line.size()));
        }
        exportRows.reset(); // no statement may still be reading when the transaction ends
        if (!written.isOk()) {
            return written;
        }
        if (!binaryOrder) {
            return std::optional<std::unique_ptr<platform::ShiftJisLineWriter>>(); // the temporary file is removed
        }
        return std::optional<std::unique_ptr<platform::ShiftJisLineWriter>>(std::move(*writer));
    }

    const MasterDefinition& m_master;
    const QString m_terminalId;
    const QString m_updatePath;
    const QString m_exportPath;
    const QString m_dbPath;
    const qsizetype m_batchBytes;
    const YieldHook& m_yield;
    const int m_keyField; // index in the assignment list of the key column, when it takes the search key's slice

    std::unique_ptr<Database> m_db;
    std::unique_ptr<Statement> m_walk;
    bool m_walkOn = false;    // the walk stands on an entry
    bool m_walkAtEnd = false; // the walk went past this terminal's last key
    std::unique_ptr<Statement> m_replaceAll;
    std::unique_ptr<Statement> m_replaceKept;
    std::unique_ptr<Statement> m_add;
    std::unique_ptr<Statement> m_addSeveral;
    std::unique_ptr<Statement> m_exportByIndex;
    std::unique_ptr<Statement> m_exportBySort;
    QString m_scratch;
    QString m_keyScratch;
    // A run of export rows whose keys are equal with trailing blanks ignored; the entries are kept for their
    // buffers, m_runSize of them are in use.
    struct ExportRow
    {
        qint64 rowid = 0;
        std::string key;
        std::string line;
    };
    std::vector<ExportRow> m_run;
    size_t m_runSize = 0;
    // A line of at most the reader's longest, with its key, always fits after the batch's size.
    platform::LargeBuffer m_batch{m_batchBytes + 4 * platform::ShiftJisLineReader::kDefaultMaxLineBytes};
    QByteArray m_keyUtf8;
    std::vector<Held> m_held;
    platform::ShiftJisDecoder m_decoder;
    QStringEncoder m_toUtf8{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    std::vector<quint32> m_new;     // in m_held: the lines whose rows are added
    std::vector<quint32> m_pending; // in m_held: the lines whose rows are replaced
    UpdateSummary m_summary;
};

} // namespace

Result<UpdateSummary>
updateMaster(const MasterDefinition& master, const UpdateContext& context, qint64 terminalNo, const YieldHook& yield)
{
    const QString terminalId = exchange::FolderTree::terminalId(terminalNo);
    const QString prefix = QStringLiteral("%1, terminal %2: ").arg(master.name, terminalId);

    Status claimed = RunningUpdates::claim(master.name, terminalId);
    if (!claimed.isOk()) {
        qCWarning(lcDistribution).noquote() << prefix + claimed.message();
        return claimed.prefixed(prefix);
    }
    Claim claim(master.name, terminalId);

    QElapsedTimer timer;
    timer.start();
    Result<UpdateSummary> result = [&]() -> Result<UpdateSummary> {
        // The run, with its connection and files, ends before the claim is released.
        UpdateRun run(master, context, terminalId, yield);
        Result<UpdateSummary> summary = run.run();
        if (summary.isOk()) {
            checkpointInBackground(run.takeConnection());
        }
        return summary;
    }();
    if (!result.isOk()) {
        Status failed = result.status().prefixed(prefix);
        qCWarning(lcDistribution).noquote() << failed.message();
        return failed;
    }
    qCInfo(lcDistribution).noquote() << QStringLiteral(
                                            "%1%2 lines read, %3 rows added, %4 replaced, %5 exported in %6 ms")
                                            .arg(prefix)
                                            .arg(result->linesRead)
                                            .arg(result->rowsAdded)
                                            .arg(result->rowsReplaced)
                                            .arg(result->rowsExported)
                                            .arg(timer.elapsed());
    return result;
}

Result<UpdateSummary> UpdateBUNMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::classificationMaster(), c, t, y);
}
Result<UpdateSummary> UpdateTENMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::storeMaster(), c, t, y);
}
Result<UpdateSummary> UpdateSIRMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::supplierMaster(), c, t, y);
}
Result<UpdateSummary> UpdateTOKMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::customerMaster(), c, t, y);
}
Result<UpdateSummary> UpdateSHOMAS(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::productMaster(), c, t, y);
}
Result<UpdateSummary> UpdateJISYA(const UpdateContext& c, qint64 t, const YieldHook& y)
{
    return updateMaster(masters::ownCompanyCodeMaster(), c, t, y);
}

} // namespace kavelo::distribution
