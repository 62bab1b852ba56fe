#include "app/VX_QUE.h"

#include "platform/Diag.h"

#include <cstring>

static_assert(VX_QUE::kSlots * VX_QUE::kSlotSize == 1315840);

VX_QUE::VX_QUE() = default;

int VX_QUE::allocatedSlots() const
{
    int n = 0;
    for (const auto& s : m_slots)
        n += s != nullptr;
    return n;
}

int VX_QUE::enqEntry(std::size_t size, const void* data)
{
    if (size > kSlotSize) {
        plat::diag("ENQENTRY DATA_SIZE_OVER:size=%zu\n", size);
        return 0;
    }
    if (m_count >= kSlots)
        return 0;
    // Not zero-filled: only the bytes of a stored message are ever read back.
    if (!m_slots[m_write])
        m_slots[m_write].reset(new std::uint8_t[kSlotSize]);
    if (size > 0)
        std::memcpy(m_slots[m_write].get(), data, size);
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
    std::memcpy(buffer, m_slots[m_read].get(), m_sizes[m_read]);
    --m_count;
    m_read = (m_read + 1) % kSlots;
    // Starting again at slot 0 whenever the queue runs empty keeps the slots in use as few as
    // the messages ever waiting at once.
    if (m_count == 0)
        m_read = m_write = 0;
    return 1;
}
