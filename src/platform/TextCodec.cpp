#include "platform/TextCodec.h"

#include "platform/SystemError.h"

#include <atomic>
#include <bit>

#include <cerrno>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define KAVELO_TEXTCODEC_SSE2 1
#endif

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

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

inline bool isPrintableAscii(unsigned b)
{
    return b - 0x20U < 0x5FU;
}

// Length of the run of printable ASCII (0x20 to 0x7E) that `data` starts with, at least up to its last eight
// bytes: a first pass for the byte loops, eight bytes at a time. The loops take any other plain byte themselves.
inline qsizetype printableAsciiRun(const unsigned char* data, qsizetype size)
{
    constexpr quint64 ones = 0x0101010101010101ULL;
    constexpr quint64 highs = 0x8080808080808080ULL;
    qsizetype i = 0;
    while (i + 8 <= size) {
        quint64 w;
        std::memcpy(&w, data + i, 8);
        const quint64 below20 = (w - 0x20 * ones) & ~w & highs; // a byte below 0x20 (among bytes below 0x80)
        const quint64 is7f = ((w ^ 0x7F * ones) - ones) & ~(w ^ 0x7F * ones) & highs;
        if ((w & highs) | below20 | is7f) {
            break;
        }
        i += 8;
    }
    return i;
}

// Widens the run of printable ASCII that `data` starts with to UTF-16 at `dest`, sixteen bytes at a time, and
// returns its length, but not into the last sixteen bytes or fewer, which are left to the byte loop. `dest` has room
// for `size` units; up to sixteen units beyond the run may be written (they are overwritten next). Without SSE2:
// nothing, the byte loop takes it all.
inline qsizetype widenPrintableAscii(const unsigned char* data, qsizetype size, char16_t* dest)
{
    qsizetype i = 0;
#ifdef KAVELO_TEXTCODEC_SSE2
    const __m128i zero = _mm_setzero_si128();
    const __m128i blank = _mm_set1_epi8(0x20);
    const __m128i del = _mm_set1_epi8(0x7F);
    while (i + 16 <= size) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        // As signed bytes, 0x80 and above are below 0x20 too.
        const __m128i other = _mm_or_si128(_mm_cmplt_epi8(bytes, blank), _mm_cmpeq_epi8(bytes, del));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i), _mm_unpacklo_epi8(bytes, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dest + i + 8), _mm_unpackhi_epi8(bytes, zero));
        const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(other));
        if (mask != 0) {
            return i + std::countr_zero(mask);
        }
        i += 16;
    }
#else
    Q_UNUSED(data);
    Q_UNUSED(size);
    Q_UNUSED(dest);
#endif
    return i;
}

// First byte of a two-byte character: the converter takes it and the byte after it together, whatever that is.
inline bool isLeadByte(unsigned b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The character of each one-byte and two-byte sequence, asked of the converter the first time the sequence is
// read and kept for the life of the process (the converter is stateless: a sequence decodes the same alone as in a
// run). 0: not asked yet; kInvalid; 0x10000 | the UTF-16 unit. Threads may fill an entry at the same time: they
// store the same value.
constexpr quint32 kInvalid = 1;
std::atomic<quint32> g_decodedByte[0x100] = {};
std::atomic<quint32> g_decodedPair[0x10000] = {};

quint32 askDecoder(QByteArrayView sequence)
{
    QStringDecoder decoder = makeDecoder();
    const QString text = decoder(sequence);
    if (decoder.hasError() || text.size() != 1) {
        return kInvalid;
    }
    return 0x10000 | text.at(0).unicode();
}

inline quint32 decoded(std::atomic<quint32>& entry, QByteArrayView sequence)
{
    quint32 code = entry.load(std::memory_order_relaxed);
    if (code == 0) {
        code = askDecoder(sequence);
        entry.store(code, std::memory_order_relaxed);
    }
    return code;
}

// Decodes `bytes` into `scratch`, which grows as needed and is kept for the next line; the number of UTF-16 units
// decoded, or -1 for invalid bytes or a NUL. A lead byte takes the byte after it, whatever that is.
qsizetype decodeRuns(QByteArrayView bytes, QString& scratch)
{
    const qsizetype size = bytes.size();
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    if (scratch.size() < size) {
        scratch.resize(size); // never more units than bytes
    }
    char16_t* const begin = reinterpret_cast<char16_t*>(scratch.data());
    char16_t* dest = begin;
    qsizetype i = 0;
    while (i < size) {
        const unsigned b = data[i];
        if (isPrintableAscii(b)) {
            const qsizetype wide = widenPrintableAscii(data + i, size - i, dest);
            dest += wide;
            i += wide;
            while (i < size && isPrintableAscii(data[i])) {
                *dest++ = char16_t(data[i++]);
            }
            continue;
        }
        if (b == 0) {
            return -1; // a NUL is never text here
        }
        if (isPlainAscii(b)) {
            *dest++ = char16_t(b);
            ++i;
            continue;
        }
        const bool pair = isLeadByte(b) && i + 1 < size;
        if (pair && data[i + 1] == 0) {
            return -1;
        }
        const quint32 code = pair ? decoded(g_decodedPair[(b << 8) | data[i + 1]], bytes.sliced(i, 2))
                                  : decoded(g_decodedByte[b], bytes.sliced(i, 1));
        if (code == kInvalid) {
            return -1;
        }
        *dest++ = char16_t(code & 0xFFFF);
        i += pair ? 2 : 1;
    }
    return dest - begin;
}

// The decoded text as a string of its own size; empty (and not null) for no bytes.
std::optional<QString> decodeToString(QByteArrayView bytes, QString& scratch)
{
    const qsizetype length = decodeRuns(bytes, scratch);
    if (length < 0) {
        return std::nullopt;
    }
    return length == 0 ? QStringLiteral("") : QString(scratch.constData(), length);
}

// Windows-31J bytes of each BMP code point, asked of the converter the first time the code point is written and
// kept for the life of the process (the converter is stateless, so a character encodes the same alone as in a
// run). 0: not asked yet; kUnencodable; 0x100 | byte for one byte; the two bytes for a double-byte character (its
// lead byte is 0x81 or above, so the forms cannot be confused). Threads may fill an entry at the same time: they
// store the same value.
constexpr quint16 kUnencodable = 1;
std::atomic<quint16> g_encoded[0x10000] = {};

quint16 askConverter(char16_t c)
{
    if (QChar::isSurrogate(c)) {
        return kUnencodable;
    }
    QStringEncoder encoder = makeEncoder();
    const QChar ch(c);
    const QByteArray bytes = encoder(QStringView(&ch, 1));
    if (encoder.hasError()) {
        return kUnencodable;
    }
    if (bytes.size() == 1) {
        return quint16(0x100 | quint8(bytes[0]));
    }
    if (bytes.size() == 2 && quint8(bytes[0]) >= 0x81) {
        return quint16((quint8(bytes[0]) << 8) | quint8(bytes[1]));
    }
    return kUnencodable;
}

inline quint16 encodedBmp(char16_t c)
{
    quint16 code = g_encoded[c].load(std::memory_order_relaxed);
    if (code == 0) {
        code = askConverter(c);
        g_encoded[c].store(code, std::memory_order_relaxed);
    }
    return code;
}

// Writes one code point at `dest`; nullptr when Windows-31J has no such character (nothing beyond the BMP).
inline char* putCodePoint(char* dest, char32_t cp)
{
    if (cp > 0xFFFF) {
        return nullptr;
    }
    const quint16 code = encodedBmp(char16_t(cp));
    if (code == kUnencodable) {
        return nullptr;
    }
    if (code < 0x200) {
        *dest++ = static_cast<char>(code & 0xFF);
    } else {
        *dest++ = static_cast<char>(code >> 8);
        *dest++ = static_cast<char>(code & 0xFF);
    }
    return dest;
}

// Writes the encoded `text` at `dest`, which has room for two bytes per UTF-16 unit; the end of what was written,
// or nullptr when a character cannot be written in Windows-31J.
char* encodeRuns(QStringView text, char* dest)
{
    const qsizetype size = text.size();
    const char16_t* data = text.utf16();
    for (qsizetype i = 0; i < size && dest; ++i) {
        if (isPlainAscii(data[i])) {
            *dest++ = static_cast<char>(data[i]);
        } else {
            dest = putCodePoint(dest, data[i]); // a surrogate, paired or not, is never in the table
        }
    }
    return dest;
}

// The same from UTF-8 text, with room for as many bytes as it has (no character takes more bytes in Windows-31J
// than in UTF-8); nullptr also for bytes that are not UTF-8.
char* encodeUtf8Runs(QByteArrayView utf8, char* dest)
{
    const qsizetype size = utf8.size();
    const auto* data = reinterpret_cast<const unsigned char*>(utf8.data());
    qsizetype i = 0;
    while (i < size) {
        const qsizetype run = printableAsciiRun(data + i, size - i);
        std::memcpy(dest, data + i, static_cast<size_t>(run));
        dest += run;
        i += run;
        if (i == size) {
            break;
        }
        const unsigned b = data[i];
        if (isPlainAscii(b)) {
            *dest++ = static_cast<char>(b);
            ++i;
            continue;
        }
        char32_t cp = 0;
        int length = 0;
        char32_t least = 0;
        if (b < 0x80) {
            cp = b;
            length = 1;
        } else if (b >= 0xC2 && b <= 0xDF) {
            cp = b & 0x1F;
            length = 2;
            least = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            cp = b & 0x0F;
            length = 3;
            least = 0x800;
        } else {
            return nullptr; // beyond the BMP (nothing there is Windows-31J) or not UTF-8
        }
        if (i + length > size) {
            return nullptr;
        }
        for (int k = 1; k < length; ++k) {
            const unsigned c = data[i + k];
            if ((c & 0xC0) != 0x80) {
                return nullptr;
            }
            cp = (cp << 6) | (c & 0x3F);
        }
        if (cp < least || (cp >= 0xD800 && cp <= 0xDFFF)) {
            return nullptr; // an over-long form or a surrogate
        }
        dest = putCodePoint(dest, cp);
        if (!dest) {
            return nullptr;
        }
        i += length;
    }
    return dest;
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
    QString scratch;
    std::optional<QString> text = decodeToString(bytes, scratch);
    if (!text) {
        return Status::error(bytes.contains('\0') ? QStringLiteral("contains a NUL byte")
                                                  : QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
    }
    return std::move(*text);
}

Result<QByteArray> encodeShiftJis(QStringView text)
{
    QByteArray bytes(2 * text.size(), Qt::Uninitialized);
    char* end = encodeRuns(text, bytes.data());
    if (!end) {
        return Status::error(describeUnencodable(text));
    }
    bytes.truncate(end - bytes.constData());
    return bytes;
}

// ---------------------------------------------------------------------------------------------------------------

ShiftJisLineReader::ShiftJisLineReader(const QString& path, qint64 maxLineBytes)
    : m_path(path)
    , m_file(path)
    , m_maxLineBytes(maxLineBytes)
{
}

Result<std::unique_ptr<ShiftJisLineReader>> ShiftJisLineReader::open(const QString& path, qint64 maxLineBytes)
{
    std::unique_ptr<ShiftJisLineReader> reader(new ShiftJisLineReader(path, maxLineBytes));
    if (!reader->m_file.open(QIODevice::ReadOnly)) {
        return Status::fileError(path, fileReason(reader->m_file), QStringLiteral("cannot open for reading"));
    }
    reader->m_size = reader->m_file.size();
    return reader;
}

Status ShiftJisLineReader::lineError(const QString& reason) const
{
    return Status::lineError(m_path, m_lineNumber, reason);
}

Result<std::optional<QString>> ShiftJisLineReader::next()
{
    Result<std::optional<QStringView>> line = nextView();
    if (!line.isOk()) {
        return line.status();
    }
    if (!line->has_value()) {
        return std::optional<QString>();
    }
    return std::optional<QString>((*line)->isEmpty() ? QStringLiteral("") : (*line)->toString());
}

Result<std::optional<QStringView>> ShiftJisLineReader::nextView()
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
                return Status::error(QStringLiteral("%1, after line %2: read failed: %3")
                                         .arg(m_path)
                                         .arg(m_lineNumber)
                                         .arg(fileReason(m_file)));
            }
            m_eof = true;
        } else {
            m_buffer.append(chunk);
        }
    }

    qsizetype end = lineEnd >= 0 ? lineEnd : m_buffer.size();
    if (lineEnd < 0 && end == m_bufferPos) {
        return std::optional<QStringView>(); // end of file, no final partial line
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
    const qsizetype length = decodeRuns(bytes, m_scratch);
    if (length < 0) {
        return lineError(bytes.contains('\0') ? QStringLiteral("contains a NUL byte")
                                              : QStringLiteral("not valid Windows-31J (Shift-JIS) text"));
    }
    m_lineBytes = bytes;
    m_consumed += consumedTo - m_bufferPos;
    m_bufferPos = consumedTo;
    return std::optional<QStringView>(QStringView(m_scratch.constData(), length));
}

// ---------------------------------------------------------------------------------------------------------------

std::optional<QStringView> ShiftJisDecoder::decode(QByteArrayView bytes)
{
    const qsizetype length = decodeRuns(bytes, m_scratch);
    if (length < 0) {
        return std::nullopt;
    }
    return QStringView(m_scratch.constData(), length);
}

// ---------------------------------------------------------------------------------------------------------------

ShiftJisLineWriter::ShiftJisLineWriter(const QString& path)
    : m_path(path)
    , m_file(path)
{
}

Result<std::unique_ptr<ShiftJisLineWriter>> ShiftJisLineWriter::create(const QString& path)
{
    std::unique_ptr<ShiftJisLineWriter> writer(new ShiftJisLineWriter(path));
    writer->m_file.setDirectWriteFallback(false);
    if (!writer->m_file.open(QIODevice::WriteOnly)) {
        return Status::fileError(path, fileReason(writer->m_file), QStringLiteral("cannot create"));
    }
    writer->m_buffer.resize(kChunkBytes);
    return writer;
}

Status ShiftJisLineWriter::writeLine(QStringView line)
{
    ++m_lines;
    char* dest = room(2 * line.size());
    char* end = dest ? encodeRuns(line, dest) : nullptr;
    if (!end) {
        return dest ? Status::lineError(m_path, m_lines, describeUnencodable(line)) : m_failure;
    }
    return endLine(end);
}

Status ShiftJisLineWriter::writeLineUtf8(QByteArrayView line)
{
    ++m_lines;
    char* dest = room(line.size());
    char* end = dest ? encodeUtf8Runs(line, dest) : nullptr;
    if (!end) {
        return dest ? Status::lineError(m_path, m_lines, describeUnencodable(QString::fromUtf8(line))) : m_failure;
    }
    return endLine(end);
}

// Where the next line of at most `bytes` bytes (and its line end) goes; nullptr with m_failure set when the
// buffer could not be written out to make room.
char* ShiftJisLineWriter::room(qsizetype bytes)
{
    const qsizetype needed = bytes + 2;
    if (m_used + needed > m_buffer.size()) {
        Status flushed = flushBuffer();
        if (!flushed.isOk()) {
            m_failure = flushed;
            return nullptr;
        }
        if (needed > m_buffer.size()) {
            m_buffer.resize(needed);
        }
    }
    return m_buffer.data() + m_used;
}

Status ShiftJisLineWriter::endLine(char* end)
{
    *end++ = '\r';
    *end++ = '\n';
    m_used = end - m_buffer.constData();
    return Status::ok();
}

Status ShiftJisLineWriter::flushBuffer()
{
    if (m_used > 0) {
        Status written = writeAll(m_file, QByteArrayView(m_buffer.constData(), m_used), m_path);
        if (!written.isOk()) {
            return written;
        }
    }
    m_used = 0;
    return Status::ok();
}

Status ShiftJisLineWriter::sync()
{
    Status flushed = flushBuffer();
    if (!flushed.isOk()) {
        return flushed;
    }
    flushed = flushAll(m_file, m_path);
    if (!flushed.isOk()) {
        return flushed;
    }
#if defined(Q_OS_LINUX)
    const bool synced = ::fdatasync(m_file.handle()) == 0;
#elif defined(Q_OS_UNIX)
    const bool synced = ::fsync(m_file.handle()) == 0;
#else
    const bool synced = true; // commit() syncs the file to disk before it renames it
#endif
    if (!synced) {
        return Status::fileError(m_path, systemReason(errno), QStringLiteral("cannot be written to disk"));
    }
    return Status::ok();
}

Status ShiftJisLineWriter::commit()
{
    Status flushed = flushBuffer();
    if (flushed.isOk()) {
        flushed = flushAll(m_file, m_path);
    }
    if (!flushed.isOk()) {
        m_file.cancelWriting();
        return flushed;
    }
    if (!m_file.commit()) {
        return Status::fileError(m_path, fileReason(m_file), QStringLiteral("cannot be written"));
    }
    return Status::ok();
}

} // namespace kavelo::platform
