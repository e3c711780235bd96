#include "wire/HttpRequestReader.h"

#include <boost/beast/core/error.hpp>
#include <boost/beast/http/buffer_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>

#include <limits>

namespace kavelo::wire {

namespace http = boost::beast::http;

struct HttpRequestReader::Parser
{
    http::request_parser<http::buffer_body> parser;
};

HttpRequestReader::HttpRequestReader(qsizetype headerLimit)
    : m_headerLimit(headerLimit)
{
    reset();
}

HttpRequestReader::~HttpRequestReader() = default;

void HttpRequestReader::reset()
{
    m_parser = std::make_unique<Parser>();
    m_parser->parser.header_limit(static_cast<std::uint32_t>(m_headerLimit));
    // The size is checked by the caller once the key and the terminal are known; then the body is limited. (No
    // boost::none here: this Beast compares a length with the optional limit, and none would refuse every body.)
    m_parser->parser.body_limit(std::numeric_limits<std::uint64_t>::max());
    m_state = State::Header;
    m_error.clear();
    m_headerTooLarge = false;
}

void HttpRequestReader::append(QByteArrayView bytes)
{
    m_buffer.append(bytes.data(), bytes.size());
}

QByteArray HttpRequestReader::parse(qsizetype maxBody)
{
    http::request_parser<http::buffer_body>& parser = m_parser->parser;
    QByteArray body;
    while (m_state == State::Header || m_state == State::Body) {
        if (m_state == State::Body) {
            if (body.size() >= maxBody) {
                break;
            }
            const qsizetype room = maxBody - body.size();
            const qsizetype before = body.size();
            body.resize(before + room);
            parser.get().body().data = body.data() + before;
            parser.get().body().size = static_cast<std::size_t>(room);
        }
        boost::beast::error_code error;
        const std::size_t used =
            m_buffer.isEmpty()
                ? 0
                : parser.put(boost::asio::buffer(m_buffer.constData(), static_cast<std::size_t>(m_buffer.size())),
                             error);
        if (m_state == State::Body) {
            body.resize(body.size() - static_cast<qsizetype>(parser.get().body().size));
        }
        m_buffer.remove(0, static_cast<qsizetype>(used));
        if (error == http::error::need_buffer) {
            error = {};
        }
        if (error && error != http::error::need_more) {
            m_state = State::Failed;
            m_headerTooLarge = error == http::error::header_limit;
            m_error = QString::fromStdString(error.message());
            break;
        }
        if (parser.is_done()) {
            m_state = State::Done;
            break;
        }
        if (m_state == State::Header && parser.is_header_done()) {
            m_state = State::Body;
            continue;
        }
        if (used == 0) {
            break; // more bytes are needed
        }
    }
    return body;
}

QByteArray HttpRequestReader::method() const
{
    const auto text = m_parser->parser.get().method_string();
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

QByteArray HttpRequestReader::target() const
{
    const auto text = m_parser->parser.get().target();
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

QByteArray HttpRequestReader::field(const char* name) const
{
    QByteArray joined;
    const auto range = m_parser->parser.get().equal_range(name);
    for (auto it = range.first; it != range.second; ++it) {
        if (!joined.isEmpty()) {
            joined += ", ";
        }
        joined += QByteArray(it->value().data(), static_cast<qsizetype>(it->value().size()));
    }
    return joined;
}

bool HttpRequestReader::hasField(const char* name) const
{
    return m_parser->parser.get().find(name) != m_parser->parser.get().end();
}

std::optional<quint64> HttpRequestReader::contentLength() const
{
    const boost::optional<std::uint64_t> length = m_parser->parser.content_length();
    return length ? std::optional<quint64>(*length) : std::nullopt;
}

bool HttpRequestReader::chunked() const
{
    return m_parser->parser.chunked();
}

bool HttpRequestReader::keepAlive() const
{
    return m_parser->parser.keep_alive();
}

void HttpRequestReader::limitBody(quint64 bytes)
{
    m_parser->parser.body_limit(bytes);
}

} // namespace kavelo::wire
