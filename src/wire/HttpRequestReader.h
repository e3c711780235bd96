#ifndef KAVELO_WIRE_HTTPREQUESTREADER_H
#define KAVELO_WIRE_HTTPREQUESTREADER_H

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <memory>
#include <optional>

namespace kavelo::wire {

// One HTTP/1.1 request read from the bytes as they arrive, by Boost.Beast's incremental parser: first its header
// (at most `headerLimit` bytes), then its body in pieces, never whole. Bytes after the end of a request stay for
// the next one (reset()). Socket-free.
class HttpRequestReader
{
  public:
    enum class State
    {
        Header, // the header is not complete yet
        Body,   // the header is complete; body bytes come next
        Done,   // the request is complete
        Failed, // malformed, or over a limit: error() says why
    };

    explicit HttpRequestReader(qsizetype headerLimit);
    ~HttpRequestReader();
    HttpRequestReader(const HttpRequestReader&) = delete;
    HttpRequestReader& operator=(const HttpRequestReader&) = delete;

    // Takes bytes from the connection; they are kept until parsed.
    void append(QByteArrayView bytes);
    // Parses as far as the bytes kept allow: the header, or (once it is complete) up to `maxBody` bytes of body,
    // returned. Call again while it returns body bytes.
    QByteArray parse(qsizetype maxBody);
    // Bytes kept and not yet parsed.
    qsizetype pending() const { return m_buffer.size(); }
    // Starts on the next request, keeping the bytes that came after this one.
    void reset();

    State state() const { return m_state; }
    const QString& error() const { return m_error; }
    // The header went over its limit (answered 431).
    bool headerTooLarge() const { return m_headerTooLarge; }

    // Once the header is complete:
    QByteArray method() const;
    QByteArray target() const;
    // A field's value ("" when absent); a field given twice is joined with ", ".
    QByteArray field(const char* name) const;
    bool hasField(const char* name) const;
    std::optional<quint64> contentLength() const;
    bool chunked() const;
    bool keepAlive() const;
    // The body may be no longer than this (checked as it arrives); set once the header is complete.
    void limitBody(quint64 bytes);

  private:
    struct Parser;

    qsizetype m_headerLimit;
    std::unique_ptr<Parser> m_parser;
    QByteArray m_buffer;
    State m_state = State::Header;
    QString m_error;
    bool m_headerTooLarge = false;
};

} // namespace kavelo::wire

#endif
