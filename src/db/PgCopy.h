#ifndef KAVELO_DB_PGCOPY_H
#define KAVELO_DB_PGCOPY_H

#include "db/PgConnection.h"
#include "platform/Status.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QStringEncoder>
#include <QStringView>

#include <functional>
#include <vector>

namespace kavelo::db {

// Rows for COPY ... FROM STDIN (FORMAT binary). Every field is framed by its length, so a value reaches the server
// as it stands, with nothing to quote or escape. The data goes to the sink in pieces of about 256 KiB.
class CopyRowsWriter
{
  public:
    explicit CopyRowsWriter(const PgConnection::CopySink& sink);

    CopyRowsWriter(const CopyRowsWriter&) = delete;
    CopyRowsWriter& operator=(const CopyRowsWriter&) = delete;

    // Starts a row of `fields` fields; the fields follow in the table's column order.
    platform::Status beginRow(int fields);
    void addInteger(qint32 value);
    void addBool(bool value);
    // Text as UTF-8 (an empty text is empty text, not NULL). The lines read never hold a NUL, which text on the
    // server cannot.
    void addText(QStringView text);
    // Text already in UTF-8.
    void addUtf8(QByteArrayView text);
    // Ends the data and hands over what is left.
    platform::Status finish();

  private:
    char* room(qsizetype bytes);

    const PgConnection::CopySink& m_sink;
    QByteArray m_buffer;
    qsizetype m_used = 0;
    QStringEncoder m_utf8{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
};

// Reads the rows of COPY ... TO STDOUT (FORMAT binary) from the pieces the server sends, however they are cut.
class CopyRowsReader
{
  public:
    // A field of a row: its bytes, or null for NULL.
    struct Field
    {
        QByteArrayView bytes;
        bool null = false;
    };
    using RowHandler = std::function<platform::Status(const std::vector<Field>& fields)>;

    explicit CopyRowsReader(RowHandler handler);

    // Hands every complete row of what has come so far to the handler; stops at the handler's first error.
    platform::Status feed(QByteArrayView data);
    // After the last piece: an error when the data ended inside a row or before its end marker.
    platform::Status finish() const;

  private:
    // How many bytes of `data` the header and whole rows take, handing the rows over; -1 for malformed data.
    platform::Result<qsizetype> consume(QByteArrayView data);

    RowHandler m_handler;
    QByteArray m_pending; // the start of a row cut between two pieces
    bool m_headerRead = false;
    bool m_ended = false;
    std::vector<Field> m_fields;
};

} // namespace kavelo::db

#endif
