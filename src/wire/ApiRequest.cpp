#include "wire/ApiRequest.h"

#include "wire/ProtocolHeader.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace kavelo::wire {

namespace {

constexpr QByteArrayView kPrefix("/v1/terminals/");

const char* reasonPhrase(int status)
{
    switch (status) {
    case 100:
        return "Continue";
    case 200:
        return "OK";
    case 206:
        return "Partial Content";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 411:
        return "Length Required";
    case 413:
        return "Content Too Large";
    case 416:
        return "Range Not Satisfiable";
    case 429:
        return "Too Many Requests";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    case 507:
        return "Insufficient Storage";
    default:
        return "Unknown";
    }
}

ApiRefusal refusal(int status, const QString& reason, const QByteArray& allow = {})
{
    return ApiRefusal{status, reason, allow};
}

std::optional<qint64> digits(QByteArrayView text)
{
    if (text.isEmpty() || text.size() > 18) {
        return std::nullopt;
    }
    qint64 value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    return value;
}

QByteArrayView trimmed(QByteArrayView text)
{
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t')) {
        text = text.sliced(1);
    }
    while (!text.isEmpty() && (text.back() == ' ' || text.back() == '\t')) {
        text.chop(1);
    }
    return text;
}

} // namespace

std::pair<std::optional<ApiTarget>, ApiRefusal> routeRequest(QByteArrayView method, QByteArrayView target)
{
    const qsizetype query = target.indexOf('?');
    const QByteArrayView path = query < 0 ? target : target.first(query);
    if (!path.startsWith(kPrefix)) {
        return {std::nullopt, refusal(404, QStringLiteral("no such path"))};
    }
    if (path.contains('%')) {
        return {std::nullopt, refusal(400, QStringLiteral("a path is taken as it stands, without percent-encoding"))};
    }
    const QList<QByteArray> parts = path.sliced(kPrefix.size()).toByteArray().split('/');
    const std::optional<qint64> terminal = parts.first().size() <= 4 ? digits(parts.first()) : std::nullopt;
    if (!terminal || *terminal < 1 || *terminal > kMaxTerminalNo) {
        return {std::nullopt, refusal(400, QStringLiteral("a terminal number is 1 to 9999"))};
    }
    ApiTarget api;
    api.terminalNo = static_cast<int>(*terminal);
    QByteArray allow;
    if (parts.size() == 3 && parts.at(1) == "files") {
        api.call = ApiCall::PutFile;
        allow = "PUT";
    } else if (parts.size() == 2 && parts.at(1) == "masters") {
        api.call = ApiCall::ListMasters;
        allow = "GET, HEAD";
    } else if (parts.size() == 3 && parts.at(1) == "masters") {
        api.call = ApiCall::GetMaster;
        allow = "GET, HEAD";
    } else {
        return {std::nullopt, refusal(404, QStringLiteral("no such path"))};
    }
    if (api.call != ApiCall::ListMasters) {
        if (!isValidFileName(parts.at(2))) {
            return {std::nullopt,
                    refusal(400, QStringLiteral("a file name is 1 to 64 of A-Z a-z 0-9 . _ - not starting with ."))};
        }
        api.name = QString::fromLatin1(parts.at(2));
    }
    const bool put = method == "PUT";
    api.head = method == "HEAD";
    const bool get = method == "GET" || api.head;
    if ((api.call == ApiCall::PutFile && !put) || (api.call != ApiCall::PutFile && !get)) {
        return {std::nullopt,
                refusal(405, QStringLiteral("%1 is not taken here").arg(QString::fromLatin1(method)), allow)};
    }
    return {api, ApiRefusal{}};
}

QByteArray bearerToken(QByteArrayView authorization)
{
    const QByteArrayView field = trimmed(authorization);
    constexpr QByteArrayView kScheme("bearer ");
    if (field.size() <= kScheme.size() || field.first(kScheme.size()).toByteArray().toLower() != kScheme) {
        return {};
    }
    const QByteArrayView token = trimmed(field.sliced(kScheme.size()));
    for (char c : token) {
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '.' || c == '_' || c == '~' || c == '+' || c == '/' || c == '=';
        if (!ok) {
            return {};
        }
    }
    return token.toByteArray();
}

std::optional<QByteArray> contentDigestSha256(QByteArrayView field)
{
    for (const QByteArray& rawMember : field.toByteArray().split(',')) {
        const QByteArrayView member = trimmed(rawMember);
        const qsizetype eq = member.indexOf('=');
        if (eq < 0 || trimmed(member.first(eq)) != "sha-256") {
            continue;
        }
        const QByteArrayView value = trimmed(member.sliced(eq + 1));
        if (value.size() < 2 || value.front() != ':' || value.back() != ':') {
            return std::nullopt;
        }
        const auto decoded = QByteArray::fromBase64Encoding(value.sliced(1, value.size() - 2).toByteArray(),
                                                            QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded || decoded.decoded.size() != 32) {
            return std::nullopt;
        }
        return decoded.decoded;
    }
    return std::nullopt;
}

ByteRange parseRange(QByteArrayView field, qint64 size)
{
    ByteRange whole;
    const QByteArrayView text = trimmed(field);
    if (!text.startsWith("bytes=") || text.contains(',')) {
        return whole;
    }
    const QByteArrayView spec = trimmed(text.sliced(6));
    const qsizetype dash = spec.indexOf('-');
    if (dash < 0) {
        return whole;
    }
    const std::optional<qint64> first = digits(spec.first(dash));
    const std::optional<qint64> last = digits(spec.sliced(dash + 1));
    ByteRange range;
    range.kind = ByteRange::Kind::Part;
    if (!first && last) { // the last N bytes
        if (*last == 0 || size == 0) {
            range.kind = ByteRange::Kind::Unsatisfiable;
            return range;
        }
        range.first = qMax<qint64>(0, size - *last);
        range.last = size - 1;
        return range;
    }
    if (!first || (dash + 1 < spec.size() && !last) || (last && *last < *first)) {
        return whole;
    }
    if (*first >= size) {
        range.kind = ByteRange::Kind::Unsatisfiable;
        return range;
    }
    range.first = *first;
    range.last = last ? qMin(*last, size - 1) : size - 1;
    return range;
}

Coding chooseCoding(QByteArrayView acceptEncoding)
{
    std::optional<bool> gzip; // named, and accepted or not
    std::optional<bool> deflate;
    bool any = false;
    for (const QByteArray& rawItem : acceptEncoding.toByteArray().split(',')) {
        const QList<QByteArray> parts = rawItem.split(';');
        const QByteArray coding = trimmed(parts.first()).toByteArray().toLower();
        bool accepted = true;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QByteArrayView parameter = trimmed(parts.at(i));
            if (parameter.startsWith("q=")) {
                bool ok = false;
                accepted = parameter.sliced(2).toByteArray().toDouble(&ok) > 0 && ok;
            }
        }
        if (coding == "gzip" || coding == "x-gzip") {
            gzip = accepted;
        } else if (coding == "deflate") {
            deflate = accepted;
        } else if (coding == "*") {
            any = accepted;
        }
    }
    if (gzip.value_or(any)) {
        return Coding::Gzip;
    }
    return deflate.value_or(any) ? Coding::Deflate : Coding::Identity;
}

const char* codingName(Coding coding)
{
    switch (coding) {
    case Coding::Gzip:
        return "gzip";
    case Coding::Deflate:
        return "deflate";
    case Coding::Identity:
        break;
    }
    return "";
}

QByteArray responseHead(int status, const HttpFields& fields, qint64 contentLength, bool close)
{
    QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) + "\r\n";
    for (const auto& [name, value] : fields) {
        head += name + ": " + value + "\r\n";
    }
    if (status != 100) {
        head += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    }
    if (close) {
        head += "Connection: close\r\n";
    }
    return head + "\r\n";
}

QByteArray errorBody(const QString& reason)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), reason}}).toJson(QJsonDocument::Compact);
}

} // namespace kavelo::wire
