#include "wire/Deflate.h"

#include <zlib.h>

#include <stdexcept>

namespace kavelo::wire {

using platform::Status;

namespace {

constexpr qsizetype kOutStep = 64 * 1024;
// Level 6 compresses a master CSV to about a fifth at some 40 MB/s: a weak link gains far more than it waits.
constexpr int kLevel = Z_DEFAULT_COMPRESSION;

Bytef* input(QByteArrayView bytes)
{
    // zlib's next_in is not const, but it never writes through it.
    return reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
}

} // namespace

Deflater::Deflater(Format format)
    : m_stream(std::make_unique<z_stream>())
{
    constexpr int kWindowBits = 15;
    constexpr int kGzipHeader = 16; // added to the window bits: a gzip header and trailer instead of zlib's
    constexpr int kMemLevel = 8;
    const int windowBits = format == Format::Gzip ? kWindowBits + kGzipHeader : kWindowBits;
    if (deflateInit2(m_stream.get(), kLevel, Z_DEFLATED, windowBits, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::bad_alloc(); // the only way deflateInit fails with valid arguments
    }
}

Deflater::~Deflater()
{
    deflateEnd(m_stream.get());
}

void Deflater::add(QByteArrayView in, QByteArray& out)
{
    run(in, Z_NO_FLUSH, out);
}

void Deflater::finish(QByteArray& out)
{
    run({}, Z_FINISH, out);
}

void Deflater::run(QByteArrayView in, int flush, QByteArray& out)
{
    // Pieces are at most a few MiB, so the counts fit zlib's uInt.
    m_stream->next_in = input(in);
    m_stream->avail_in = static_cast<uInt>(in.size());
    int result = Z_OK;
    do {
        const qsizetype before = out.size();
        out.resize(before + kOutStep);
        m_stream->next_out = reinterpret_cast<Bytef*>(out.data() + before);
        m_stream->avail_out = static_cast<uInt>(kOutStep);
        result = deflate(m_stream.get(), flush);
        out.resize(out.size() - static_cast<qsizetype>(m_stream->avail_out));
    } while (m_stream->avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
}

Inflater::Inflater(Deflater::Format format)
    : m_stream(std::make_unique<z_stream>())
{
    constexpr int kWindowBits = 15;
    constexpr int kGzipHeader = 16;
    const int windowBits = format == Deflater::Format::Gzip ? kWindowBits + kGzipHeader : kWindowBits;
    if (inflateInit2(m_stream.get(), windowBits) != Z_OK) {
        throw std::bad_alloc();
    }
}

Inflater::~Inflater()
{
    inflateEnd(m_stream.get());
}

Status Inflater::add(QByteArrayView in, QByteArray& out)
{
    if (in.isEmpty()) {
        return Status::ok();
    }
    if (m_finished) {
        return Status::error(QStringLiteral("bytes after the end of the zlib stream"));
    }
    m_stream->next_in = input(in);
    m_stream->avail_in = static_cast<uInt>(in.size());
    while (m_stream->avail_in > 0) {
        const qsizetype before = out.size();
        out.resize(before + kOutStep);
        m_stream->next_out = reinterpret_cast<Bytef*>(out.data() + before);
        m_stream->avail_out = static_cast<uInt>(kOutStep);
        const int result = inflate(m_stream.get(), Z_NO_FLUSH);
        out.resize(out.size() - static_cast<qsizetype>(m_stream->avail_out));
        if (result == Z_STREAM_END) {
            m_finished = true;
            if (m_stream->avail_in > 0) {
                return Status::error(QStringLiteral("bytes after the end of the zlib stream"));
            }
            break;
        }
        if (result == Z_BUF_ERROR && m_stream->avail_out > 0) {
            break; // no progress possible: zlib wants nothing more of these bytes
        }
        if (result != Z_OK && result != Z_BUF_ERROR) {
            return Status::error(QStringLiteral("broken zlib stream: %1")
                                     .arg(QLatin1String(m_stream->msg ? m_stream->msg : "unknown error")));
        }
    }
    return Status::ok();
}

QByteArray deflateAll(QByteArrayView input)
{
    QByteArray out;
    Deflater deflater;
    deflater.add(input, out);
    deflater.finish(out);
    return out;
}

} // namespace kavelo::wire
