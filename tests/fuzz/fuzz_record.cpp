// The fixed-width record path: Windows-31J decoding of a whole buffer and line by line from a file, then every
// field of every master cut from each line (slice, trim, commas), and the cutter with arbitrary positions.
#include "FuzzSupport.h"

#include "masters/Fields.h"
#include "masters/Masters.h"
#include "platform/Text.h"
#include "platform/TextCodec.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QStringList>

#include <cstdint>
#include <cstring>
#include <unistd.h>

using namespace kavelo;

namespace {

// What the streaming reader must produce when the whole buffer decodes cleanly: the text split at LF, one CR
// removed from each line's end, a final line without LF counted, nothing after a final LF. (LF and CR are single
// bytes that never occur inside a double-byte character, so splitting the decoded text is the same as splitting
// the bytes.)
QStringList splitLines(const QString& text)
{
    QStringList lines = text.split(u'\n');
    if (lines.last().isEmpty()) {
        lines.removeLast();
    }
    for (QString& line : lines) {
        if (line.endsWith(u'\r')) {
            line.chop(1);
        }
    }
    return lines;
}

void cutEveryField(QStringView line)
{
    for (const masters::MasterDefinition* master : masters::allMasters()) {
        auto check = [&](const masters::Field& field) {
            QString value = masters::cutField(line, field);
            FUZZ_CHECK(!value.isNull(), field.column);
            FUZZ_CHECK(value.size() <= field.length, field.column);
            if (field.transform != masters::Transform::AsSliced) {
                FUZZ_CHECK(!value.startsWith(u' ') && !value.endsWith(u' '), field.column);
            }
            if (field.transform == masters::Transform::TrimmedReplaceCommas) {
                FUZZ_CHECK(!value.contains(u',') && !value.contains(u'\uFF0C'), field.column);
            }
        };
        check(master->updateKey);
        for (const masters::Field& field : master->updateFields) {
            check(field);
        }
        check(master->importKey);
        for (const masters::Field& field : master->importFields) {
            check(field);
        }
    }
}

QString scratchPath()
{
    static const QString path = QDir::temp().filePath(QStringLiteral("kavelo-fuzz-record-%1.dat").arg(::getpid()));
    return path;
}

// Reads the file with the streaming reader; returns the lines, or the error it stopped with.
platform::Result<QStringList> readAll(const QString& path, qint64 maxLineBytes)
{
    auto reader = platform::ShiftJisLineReader::open(path, maxLineBytes);
    if (!reader.isOk()) {
        return reader.status();
    }
    QStringList lines;
    for (;;) {
        auto next = (*reader)->next();
        if (!next.isOk()) {
            const QString& message = next.status().message();
            FUZZ_CHECK(message.startsWith(path + QStringLiteral(", line ")), message);
            return next.status();
        }
        if (!next->has_value()) {
            break;
        }
        FUZZ_CHECK((*reader)->lineNumber() == lines.size() + 1, QString());
        lines << **next;
        FUZZ_CHECK((*reader)->bytesConsumed() <= (*reader)->fileSize(), QString());
    }
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    // A slice at positions taken from the input's first bytes, extremes included.
    if (size >= 8) {
        int start = 0;
        int length = 0;
        std::memcpy(&start, data, sizeof start);
        std::memcpy(&length, data + 4, sizeof length);
        const QString line = QString::fromLatin1(bytes.mid(8, 64));
        QString sliced = masters::cutField(line, {QString(), start, length, masters::Transform::AsSliced});
        FUZZ_CHECK(!sliced.isNull(), QString());
        FUZZ_CHECK(length <= 0 || sliced.size() <= length, QString());
        FUZZ_CHECK(sliced.size() <= line.size(), QString());
    }

    platform::Result<QString> whole = platform::decodeShiftJis(bytes);
    if (whole.isOk()) {
        FUZZ_CHECK(!whole->isNull(), QString());
        // Whatever was read can be written back: exports never fail on text that came from a file.
        platform::Result<QByteArray> encoded = platform::encodeShiftJis(*whole);
        FUZZ_CHECK(encoded.isOk(), encoded.status().message());
        const QString trimmed = platform::Trim(*whole);
        FUZZ_CHECK(platform::TrimView(*whole) == trimmed, QString());
        FUZZ_CHECK(platform::ReplaceCommas(*whole).size() == whole->size(), QString());
    }

    const QString path = scratchPath();
    {
        QFile file(path);
        FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate), file.errorString());
        FUZZ_CHECK(file.write(bytes) == bytes.size(), file.errorString());
    }

    platform::Result<QStringList> lines = readAll(path, platform::ShiftJisLineReader::kDefaultMaxLineBytes);
    if (whole.isOk()) {
        // A buffer that decodes whole also reads line by line, to the same lines.
        FUZZ_CHECK(lines.isOk(), lines.status().message());
        FUZZ_CHECK(*lines == splitLines(*whole), QString());
    }
    if (lines.isOk()) {
        for (const QString& line : *lines) {
            cutEveryField(line);
        }
    }

    // A tiny line limit: long lines are refused with the file and line named, never cut silently.
    platform::Result<QStringList> limited = readAll(path, 16);
    if (limited.isOk() && lines.isOk()) {
        FUZZ_CHECK(*limited == *lines, QString());
    }
    return 0;
}
