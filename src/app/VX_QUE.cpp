#include "app/VX_QUE.h"

#include "platform/Diag.h"

#include <cstring>

static_assert(VX_QUE::kSlots * VX_QUE::kSlotSize == 1315840);

VX_QUE::VX_QUE() : m_slots(std::make_unique<std::uint8_t[]>(kSlots * kSlotSize)) {}

int VX_QUE::enqEntry(std::size_t size, const void* data)
{
    if (size > kSlotSize) {
        plat::diag("ENQENTRY DATA_SIZE_OVER:size=%zu\n", size);
        return 0;
    }
    if (m_count >= kSlots)
        return 0;
    if (size > 0)
        std::memcpy(slot(m_write), data, size);
    m_sizes[m_write] = size;
    ++m_count;
    m_write = (m_write + 1) % kSlots;
    return 1;
}

int VX_QUE::deqEntry(void* buffer)
{
    if (m_count == 0)
        return 0;
    // Only the stored message is copied: every consumer reads a message up to the length its
    // header gives, and copying whole 65792-byte slots for 868-byte requests doubled the copying
    // of a file transfer.
    std::memcpy(buffer, slot(m_read), m_sizes[m_read]);
    --m_count;
    m_read = (m_read + 1) % kSlots;
    return 1;
}
