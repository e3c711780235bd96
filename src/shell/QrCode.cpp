#include "shell/QrCode.h"

#include <qrencode.h>
#include <zlib.h>

#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <memory>

namespace kavelo::shell {

using platform::Result;
using platform::Status;

namespace {

constexpr int kQuietZone = 4;

// One PNG chunk: length, type, data, CRC-32 of type and data.
void appendChunk(QByteArray& png, const char* type, const QByteArray& data)
{
    const QByteArray typed = QByteArray(type, 4) + data;
    quint32 length = qToBigEndian(static_cast<quint32>(data.size()));
    png.append(reinterpret_cast<const char*>(&length), 4);
    png.append(typed);
    quint32 crc = qToBigEndian(static_cast<quint32>(
        crc32(0, reinterpret_cast<const Bytef*>(typed.constData()), static_cast<uInt>(typed.size()))));
    png.append(reinterpret_cast<const char*>(&crc), 4);
}

} // namespace

QrCode::QrCode(int size, QByteArray modules)
    : m_size(size)
    , m_modules(std::move(modules))
{
}

Result<QrCode> QrCode::encode(const QByteArray& text)
{
    std::unique_ptr<QRcode, void (*)(QRcode*)> code(QRcode_encodeString8bit(text.constData(), 0, QR_ECLEVEL_M),
                                                    QRcode_free);
    if (!code) {
        return Status::error(QStringLiteral("cannot make a QR code of %1 bytes: %2")
                                 .arg(text.size())
                                 .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    QByteArray modules(code->width * code->width, '\0');
    for (int i = 0; i < modules.size(); ++i) {
        modules[i] = static_cast<char>(code->data[i] & 1); // bit 0: dark
    }
    return QrCode(code->width, modules);
}

bool QrCode::dark(int x, int y) const
{
    return m_modules.at(y * m_size + x) != 0;
}

bool QrCode::darkWithMargin(int x, int y) const
{
    return x >= 0 && y >= 0 && x < m_size && y < m_size && dark(x, y);
}

QString QrCode::text(bool ansi) const
{
    static const QString kBlocks[4] = {
        QStringLiteral(" "), QStringLiteral("\u2580"), QStringLiteral("\u2584"), QStringLiteral("\u2588")};
    QString out;
    for (int y = -kQuietZone; y < m_size + kQuietZone; y += 2) {
        if (ansi) {
            out += QStringLiteral("\x1b[30;107m");
        }
        for (int x = -kQuietZone; x < m_size + kQuietZone; ++x) {
            const int top = darkWithMargin(x, y) ? 1 : 0;
            const int bottom = darkWithMargin(x, y + 1) ? 2 : 0;
            out += kBlocks[top | bottom];
        }
        if (ansi) {
            out += QStringLiteral("\x1b[0m");
        }
        out += QLatin1Char('\n');
    }
    return out;
}

QByteArray QrCode::png(int scale) const
{
    const int pixels = (m_size + 2 * kQuietZone) * scale;
    QByteArray raw;
    raw.reserve((pixels + 1) * pixels);
    for (int py = 0; py < pixels; ++py) {
        raw.append('\0'); // filter: none
        for (int px = 0; px < pixels; ++px) {
            raw.append(darkWithMargin(px / scale - kQuietZone, py / scale - kQuietZone) ? '\0' : '\xff');
        }
    }
    uLongf compressedSize = compressBound(static_cast<uLong>(raw.size()));
    QByteArray compressed(static_cast<qsizetype>(compressedSize), Qt::Uninitialized);
    compress2(reinterpret_cast<Bytef*>(compressed.data()),
              &compressedSize,
              reinterpret_cast<const Bytef*>(raw.constData()),
              static_cast<uLong>(raw.size()),
              Z_BEST_COMPRESSION);
    compressed.truncate(static_cast<qsizetype>(compressedSize));

    QByteArray header(13, '\0');
    const quint32 side = qToBigEndian(static_cast<quint32>(pixels));
    std::memcpy(header.data(), &side, 4);
    std::memcpy(header.data() + 4, &side, 4);
    header[8] = 8; // bits per sample
    header[9] = 0; // grey
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendChunk(png, "IHDR", header);
    appendChunk(png, "IDAT", compressed);
    appendChunk(png, "IEND", QByteArray());
    return png;
}

} // namespace kavelo::shell
