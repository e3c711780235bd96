#ifndef KAVELO_PLATFORM_LARGEBUFFER_H
#define KAVELO_PLATFORM_LARGEBUFFER_H

#include <QByteArrayView>

namespace kavelo::platform {

// A byte buffer of fixed capacity, tens of megabytes, filled from the start and cleared to be filled again. On
// POSIX systems its memory is asked of the system as large pages where the system offers them, so that filling it
// takes a page fault every 2 MiB instead of every 4 KiB; pages are only taken as the buffer fills. Elsewhere it is
// ordinary memory.
class LargeBuffer
{
  public:
    explicit LargeBuffer(qsizetype capacity);
    ~LargeBuffer();

    LargeBuffer(const LargeBuffer&) = delete;
    LargeBuffer& operator=(const LargeBuffer&) = delete;

    // False, and nothing appended, when the bytes do not fit (or the memory could not be had).
    bool append(QByteArrayView bytes);
    void clear() { m_size = 0; }

    const char* data() const { return m_data; }
    qsizetype size() const { return m_size; }
    qsizetype capacity() const { return m_capacity; }

  private:
    void* m_mapping = nullptr;
    qsizetype m_mappingSize = 0;
    char* m_data = nullptr;
    qsizetype m_capacity = 0;
    qsizetype m_size = 0;
};

} // namespace kavelo::platform

#endif
