#ifndef KAVELO_WIRE_PROTOCOLHEADER_H
#define KAVELO_WIRE_PROTOCOLHEADER_H

#include "platform/Status.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace kavelo::wire {

// The terminal protocol, version 1: header lines of ASCII ending in LF (CR LF accepted), words separated by one
// space, at most kMaxHeaderBytes including the LF. Socket-free: these functions only look at one line.
constexpr int kProtocolVersion = 1;
constexpr qsizetype kMaxHeaderBytes = 1024;
constexpr qsizetype kMaxNameLength = 64;
constexpr int kMaxTerminalNo = 9999;
constexpr qsizetype kMaxKeyLength = 128; // a terminal's key in HELLO

enum class Command
{
    Hello, // HELLO <terminal> [<key>]
    Put,   // PUT <name> <size> <crc32>, then the bytes
    Get,   // GET, or GET deflate
    Bye,   // BYE
    // Sent by the server:
    Ok,    // OK [text]
    Err,   // ERR <text>
    File,  // FILE <name> <size> <crc32>, then the bytes
    ZFile, // ZFILE <name> <size> <crc32> <zsize>, then zsize bytes of a zlib stream inflating to the file
    End,   // END <count>
};

struct Header
{
    Command command = Command::Bye;
    int terminalNo = 0;   // HELLO
    QByteArray key;       // HELLO: the terminal's key, when given (never logged)
    QString name;         // PUT, FILE
    qint64 size = 0;      // PUT, FILE; END: the count
    quint32 crc = 0;      // PUT, FILE, ZFILE: of the file's own bytes
    qint64 zsize = 0;     // ZFILE: the bytes that follow
    bool deflate = false; // GET deflate
    QString text;         // OK, ERR
};

// Parses one line sent by a terminal (without its LF; a final CR is dropped). An error says what is wrong in ASCII
// English, fit for an ERR reply. A size above `maxSize` is refused here, before any byte is stored.
platform::Result<Header> parseRequest(QByteArrayView line, qint64 maxSize);
// Parses one line sent by the server (OK, ERR, FILE, ZFILE, END).
platform::Result<Header> parseReply(QByteArrayView line, qint64 maxSize);

// 1 to 64 of A-Z a-z 0-9 . _ -, not starting with ".".
bool isValidFileName(QByteArrayView name);

// Lines as sent (each ending in LF).
QByteArray helloLine(int terminalNo, const QByteArray& key = {});
QByteArray putLine(const QString& name, qint64 size, quint32 crc);
QByteArray fileLine(const QString& name, qint64 size, quint32 crc);
QByteArray zfileLine(const QString& name, qint64 size, quint32 crc, qint64 zsize);
QByteArray getLine(bool deflate);
QByteArray endLine(qint64 count);
QByteArray okLine(const QString& text = {});
QByteArray errLine(const QString& text);
QString crcText(quint32 crc); // 8 lower-case hex digits

// CRC-32 as zlib computes it; `crc` is the value so far (0 to start).
quint32 crc32Update(quint32 crc, QByteArrayView bytes);

} // namespace kavelo::wire

#endif
