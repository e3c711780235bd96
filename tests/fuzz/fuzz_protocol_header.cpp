// The terminal protocol's header parser: any line parses or is refused with an ASCII reason; what parses is
// within its limits and survives a round trip through the line builders.
#include "FuzzSupport.h"

#include "wire/ProtocolHeader.h"

#include <cstdint>
#include <cstring>

using namespace kavelo;

namespace {

bool isAscii(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e) {
            return false;
        }
    }
    return true;
}

void checkRoundTrip(const wire::Header& header, qint64 maxSize, bool request)
{
    QByteArray line;
    switch (header.command) {
    case wire::Command::Hello:
        line = wire::helloLine(header.terminalNo);
        break;
    case wire::Command::Put:
        line = wire::putLine(header.name, header.size, header.crc);
        break;
    case wire::Command::File:
        line = wire::fileLine(header.name, header.size, header.crc);
        break;
    case wire::Command::End:
        line = wire::endLine(header.size);
        break;
    default:
        return;
    }
    FUZZ_CHECK(line.endsWith('\n') && line.size() <= wire::kMaxHeaderBytes, QString::fromLatin1(line));
    auto again = request ? wire::parseRequest(line, maxSize) : wire::parseReply(line, maxSize);
    FUZZ_CHECK(again.isOk(), again.status().message());
    FUZZ_CHECK(again->command == header.command && again->terminalNo == header.terminalNo &&
                   again->name == header.name && again->size == header.size && again->crc == header.crc,
               QString::fromLatin1(line));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4) {
        return 0;
    }
    quint32 limit = 0;
    std::memcpy(&limit, data, sizeof limit);
    const qint64 maxSize = limit % 3 == 0 ? 67108864 : static_cast<qint64>(limit);
    const QByteArrayView line(data + 4, static_cast<qsizetype>(size - 4));

    for (bool request : {true, false}) {
        auto parsed = request ? wire::parseRequest(line, maxSize) : wire::parseReply(line, maxSize);
        if (!parsed.isOk()) {
            FUZZ_CHECK(!parsed.status().message().isEmpty(), QString());
            FUZZ_CHECK(isAscii(parsed.status().message()), parsed.status().message());
            continue;
        }
        const wire::Header& header = *parsed;
        switch (header.command) {
        case wire::Command::Hello:
            FUZZ_CHECK(request, QString());
            FUZZ_CHECK(header.terminalNo >= 1 && header.terminalNo <= wire::kMaxTerminalNo,
                       QString::number(header.terminalNo));
            break;
        case wire::Command::Put:
        case wire::Command::File:
            FUZZ_CHECK(wire::isValidFileName(header.name.toLatin1()), header.name);
            FUZZ_CHECK(!header.name.contains(u'/') && !header.name.contains(u'\\') && !header.name.startsWith(u'.'),
                       header.name);
            FUZZ_CHECK(header.size >= 0 && header.size <= maxSize, QString::number(header.size));
            break;
        case wire::Command::Ok:
        case wire::Command::Err:
            FUZZ_CHECK(!request, QString());
            break;
        default:
            break;
        }
        checkRoundTrip(header, maxSize, request);
    }

    // The name check alone: never a separator, a NUL, a leading dot or more than 64 characters.
    if (wire::isValidFileName(line)) {
        FUZZ_CHECK(line.size() >= 1 && line.size() <= wire::kMaxNameLength, QString());
        FUZZ_CHECK(!line.startsWith('.') && !line.contains('/') && !line.contains('\\') && !line.contains('\0'),
                   QString::fromLatin1(line));
    }
    return 0;
}
