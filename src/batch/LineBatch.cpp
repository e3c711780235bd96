#include "batch/LineBatch.h"

#include <algorithm>

namespace kavelo::batch {

namespace {

// Offsets into a batch are 32 bits.
constexpr qsizetype kMaxCapacity = qsizetype(1) << 30;

} // namespace

LineBatch::LineBatch(qsizetype capacity)
    : m_capacity(qBound(qsizetype(1), capacity, kMaxCapacity))
    // A line of at most the reader's longest, with its key, always fits after the capacity.
    , m_bytes(m_capacity + 4 * platform::ShiftJisLineReader::kDefaultMaxLineBytes)
{
}

bool LineBatch::hold(QStringView key, QByteArrayView lineBytes, qint64 lineNumber, quint8 tag)
{
    m_keyUtf8.resize(key.size() * 3);
    m_keyUtf8.truncate(m_toUtf8.appendToBuffer(m_keyUtf8.data(), key) - m_keyUtf8.constData());

    Line line{0,
              0,
              lineNumber,
              static_cast<quint32>(m_bytes.size()),
              static_cast<quint32>(m_keyUtf8.size()),
              static_cast<quint32>(m_keyUtf8.size()),
              static_cast<quint32>(lineBytes.size()),
              tag};
    while (line.keyCompared > 0 && m_keyUtf8.at(line.keyCompared - 1) == ' ') {
        --line.keyCompared;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(m_keyUtf8.constData());
    for (qsizetype i = 0; i < 16; ++i) {
        const quint64 byte = i < line.keyCompared ? bytes[i] : 0;
        (i < 8 ? line.prefixHigh : line.prefixLow) |= byte << (8 * (7 - i % 8));
    }
    if (!m_bytes.append(m_keyUtf8) || !m_bytes.append(lineBytes)) {
        return false;
    }
    m_lines.push_back(line);
    return true;
}

bool LineBatch::sameKey(const Line& a, const Line& b) const
{
    return a.prefixHigh == b.prefixHigh && a.prefixLow == b.prefixLow && a.keyCompared == b.keyCompared &&
           (a.keyCompared <= 16 || std::string_view(m_bytes.data() + a.keyOffset, a.keyCompared) ==
                                       std::string_view(m_bytes.data() + b.keyOffset, b.keyCompared));
}

void LineBatch::sortByKey()
{
    // Keys never hold a NUL (the reader refuses it), so equal prefixes of keys of at most 16 bytes are equal keys.
    std::sort(m_lines.begin(), m_lines.end(), [this](const Line& a, const Line& b) {
        if (a.prefixHigh != b.prefixHigh) {
            return a.prefixHigh < b.prefixHigh;
        }
        if (a.prefixLow != b.prefixLow) {
            return a.prefixLow < b.prefixLow;
        }
        if (a.keyCompared > 16 || b.keyCompared > 16) {
            const int order = std::string_view(m_bytes.data() + a.keyOffset, a.keyCompared)
                                  .compare(std::string_view(m_bytes.data() + b.keyOffset, b.keyCompared));
            if (order != 0) {
                return order < 0;
            }
        }
        return a.lineNumber < b.lineNumber;
    });
}

size_t LineBatch::keyEnd(size_t first) const
{
    size_t end = first + 1;
    while (end < m_lines.size() && sameKey(m_lines[end], m_lines[first])) {
        ++end;
    }
    return end;
}

QByteArrayView LineBatch::key(size_t i) const
{
    return QByteArrayView(m_bytes.data() + m_lines[i].keyOffset, m_lines[i].keySize);
}

std::string_view LineBatch::comparedKey(size_t i) const
{
    return std::string_view(m_bytes.data() + m_lines[i].keyOffset, m_lines[i].keyCompared);
}

std::optional<QStringView> LineBatch::text(size_t i)
{
    const Line& line = m_lines[i];
    return m_decoder.decode(QByteArrayView(m_bytes.data() + line.keyOffset + line.keySize, line.lineSize));
}

void LineBatch::prefetch(size_t i) const
{
#if defined(__GNUC__) || defined(__clang__)
    const Line& line = m_lines[i];
    const char* begin = m_bytes.data() + line.keyOffset;
    const char* end = begin + line.keySize + line.lineSize;
    for (const char* p = begin; p < end; p += 64) {
        __builtin_prefetch(p);
    }
#else
    Q_UNUSED(i);
#endif
}

void LineBatch::clear()
{
    m_lines.clear();
    m_bytes.clear();
}

} // namespace kavelo::batch
