#include "platform/LargeBuffer.h"

#include <QtGlobal>

#include <cstdlib>
#include <cstring>

#ifdef Q_OS_UNIX
#include <sys/mman.h>
#endif

namespace kavelo::platform {

namespace {

constexpr qsizetype kLargePage = 2 * 1024 * 1024;

} // namespace

#ifdef Q_OS_UNIX

LargeBuffer::LargeBuffer(qsizetype capacity)
{
    // Address space for the capacity plus one large page, so that the buffer can start on a large page boundary.
    const qsizetype rounded = (capacity + kLargePage - 1) / kLargePage * kLargePage;
    void* mapping = mmap(nullptr,
                         static_cast<size_t>(rounded + kLargePage),
                         PROT_READ | PROT_WRITE,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                         -1,
                         0);
    if (mapping == MAP_FAILED) {
        return; // capacity 0: every append fails
    }
    m_mapping = mapping;
    m_mappingSize = rounded + kLargePage;
    const auto address = reinterpret_cast<quintptr>(mapping);
    m_data = static_cast<char*>(mapping) + ((kLargePage - address % kLargePage) % kLargePage);
    m_capacity = capacity;
#ifdef MADV_HUGEPAGE
    // Only advice: without large pages the buffer works the same, with small ones.
    madvise(m_data, static_cast<size_t>(rounded), MADV_HUGEPAGE);
#endif
}

LargeBuffer::~LargeBuffer()
{
    if (m_mapping) {
        munmap(m_mapping, static_cast<size_t>(m_mappingSize));
    }
}

#else

// Elsewhere the buffer is ordinary memory, in the system's own pages.
LargeBuffer::LargeBuffer(qsizetype capacity)
{
    m_mapping = std::malloc(static_cast<size_t>(capacity > 0 ? capacity : 1));
    if (!m_mapping) {
        return; // capacity 0: every append fails
    }
    m_mappingSize = capacity;
    m_data = static_cast<char*>(m_mapping);
    m_capacity = capacity;
}

LargeBuffer::~LargeBuffer()
{
    std::free(m_mapping);
}

#endif

bool LargeBuffer::append(QByteArrayView bytes)
{
    if (bytes.size() > m_capacity - m_size) {
        return false;
    }
    if (!bytes.isEmpty()) {
        std::memcpy(m_data + m_size, bytes.data(), static_cast<size_t>(bytes.size()));
    }
    m_size += bytes.size();
    return true;
}

} // namespace kavelo::platform
