#include "db/SqliteExport.h"

#include "platform/Log.h"

#include <algorithm>

namespace kavelo::db {

using platform::Result;
using platform::ShiftJisLineWriter;
using platform::Statement;
using platform::Status;

namespace {

QByteArrayView withoutTrailingBlanks(QByteArrayView key)
{
    while (!key.isEmpty() && key.back() == ' ') {
        key.chop(1);
    }
    return key;
}

bool hasControlCharacter(QByteArrayView key)
{
    return std::any_of(key.begin(), key.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

} // namespace

SqliteExport::SqliteExport(SqliteUpdateStatements& statements, QString exportPath, QString terminalId)
    : m_statements(statements)
    , m_exportPath(std::move(exportPath))
    , m_terminalId(std::move(terminalId))
{
}

Result<std::unique_ptr<ShiftJisLineWriter>> SqliteExport::write()
{
    for (ExportOrder order : {ExportOrder::ThroughIndex, ExportOrder::FullSort}) {
        Result<std::optional<std::unique_ptr<ShiftJisLineWriter>>> written = writeIn(order);
        if (!written.isOk()) {
            return written.status();
        }
        if (written->has_value()) {
            return std::move(**written);
        }
        qCDebug(lcDb).noquote() << QStringLiteral(
                                       "%1: a key holds a control character; the export sorts the rows itself")
                                       .arg(m_exportPath);
    }
    return Status::error(QStringLiteral("%1: the rows could not be put in order").arg(m_exportPath));
}

Result<std::optional<std::unique_ptr<ShiftJisLineWriter>>> SqliteExport::writeIn(ExportOrder order)
{
    Result<std::unique_ptr<ShiftJisLineWriter>> writer = ShiftJisLineWriter::create(m_exportPath);
    if (!writer.isOk()) {
        return writer.status();
    }
    bool binaryOrder = true;
    Status written = readRows(order, **writer, binaryOrder);
    m_statements.exportRows(order).reset(); // no statement may still be reading when the transaction ends
    if (!written.isOk()) {
        return written;
    }
    if (!binaryOrder) {
        return std::optional<std::unique_ptr<ShiftJisLineWriter>>(); // the temporary file is removed
    }
    return std::optional<std::unique_ptr<ShiftJisLineWriter>>(std::move(*writer));
}

// Reads the terminal's rows in `order` and writes them, run by run of keys equal but for trailing blanks. Through
// the index, a key with a control character stops the reading with `binaryOrder` false.
Status SqliteExport::readRows(ExportOrder order, ShiftJisLineWriter& writer, bool& binaryOrder)
{
    Statement& rows = m_statements.exportRows(order);
    rows.bind(1, m_terminalId);
    m_rowsExported = 0;
    m_runSize = 0;
    for (;;) {
        Result<bool> row = rows.step();
        if (!row.isOk()) {
            return row.status();
        }
        if (!*row) {
            return writeRun(writer);
        }
        const QByteArrayView key = rows.utf8(1);
        if (order == ExportOrder::ThroughIndex && hasControlCharacter(key)) {
            binaryOrder = false;
            return Status::ok();
        }
        if (m_runSize > 0 && withoutTrailingBlanks(key) != withoutTrailingBlanks(QByteArrayView(
                                                               m_run[0].key.data(), qsizetype(m_run[0].key.size())))) {
            Status written = writeRun(writer);
            if (!written.isOk()) {
                return written;
            }
        }
        holdRow(rows);
    }
}

void SqliteExport::holdRow(Statement& rows)
{
    if (m_runSize == m_run.size()) {
        m_run.emplace_back();
    }
    Row& held = m_run[m_runSize++];
    held.rowid = rows.integer(0);
    const QByteArrayView key = rows.utf8(1);
    held.key.assign(key.data(), static_cast<size_t>(key.size()));
    const QByteArrayView line = rows.utf8(2);
    held.line.assign(line.data(), static_cast<size_t>(line.size()));
}

// Writes the rows of the run in binary order of the key, then by rowid.
Status SqliteExport::writeRun(ShiftJisLineWriter& writer)
{
    if (m_runSize > 1) {
        std::sort(m_run.begin(),
                  m_run.begin() + static_cast<std::ptrdiff_t>(m_runSize),
                  [](const Row& a, const Row& b) { return a.key != b.key ? a.key < b.key : a.rowid < b.rowid; });
    }
    for (size_t i = 0; i < m_runSize; ++i) {
        Status written = writer.writeLineUtf8(QByteArrayView(m_run[i].line.data(), qsizetype(m_run[i].line.size())));
        if (!written.isOk()) {
            return written;
        }
        ++m_rowsExported;
    }
    m_runSize = 0;
    return Status::ok();
}

} // namespace kavelo::db
