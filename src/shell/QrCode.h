#ifndef KAVELO_SHELL_QRCODE_H
#define KAVELO_SHELL_QRCODE_H

#include "platform/Status.h"

#include <QByteArray>
#include <QString>

namespace kavelo::shell {

// A QR code's modules, row by row: `size` x `size`, true for a dark module.
class QrCode
{
  public:
    // Encodes `text` as bytes, error correction level M.
    static platform::Result<QrCode> encode(const QByteArray& text);

    int size() const { return m_size; }
    bool dark(int x, int y) const;

    // The code drawn in UTF-8 half blocks, two rows of modules a line, with a quiet zone of 4 modules. With `ansi`
    // the lines are coloured black on white, so that it scans whatever colours the terminal uses.
    QString text(bool ansi) const;
    // The code as a PNG image (8-bit grey, `scale` pixels a module, a quiet zone of 4 modules).
    QByteArray png(int scale = 8) const;

  private:
    QrCode(int size, QByteArray modules);
    // dark(), with the quiet zone around the code: -4 .. size+3.
    bool darkWithMargin(int x, int y) const;

    int m_size = 0;
    QByteArray m_modules;
};

} // namespace kavelo::shell

#endif
