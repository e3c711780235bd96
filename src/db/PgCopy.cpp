#include "db/PgCopy.h"

#include <QtEndian>

#include <cstring>

namespace kavelo::db {

using platform::Result;
using platform::Status;

namespace {

// The binary format's signature, then 32 bits of flags and the length of a header extension.
constexpr char kSignature[] = "PGCOPY\n\377\r\n";
constexpr qsizetype kSignatureSize = 11;
constexpr qsizetype kHeaderSize = kSignatureSize + 8;

// The data is handed over in pieces of about this size.
constexpr qsizetype kPieceBytes = 256 * 1024;

} // namespace

CopyRowsWriter::CopyRowsWriter(const PgConnection::CopySink& sink)
    : m_sink(sink)
    , m_buffer(kPieceBytes + 64 * 1024, Qt::Uninitialized)
{
    char* header = room(kHeaderSize);
    std::memcpy(header, kSignature, kSignatureSize);
    std::memset(header + kSignatureSize, 0, 8);
}

char* CopyRowsWriter::room(qsizetype bytes)
{
    if (m_used + bytes > m_buffer.size()) {
        m_buffer.resize(std::max(m_buffer.size() * 2, m_used + bytes));
    }
    char* at = m_buffer.data() + m_used;
    m_used += bytes;
    return at;
}

Status CopyRowsWriter::beginRow(int fields)
{
    if (m_used >= kPieceBytes) {
        Status sent = m_sink(QByteArrayView(m_buffer.constData(), m_used));
        m_used = 0;
        if (!sent.isOk()) {
            return sent;
        }
    }
    qToBigEndian(static_cast<qint16>(fields), room(2));
    return Status::ok();
}

void CopyRowsWriter::addInteger(qint32 value)
{
    char* field = room(8);
    qToBigEndian(qint32(4), field);
    qToBigEndian(value, field + 4);
}

void CopyRowsWriter::addBool(bool value)
{
    char* field = room(5);
    qToBigEndian(qint32(1), field);
    field[4] = value ? 1 : 0;
}

void CopyRowsWriter::addText(QStringView text)
{
    char* field = room(4 + 3 * text.size());
    char* end = m_utf8.appendToBuffer(field + 4, text);
    const qsizetype bytes = end - (field + 4);
    qToBigEndian(static_cast<qint32>(bytes), field);
    m_used -= 3 * text.size() - bytes;
}

void CopyRowsWriter::addUtf8(QByteArrayView text)
{
    char* field = room(4 + text.size());
    qToBigEndian(static_cast<qint32>(text.size()), field);
    if (!text.isEmpty()) {
        std::memcpy(field + 4, text.data(), static_cast<size_t>(text.size()));
    }
}

Status CopyRowsWriter::finish()
{
    qToBigEndian(qint16(-1), room(2));
    Status sent = m_sink(QByteArrayView(m_buffer.constData(), m_used));
    m_used = 0;
    return sent;
}

CopyRowsReader::CopyRowsReader(RowHandler handler)
    : m_handler(std::move(handler))
{
}

Status CopyRowsReader::feed(QByteArrayView data)
{
    if (m_pending.isEmpty()) {
        Result<qsizetype> used = consume(data);
        if (!used.isOk()) {
            return used.status();
        }
        m_pending = data.sliced(*used).toByteArray();
        return Status::ok();
    }
    m_pending.append(data);
    Result<qsizetype> used = consume(m_pending);
    if (!used.isOk()) {
        return used.status();
    }
    m_pending.remove(0, *used);
    return Status::ok();
}

Result<qsizetype> CopyRowsReader::consume(QByteArrayView data)
{
    const auto malformed = [] { return Status::error(QStringLiteral("the server sent rows in a form not expected")); };
    qsizetype at = 0;
    if (!m_headerRead) {
        if (data.size() < kHeaderSize) {
            return qsizetype(0);
        }
        if (std::memcmp(data.data(), kSignature, kSignatureSize) != 0) {
            return malformed();
        }
        const qint32 extension = qFromBigEndian<qint32>(data.data() + kSignatureSize + 4);
        if (extension < 0 || data.size() < kHeaderSize + extension) {
            return extension < 0 ? Result<qsizetype>(malformed()) : Result<qsizetype>(qsizetype(0));
        }
        at = kHeaderSize + extension;
        m_headerRead = true;
    }
    while (at + 2 <= data.size()) {
        if (m_ended) {
            return malformed();
        }
        const qint16 count = qFromBigEndian<qint16>(data.data() + at);
        if (count == -1) {
            m_ended = true;
            at += 2;
            continue;
        }
        qsizetype next = at + 2;
        m_fields.clear();
        for (qint16 i = 0; i < count && next + 4 <= data.size(); ++i) {
            const qint32 size = qFromBigEndian<qint32>(data.data() + next);
            next += 4;
            if (size < -1) {
                return malformed();
            }
            if (size == -1) {
                m_fields.push_back({QByteArrayView(), true});
            } else if (next + size <= data.size()) {
                m_fields.push_back({data.sliced(next, size), false});
                next += size;
            } else {
                break;
            }
        }
        if (count < 0 || m_fields.size() < static_cast<size_t>(count)) {
            if (count < 0) {
                return malformed();
            }
            break; // the row goes on in the next piece
        }
        Status handled = m_handler(m_fields);
        if (!handled.isOk()) {
            return handled;
        }
        at = next;
    }
    return at;
}

Status CopyRowsReader::finish() const
{
    if (!m_ended || !m_pending.isEmpty()) {
        return Status::error(QStringLiteral("the rows from the server ended early"));
    }
    return Status::ok();
}

} // namespace kavelo::db
