#ifndef KAVELO_BATCH_LINEBATCH_H
#define KAVELO_BATCH_LINEBATCH_H

#include "platform/LargeBuffer.h"
#include "platform/TextCodec.h"

#include <QByteArray>
#include <QStringEncoder>
#include <QStringView>

#include <optional>
#include <string_view>
#include <vector>

namespace kavelo::batch {

// The lines of one batch of a master file, held until the batch is applied. Each line is kept as its bytes as read
// (Windows-31J takes less room than any other form; it is decoded again when the line is applied) together with
// its key in UTF-8, the form in which the key indexes of the master tables hold it.
//
// Keys are ordered as those indexes order them: trailing blanks ignored, then byte by byte (code point order).
// Keys that differ only in trailing blanks are the same key.
class LineBatch
{
  public:
    // `capacity`: bytes of keys and lines held before the batch is full. A line always fits after that.
    explicit LineBatch(qsizetype capacity);

    LineBatch(const LineBatch&) = delete;
    LineBatch& operator=(const LineBatch&) = delete;

    // Holds a line, with a small value of the caller's (`tag`). False when there is no memory for it.
    bool hold(QStringView key, QByteArrayView lineBytes, qint64 lineNumber, quint8 tag = 0);
    bool full() const { return m_bytes.size() >= m_capacity; }
    bool isEmpty() const { return m_lines.empty(); }
    size_t size() const { return m_lines.size(); }

    // Puts the lines in key order, the lines of one key in file order.
    void sortByKey();
    // After sortByKey: the end of the run of lines whose key is that of line `first`.
    size_t keyEnd(size_t first) const;

    qint64 lineNumber(size_t i) const { return m_lines[i].lineNumber; }
    quint8 tag(size_t i) const { return m_lines[i].tag; }
    // The key as it was cut, UTF-8.
    QByteArrayView key(size_t i) const;
    // The key as it is compared: without trailing blanks.
    std::string_view comparedKey(size_t i) const;
    // Bytes of the line as read, without its line end.
    qsizetype lineSize(size_t i) const { return m_lines[i].lineSize; }
    // The line's text, valid until the next call; nothing when its bytes no longer decode.
    std::optional<QStringView> text(size_t i);
    // Asks the processor to fetch the line's bytes ahead of text(): after sortByKey, the lines of a host file in no
    // key order lie all over the batch, and reading each from memory when it is needed cost a tenth of the import.
    void prefetch(size_t i) const;

    void clear();

  private:
    struct Line
    {
        // The first 16 bytes of the compared key, big-endian, zero-padded: most keys are told apart by these alone.
        quint64 prefixHigh;
        quint64 prefixLow;
        qint64 lineNumber;
        quint32 keyOffset; // in m_bytes; the line's bytes follow the key
        quint32 keySize;
        quint32 keyCompared;
        quint32 lineSize;
        quint8 tag;
    };

    bool sameKey(const Line& a, const Line& b) const;

    const qsizetype m_capacity;
    platform::LargeBuffer m_bytes;
    std::vector<Line> m_lines;
    QByteArray m_keyUtf8;
    QStringEncoder m_toUtf8{QStringEncoder::Utf8, QStringConverter::Flag::Stateless};
    platform::ShiftJisDecoder m_decoder;
};

} // namespace kavelo::batch

#endif
