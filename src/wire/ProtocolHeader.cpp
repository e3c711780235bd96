#include "wire/ProtocolHeader.h"

#include <QList>

#include <zlib.h>

namespace kavelo::wire {

using platform::Result;
using platform::Status;

namespace {

constexpr qsizetype kMaxSizeDigits = 20;
constexpr qsizetype kMaxTerminalDigits = 4;

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Splits at single spaces; an empty word (two spaces, a leading or trailing space) makes the line malformed.
bool splitWords(QByteArrayView line, QList<QByteArrayView>& words)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i == line.size() || line[i] == ' ') {
            if (i == start) {
                return false;
            }
            words.append(line.sliced(start, i - start));
            start = i + 1;
        }
    }
    return true;
}

// Decimal digits only; false on anything else or an overflow of 63 bits.
bool parseNumber(QByteArrayView text, qsizetype maxDigits, quint64& value)
{
    if (text.isEmpty() || text.size() > maxDigits) {
        return false;
    }
    quint64 v = 0;
    for (char c : text) {
        if (!isDigit(c)) {
            return false;
        }
        const quint64 digit = static_cast<quint64>(c - '0');
        if (v > (static_cast<quint64>(INT64_MAX) - digit) / 10) {
            v = static_cast<quint64>(INT64_MAX) + 1; // too large for any size; refused by the caller
            for (char rest : text) {
                if (!isDigit(rest)) {
                    return false;
                }
            }
            break;
        }
        v = v * 10 + digit;
    }
    value = v;
    return true;
}

bool parseCrc(QByteArrayView text, quint32& crc)
{
    if (text.size() != 8) {
        return false;
    }
    quint32 v = 0;
    for (char c : text) {
        quint32 digit = 0;
        if (isDigit(c)) {
            digit = static_cast<quint32>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<quint32>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<quint32>(c - 'A' + 10);
        } else {
            return false;
        }
        v = (v << 4) | digit;
    }
    crc = v;
    return true;
}

bool isPrintableAscii(QByteArrayView line)
{
    for (char c : line) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) {
            return false;
        }
    }
    return true;
}

// NAME SIZE CRC, shared by PUT, FILE and ZFILE (which adds ZSIZE).
Result<Header> parseTransfer(Command command, const QList<QByteArrayView>& words, qint64 maxSize)
{
    const bool compressed = command == Command::ZFile;
    const char* what = command == Command::Put ? "PUT" : compressed ? "ZFILE" : "FILE";
    if (words.size() != (compressed ? 5 : 4)) {
        return Status::error(QStringLiteral("%1 needs a name, a size and a crc32%2")
                                 .arg(QLatin1String(what), compressed ? QStringLiteral(" and a zsize") : QString()));
    }
    if (!isValidFileName(words[1])) {
        return Status::error(QStringLiteral("bad file name"));
    }
    quint64 size = 0;
    if (!parseNumber(words[2], kMaxSizeDigits, size)) {
        return Status::error(QStringLiteral("bad size"));
    }
    quint32 crc = 0;
    if (!parseCrc(words[3], crc)) {
        return Status::error(QStringLiteral("bad crc32"));
    }
    if (size > static_cast<quint64>(maxSize)) {
        return Status::error(QStringLiteral("file too large (limit %1 bytes)").arg(maxSize));
    }
    Header header;
    header.command = command;
    header.name = QString::fromLatin1(words[1]);
    header.size = static_cast<qint64>(size);
    header.crc = crc;
    if (compressed) {
        quint64 zsize = 0;
        if (!parseNumber(words[4], kMaxSizeDigits, zsize) || zsize > static_cast<quint64>(INT64_MAX)) {
            return Status::error(QStringLiteral("bad zsize"));
        }
        header.zsize = static_cast<qint64>(zsize);
    }
    return header;
}

QByteArrayView stripLineEnd(QByteArrayView line)
{
    if (line.endsWith('\n')) {
        line.chop(1);
    }
    if (line.endsWith('\r')) {
        line.chop(1);
    }
    return line;
}

} // namespace

bool isValidFileName(QByteArrayView name)
{
    if (name.isEmpty() || name.size() > kMaxNameLength || name.front() == '.') {
        return false;
    }
    for (char c : name) {
        const bool ok =
            (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c) || c == '.' || c == '_' || c == '-';
        if (!ok) {
            return false;
        }
    }
    return true;
}

Result<Header> parseRequest(QByteArrayView line, qint64 maxSize)
{
    line = stripLineEnd(line);
    if (line.size() >= kMaxHeaderBytes) {
        return Status::error(QStringLiteral("header line too long"));
    }
    if (!isPrintableAscii(line)) {
        return Status::error(QStringLiteral("header is not printable ASCII"));
    }
    QList<QByteArrayView> words;
    if (!splitWords(line, words)) {
        return Status::error(QStringLiteral("malformed header"));
    }
    const QByteArrayView verb = words[0];
    if (verb == "HELLO") {
        quint64 terminal = 0;
        if (words.size() < 2 || words.size() > 3 || !parseNumber(words[1], kMaxTerminalDigits, terminal) ||
            terminal < 1 || terminal > static_cast<quint64>(kMaxTerminalNo)) {
            return Status::error(QStringLiteral("HELLO needs a terminal number from 1 to 9999"));
        }
        if (words.size() == 3 && words[2].size() > kMaxKeyLength) {
            return Status::error(QStringLiteral("HELLO: the key is too long"));
        }
        Header header;
        header.command = Command::Hello;
        header.terminalNo = static_cast<int>(terminal);
        if (words.size() == 3) {
            header.key = words[2].toByteArray();
        }
        return header;
    }
    if (verb == "PUT") {
        return parseTransfer(Command::Put, words, maxSize);
    }
    if (verb == "GET") {
        const bool deflate = words.size() == 2 && words[1] == "deflate";
        if (words.size() != 1 && !deflate) {
            return Status::error(QStringLiteral("GET takes no argument but deflate"));
        }
        Header header;
        header.command = Command::Get;
        header.deflate = deflate;
        return header;
    }
    if (verb == "BYE") {
        if (words.size() != 1) {
            return Status::error(QStringLiteral("BYE takes no argument"));
        }
        Header header;
        header.command = Command::Bye;
        return header;
    }
    return Status::error(QStringLiteral("unknown command"));
}

Result<Header> parseReply(QByteArrayView line, qint64 maxSize)
{
    line = stripLineEnd(line);
    if (line.size() >= kMaxHeaderBytes || !isPrintableAscii(line)) {
        return Status::error(QStringLiteral("malformed reply"));
    }
    Header header;
    if (line == "OK" || line.startsWith("OK ")) {
        header.command = Command::Ok;
        header.text = QString::fromLatin1(line.size() > 3 ? line.sliced(3) : QByteArrayView());
        return header;
    }
    if (line.startsWith("ERR ") || line == "ERR") {
        header.command = Command::Err;
        header.text = QString::fromLatin1(line.size() > 4 ? line.sliced(4) : QByteArrayView());
        return header;
    }
    QList<QByteArrayView> words;
    if (!splitWords(line, words)) {
        return Status::error(QStringLiteral("malformed reply"));
    }
    if (words[0] == "FILE") {
        return parseTransfer(Command::File, words, maxSize);
    }
    if (words[0] == "ZFILE") {
        return parseTransfer(Command::ZFile, words, maxSize);
    }
    if (words[0] == "END") {
        quint64 count = 0;
        if (words.size() != 2 || !parseNumber(words[1], kMaxSizeDigits, count) ||
            count > static_cast<quint64>(INT64_MAX)) {
            return Status::error(QStringLiteral("malformed END"));
        }
        header.command = Command::End;
        header.size = static_cast<qint64>(count);
        return header;
    }
    return Status::error(QStringLiteral("unknown reply"));
}

QString crcText(quint32 crc)
{
    return QStringLiteral("%1").arg(crc, 8, 16, QLatin1Char('0'));
}

QByteArray helloLine(int terminalNo, const QByteArray& key)
{
    return QByteArrayLiteral("HELLO ") + QByteArray::number(terminalNo) + (key.isEmpty() ? QByteArray() : ' ' + key) +
           '\n';
}

QByteArray putLine(const QString& name, qint64 size, quint32 crc)
{
    return QByteArrayLiteral("PUT ") + name.toLatin1() + ' ' + QByteArray::number(size) + ' ' +
           crcText(crc).toLatin1() + '\n';
}

QByteArray fileLine(const QString& name, qint64 size, quint32 crc)
{
    return QByteArrayLiteral("FILE ") + name.toLatin1() + ' ' + QByteArray::number(size) + ' ' +
           crcText(crc).toLatin1() + '\n';
}

QByteArray zfileLine(const QString& name, qint64 size, quint32 crc, qint64 zsize)
{
    return QByteArrayLiteral("ZFILE ") + name.toLatin1() + ' ' + QByteArray::number(size) + ' ' +
           crcText(crc).toLatin1() + ' ' + QByteArray::number(zsize) + '\n';
}

QByteArray getLine(bool deflate)
{
    return deflate ? QByteArrayLiteral("GET deflate\n") : QByteArrayLiteral("GET\n");
}

QByteArray endLine(qint64 count)
{
    return QByteArrayLiteral("END ") + QByteArray::number(count) + '\n';
}

QByteArray okLine(const QString& text)
{
    return text.isEmpty() ? QByteArrayLiteral("OK\n") : QByteArrayLiteral("OK ") + text.toLatin1() + '\n';
}

QByteArray errLine(const QString& text)
{
    // Replies stay one line of printable ASCII whatever the text holds.
    QByteArray ascii = text.toLatin1();
    for (char& c : ascii) {
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e) {
            c = '?';
        }
    }
    return QByteArrayLiteral("ERR ") + ascii.left(kMaxHeaderBytes - 8) + '\n';
}

quint32 crc32Update(quint32 crc, QByteArrayView bytes)
{
    const auto* data = reinterpret_cast<const Bytef*>(bytes.data());
    qsizetype left = bytes.size();
    uLong value = crc;
    while (left > 0) {
        const uInt chunk = static_cast<uInt>(qMin<qsizetype>(left, 1 << 30));
        value = ::crc32(value, data, chunk);
        data += chunk;
        left -= chunk;
    }
    return static_cast<quint32>(value);
}

} // namespace kavelo::wire
