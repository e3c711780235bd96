#ifndef KAVELO_WIRE_DEFLATE_H
#define KAVELO_WIRE_DEFLATE_H

#include "platform/Status.h"

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

struct z_stream_s;

namespace kavelo::wire {

// A zlib stream (RFC 1950), or a gzip one (RFC 1952), made in pieces: what `add` and `finish` produce is appended
// to `out`.
class Deflater
{
  public:
    enum class Format
    {
        Zlib,
        Gzip,
    };

    explicit Deflater(Format format = Format::Zlib);
    ~Deflater();
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    void add(QByteArrayView input, QByteArray& out);
    void finish(QByteArray& out);

  private:
    void run(QByteArrayView input, int flush, QByteArray& out);

    std::unique_ptr<z_stream_s> m_stream;
};

// A zlib stream (or with Format::Gzip a gzip one) read in pieces. Bytes after the end of the stream, or a broken
// stream, are an error.
class Inflater
{
  public:
    explicit Inflater(Deflater::Format format = Deflater::Format::Zlib);
    ~Inflater();
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    platform::Status add(QByteArrayView input, QByteArray& out);
    // The stream's end was seen.
    bool finished() const { return m_finished; }

  private:
    std::unique_ptr<z_stream_s> m_stream;
    bool m_finished = false;
};

// The whole of `input` as one zlib stream.
QByteArray deflateAll(QByteArrayView input);

} // namespace kavelo::wire

#endif
