// An HTTPS request as a hostile client may send it, in pieces of any size: the reader never holds more than its
// header limit plus what it was given, never hands over more body than the length announced, and every field the
// server looks at (path, key, digest, range, coding) is either taken or refused, never a crash.
#include "FuzzSupport.h"

#include "wire/ApiRequest.h"
#include "wire/HttpRequestReader.h"

#include <cstdint>

using namespace kavelo;

namespace {

void lookAtTheHeader(const wire::HttpRequestReader& reader)
{
    auto [target, refusal] = wire::routeRequest(reader.method(), reader.target());
    FUZZ_CHECK(target.has_value() != (refusal.status != 0 && !refusal.reason.isEmpty()), refusal.reason);
    if (target) {
        FUZZ_CHECK(target->terminalNo >= 1 && target->terminalNo <= 9999, QString::number(target->terminalNo));
        FUZZ_CHECK(!target->name.contains(QLatin1Char('/')) && !target->name.startsWith(QLatin1Char('.')),
                   target->name);
    }
    wire::bearerToken(reader.field("authorization"));
    if (std::optional<QByteArray> digest = wire::contentDigestSha256(reader.field("content-digest"))) {
        FUZZ_CHECK(digest->size() == 32, QString::number(digest->size()));
    }
    for (qint64 size : {qint64(0), qint64(1), qint64(1000), qint64(1) << 40}) {
        const wire::ByteRange range = wire::parseRange(reader.field("range"), size);
        if (range.kind == wire::ByteRange::Kind::Part) {
            FUZZ_CHECK(range.first >= 0 && range.first <= range.last && range.last < size,
                       QStringLiteral("%1-%2 of %3").arg(range.first).arg(range.last).arg(size));
        }
    }
    wire::chooseCoding(reader.field("accept-encoding"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2) {
        return 0;
    }
    const qsizetype piece = 1 + data[0] % 64; // bytes given at a time
    const qsizetype bodyPiece = 1 + data[1] % 200;
    const QByteArray input(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(size - 2));
    wire::HttpRequestReader reader(1024);
    qint64 body = 0;
    bool headerSeen = false;
    for (qsizetype at = 0; at < input.size() && reader.state() != wire::HttpRequestReader::State::Failed;) {
        reader.append(input.mid(at, piece));
        at += piece;
        for (;;) {
            const QByteArray got = reader.parse(bodyPiece);
            FUZZ_CHECK(got.size() <= bodyPiece, QString::number(got.size()));
            body += got.size();
            if (!headerSeen && reader.state() != wire::HttpRequestReader::State::Header &&
                reader.state() != wire::HttpRequestReader::State::Failed) {
                headerSeen = true;
                lookAtTheHeader(reader);
                reader.limitBody(100000);
            }
            if (reader.state() == wire::HttpRequestReader::State::Done) {
                if (const std::optional<quint64> length = reader.contentLength()) {
                    FUZZ_CHECK(static_cast<quint64>(body) == *length,
                               QStringLiteral("%1 of %2").arg(body).arg(*length));
                }
                reader.reset(); // the next request, from what came after this one
                headerSeen = false;
                body = 0;
                continue;
            }
            if (got.isEmpty()) {
                break;
            }
        }
        // While a header is read, no more than its limit and the last piece is held.
        FUZZ_CHECK(reader.state() != wire::HttpRequestReader::State::Header || reader.pending() <= 1024 + piece,
                   QString::number(reader.pending()));
    }
    return 0;
}
