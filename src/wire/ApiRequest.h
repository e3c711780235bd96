#ifndef KAVELO_WIRE_APIREQUEST_H
#define KAVELO_WIRE_APIREQUEST_H

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>
#include <utility>

namespace kavelo::wire {

// The terminals' HTTPS API, version 1, free of sockets: what a request's start line and fields mean.
//   PUT  /v1/terminals/N/files/NAME     a file, handled as protocol v1's PUT of NAME
//   GET  /v1/terminals/N/masters        the masters staged by terminal N's latest CTRL.csv, as JSON
//   GET  /v1/terminals/N/masters/NAME   one of them (HEAD too)
enum class ApiCall
{
    PutFile,
    ListMasters,
    GetMaster,
};

struct ApiTarget
{
    ApiCall call = ApiCall::ListMasters;
    int terminalNo = 0;
    QString name; // PutFile, GetMaster
    bool head = false;
};

// A request refused before anything else is looked at: the status and the reason for {"error": ...}.
struct ApiRefusal
{
    int status = 400;
    QString reason;
    QByteArray allow; // 405: the methods the path takes
};

// The call a method and a target name, or why none: 404 an unknown path, 405 a method the path does not take, 400 a
// path that is not plain (percent-encoding, "..", a separator, a drive letter) or a terminal outside 1..9999. A
// query string is ignored.
std::pair<std::optional<ApiTarget>, ApiRefusal> routeRequest(QByteArrayView method, QByteArrayView target);

// The token of "Authorization: Bearer <token>"; empty when the field is absent or of another scheme.
QByteArray bearerToken(QByteArrayView authorization);

// The SHA-256 of "Content-Digest: sha-256=:<base64>:" (RFC 9530; other algorithms beside it are ignored). Nothing
// when the field has no sha-256 member that decodes to 32 bytes.
std::optional<QByteArray> contentDigestSha256(QByteArrayView field);

// What "Range: bytes=..." asks of a file of `size` bytes. A range that is not one "bytes=" range (several, another
// unit, malformed) is ignored: the whole file is sent, as HTTP allows.
struct ByteRange
{
    enum class Kind
    {
        Whole,
        Part,
        Unsatisfiable,
    };
    Kind kind = Kind::Whole;
    qint64 first = 0;
    qint64 last = 0; // inclusive
};
ByteRange parseRange(QByteArrayView field, qint64 size);

// The content coding to send for "Accept-Encoding": gzip before deflate, q=0 refusing one; identity otherwise.
enum class Coding
{
    Identity,
    Gzip,
    Deflate, // the zlib format (RFC 1950), as HTTP's "deflate" is
};
Coding chooseCoding(QByteArrayView acceptEncoding);
const char* codingName(Coding coding); // "gzip", "deflate"; "" for identity

// A response's status line and fields, ending with the empty line. Content-Length is always given (HEAD: of the
// body a GET would get).
using HttpFields = QList<std::pair<QByteArray, QByteArray>>;
QByteArray responseHead(int status, const HttpFields& fields, qint64 contentLength, bool close);
// {"error":"<reason>"}
QByteArray errorBody(const QString& reason);

} // namespace kavelo::wire

#endif
