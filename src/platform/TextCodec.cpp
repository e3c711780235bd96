#include "platform/TextCodec.h"

namespace kavelo::platform {

namespace {

constexpr const char* kEncodingName = "windows-31j";
constexpr qsizetype kChunkBytes = 64 * 1024;

QStringDecoder makeDecoder()
{
    return QStringDecoder(kEncodingName, QStringConverter::Flag::Stateless);
}

QStringEncoder makeEncoder()
{
    return QStringEncoder(kEncodingName, QStringConverter::Flag::Stateless);
}

// Most bytes of the records are ASCII digits, letters and blanks, which Windows-31J maps to the same code points
// (0x5C and 0x7E included, as U+005C and U+007E). Runs of them are copied directly and only the other runs go
// through the converter. Not copied: 0x1A, 0x1C and 0x7F, which the converter's table swaps among themselves
// (0x1A <-> U+001C, 0x1C <-> U+007F, 0x7F <-> U+001A), so they keep whatever the converter makes of them.
inline bool isPlainAscii(unsigned b)
{
    return b < 0x7F && b != 0x1A && b != 0x1C;
}

// First byte of a two-byte character: the converter takes it and the byte after it together, whatever that is.
inline bool isLeadByte(unsigned b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Decodes `bytes` into `scratch`, which grows as needed and is kept for the next line; the text is returned as a
// string of its own size. Empty (and not null) for no bytes; nullopt when the converter met invalid bytes.
std::optional<QString> decodeRuns(QStringDecoder& decoder, QByteArrayView bytes, QString& scratch)
{
    const qsizetype size = bytes.size();
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const qsizetype needed = decoder.requiredSpace(size) + size;
    if (scratch.size() < needed) {
        scratch.resize(needed);
    }
    QChar* const begin = scratch.data();
    QChar* dest = begin;
    qsizetype i = 0;
    while (i < size) {
        if (isPlainAscii(data[i])) {
            *dest++ = QChar(char16_t(data[i++]));
            continue;
        }
        // A run for the converter ends before the first plain ASCII byte that starts a character.
        const qsizetype start = i;
        while (i < size && !isPlainAscii(data[i])) {
            i += (isLeadByte(data[i]) && i + 1 < size) ? 2 : 1;
        }
        dest = decoder.appendToBuffer(dest, bytes.sliced(start, i - start));
        if (decoder.hasError()) {
            return std::nullopt;
        }
    }
    return dest == begin ? QStringLiteral("") : QString(begin, dest - begin);
}

// Appends the encoded `text` to `out`; false when a character cannot be written in Windows-31J.
bool encodeRuns(QStringEncoder& encoder, QStringView text, QByteArray& out)
{
    const qsizetype size = text.size();
    const char16_t* data = text.utf16();
    const qsizetype oldSize = out.size();
    out.resize(oldSize + encoder.requiredSpace(size) + size);
    char* const begin = out.data();
    char* dest = begin + oldSize;
    qsizetype i = 0;
    while (i < size) {
        if (isPlainAscii(data[i])) {
            *dest++ = static_cast<char>(data[i++]);
            continue;
        }
        const qsizetype start = i;
        while (i < size && !isPlainAscii(data[i])) {
            ++i; // a surrogate pair is never split: neither half is plain ASCII
        }
        dest = encoder.appendToBuffer(dest, text.sliced(start, i - start));
        if (encoder.hasError()) {
            out.truncate(oldSize);
            return false;
        }
    }
    out.truncate(dest - begin);
    return true;
}

// Qt's converters keep their error flag once set, so the offending character is found with fresh ones.
QString describeUnencodable(QStringView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        qsizetype len = (text[i].isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
        QStringEncoder probe = makeEncoder();
        const QByteArray probed = probe(text.mid(i, len)); // EncodedData converts only when taken
        Q_UNUSED(probed);
        if (probe.hasError()) {
            char32_t cp = len == 2 ? QChar::surrogateToUcs4(text[i], text[i + 1]) : text[i].unicode();
            return QStringLiteral("character U+%1 (\"%2\") at position %3 cannot be written in Windows-31J")
                .arg(QString::number(cp, 16).toUpper().rightJustified(4, QLatin1Char('0')), text.mid(i, len).toString())
                .arg(i + 1);
        }
        i += len - 1;
    }
    return QStringLiteral("text cannot be written in Windows-31J");
}

} // namespace

Result<QString> decodeShiftJis(QByteArrayView bytes)
{
    if (bytes.contains('\0')) {
        return Status::error(QStringLiteral("contains a NUL byte"));
    }
    QStringDecoder decoder = makeDecoder();
    QString scratch;
    std::optional<QString> text = decodeRuns(decoder, bytes, scratch);
    if (!text) {
        return Status::error(QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
    }
    return std::move(*text);
}

Result<QByteArray> encodeShiftJis(QStringView text)
{
    QStringEncoder encoder = makeEncoder();
    QByteArray bytes;
    if (!encodeRuns(encoder, text, bytes)) {
        return Status::error(describeUnencodable(text));
    }
    return bytes;
}

// ---------------------------------------------------------------------------------------------------------------

ShiftJisLineReader::ShiftJisLineReader(const QString& path, qint64 maxLineBytes)
    : m_path(path)
    , m_file(path)
    , m_maxLineBytes(maxLineBytes)
    , m_decoder(makeDecoder())
{
}

Result<std::unique_ptr<ShiftJisLineReader>> ShiftJisLineReader::open(const QString& path, qint64 maxLineBytes)
{
    std::unique_ptr<ShiftJisLineReader> reader(new ShiftJisLineReader(path, maxLineBytes));
    if (!reader->m_file.open(QIODevice::ReadOnly)) {
        return Status::error(QStringLiteral("%1: cannot open for reading: %2").arg(path, reader->m_file.errorString()));
    }
    reader->m_size = reader->m_file.size();
    return reader;
}

Status ShiftJisLineReader::lineError(const QString& reason) const
{
    return Status::error(QStringLiteral("%1, line %2: %3").arg(m_path).arg(m_lineNumber).arg(reason));
}

Result<std::optional<QString>> ShiftJisLineReader::next()
{
    qsizetype lineEnd = -1;
    for (;;) {
        lineEnd = m_buffer.indexOf('\n', m_bufferPos);
        if (lineEnd >= 0 || m_eof) {
            break;
        }
        if (m_buffer.size() - m_bufferPos > m_maxLineBytes) {
            ++m_lineNumber;
            return lineError(QStringLiteral("line is longer than %1 bytes").arg(m_maxLineBytes));
        }
        if (m_bufferPos > 0) {
            m_buffer.remove(0, m_bufferPos);
            m_bufferPos = 0;
        }
        QByteArray chunk = m_file.read(kChunkBytes);
        if (chunk.isEmpty()) {
            if (m_file.error() != QFileDevice::NoError) {
                return Status::error(
                    QStringLiteral("%1, after line %2: read failed: %3").arg(m_path).arg(m_lineNumber).arg(m_file.errorString()));
            }
            m_eof = true;
        } else {
            m_buffer.append(chunk);
        }
    }

    qsizetype end = lineEnd >= 0 ? lineEnd : m_buffer.size();
    if (lineEnd < 0 && end == m_bufferPos) {
        return std::optional<QString>(); // end of file, no final partial line
    }
    ++m_lineNumber;
    qsizetype consumedTo = lineEnd >= 0 ? lineEnd + 1 : end;
    if (end > m_bufferPos && m_buffer[end - 1] == '\r') {
        --end;
    }
    if (end - m_bufferPos > m_maxLineBytes) {
        return lineError(QStringLiteral("line is longer than %1 bytes").arg(m_maxLineBytes));
    }
    QByteArrayView bytes(m_buffer.constData() + m_bufferPos, end - m_bufferPos);
    if (bytes.contains('\0')) {
        return lineError(QStringLiteral("contains a NUL byte"));
    }
    std::optional<QString> line = decodeRuns(m_decoder, bytes, m_scratch);
    if (!line) {
        return lineError(QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
    }
    m_consumed += consumedTo - m_bufferPos;
    m_bufferPos = consumedTo;
    return line;
}

// ---------------------------------------------------------------------------------------------------------------

ShiftJisLineWriter::ShiftJisLineWriter(const QString& path)
    : m_path(path)
    , m_file(path)
    , m_encoder(makeEncoder())
{
}

Result<std::unique_ptr<ShiftJisLineWriter>> ShiftJisLineWriter::create(const QString& path)
{
    std::unique_ptr<ShiftJisLineWriter> writer(new ShiftJisLineWriter(path));
    writer->m_file.setDirectWriteFallback(false);
    if (!writer->m_file.open(QIODevice::WriteOnly)) {
        return Status::error(QStringLiteral("%1: cannot create: %2").arg(path, writer->m_file.errorString()));
    }
    writer->m_buffer.reserve(kChunkBytes + 4096);
    return writer;
}

Status ShiftJisLineWriter::writeLine(QStringView line)
{
    ++m_lines;
    if (!encodeRuns(m_encoder, line, m_buffer)) {
        m_encoder = makeEncoder();
        return Status::error(QStringLiteral("%1, line %2: %3").arg(m_path).arg(m_lines).arg(describeUnencodable(line)));
    }
    m_buffer.append("\r\n", 2);
    if (m_buffer.size() >= kChunkBytes) {
        return flushBuffer();
    }
    return Status::ok();
}

Status ShiftJisLineWriter::flushBuffer()
{
    if (!m_buffer.isEmpty() && m_file.write(m_buffer) != m_buffer.size()) {
        return Status::error(QStringLiteral("%1: write failed: %2").arg(m_path, m_file.errorString()));
    }
    m_buffer.clear();
    return Status::ok();
}

Status ShiftJisLineWriter::commit()
{
    Status flushed = flushBuffer();
    if (!flushed.isOk()) {
        m_file.cancelWriting();
        return flushed;
    }
    if (!m_file.commit()) {
        return Status::error(QStringLiteral("%1: cannot be written: %2").arg(m_path, m_file.errorString()));
    }
    return Status::ok();
}

} // namespace kavelo::platform
