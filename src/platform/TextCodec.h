#ifndef KAVELO_PLATFORM_TEXTCODEC_H
#define KAVELO_PLATFORM_TEXTCODEC_H

#include "platform/Status.h"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

#include <memory>
#include <optional>

namespace kavelo::platform {

// Windows-31J (CP932: Shift-JIS with the NEC and IBM extension characters) is the one encoding of every text
// file the system reads or writes. Invalid bytes are an error, never a silent replacement character.
Result<QString> decodeShiftJis(QByteArrayView bytes);
Result<QByteArray> encodeShiftJis(QStringView text);

// Reads a Windows-31J text file line by line without loading it whole. Lines end in CR LF (a bare LF is accepted
// too); a final line without a line end still counts. The first invalid line stops the reader: next() returns an
// error naming the file and the line, and the caller is expected to give up on the file.
class ShiftJisLineReader
{
  public:
    static constexpr qint64 kDefaultMaxLineBytes = 1024 * 1024;

    static Result<std::unique_ptr<ShiftJisLineReader>> open(const QString& path,
                                                            qint64 maxLineBytes = kDefaultMaxLineBytes);

    ShiftJisLineReader(const ShiftJisLineReader&) = delete;
    ShiftJisLineReader& operator=(const ShiftJisLineReader&) = delete;

    // The next line without its line end, or std::nullopt at the end of the file.
    Result<std::optional<QString>> next();
    // The same without a copy: the text is the reader's own and valid until the next call.
    Result<std::optional<QStringView>> nextView();

    // The bytes of the line that next() returned last, without its line end; valid until the next call.
    QByteArrayView lineBytes() const { return m_lineBytes; }
    // 1-based number of the line that next() returned last.
    qint64 lineNumber() const { return m_lineNumber; }
    // For progress reports.
    qint64 bytesConsumed() const { return m_consumed; }
    qint64 fileSize() const { return m_size; }
    const QString& path() const { return m_path; }

    // The error of the line read last (Status::lineError).
    Status lineError(const QString& reason) const;

  private:
    ShiftJisLineReader(const QString& path, qint64 maxLineBytes);

    QString m_path;
    QFile m_file;
    QByteArray m_buffer;
    qsizetype m_bufferPos = 0;
    bool m_eof = false;
    qint64 m_lineNumber = 0;
    qint64 m_consumed = 0;
    qint64 m_size = 0;
    qint64 m_maxLineBytes;
    QString m_scratch; // decoding buffer, kept from line to line
    QByteArrayView m_lineBytes;
};

// Decodes one piece of Windows-31J text after another without a new converter or buffer for each.
class ShiftJisDecoder
{
  public:
    // The text, valid until the next call; std::nullopt for invalid bytes or a NUL.
    std::optional<QStringView> decode(QByteArrayView bytes);

  private:
    QString m_scratch;
};

// Writes a Windows-31J text file, lines ending in CR LF, to a temporary file in the target's folder that commit()
// renames over the target. Until commit() the target is untouched; a writer destroyed without commit() leaves it
// as it was.
class ShiftJisLineWriter
{
  public:
    static Result<std::unique_ptr<ShiftJisLineWriter>> create(const QString& path);

    ShiftJisLineWriter(const ShiftJisLineWriter&) = delete;
    ShiftJisLineWriter& operator=(const ShiftJisLineWriter&) = delete;

    // A character that Windows-31J cannot hold refuses the line with an error naming it.
    Status writeLine(QStringView line);
    // The same for a line held as UTF-8 (as the database gives it); bytes that are not UTF-8 refuse the line too.
    Status writeLineUtf8(QByteArrayView line);
    // Puts what was written on the disk without renaming it over the target yet; commit() then has less to do.
    // May run on another thread while this one does other work, as long as it does not use the writer.
    Status sync();
    Status commit();

    qint64 linesWritten() const { return m_lines; }

  private:
    explicit ShiftJisLineWriter(const QString& path);
    char* room(qsizetype bytes);
    Status endLine(char* end);
    Status flushBuffer();

    QString m_path;
    QSaveFile m_file;
    QByteArray m_buffer; // its first m_used bytes wait to be written
    qsizetype m_used = 0;
    Status m_failure = Status::ok();
    qint64 m_lines = 0;
};

} // namespace kavelo::platform

#endif
